#include "tests/glimmerward/plugin_files.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <shlobj.h>

namespace glimmerward_test {

std::string LogPathFor(const std::string& pluginName) {
    char documents[MAX_PATH] = {};
    const HRESULT result =
        SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents);
    EXPECT_EQ(result, S_OK) << "the documents folder";
    const std::filesystem::path folder =
        std::filesystem::path(documents) / "My Games" / "Skyrim" / "SKSE";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return std::string(documents) + "\\My Games\\Skyrim\\SKSE\\" + pluginName + ".log";
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ScenarioPluginName(const char* base) {
    return std::string(base) + "-" + std::to_string(GetCurrentProcessId());
}

void WriteSettings(const std::string& text) {
    const auto folder = std::filesystem::current_path() / "Data" / "SKSE" / "Plugins";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Glimmerward.ini", std::ios::binary) << text;
}

} // namespace glimmerward_test
