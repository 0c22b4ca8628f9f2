#include "loader/process.h"

#include "platform/platform.h"

Text processCommandLineFor(const Text& application, const Text& arguments)
{
    Text commandLine;
    if (application.contains(' ') && !application.contains('"')) {
        commandLine.append('"').append(application).append('"');
    } else {
        commandLine.append(application);
    }
    if (!commandLine.empty() && !arguments.empty()) commandLine.append(' ');
    commandLine.append(arguments);
    return commandLine;
}

bool runProcess(const Text& application, const Text& arguments, const Text& folder, int showState,
                uint32_t exitWait, bool waitUntilIdle)
{
    Text commandLine = processCommandLineFor(application, arguments);
    uint32_t flags = createNewConsole | (showState == showHide ? createNoWindow : 0);
    StartedProcess started;
    if (!createProcess(commandLine.c_str(), folder.c_str(), showState, flags, &started)) return false;

    if (waitUntilIdle) waitForInputIdle(started.process);
    // A process still running keeps its handle open until the loader ends.
    bool ended = waitForProcessEnd(started.process, exitWait);
    if (ended) closeHandle(started.process);
    closeHandle(started.thread);
    return ended;
}
