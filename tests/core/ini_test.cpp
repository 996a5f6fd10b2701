// The INI switches through the system's own GetPrivateProfileStringA: what reads as false.
#include <string>

#include <gtest/gtest.h>

#include "ravelstone/core/ini.h"
#include "testhost/text_file.h"

namespace {

using ravelstone::ReadIniFlag;

std::string IniPath() {
    return testhost::ExeDir() + "\\data\\skse\\plugins\\Ravelstone.ini";
}

TEST(IniFlag, OnlyFalseAndZeroReadAsFalse) {
    // The system strips blanks around an unquoted value and one pair of quotes, so values
    // that must reach the reader with leading blanks or a tab are written quoted.
    const struct {
        const char* value;
        bool expected;
    } cases[] = {
        {"false", false},
        {"FALSE", false},
        {"FaLsE", false},
        {"\"   false\"", false}, // leading spaces are dropped
        {"\"  FALSE\"", false},
        {"0", false},
        {"\" 0\"", false},
        {"\"\tfalse\"", true}, // a tab is not a space
        {"\"false \"", true},  // trailing blanks stay
        {"no", true},
        {"off", true},
        {"00", true},
        {"-0", true},
        {"1", true},
        {"2", true},
        {"yes", true},
        {"true", true},
        {"", true}, // present but empty: true, whatever the default
        {"falsefalsefalsefalsefalse", true},
        {"0000000000000000000000000", true},
    };
    std::string ini = "[Optimize]\n";
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        ini += "key" + std::to_string(i) + "=" + cases[i].value + "\n";
    }
    testhost::WriteTextFile(IniPath(), ini);
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const std::string key = "key" + std::to_string(i);
        for (bool defaultValue : {false, true}) {
            EXPECT_EQ(ReadIniFlag("Optimize", key.c_str(), defaultValue), cases[i].expected)
                << "value [" << cases[i].value << "] default " << defaultValue;
        }
    }
}

TEST(IniFlag, MissingFileSectionOrKeyGivesTheDefault) {
    for (bool defaultValue : {false, true}) {
        EXPECT_EQ(ReadIniFlag("Memory", "FixInfiniteLoad", defaultValue), defaultValue)
            << "no file";
    }
    testhost::WriteTextFile(IniPath(), "[Memory]\nFixInfiniteLoad=0\n");
    for (bool defaultValue : {false, true}) {
        EXPECT_EQ(ReadIniFlag("Camera", "FixInfiniteLoad", defaultValue), defaultValue)
            << "no section";
        EXPECT_EQ(ReadIniFlag("Memory", "ReplaceDefaultHavokHeap", defaultValue), defaultValue)
            << "no key";
    }
    EXPECT_FALSE(ReadIniFlag("Memory", "FixInfiniteLoad", true));
}

TEST(IniFlag, EachReadGoesToTheFile) {
    testhost::WriteTextFile(IniPath(), "[Exception]\nAutoSaveGame=0\n");
    EXPECT_FALSE(ReadIniFlag("Exception", "AutoSaveGame", true));
    testhost::WriteTextFile(IniPath(), "[Exception]\nAutoSaveGame=1\n");
    EXPECT_TRUE(ReadIniFlag("Exception", "AutoSaveGame", true));
}

} // namespace
