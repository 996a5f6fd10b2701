// Ravelstone's switches: Boolean keys of one INI file beside the other extender plug-in files.
#pragma once

namespace ravelstone {

// Reads section/key from the game's "data\skse\plugins\Ravelstone.ini". A value is false only
// when, after leading spaces are dropped and letters lower-cased, it reads "false" or "0";
// every other value (the empty one too) is true. A missing file, section or key gives the
// default. Nothing is cached: each call reads the file.
bool ReadIniFlag(const char* section, const char* key, bool defaultValue);

} // namespace ravelstone
