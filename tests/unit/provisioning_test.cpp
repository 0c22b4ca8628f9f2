#include <gtest/gtest.h>

#include "loader/messages.h"
#include "loader/provisioning.h"
#include "tests/unit/fake_platform.h"

namespace {

const std::string runtimeFile = "C:\\Temp\\koviewer.exe";
const std::string packedFile = "C:\\Temp\\kovA000.tmp";
const std::string runtimeBytes = "MZ viewer program bytes";
const std::string installerBytes = "MZ installer program bytes";
const std::string key = "SOFTWARE\\KOViewer\\{K}";

class Provisioning : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFake();
        renewState(state);
        fake.resources["RUN"] = packForTest(runtimeBytes);
        fake.resources["INST"] = packForTest(installerBytes);
        std::string settings = settingsText({{9, "koviewer.exe"}});
        state.settings.build(reinterpret_cast<const uint8_t*>(settings.data()), settings.size());
        state.title = "Book";
        state.runtimeKeyName = "{K}";
        state.runtimeEmbedded = true;
    }

    bool run() { return endsProcess([&] { provisionRuntime(state); }); }

    std::vector<std::string> tempFiles() const
    {
        std::vector<std::string> found;
        for (const auto& [path, file] : fake.files)
            if (path.rfind("C:\\Temp\\", 0) == 0) found.push_back(path);
        return found;
    }

    LoaderState state;
};

TEST_F(Provisioning, TemporaryModeUnpacksTheRuntimeAndNeverTouchesTheInstaller)
{
    state.runtimeTemporary = true;
    ASSERT_FALSE(run());
    EXPECT_TRUE(state.runtimeAvailable);
    EXPECT_TRUE(state.runtimeTemporary);
    EXPECT_STREQ(state.viewerPath.c_str(), runtimeFile.c_str());
    EXPECT_EQ(fake.files[runtimeFile].bytes, runtimeBytes);
    EXPECT_EQ(tempFiles(), std::vector<std::string>{runtimeFile});
    EXPECT_EQ(fake.indexOf("CopyResource INST"), -1);
    EXPECT_TRUE(fake.processes.empty());
    EXPECT_EQ(fake.callsStartingWith("GetTempFileName"), std::vector<std::string>{"GetTempFileName C:\\Temp\\ koview 0"});
}

TEST_F(Provisioning, StepsRunInTheirOrder)
{
    state.runtimeTemporary = true;
    fake.files[runtimeFile].bytes = "stale";
    ASSERT_FALSE(run());
    std::vector<std::string> seen;
    for (const std::string& call : fake.calls)
        if (call.rfind("GetTempFileName", 0) == 0 || call.rfind("DeleteFile", 0) == 0 || call.rfind("Open", 0) == 0 ||
            call.rfind("CopyResource", 0) == 0 || call.rfind("ReleaseStream", 0) == 0)
            seen.push_back(call);
    EXPECT_EQ(seen, (std::vector<std::string>{"GetTempFileName C:\\Temp\\ koview 0", "DeleteFile " + runtimeFile,
                                              "OpenWriteOnly " + runtimeFile, "OpenReadWrite " + packedFile,
                                              "CopyResource RUN", "ReleaseStream " + packedFile,
                                              "DeleteFile " + packedFile, "ReleaseStream " + runtimeFile,
                                              "DeleteFile " + packedFile}));
    EXPECT_EQ(fake.files[runtimeFile].bytes, runtimeBytes) << "the stale file was replaced";
}

