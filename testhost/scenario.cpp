#include "testhost/scenario.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

namespace testhost {

namespace fs = std::filesystem;

namespace {

constexpr char kChildVariable[] = "TESTHOST_SCENARIO";

bool GlobMatches(const char* pattern, const char* text) {
    if (*pattern == '\0') {
        return *text == '\0';
    }
    if (*pattern == '*') {
        return GlobMatches(pattern + 1, text) || (*text != '\0' && GlobMatches(pattern, text + 1));
    }
    return *text != '\0' && (*pattern == '?' || *pattern == *text) &&
           GlobMatches(pattern + 1, text + 1);
}

bool AnyMatches(const std::string& patterns, const std::string& name) {
    std::size_t start = 0;
    while (start <= patterns.size()) {
        std::size_t end = patterns.find(':', start);
        if (end == std::string::npos) {
            end = patterns.size();
        }
        if (GlobMatches(patterns.substr(start, end - start).c_str(), name.c_str())) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string ExePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

// Runs one test case in a fresh folder; returns the child's exit code.
DWORD RunOne(const std::string& testName, const std::vector<std::string>& passThrough) {
    const fs::path exe = ExePath();
    char tempRoot[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, tempRoot);
    char folderName[64];
    std::snprintf(folderName, sizeof folderName, "scenario-%lu-%lu", GetCurrentProcessId(),
                  GetTickCount());
    const fs::path folder = fs::path(tempRoot) / folderName;
    fs::create_directories(folder);
    const fs::path copy = folder / exe.filename();
    fs::copy_file(exe, copy, fs::copy_options::overwrite_existing);

    std::string command = Quote(copy.string());
    command += " --gtest_filter=";
    command += testName;
    for (const auto& arg : passThrough) {
        command += ' ';
        command += Quote(arg);
    }
    SetEnvironmentVariableA(kChildVariable, "1");
    SetEnvironmentVariableA("TESTHOST_BIN_DIR", exe.parent_path().string().c_str());

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    DWORD exitCode = 1;
    if (CreateProcessA(copy.string().c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       folder.string().c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        std::fprintf(stderr, "testhost: cannot start %s: %lu\n", copy.string().c_str(),
                     GetLastError());
    }
    std::error_code ignored;
    if (exitCode == 0) {
        fs::remove_all(folder, ignored);
    } else {
        std::fprintf(stderr, "testhost: scenario folder kept: %s\n", folder.string().c_str());
    }
    return exitCode;
}

} // namespace

bool InScenario() {
    return std::getenv(kChildVariable) != nullptr;
}

bool FilterMatches(const std::string& filter, const std::string& name) {
    const std::size_t dash = filter.find('-');
    const std::string positive = dash == std::string::npos ? filter : filter.substr(0, dash);
    const std::string negative = dash == std::string::npos ? "" : filter.substr(dash + 1);
    return AnyMatches(positive.empty() ? "*" : positive, name) &&
           (negative.empty() || !AnyMatches(negative, name));
}

int RunScenarios(int argc, char** argv) {
    std::vector<std::string> passThrough;
    for (int i = 1; i < argc; ++i) {
        passThrough.emplace_back(argv[i]);
    }
    const std::string filter = GTEST_FLAG_GET(filter);
    const bool alsoDisabled = GTEST_FLAG_GET(also_run_disabled_tests);
    const auto* unit = ::testing::UnitTest::GetInstance();
    int passed = 0;
    std::vector<std::string> failed;
    for (int s = 0; s < unit->total_test_suite_count(); ++s) {
        const auto* suite = unit->GetTestSuite(s);
        for (int t = 0; t < suite->total_test_count(); ++t) {
            const auto* info = suite->GetTestInfo(t);
            const std::string name = std::string(suite->name()) + "." + info->name();
            const bool disabled = name.find("DISABLED_") != std::string::npos;
            if ((disabled && !alsoDisabled) || !FilterMatches(filter, name)) {
                continue;
            }
            if (RunOne(name, passThrough) == 0) {
                ++passed;
            } else {
                failed.push_back(name);
            }
        }
    }
    std::printf("[ scenarios ] %d passed, %zu failed\n", passed, failed.size());
    for (const auto& name : failed) {
        std::printf("[  FAILED  ] %s\n", name.c_str());
    }
    return failed.empty() ? 0 : 1;
}

} // namespace testhost
