// Each test case of a stand-in host program runs as a scenario: its own process, started from
// a copy of the program in a fresh folder that is both the exe's folder and the current
// directory, so the plug-ins' INI and log paths land there.
#pragma once

#include <string>

namespace testhost {

// Runs every selected test case in its own scenario process; returns the exit code.
int RunScenarios(int argc, char** argv);

// True inside a scenario process.
bool InScenario();

// gtest's filter syntax: positive patterns, then optionally '-' and negative ones, ':'-separated.
bool FilterMatches(const std::string& filter, const std::string& name);

} // namespace testhost
