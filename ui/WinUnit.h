// WinUnit: the drop-target window, its popup menu and its commands.
#pragma once

#include "DirectWin32.h"

#include <string>

// The window class that the single-instance test looks for.
extern const char* const MainClassName;

// Menu commands; the bitmap choices are also SetDropTargetBitmap's argument.
enum TMenuCommand {
    CmdConvert = 101,
    CmdBroadcast = 102,
    CmdLabels = 103,
    CmdLoudness = 104,
    CmdWatch = 105,
    CmdPeaks = 106,
    CmdVisible = 201,
    CmdSmall = 202,
    CmdLarge = 203,
    CmdCustom = 204,
    CmdAbout = 301,
    CmdHomepage = 302,
    CmdMail = 303,
    CmdExit = 501
};

// Registers the window class and creates the main window; none on failure
// (including a small bitmap that cannot be loaded).
TWindow CreateMainWindow();
// Releases the held bitmap and loads the chosen one (any other value: none);
// on success the window takes the bitmap's size, its top-left corner staying.
// True when a bitmap is held afterwards.
bool SetDropTargetBitmap(TWindow window, int choice);
// The tip the tray icon shows now: the program's name, or while a folder is
// watched that folder and the counts of files converted and failed.
std::string TrayTip();
