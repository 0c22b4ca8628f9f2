#include <gtest/gtest.h>

#include "loader/launch.h"
#include "tests/unit/fake_platform.h"

namespace {

class Launch : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFake();
        renewState(state);
        fake.modulePath = "C:\\Books\\book.exe";
        state.runtimeAvailable = true;
        state.viewerPath = "C:\\Viewer\\viewer.exe";
        state.splashWindow = reinterpret_cast<WindowHandle>(0x5A5A);
    }

    // The calls that matter for the order of the launch.
    std::vector<std::string> launchCalls() const
    {
        std::vector<std::string> seen;
        for (const std::string& call : fake.calls)
            if (call.rfind("Create", 0) == 0 || call.rfind("Show", 0) == 0 || call == "Pump" ||
                call.rfind("Destroy", 0) == 0 || call.rfind("Delete", 0) == 0 || call.rfind("WaitFor", 0) == 0)
                seen.push_back(call.rfind("CreateProcess", 0) == 0 ? "CreateProcess" : call);
        return seen;
    }

    LoaderState state;
};

TEST_F(Launch, ViewerCommandLine)
{
    struct Case {
        const char* name;
        const char* commandLine;
        const char* arguments;
    } cases[] = {
        {"no arguments", "book.exe", " -p \"C:\\Books\\book.exe\""},
        {"three arguments, the second with a blank", "book.exe one \"two 2\" three",
         " -p \"C:\\Books\\book.exe\" one \"two 2\" three"},
        {"quoted without a blank loses its quotes", "book.exe \"page.htm\"", " -p \"C:\\Books\\book.exe\" page.htm"},
        {"empty quoted argument skipped", "book.exe a \"\" b", " -p \"C:\\Books\\book.exe\" a b"},
        {"inner quoted section wrapped once more", "book.exe x\"a b\"y", " -p \"C:\\Books\\book.exe\" \"x\"a b\"y\""},
        {"quoted tab is passed unquoted", "book.exe \"a\tb\"", " -p \"C:\\Books\\book.exe\" a\tb"},
        {"tabs separate", "book.exe\ta\t\tb", " -p \"C:\\Books\\book.exe\" a b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.commandLine = c.commandLine;
        buildViewerCommandLine(state);
        EXPECT_STREQ(state.viewerCommandLine.c_str(), c.arguments);
    }
}

TEST_F(Launch, InstalledRuntimeStartsInTheLoadersFolderWithoutWaitingForItsEnd)
{
    fake.commandLine = "book.exe";
    launchViewer(state);
    ASSERT_EQ(fake.processes.size(), 1u);
    EXPECT_EQ(fake.processes[0].commandLine, "C:\\Viewer\\viewer.exe  -p \"C:\\Books\\book.exe\"");
    EXPECT_EQ(fake.processes[0].folder, "C:\\Books\\");
    EXPECT_EQ(fake.processes[0].showState, showNormal);
    EXPECT_EQ(launchCalls(), (std::vector<std::string>{"Pump", "CreateProcess", "WaitForInputIdle",
                                                       "WaitForProcessEnd 0", "Pump", "ShowWindow splash 0", "Pump",
                                                       "DestroyWindow splash"}));
    EXPECT_EQ(state.splashWindow, nullptr);
}

TEST_F(Launch, TemporaryRuntimeHidesFirstWaitsAndDeletes)
{
    state.runtimeTemporary = true;
    fake.nt = false;
    launchViewer(state);
    EXPECT_EQ(launchCalls(), (std::vector<std::string>{"ShowWindow splash 0", "Pump", "CreateProcess",
                                                       "WaitForProcessEnd 4294967295", "Pump", "ShowWindow splash 0",
                                                       "Pump", "DestroyWindow splash",
                                                       "DeleteFile C:\\Viewer\\viewer.exe"}));
}

TEST_F(Launch, WithoutSplashOrWhenTheStartFails)
{
    state.splashWindow = nullptr;
    state.runtimeTemporary = true;
    fake.processStartFails = true;
    launchViewer(state);
    EXPECT_EQ(launchCalls(), (std::vector<std::string>{"ShowWindow null 0", "Pump", "CreateProcess", "Pump",
                                                       "ShowWindow null 0", "Pump",
                                                       "DeleteFile C:\\Viewer\\viewer.exe"}));
    EXPECT_TRUE(fake.messageBoxes.empty());
}

TEST_F(Launch, ViewerPathWithABlankIsQuoted)
{
    state.viewerPath = "C:\\Program Files\\Viewer\\viewer.exe";
    fake.commandLine = "book.exe a";
    launchViewer(state);
    ASSERT_EQ(fake.processes.size(), 1u);
    EXPECT_EQ(fake.processes[0].commandLine,
              "\"C:\\Program Files\\Viewer\\viewer.exe\"  -p \"C:\\Books\\book.exe\" a");
}

}  // namespace
