#include "ravelstone/core/ini.h"

#include <cctype>
#include <cstring>

#include <shlwapi.h>
#include <windows.h>

namespace ravelstone {

namespace {

constexpr char kIniSuffix[] = "\\data\\skse\\plugins\\Ravelstone.ini";
// Values longer than 19 characters are cut by the system; none of ours needs more.
constexpr DWORD kValueBufferSize = 20;

// Computed by the first read (during DLL attach, before any other thread can read a key) and
// never again.
char g_iniPath[MAX_PATH];
bool g_iniPathComputed = false;

const char* IniPath() {
    if (!g_iniPathComputed) {
        GetModuleFileNameA(nullptr, g_iniPath, MAX_PATH);
        PathRemoveFileSpecA(g_iniPath);
        PathAppendA(g_iniPath, kIniSuffix);
        g_iniPathComputed = true;
    }
    return g_iniPath;
}

} // namespace

bool ReadIniFlag(const char* section, const char* key, bool defaultValue) {
    char value[kValueBufferSize] = {};
    GetPrivateProfileStringA(section, key, defaultValue ? "1" : "0", value, kValueBufferSize,
                             IniPath());
    const char* text = value;
    while (*text == ' ') {
        ++text;
    }
    char lowered[kValueBufferSize] = {};
    for (std::size_t i = 0; text[i] != '\0' && i + 1 < kValueBufferSize; ++i) {
        lowered[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    }
    return std::strcmp(lowered, "false") != 0 && std::strcmp(lowered, "0") != 0;
}

} // namespace ravelstone
