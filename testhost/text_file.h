// Small file helpers for scenarios: the plug-ins' logs and INI files live in the scenario folder.
#pragma once

#include <string>
#include <vector>

namespace testhost {

// The file's lines without their line ends; empty when the file does not exist.
std::vector<std::string> ReadLines(const std::string& path);

// Writes text to path, creating the folders on the way.
void WriteTextFile(const std::string& path, const std::string& text);

// The folder of the running program (the scenario folder inside a scenario).
std::string ExeDir();

} // namespace testhost
