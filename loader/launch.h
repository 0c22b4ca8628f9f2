// Starting the viewer of the publication.
#pragma once
#include "loader/loader_state.h"

// viewerCommandLine := ` -p "` + the loader's module path + `"`, then for each
// non-empty argument one blank and the argument, in quotes when it holds a blank.
void buildViewerCommandLine(LoaderState& state);

// Starts viewerPath in the loader's folder with viewerCommandLine; waits until
// it is ready for input on the NT family, and for its end when the runtime is
// a temporary copy, which is then deleted. Hides and destroys the splash
// window around the start, draining the message queue before and after.
void launchViewer(LoaderState& state);
