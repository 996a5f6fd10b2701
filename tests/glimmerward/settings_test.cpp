// Glimmerward's settings read from the INI next to the program through the system's own
// GetPrivateProfileSectionA, each case a fresh settings object.
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "glimmerward/settings.h"
#include "tests/glimmerward/plugin_files.h"

namespace glimmerward_test {
namespace {

constexpr char kNoFile[] = "<no file>";

TEST(GlimmerwardSettings, OnlyFollowersFromTheIniSection) {
    struct Case {
        const char* ini;
        std::int32_t onlyFollowers;
    };
    const Case cases[] = {
        {kNoFile, 1},
        {"", 1},
        {"[GeneralSettings]\r\n", 1},
        {"[GeneralSettings]\r\nOnlyFollowers=2\r\n", 2},
        {"[GeneralSettings]\r\nonlyfollowers=0\r\n", 0}, // keys ignore case
        {"[GeneralSettings]\r\nOnlyFollowers=3\r\n", 1}, // out of range: the default
        {"[GeneralSettings]\r\nOnlyFollowers=-1\r\n", 1},
        {"[GeneralSettings]\r\nOnlyFollowers=+2\r\n", 2},
        {"[GeneralSettings]\r\nOther=1\r\n", 0}, // other valid keys: no default
        {"[GeneralSettings]\r\nOnlyFollowers=0\r\nonlyfollowers=2\r\n", 0}, // capitals sort first
        {"[GeneralSettings]\r\nonlyfollowers=2\r\nOnlyFollowers=0\r\n", 0}, // whatever the order
        {"[GeneralSettings]\r\nonlyfollowers=1\r\nonlyfollowers=0\r\n", 0},
        {"[GeneralSettings]\r\nOnlyFollowers=abc\r\n", 0}, // not a number: read as 0
        {"[GeneralSettings]\r\nOnlyFollowers=1abc\r\n", 1},
        {"[GeneralSettings]\r\nOnlyFollowers=2=x\r\n", 1},        // three pieces
        {"[GeneralSettings]\r\nOnlyFollowers==2\r\n", 1},         // three pieces, one empty
        {"[GeneralSettings]\r\nOnlyFollowers=2=\r\n", 2},         // a final "=" adds no piece
        {"[GeneralSettings]\r\nOnlyFollowers=\r\n", 1},           // one piece
        {"[GeneralSettings]\r\n=2\r\n", 1},                       // empty key
        {"[GeneralSettings]\r\nOnlyFollowers\r\n", 1},            // no "="
        {"[GeneralSettings]\r\nOnlyFollowers=4294967298\r\n", 1}, // beyond 32 bits: not 2
        {"[Other]\r\nOnlyFollowers=2\r\n[GeneralSettings]\r\nZeta=2\r\n", 0},
        {"[GeneralSettings]\r\nZeta=1\r\nOnlyFollowers=2\r\n[Other]\r\nOnlyFollowers=0\r\n", 2},
    };
    for (const auto& c : cases) {
        const std::string ini = c.ini;
        if (ini == kNoFile) {
            std::error_code ignored;
            std::filesystem::remove(std::filesystem::current_path() / "Data" / "SKSE" / "Plugins" /
                                        "Glimmerward.ini",
                                    ignored);
        } else {
            WriteSettings(ini);
        }
        const GlimmerwardSettings settings;
        EXPECT_EQ(settings.GetInt("OnlyFollowers"), c.onlyFollowers) << "INI:\n" << ini;
        EXPECT_EQ(settings.GetInt("ONLYFOLLOWERS"), c.onlyFollowers) << "INI:\n" << ini;
    }
}

TEST(GlimmerwardSettings, KeepsOtherKeysAndReadsTheFileOnce) {
    WriteSettings("[GeneralSettings]\r\nZeta=2\r\nOnlyFollowers=0\r\n");
    GlimmerwardSettings* settings = GlimmerwardSettings::Instance();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->GetInt("zeta"), 2);
    EXPECT_EQ(settings->GetInt("absent"), 0);
    WriteSettings("[GeneralSettings]\r\nOnlyFollowers=2\r\n");
    EXPECT_EQ(GlimmerwardSettings::Instance(), settings);
    EXPECT_EQ(GlimmerwardSettings::Instance()->GetInt("OnlyFollowers"), 0)
        << "edits take effect at the next start";
}

// What the system function hands over is its own choice (Wine trims blanks around "="); lines
// that do carry them keep the blank in the key, which then never matches.
TEST(GlimmerwardSettings, LinesWithBlanksAroundTheSeparator) {
    const auto values = GlimmerwardSettings::ParseLines({"OnlyFollowers = 2"});
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values.count("onlyfollowers "), 1u);
    EXPECT_EQ(values.at("onlyfollowers "), 2);
    EXPECT_EQ(values.count("onlyfollowers"), 0u) << "no default once a key is valid";
}

} // namespace
} // namespace glimmerward_test
