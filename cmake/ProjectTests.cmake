# GoogleTest from Debian's sources, built with the configuration's own compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Test programs must not need the C++ runtime DLLs under Wine either.
function(_rs_static_runtime target)
  if(RS_WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# A unit test of platform-free code: runs natively in the host configuration and under Wine in
# the win32 configuration, all its cases in one process.
function(add_unit_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(RS_WIN32)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} testhost_unit_main GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  _rs_static_runtime(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
                       PROPERTIES TIMEOUT 600)
endfunction()

# A test in the stand-in host (win32 only): the program owns the game's address range, and
# each test case runs in its own process in a fresh working folder (see testhost/README.md).
# PLUGINS names the DLL targets the scenarios load; they are built first.
function(add_host_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PLUGINS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} testhost GTest::gtest GTest::gmock)
  _rs_static_runtime(${name})
  if(ARG_PLUGINS)
    add_dependencies(${name} ${ARG_PLUGINS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
                       PROPERTIES TIMEOUT 600)
endfunction()
