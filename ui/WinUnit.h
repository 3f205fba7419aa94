// WinUnit: the drop-target window.
#pragma once

#include "DirectWin32.h"

// Registers the window class and creates the main window; none on failure.
TWindow CreateMainWindow();
