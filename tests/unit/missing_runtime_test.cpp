#include <gtest/gtest.h>

#include "loader/messages.h"
#include "loader/missing_runtime.h"
#include "tests/unit/fake_platform.h"

namespace {

class MissingRuntime : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFake();
        renewState(state);
        fake.resources["INFO"] = packForTest("{\\rtf1 Get it at https://korvel.example/runtime}");
        std::string settings = settingsText({{6, "&Download"}, {7, "Close"}, {8, "https://korvel.example/get"}});
        state.settings.build(reinterpret_cast<const uint8_t*>(settings.data()), settings.size());
        state.title = "Book";
        state.splashWindow = reinterpret_cast<WindowHandle>(0x5A5A);
        fake.splashAlive = true;
    }
    bool run() { return endsProcess([&] { showMissingRuntimeDialog(state); }); }
    LoaderState state;
};

TEST_F(MissingRuntime, StepsInOrderAndTheDownloadAfterTheFirstButton)
{
    fake.dialogResult = 1;
    ASSERT_FALSE(run());
    std::vector<std::string> expected = {"CreateApplication Book",
                                         "BuildDialog",
                                         "SetDialogCaptions Book|&Download|Close",
                                         "CopyResource INFO",
                                         "LoadDialogText {\\rtf1 Get it at https://korvel.example/runtime}",
                                         "DestroyWindow splash",
                                         "RunDialogModal",
                                         "ReleaseDialog",
                                         "ShellOpen https://korvel.example/get 1"};
    EXPECT_EQ(fake.calls, expected);
    EXPECT_EQ(state.splashWindow, nullptr);
    EXPECT_EQ(state.missingRuntimeDialog, nullptr);
}

TEST_F(MissingRuntime, OtherResultsOpenNothing)
{
    for (int result : {-1, 0, 2}) {
        SCOPED_TRACE(result);
        SetUp();
        fake.dialogResult = result;
        ASSERT_FALSE(run());
        EXPECT_TRUE(fake.callsStartingWith("ShellOpen").empty());
        EXPECT_EQ(fake.calls.back(), "ReleaseDialog");
    }
}

TEST_F(MissingRuntime, WithoutSplashNothingIsDestroyed)
{
    state.splashWindow = nullptr;
    ASSERT_FALSE(run());
    EXPECT_TRUE(fake.callsStartingWith("DestroyWindow").empty());
}

TEST_F(MissingRuntime, DamagedInfoShowsMessageSixWhileTheSplashIsUp)
{
    std::string damaged = fake.resources["INFO"];
    damaged[12] ^= 0x40;  // packedCrc
    const std::string* infos[] = {nullptr, &damaged};
    for (const std::string* info : infos) {
        SCOPED_TRACE(info ? "damaged" : "missing");
        SetUp();
        if (info) fake.resources["INFO"] = *info; else fake.resources.erase("INFO");
        state.title = "";
        ASSERT_TRUE(run());
        ASSERT_EQ(fake.messageBoxes.size(), 1u);
        EXPECT_EQ(fake.messageBoxes[0].text, messageInfoDamaged);
        EXPECT_EQ(fake.messageBoxes[0].caption, "");
        EXPECT_TRUE(fake.messageBoxes[0].splashShown);
        EXPECT_EQ(fake.indexOf("RunDialogModal"), -1);
        EXPECT_GT(fake.indexOf("DestroyWindow splash"), fake.indexOf("MessageBox"));
    }
}

}  // namespace
