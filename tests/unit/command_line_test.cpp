#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/command_line.h"
#include "loader/process.h"
#include "tests/unit/fake_platform.h"

namespace {

std::vector<std::string> tokens(const char* line)
{
    std::vector<std::string> found;
    for (int i = 1;; ++i) {
        Text token = commandLineToken(line, i);
        if (token.empty()) break;
        found.emplace_back(token.c_str());
    }
    return found;
}

TEST(CommandLine, SplitsIntoParameters)
{
    using T = std::vector<std::string>;
    struct Case {
        const char* name;
        const char* line;
        T parameters;
    } cases[] = {
        {"no arguments", "book.exe", {}},
        {"quoted program name", "\"C:\\My Books\\book.exe\" a", {"a"}},
        {"blanks", "book.exe  a   b ", {"a", "b"}},
        {"tabs, CR, LF and control characters separate", "book.exe\ta\r\nb\x01" "c", {"a", "b", "c"}},
        {"128 to 255 are ordinary", "book.exe \xA0x\xFF", {"\xA0x\xFF"}},
        {"quoted argument loses its outer quotes", "book.exe \"abc\"", {"abc"}},
        {"quoted section keeps blanks", "book.exe \"a b\" c", {"a b", "c"}},
        {"empty quoted argument is skipped", "book.exe a \"\" b", {"a", "b"}},
        {"several empty pairs", "book.exe \"\"\"\" \"\" a", {"a"}},
        {"empty pair before characters is dropped", "book.exe \"\"abc", {"abc"}},
        {"inner quoted section stays", "book.exe ab\"c d\"ef", {"ab\"c d\"ef"}},
        {"unterminated quote runs to the end", "book.exe \"a b", {"\"a b"}},
        {"only outer quotes go", "book.exe \"a\"b\"", {"a\"b"}},
        {"quote at one end only stays", "book.exe a\"b c\"", {"a\"b c\""}},
        {"lone quote", "book.exe \"", {"\""}},
        {"no backslash escapes", "book.exe a\\\"b c\\\"", {"a\\\"b c\\\""}},
        {"quoted tab", "book.exe \"a\tb\"", {"a\tb"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tokens(c.line), c.parameters);
    }
    EXPECT_STREQ(commandLineToken("  \"C:\\a b\\x.exe\" y", 0).c_str(), "C:\\a b\\x.exe");
    EXPECT_STREQ(commandLineToken("", 0).c_str(), "");
    EXPECT_STREQ(commandLineToken(nullptr, 1).c_str(), "");
}

TEST(CommandLine, ParameterZeroIsTheModulePathAndCountStopsAtTheEnd)
{
    resetFake();
    fake.modulePath = "C:\\Pubs\\Book One.exe";
    fake.commandLine = "book a \"\" b";
    EXPECT_STREQ(commandLineParameter(0).c_str(), "C:\\Pubs\\Book One.exe");
    EXPECT_STREQ(commandLineParameter(2).c_str(), "b");
    EXPECT_EQ(commandLineParameterCount(), 2);
}

TEST(CommandLine, FolderOf)
{
    struct Case {
        const char* path;
        const char* folder;
    } cases[] = {{"C:\\Books\\book.exe", "C:\\Books\\"}, {"C:book.exe", "C:"},  {"book.exe", ""},
                 {"", ""}, {"\\\\server\\share\\b.exe", "\\\\server\\share\\"}, {"C:\\", "C:\\"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_STREQ(folderOf(Text(c.path)).c_str(), c.folder);
    }
}

TEST(Process, CommandLineQuotesTheApplicationOnlyWithABlankAndNoQuote)
{
    struct Case {
        const char* application;
        const char* arguments;
        const char* commandLine;
    } cases[] = {
        {"C:\\V\\viewer.exe", " -p \"x\"", "C:\\V\\viewer.exe  -p \"x\""},
        {"C:\\My Viewer\\viewer.exe", "args", "\"C:\\My Viewer\\viewer.exe\" args"},
        {"\"C:\\My Viewer\\viewer.exe\"", "args", "\"C:\\My Viewer\\viewer.exe\" args"},
        {"C:\\Tab\tDir\\v.exe", "", "C:\\Tab\tDir\\v.exe"},
        {"", "args", "args"},
        {"v.exe", "", "v.exe"},
        {"C:\\T e m p\\kovA.tmp", "C:\\T e m p\\koviewer.exe", "\"C:\\T e m p\\kovA.tmp\" C:\\T e m p\\koviewer.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.application);
        EXPECT_STREQ(processCommandLineFor(Text(c.application), Text(c.arguments)).c_str(), c.commandLine);
    }
}

TEST(Process, WaitsAndClosesHandlesAsAsked)
{
    struct Case {
        const char* name;
        uint32_t exitWait;
        bool idle;
        bool startFails;
        bool result;
        std::vector<std::string> calls;
    } cases[] = {
        {"installed viewer on NT", 0, true, false, false,
         {"CreateProcess v.exe", "WaitForInputIdle", "WaitForProcessEnd 0", "CloseHandle thread"}},
        {"temporary viewer", infiniteWait, true, false, true,
         {"CreateProcess v.exe", "WaitForInputIdle", "WaitForProcessEnd 4294967295", "CloseHandle process",
          "CloseHandle thread"}},
        {"installer, no idle wait", infiniteWait, false, false, true,
         {"CreateProcess v.exe", "WaitForProcessEnd 4294967295", "CloseHandle process", "CloseHandle thread"}},
        {"start fails", infiniteWait, true, true, false, {"CreateProcess v.exe"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetFake();
        fake.processStartFails = c.startFails;
        EXPECT_EQ(runProcess(Text("v.exe"), Text(), Text("C:\\B\\"), showNormal, c.exitWait, c.idle), c.result);
        EXPECT_EQ(fake.calls, c.calls);
    }
    resetFake();
    runProcess(Text("v.exe"), Text("a"), Text("C:\\B\\"), showNormal, 0, false);
    ASSERT_EQ(fake.processes.size(), 1u);
    EXPECT_EQ(fake.processes[0].folder, "C:\\B\\");
    EXPECT_EQ(fake.processes[0].showState, showNormal);
    EXPECT_EQ(fake.processes[0].flags, createNewConsole);
    runProcess(Text("v.exe"), Text("a"), Text(), showHide, 0, false);
    EXPECT_EQ(fake.processes[1].flags, createNewConsole | createNoWindow);
}

}  // namespace
