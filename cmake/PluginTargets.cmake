# A plug-in DLL: self-contained (the C++ runtime, libgcc and winpthread linked statically), so
# that it imports only Windows system DLLs, and exporting only its dllexport'ed entry points.
function(add_plugin_dll name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at
                      -Wl,--exclude-all-symbols)
endfunction()
