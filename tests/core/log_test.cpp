// The process-wide log, linked into the scenario program: creation, levels, whole lines.
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ravelstone/core/log.h"
#include "testhost/platform.h"
#include "testhost/text_file.h"

namespace {

using ravelstone::GetLog;
using ravelstone::LogLine;
using ravelstone::LogMessage;

constexpr char kLogPath[] = "data/skse/plugins/Ravelstone.log";

void MakePluginFolder() {
    testhost::WriteTextFile("data/skse/plugins/.keep", "");
}

// "[" time stamp "]" level name ": " message, the stamp matched by shape only.
::testing::AssertionResult IsLevelled(const std::string& line, const std::string& level,
                                      const std::string& message) {
    static const std::regex shape(R"(^\[([^\]]+)\]([^:]*): (.*)$)");
    std::smatch m;
    if (!std::regex_match(line, m, shape) || m[1].str().size() < 8 || m[2] != level ||
        m[3] != message) {
        return ::testing::AssertionFailure() << "line \"" << line << "\"";
    }
    return ::testing::AssertionSuccess();
}

TEST(Log, StartsWithTheBareNameThenLevelledLines) {
    MakePluginFolder();
    LogLine(GetLog(), "%s", "Ravelstone");
    LogMessage(GetLog(), ravelstone::kLogInfo, "Memory %s", "Hooked");
    const auto lines = testhost::ReadLines(kLogPath);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Ravelstone");
    EXPECT_TRUE(IsLevelled(lines[1], "INFO", "Memory Hooked"));
}

TEST(Log, WritesLevelsUpToInfoAndDropsDebug) {
    MakePluginFolder();
    const struct {
        int level;
        const char* name; // null: dropped
    } cases[] = {{0, "Always Show"}, {1, "ERROR"}, {2, "WARNING"}, {3, "INFO"}, {4, nullptr}};
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        LogMessage(GetLog(), c.level, "level %d", c.level);
        if (c.name != nullptr) {
            expected.push_back(c.name);
        }
    }
    const auto lines = testhost::ReadLines(kLogPath);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(IsLevelled(lines[i], expected[i], "level " + std::to_string(i)));
    }
}

TEST(Log, FlushesEachLineAtOnceAndKeepsFormatArguments) {
    MakePluginFolder();
    LogMessage(GetLog(), ravelstone::kLogError, "unsupported runtime version %08X", 0x091FFFFFu);
    // Read back while the log is still open: nothing waits in a buffer.
    const auto lines = testhost::ReadLines(kLogPath);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLevelled(lines[0], "ERROR", "unsupported runtime version 091FFFFF"));
}

TEST(Log, ContinuationLinesOfAMultiLineMessageHaveNoPrefix) {
    MakePluginFolder();
    LogMessage(GetLog(), ravelstone::kLogError, "first\nsecond");
    const auto lines = testhost::ReadLines(kLogPath);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(IsLevelled(lines[0], "ERROR", "first"));
    EXPECT_EQ(lines[1], "second");
}

TEST(Log, ConcurrentThreadsWriteOnlyWholeLines) {
    SKIP_WHERE_THREADS_ARE_UNAVAILABLE();
    MakePluginFolder();
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) {
                LogMessage(GetLog(), ravelstone::kLogWarning, "thread %d line %d %s", t, i,
                           "with a tail long enough to be written in more than one piece");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = testhost::ReadLines(kLogPath);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    std::vector<int> next(kThreads, 0);
    static const std::regex message(
        R"(thread (\d) line (\d+) with a tail long enough to be written in more than one piece)");
    for (const auto& line : lines) {
        const auto colon = line.find("]WARNING: ");
        ASSERT_NE(colon, std::string::npos) << line;
        std::smatch m;
        const std::string text = line.substr(colon + 10);
        ASSERT_TRUE(std::regex_match(text, m, message)) << line;
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[t]++) << "lines of one thread stay in order";
    }
}

TEST(Log, ThreadHoldingTheLockCanStillWrite) {
    MakePluginFolder();
    auto* log = GetLog();
    // A fault inside the log leaves its lock held by the faulting thread, which then reports.
    EnterCriticalSection(&log->lock);
    LogMessage(log, ravelstone::kLogError, "report while holding the lock");
    LeaveCriticalSection(&log->lock);
    const auto lines = testhost::ReadLines(kLogPath);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLevelled(lines[0], "ERROR", "report while holding the lock"));
}

TEST(Log, GoesToStandardErrorWhenThePluginFolderIsMissing) {
    // No data/skse/plugins in this scenario folder.
    ASSERT_NE(std::freopen("stderr.txt", "w", stderr), nullptr);
    LogLine(GetLog(), "%s", "Ravelstone");
    LogMessage(GetLog(), ravelstone::kLogInfo, "Queue OK");
    std::fflush(stderr);
    const auto lines = testhost::ReadLines("stderr.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Ravelstone");
    EXPECT_TRUE(IsLevelled(lines[1], "INFO", "Queue OK"));
    EXPECT_TRUE(testhost::ReadLines(kLogPath).empty());
}

TEST(Log, UnknownLevelsDoNotReadPastTheNames) {
    MakePluginFolder();
    LogMessage(GetLog(), -1, "negative");
    LogMessage(GetLog(), 1000, "far above");
    const auto lines = testhost::ReadLines(kLogPath);
    ASSERT_EQ(lines.size(), 1u) << "levels above the threshold are dropped";
    EXPECT_TRUE(IsLevelled(lines[0], "?", "negative"));
}

} // namespace
