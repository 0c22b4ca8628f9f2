// Starting a process and waiting for it.
#pragma once
#include <stdint.h>
#include "platform/text.h"

// Starts `application` with `arguments` in `folder` (the loader's own current
// folder when empty) with the given show state, in a new console when it is a
// console program. The command line is the application path, in quotes when
// it holds a blank and no quote, then one blank when both parts are non-empty,
// then the arguments unchanged. With waitUntilIdle, waits without limit until
// the process is ready for input; then waits up to exitWait ms for its end.
// True only when the process was started and was seen to end.
bool runProcess(const Text& application, const Text& arguments, const Text& folder, int showState,
                uint32_t exitWait, bool waitUntilIdle);

// The command line that runProcess gives CreateProcessA.
Text processCommandLineFor(const Text& application, const Text& arguments);
