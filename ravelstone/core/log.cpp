#include "ravelstone/core/log.h"

#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ravelstone {

namespace {

constexpr char kLogPath[] = "data/skse/plugins/Ravelstone.log";
constexpr DWORD kLockSpinCount = 10000;
constexpr int kInitialThreshold = kLogInfo;

const char* const kLevelNames[] = {"Always Show", "ERROR", "WARNING", "INFO", "DEBUG"};

// Levels are an index into the names; an unknown level must not read outside the table.
const char* LevelName(int level) {
    if (level < 0 || level >= static_cast<int>(sizeof kLevelNames / sizeof kLevelNames[0])) {
        return "?";
    }
    return kLevelNames[level];
}

Log g_log;

void CloseLog() {
    g_log.closed = true;
    DeleteCriticalSection(&g_log.lock);
}

Log* CreateLog() {
    std::memset(&g_log, 0, sizeof g_log);
    InitializeCriticalSectionAndSpinCount(&g_log.lock, kLockSpinCount);
    g_log.threshold = kInitialThreshold;
    std::setlocale(LC_ALL, "");
    g_log.file = std::fopen(kLogPath, "w");
    if (g_log.file == nullptr) {
        g_log.file = stderr;
    }
    std::atexit(&CloseLog);
    return &g_log;
}

class LogLock {
public:
    explicit LogLock(Log* log) : log_(log) { EnterCriticalSection(&log_->lock); }
    ~LogLock() { LeaveCriticalSection(&log_->lock); }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;

private:
    Log* log_;
};

} // namespace

Log* GetLog() {
    // A function-local static is initialised exactly once, even with concurrent first calls.
    static Log* const log = CreateLog();
    return log;
}

void LogMessage(Log* log, int level, const char* format, ...) {
    if (log->closed) {
        return;
    }
    LogLock hold(log);
    if (level > log->threshold) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr ||
        std::strftime(log->timeStamp, sizeof log->timeStamp, "%c", local) == 0) {
        log->timeStamp[0] = '\0';
    }
    std::fprintf(log->file, "[%s]%s: ", log->timeStamp, LevelName(level));
    va_list args;
    va_start(args, format);
    std::vfprintf(log->file, format, args);
    va_end(args);
    std::fputs("\n", log->file);
    std::fflush(log->file);
}

void LogLine(Log* log, const char* format, ...) {
    if (log->closed) {
        return;
    }
    LogLock hold(log);
    va_list args;
    va_start(args, format);
    std::vfprintf(log->file, format, args);
    va_end(args);
    std::fputs("\n", log->file);
    std::fflush(log->file);
}

} // namespace ravelstone
