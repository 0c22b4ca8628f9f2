// The entry point of loader.exe. The C runtime's start-up code is not linked:
// the loader needs no global constructors, no argv and no atexit handlers, and
// every run ends in ExitProcess through the exit path.
#include "loader/startup.h"

extern "C" __attribute__((force_align_arg_pointer)) void __stdcall loaderEntry()
{
    LoaderState state;  // lives until the process ends; runLoader never returns
    runLoader(state);
}
