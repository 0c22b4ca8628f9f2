#include "loader/launch.h"

#include "loader/command_line.h"
#include "loader/process.h"
#include "ui/splash.h"

void buildViewerCommandLine(LoaderState& state)
{
    Text line(" -p \"");
    line.append(commandLineParameter(0)).append('"');
    int count = commandLineParameterCount();
    for (int i = 1; i <= count; ++i) {
        Text parameter = commandLineParameter(i);
        if (parameter.empty()) continue;
        line.append(' ');
        if (parameter.contains(' '))
            line.append('"').append(parameter).append('"');
        else
            line.append(parameter);
    }
    state.viewerCommandLine = static_cast<Text&&>(line);
}

void launchViewer(LoaderState& state)
{
    uint32_t exitWait = state.runtimeTemporary ? infiniteWait : 0;
    buildViewerCommandLine(state);
    // A temporary runtime keeps the loader waiting for the viewer's end: the
    // splash must not stand on the screen all that time.
    if (state.runtimeTemporary) showWindow(state.splashWindow, showHide);
    pumpPendingMessages();
    runProcess(state.viewerPath, state.viewerCommandLine, folderOf(commandLineParameter(0)), showNormal, exitWait,
               isNtPlatform());
    pumpPendingMessages();
    showWindow(state.splashWindow, showHide);
    pumpPendingMessages();
    if (state.splashWindow) destroyWindow(state.splashWindow);
    state.splashWindow = nullptr;
    if (state.runtimeTemporary) deleteFile(state.viewerPath.c_str());
}
