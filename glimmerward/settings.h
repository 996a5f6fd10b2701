// Glimmerward's settings: the section "GeneralSettings" of Glimmerward.ini in the game's
// data\SKSE\Plugins folder, read once into a map from lower-case key to 0, 1 or 2.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class GlimmerwardSettings {
public:
    // The one settings object, created (and the file read) on the first call; null when there
    // is no memory for it, and then the next call tries again.
    static GlimmerwardSettings* Instance();

    // Reads the file now. The plug-in uses Instance(); a fresh object re-reads the file.
    GlimmerwardSettings();

    // The value stored for the key (compared in lower case), or 0 when it is not there.
    std::int32_t GetInt(const std::string& key) const;

    // The rules applied to the section's lines: sorted, lower-cased, split at "=", kept when
    // they give a non-empty key and a value of 0 to 2, the first line of a key winning; with no
    // valid line at all "onlyfollowers" is 1.
    static std::unordered_map<std::string, std::int32_t> ParseLines(std::vector<std::string> lines);

private:
    const std::string& IniPath();
    std::vector<std::string> ReadSectionLines();

    std::string iniPath_;
    std::unordered_map<std::string, std::int32_t> values_;
};
