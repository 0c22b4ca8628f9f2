#include <gtest/gtest.h>

#include "loader/messages.h"
#include "loader/startup.h"
#include "tests/unit/fake_platform.h"
#include "ui/splash.h"

namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override { resetFake(); }

    // Stamps the fake module with settings and runs the loader to its end.
    void run(const std::string& settings)
    {
        fake.resources["GEN"] = packForTest(settings);
        ASSERT_TRUE(runLoaderToEnd(state));
    }

    LoaderState state;
};

TEST_F(Startup, EachStartupFailureShowsItsMessageAndEnds)
{
    std::string damaged = packForTest(settingsText());
    damaged[30] ^= 1;  // a body byte: the packed CRC no longer matches
    struct Case {
        const char* name;
        bool hasGen;
        std::string gen;
        const char* message;
    } cases[] = {
        {"no GEN", false, "", messageNotAPublication},
        {"0-byte GEN", true, "", messageNotAPublication},
        {"damaged GEN", true, damaged, messageSettingsDamaged},
        {"signature with a trailing blank", true, packForTest(settingsText({{0, "Korvel Loader "}})), messageNotCompiled},
        {"signature in lower case", true, packForTest(settingsText({{0, "korvel loader"}})), messageNotCompiled},
        {"LF-only settings", true, packForTest("Korvel Loader\nTitle\n"), messageNotCompiled},
        {"empty settings text", true, packForTest(std::string(1, '\0')), messageNotCompiled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetFake();
        if (c.hasGen) fake.resources["GEN"] = c.gen;
        LoaderState run;
        ASSERT_TRUE(runLoaderToEnd(run));
        ASSERT_EQ(fake.messageBoxes.size(), 1u);
        EXPECT_EQ(fake.messageBoxes[0].text, c.message);
        EXPECT_EQ(fake.messageBoxes[0].caption, "Korvel");
        EXPECT_EQ(fake.messageBoxes[0].style, 16u);
        EXPECT_TRUE(fake.callsStartingWith("ShowSplash").empty());
        EXPECT_TRUE(fake.callsStartingWith("RegOpenKey").empty());
        EXPECT_EQ(fake.calls.back(), "ExitProcess");
    }
}

TEST_F(Startup, MessageOneNamesTheMakerBetweenTheFixedTexts)
{
    std::string text = messageNotAPublication;
    EXPECT_EQ(text.rfind("This program cannot be run directly.\r\nPlease use Korvel at ", 0), 0u);
    const std::string tail = " to create your own compiled HTML publications.";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_GT(text.size(), 59 + tail.size());
}

TEST_F(Startup, RunsThePhasesInOrder)
{
    fake.resources["INFO"] = packForTest("{\\rtf1 x}");
    run(settingsText());
    std::vector<std::string> expected = {"StartPlatform", "InitCommonControls", "CopyResource GEN",
                                         "ShowSplash Please wait...",
                                         "RegOpenKey SOFTWARE\\KOViewer\\{6B0C1E62-2D4A-4C1E-9D4B-0A1B2C3D4E5F}",
                                         "CreateApplication My Book"};
    std::vector<std::string> seen;
    for (const std::string& call : fake.calls)
        for (const std::string& e : expected)
            if (call == e) seen.push_back(call);
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(fake.messageBoxes.empty());
    EXPECT_EQ(fake.calls.back(), "ExitProcess");
}

TEST_F(Startup, CarriesTheSettingsIntoTheState)
{
    fake.resources["INFO"] = packForTest("{\\rtf1 x}");
    fake.dialogResult = 0;
    // Line 5 "1 " is not "1": no embedded runtime, so no provisioning is tried.
    run(settingsText({{1, "A Title"}, {2, "Key 2"}, {4, "1"}, {5, "1 "}}));
    EXPECT_GE(fake.indexOf("RegOpenKey SOFTWARE\\KOViewer\\Key 2"), 0);
    EXPECT_EQ(fake.indexOf("GetTempFileName"), -1);
    EXPECT_GE(fake.indexOf("CreateApplication A Title"), 0);
}

TEST_F(Startup, SplashLineRules)
{
    struct Case {
        const char* name;
        std::string settings;
        const char* splash;  // null: no splash window
    } cases[] = {
        {"asterisk: none", settingsText({{10, "*"}}), nullptr},
        {"two asterisks", settingsText({{10, "**"}}), "**"},
        {"blank and asterisk", settingsText({{10, " *"}}), " *"},
        {"empty line 10", settingsText({{10, ""}}), ""},
        {"only ten lines", "Korvel Loader\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n", ""},
        {"CR-only settings pass", "Korvel Loader\rT\rK\r1\r0\r0\r6\r7\r8\r9\rWait\r", "Wait"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetFake();
        fake.resources["GEN"] = packForTest(c.settings);
        fake.resources["INFO"] = packForTest("{\\rtf1 x}");
        LoaderState run;
        ASSERT_TRUE(runLoaderToEnd(run));
        EXPECT_TRUE(fake.messageBoxes.empty());
        auto shown = fake.callsStartingWith("ShowSplash");
        if (!c.splash) {
            EXPECT_TRUE(shown.empty());
        } else {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0], std::string("ShowSplash ") + c.splash);
        }
    }
}

TEST_F(Startup, AFailedSplashLeavesTheRunGoingWithoutOne)
{
    fake.splashFails = true;
    fake.registry["SOFTWARE\\KOViewer\\K"]["Path"] = {registryTypeText, std::string("C:\\V\\v.exe", 10) + '\0'};
    fake.registry["SOFTWARE\\KOViewer\\K"]["Version"] = {registryTypeNumber, std::string("\xE0\x2E\0\0", 4)};
    fake.files["C:\\V\\v.exe"];
    run(settingsText({{2, "K"}}));
    EXPECT_EQ(fake.processes.size(), 1u);
    EXPECT_TRUE(fake.callsStartingWith("DestroyWindow").empty());
    EXPECT_TRUE(fake.messageBoxes.empty());
}

TEST_F(Startup, SplashIsDestroyedOnlyAfterTheFailureMessageCloses)
{
    // An embedded runtime without "RUN": message 4 while the splash is up.
    run(settingsText({{5, "1"}, {1, "Title"}}));
    ASSERT_EQ(fake.messageBoxes.size(), 1u);
    EXPECT_EQ(fake.messageBoxes[0].caption, "Title");
    EXPECT_TRUE(fake.messageBoxes[0].splashShown);
    EXPECT_GT(fake.indexOf("DestroyWindow splash"), fake.indexOf("MessageBox"));
}

TEST_F(Startup, ReleasesTheRunBeforeTheProcessEnds)
{
    fake.resources["INFO"] = packForTest("{\\rtf1 x}");
    run(settingsText());
    EXPECT_EQ(state.settings.count(), 0);
    EXPECT_TRUE(state.title.empty());
    EXPECT_TRUE(splashText.empty());
}

}  // namespace
