#include "glimmerward/settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

#include <shlwapi.h>
#include <windows.h>

namespace {

constexpr char kSection[] = "GeneralSettings";
constexpr char kPluginsFolder[] = "data\\SKSE\\Plugins\\";
constexpr char kIniName[] = "Glimmerward.ini";
constexpr char kOnlyFollowers[] = "onlyfollowers";
constexpr std::int32_t kOnlyFollowersDefault = 1;
// What GetPrivateProfileSectionA may hand back; a longer section is cut by it.
constexpr DWORD kSectionBufferSize = 32768;

GlimmerwardSettings* g_settings = nullptr;

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The runs of text between the "=" of line, an empty run included, but none after a final "=".
std::vector<std::string> SplitAtEquals(const std::string& line) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < line.size()) {
        const std::size_t separator = line.find('=', start);
        if (separator == std::string::npos) {
            pieces.push_back(line.substr(start));
            break;
        }
        pieces.push_back(line.substr(start, separator - start));
        start = separator + 1;
    }
    return pieces;
}

// atoi's reading (white space, sign, digits, 0 when there are none), but with a defined result
// for numbers beyond 32 bits: they saturate and so are never taken for 0, 1 or 2.
long ReadInteger(const std::string& text) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return errno == ERANGE ? LONG_MAX : value;
}

} // namespace

GlimmerwardSettings* GlimmerwardSettings::Instance() {
    if (g_settings == nullptr) {
        g_settings = new (std::nothrow) GlimmerwardSettings;
    }
    return g_settings;
}

GlimmerwardSettings::GlimmerwardSettings() : values_(ParseLines(ReadSectionLines())) {}

std::int32_t GlimmerwardSettings::GetInt(const std::string& key) const {
    const auto found = values_.find(Lower(key));
    return found == values_.end() ? 0 : found->second;
}

const std::string& GlimmerwardSettings::IniPath() {
    if (iniPath_.empty()) {
        char folder[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
        // A cut path would name another file: then there is no INI file to read.
        if (length == 0 || length >= MAX_PATH) {
            return iniPath_;
        }
        PathRemoveFileSpecA(folder);
        iniPath_ = std::string(folder) + "\\" + kPluginsFolder + kIniName;
    }
    return iniPath_;
}

std::vector<std::string> GlimmerwardSettings::ReadSectionLines() {
    std::vector<std::string> lines;
    const std::string& path = IniPath();
    if (path.empty() || !std::ifstream(path).is_open()) {
        return lines;
    }
    std::vector<char> section(kSectionBufferSize, '\0');
    GetPrivateProfileSectionA(kSection, section.data(), kSectionBufferSize, path.c_str());
    // Strings one after the other, ended by an empty one; the last byte stays a terminator.
    section.back() = '\0';
    for (const char* entry = section.data(); *entry != '\0'; entry += std::strlen(entry) + 1) {
        lines.emplace_back(entry);
    }
    return lines;
}

std::unordered_map<std::string, std::int32_t>
GlimmerwardSettings::ParseLines(std::vector<std::string> lines) {
    // Byte order as unsigned values, a prefix first; applied before lower-casing, so a key
    // written with capitals comes before the same key in lower case.
    std::sort(lines.begin(), lines.end());
    std::unordered_map<std::string, std::int32_t> values;
    for (const std::string& line : lines) {
        const std::vector<std::string> pieces = SplitAtEquals(Lower(line));
        if (pieces.size() != 2 || pieces[0].empty()) {
            continue;
        }
        const long value = ReadInteger(pieces[1]);
        if (value < 0 || value > 2) {
            continue;
        }
        values.emplace(pieces[0], static_cast<std::int32_t>(value)); // the first line wins
    }
    if (values.empty()) {
        values.emplace(kOnlyFollowers, kOnlyFollowersDefault);
    }
    return values;
}
