// Where a scenario's Glimmerward files are, and how scenarios keep out of each other's way.
#pragma once

#include <string>

#include <windows.h>

namespace glimmerward_test {

// The plug-in's log: the user's documents folder + "\My Games\Skyrim\SKSE\" + name + ".log".
// Creates the folder (the extender would have) so the plug-in can open it.
std::string LogPathFor(const std::string& pluginName);

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);

// A plug-in name no other scenario uses: the documents folder is shared by every process of the
// Wine prefix, and scenarios may run side by side.
std::string ScenarioPluginName(const char* base);

// Writes the INI that the plug-in reads from the game's data\SKSE\Plugins folder.
void WriteSettings(const std::string& text);

} // namespace glimmerward_test