TEST_F(Provisioning, InstallerOutcomes)
{
    struct Case {
        const char* name;
        std::function<void()> installer;
        bool available;
        bool temporary;
        std::string viewer;
    } cases[] = {
        {"leaves the runtime in place", [] {}, true, true, runtimeFile},
        {"moves and registers it",
         [] {
             fake.files["C:\\Viewer\\viewer.exe"] = fake.files[runtimeFile];
             fake.files.erase(runtimeFile);
             fake.registry[key]["Path"] = {registryTypeText, std::string("C:\\Viewer\\viewer.exe") + '\0'};
             fake.registry[key]["Version"] = {registryTypeNumber, std::string("\1\0\0\0", 4)};
         },
         true, false, "C:\\Viewer\\viewer.exe"},
        {"deletes it and registers nothing", [] { fake.files.erase(runtimeFile); }, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::string installerSeen;
        fake.onProcessStart = [&](const std::string&) {
            installerSeen = fake.files[packedFile].bytes;
            c.installer();
        };
        ASSERT_FALSE(run());
        EXPECT_EQ(installerSeen, installerBytes);
        ASSERT_EQ(fake.processes.size(), 1u);
        EXPECT_EQ(fake.processes[0].commandLine, packedFile + " " + runtimeFile);
        EXPECT_EQ(fake.processes[0].folder, "C:\\Books\\");
        EXPECT_EQ(fake.processes[0].showState, showNormal);
        EXPECT_EQ(fake.callsStartingWith("WaitFor"), std::vector<std::string>{"WaitForProcessEnd 4294967295"});
        EXPECT_EQ(state.runtimeAvailable, c.available);
        EXPECT_EQ(state.runtimeTemporary, c.temporary);
        EXPECT_STREQ(state.viewerPath.c_str(), c.viewer.c_str());
        EXPECT_EQ(fake.files.count(packedFile), 0u) << "the installer file is removed";
    }
}

TEST_F(Provisioning, InstallerThatCannotStartLeavesATemporaryRuntime)
{
    fake.processStartFails = true;
    ASSERT_FALSE(run());
    EXPECT_TRUE(state.runtimeAvailable);
    EXPECT_TRUE(state.runtimeTemporary);
    EXPECT_EQ(tempFiles(), std::vector<std::string>{runtimeFile});
}

TEST_F(Provisioning, InstallerCommandLineWithBlanks)
{
    fake.tempPath = "C:\\Temp Dir";  // no trailing backslash: one is added
    fake.files["C:\\Temp Dir"].directory = true;
    ASSERT_FALSE(run());
    ASSERT_EQ(fake.processes.size(), 1u);
    EXPECT_EQ(fake.processes[0].commandLine, "\"C:\\Temp Dir\\kovA000.tmp\" C:\\Temp Dir\\koviewer.exe");
}

TEST_F(Provisioning, MissingRunShowsMessageFourAndLeavesAnEmptyRuntimeFile)
{
    fake.resources.erase("RUN");
    ASSERT_TRUE(run());
    ASSERT_EQ(fake.messageBoxes.size(), 1u);
    EXPECT_EQ(fake.messageBoxes[0].text, messageRuntimeNotPrepared);
    EXPECT_EQ(fake.messageBoxes[0].caption, "Book");
    EXPECT_EQ(tempFiles(), std::vector<std::string>{runtimeFile});
    EXPECT_EQ(fake.files[runtimeFile].bytes, "");
    EXPECT_EQ(fake.callsStartingWith("ReleaseStream"), std::vector<std::string>{"ReleaseStream " + packedFile});
    EXPECT_GT(fake.indexOf("DeleteFile " + packedFile), fake.indexOf("MessageBox"));
}

TEST_F(Provisioning, MissingInstShowsMessageFiveAndLeavesBothFiles)
{
    fake.resources.erase("INST");
    ASSERT_TRUE(run());
    ASSERT_EQ(fake.messageBoxes.size(), 1u);
    EXPECT_EQ(fake.messageBoxes[0].text, messageRuntimeNotInstalled);
    EXPECT_EQ(fake.messageBoxes[0].caption, "Book");
    EXPECT_EQ(tempFiles(), (std::vector<std::string>{packedFile, runtimeFile}));
    EXPECT_EQ(fake.files[packedFile].bytes, "");
    EXPECT_EQ(fake.files[runtimeFile].bytes, runtimeBytes);
    EXPECT_TRUE(fake.processes.empty());
}

TEST_F(Provisioning, NoTemporaryFileNameEndsWithMessageFourLeavingNothing)
{
    for (bool pathFails : {false, true}) {
        SCOPED_TRACE(pathFails ? "no temporary folder" : "GetTempFileNameA fails");
        SetUp();
        fake.tempFileNameFails = !pathFails;
        fake.tempPathFails = pathFails;
        ASSERT_TRUE(run());
        ASSERT_EQ(fake.messageBoxes.size(), 1u);
        EXPECT_EQ(fake.messageBoxes[0].text, messageRuntimeNotPrepared);
        EXPECT_TRUE(tempFiles().empty());
        EXPECT_EQ(fake.indexOf("Open"), -1);
    }
}

TEST_F(Provisioning, AFolderAtTheRuntimePathIsLeftAlone)
{
    fake.files[runtimeFile].directory = true;
    state.runtimeTemporary = true;
    ASSERT_FALSE(run());
    EXPECT_TRUE(fake.files[runtimeFile].directory);
    EXPECT_EQ(fake.indexOf("DeleteFile " + runtimeFile), -1);
    EXPECT_FALSE(state.runtimeAvailable) << "falls to the registry, which has nothing";
}

TEST_F(Provisioning, EmptyLineNineFallsToTheRegistry)
{
    std::string settings = settingsText({{9, ""}});
    state.settings.build(reinterpret_cast<const uint8_t*>(settings.data()), settings.size());
    state.runtimeTemporary = true;
    ASSERT_FALSE(run());
    EXPECT_STREQ(state.runtimePath.c_str(), "C:\\Temp\\");
    for (const std::string& call : fake.calls) EXPECT_NE(call, "DeleteFile C:\\Temp\\");
    EXPECT_TRUE(fake.files["C:\\Temp"].directory);
    EXPECT_FALSE(state.runtimeAvailable);
    EXPECT_GE(fake.indexOf("RegOpenKey " + key), 0);
    EXPECT_TRUE(tempFiles().empty());
}

TEST_F(Provisioning, ARuntimeInUseIsKeptAsTheTemporaryRuntime)
{
    fake.files[runtimeFile] = {false, true, "older runtime"};
    state.runtimeTemporary = true;
    ASSERT_FALSE(run());
    EXPECT_EQ(fake.files[runtimeFile].bytes, "older runtime");
    EXPECT_TRUE(state.runtimeAvailable);
    EXPECT_TRUE(state.runtimeTemporary);
    EXPECT_TRUE(fake.messageBoxes.empty());
}

}  // namespace
