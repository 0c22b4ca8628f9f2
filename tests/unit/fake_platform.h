// The fake platform of the unit tests: registry, files, resources, processes,
// windows and the dialog kept in memory, every call recorded in order.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "loader/loader_state.h"

// Thrown by the fake exitProcess(): the test sees where the run ended.
struct ProcessExit {};

struct FakeFile {
    bool directory = false;
    bool inUse = false;  // a running program: cannot be deleted or opened for writing
    std::string bytes;
};

struct FakeValue {
    uint32_t type;
    std::string bytes;  // stored exactly, terminating NUL included when wanted
};

struct FakeMessageBox {
    std::string text;
    std::string caption;
    uint32_t style;
    bool splashShown;  // a splash window existed (not destroyed) while the box was up
};

struct FakeProcess {
    std::string commandLine;
    std::string folder;
    int showState;
    uint32_t flags;
};

struct FakeSystem {
    std::vector<std::string> calls;

    std::map<std::string, std::string> resources;
    std::map<std::string, std::map<std::string, FakeValue>> registry;  // subkey -> values
    std::map<std::string, FakeFile> files;

    std::string tempPath = "C:\\Temp\\";
    bool tempPathFails = false;
    bool tempFileNameFails = false;
    int tempCounter = 0;

    std::string modulePath = "C:\\Books\\book.exe";
    std::string commandLine = "\"C:\\Books\\book.exe\"";
    bool nt = true;

    bool splashFails = false;
    bool splashAlive = false;
    int dialogResult = -1;

    bool processStartFails = false;
    bool processEndsAtOnce = false;  // a zero exit wait already sees the end
    std::function<void(const std::string& commandLine)> onProcessStart;
    std::vector<FakeProcess> processes;
    int openProcessHandles = 0;

    std::vector<FakeMessageBox> messageBoxes;

    // Calls whose text starts with prefix, in order.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;
    // Index of the first call equal to (or starting with) text; -1 when none.
    int indexOf(const std::string& text) const;
};

extern FakeSystem fake;

// Clears the fake and the splash text.
void resetFake();

// Puts a state back to how a new run starts.
void renewState(LoaderState& state);

// Runs the loader's start-up over a fresh state until it ends the process.
// Returns false when it returned without ending the process (never expected).
bool runLoaderToEnd(LoaderState& state);

// Runs one phase (discovery, provisioning, ...) and reports whether it ended
// the process instead of returning.
bool endsProcess(const std::function<void()>& phase);

// A packed blob of `data` in the stored form ("QKOC", headerSize 24, both
// CRCs) whose body holds only literals: enough for fixtures.
std::string packForTest(const std::string& data);

// The settings text of a valid publication: 11 lines, each ended by CR LF;
// `lines` overrides lines by number.
std::string settingsText(const std::map<int, std::string>& lines = {});
