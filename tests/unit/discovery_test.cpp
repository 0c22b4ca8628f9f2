#include <gtest/gtest.h>

#include "loader/discovery.h"
#include "tests/unit/fake_platform.h"

namespace {

const std::string key = "SOFTWARE\\KOViewer\\{K}";
const std::string viewer = "C:\\Viewer\\viewer.exe";

FakeValue text(const std::string& s) { return {registryTypeText, s + '\0'}; }
FakeValue number(uint32_t v) { return {registryTypeNumber, std::string(reinterpret_cast<const char*>(&v), 4)}; }

class Discovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFake();
        renewState(state);
        state.runtimeKeyName = "{K}";
        state.requiredVersion = "12000";
        fake.files[viewer];
        fake.files["C:\\Viewer"].directory = true;
    }
    LoaderState state;
};

TEST_F(Discovery, VersionRule)
{
    struct Case {
        const char* name;
        const char* required;
        std::map<std::string, FakeValue> values;
        bool available;
    } cases[] = {
        {"equal", "12000", {{"Path", text(viewer)}, {"Version", number(12000)}}, true},
        {"differs, mark 1", "12000", {{"Path", text(viewer)}, {"Version", number(11000)}, {"12000", text("1")}}, true},
        {"differs, mark 1 blank", "12000", {{"Path", text(viewer)}, {"Version", number(11000)}, {"12000", text("1 ")}}, false},
        {"differs, mark 01", "12000", {{"Path", text(viewer)}, {"Version", number(11000)}, {"12000", text("01")}}, false},
        {"differs, mark as DWORD 1", "12000", {{"Path", text(viewer)}, {"Version", number(11000)}, {"12000", number(1)}}, false},
        {"differs, no mark", "12000", {{"Path", text(viewer)}, {"Version", number(11000)}}, false},
        {"Version as REG_SZ reads 0", "12000", {{"Path", text(viewer)}, {"Version", text("12000")}}, false},
        {"Version as REG_SZ, mark decides", "12000", {{"Path", text(viewer)}, {"Version", text("12000")}, {"12000", text("1")}}, true},
        {"trailing letters ignored", "12000abc", {{"Path", text(viewer)}, {"Version", number(12000)}}, true},
        {"leading blank reads 0", " 12000", {{"Path", text(viewer)}, {"Version", number(12000)}}, false},
        {"leading blank vs version 0", " 12000", {{"Path", text(viewer)}, {"Version", number(0)}}, true},
        {"leading plus", "+12000", {{"Path", text(viewer)}, {"Version", number(12000)}}, true},
        {"minus one against 4294967295", "-1", {{"Path", text(viewer)}, {"Version", number(4294967295u)}}, true},
        {"empty against missing Version", "", {{"Path", text(viewer)}}, true},
        {"0 against missing Version", "0", {{"Path", text(viewer)}}, true},
        {"letter against missing Version", "x12", {{"Path", text(viewer)}}, true},
        {"empty required, default value marks", "", {{"Path", text(viewer)}, {"Version", number(3)}, {"", text("1")}}, true},
        {"empty required, no default value", "", {{"Path", text(viewer)}, {"Version", number(3)}}, false},
        {"Path missing", "12000", {{"Version", number(12000)}}, false},
        {"Path of another type", "12000", {{"Path", {2, viewer + '\0'}}, {"Version", number(12000)}}, false},
        {"Path names a folder", "12000", {{"Path", text("C:\\Viewer")}, {"Version", number(12000)}}, false},
        {"Path names a missing file", "12000", {{"Path", text("C:\\Viewer\\gone.exe")}, {"Version", number(12000)}}, false},
        {"Path without a NUL", "12000", {{"Path", {registryTypeText, viewer}}, {"Version", number(12000)}}, true},
        {"Path cut at its first NUL", "12000", {{"Path", {registryTypeText, viewer + std::string("\0junk", 5)}}, {"Version", number(12000)}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        state.requiredVersion = c.required;
        state.runtimeTemporary = true;
        fake.registry[key] = c.values;
        discoverInstalledRuntime(state);
        EXPECT_EQ(state.runtimeAvailable, c.available);
        EXPECT_EQ(state.runtimeTemporary, !c.available);  // cleared exactly when available
        EXPECT_EQ(state.registryKey, nullptr);
        EXPECT_EQ(fake.callsStartingWith("RegCloseKey"), std::vector<std::string>{"RegCloseKey"});
    }
}

TEST_F(Discovery, ReadsTheRegistryInItsOrder)
{
    fake.registry[key] = {{"Path", text(viewer)}, {"Version", number(11000)}, {"12000", text("1")}};
    discoverInstalledRuntime(state);
    EXPECT_EQ(fake.callsStartingWith("Reg"),
              (std::vector<std::string>{"RegOpenKey " + key, "RegQueryValue Path size", "RegQueryValue Path buffer 21",
                                        "RegQueryValue Version buffer 4", "RegQueryValue 12000 size",
                                        "RegQueryValue 12000 buffer 2", "RegCloseKey"}));

    resetFake();
    fake.registry[key] = {{"Path", text(viewer)}, {"Version", number(12000)}, {"12000", text("1")}};
    discoverInstalledRuntime(state);
    EXPECT_TRUE(fake.callsStartingWith("RegQueryValue 12000").empty()) << "equal versions read no mark";
}

TEST_F(Discovery, NoKeyLeavesPathAndTemporaryFlagAlone)
{
    state.runtimeTemporary = true;
    discoverInstalledRuntime(state);
    EXPECT_FALSE(state.runtimeAvailable);
    EXPECT_TRUE(state.viewerPath.empty());
    EXPECT_TRUE(state.runtimeTemporary);
    EXPECT_EQ(fake.callsStartingWith("Reg"), std::vector<std::string>{"RegOpenKey " + key});
}

TEST_F(Discovery, AFolderPathIsKeptButNotAvailable)
{
    fake.registry[key] = {{"Path", text("C:\\Viewer")}, {"Version", number(12000)}};
    discoverInstalledRuntime(state);
    EXPECT_FALSE(state.runtimeAvailable);
    EXPECT_STREQ(state.viewerPath.c_str(), "C:\\Viewer");
}

TEST_F(Discovery, RegisteredPathAfterTheInstaller)
{
    // No key: empty path, availability unchanged.
    state.viewerPath = "old";
    state.runtimeAvailable = false;
    readRegisteredRuntimePath(state);
    EXPECT_TRUE(state.viewerPath.empty());
    EXPECT_FALSE(state.runtimeAvailable);

    // A registered file is accepted whatever its version.
    fake.registry[key] = {{"Path", text(viewer)}, {"Version", number(1)}};
    state.runtimeTemporary = true;
    readRegisteredRuntimePath(state);
    EXPECT_TRUE(state.runtimeAvailable);
    EXPECT_STREQ(state.viewerPath.c_str(), viewer.c_str());
    EXPECT_TRUE(state.runtimeTemporary) << "left to the caller";
    EXPECT_TRUE(fake.callsStartingWith("RegQueryValue Version").empty());

    // Never sets availability to false.
    fake.registry[key] = {{"Path", text("C:\\gone.exe")}};
    readRegisteredRuntimePath(state);
    EXPECT_TRUE(state.runtimeAvailable);
}

TEST(DecimalValue, ParsesLikeTheCompiler)
{
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        {"", 0},          {"0", 0},       {"12000", 12000}, {"12000abc", 12000}, {" 12000", 0},
        {"+12000", 12000}, {"-1", -1},     {"-", 0},         {"+", 0},            {"+-5", 0},
        {"abc", 0},       {"2147483647", 2147483647},       {"2147483648", INT32_MIN},
        {"4294967296", 0}, {"4294967297", 1}, {"-2147483648", INT32_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decimalValue(Text(c.text)), c.value);
    }
}

}  // namespace
