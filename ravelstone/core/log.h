// Ravelstone's one process-wide log: whole lines, flushed at once, safe from any thread.
#pragma once

#include <cstdio>

#include <windows.h>

namespace ravelstone {

enum LogLevel : int {
    kLogAlways = 0,
    kLogError = 1,
    kLogWarning = 2,
    kLogInfo = 3,
    kLogDebug = 4,
};

struct Log {
    // Re-entrant for its owner, so a thread that faults while writing can still report.
    CRITICAL_SECTION lock;
    int threshold;
    char timeStamp[50];
    std::FILE* file;
    // Set when the lock has been deleted at exit; later lines are dropped.
    volatile bool closed;
};

// Creates the log on first use: "data/skse/plugins/Ravelstone.log" relative to the current
// directory, or standard error when that cannot be opened.
Log* GetLog();

// "[" time stamp "]" level name ": " message "\n", when level is not above the threshold.
void LogMessage(Log* log, int level, const char* format, ...)
    __attribute__((format(ms_printf, 3, 4)));

// The message and "\n", without prefix or level check.
void LogLine(Log* log, const char* format, ...) __attribute__((format(ms_printf, 2, 3)));

} // namespace ravelstone
