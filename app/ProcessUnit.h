// ProcessUnit: command-line mode, the conversion dispatch and the Explorer verb.
#pragma once

#include "DirectWin32.h"

#include <string>

// Walks the program's arguments: options act at once, files are converted,
// and one summary box reports them. A run that would show that box gathers:
// it hands its files to the gathering run of this user and session, or
// becomes it and reports the files of every run in one box. True when every
// option was valid, every file was found and converted, and any /I or /U
// worked.
bool ProcessCommandLine();
// Converts one file in the direction its extension calls for.
bool ConvertFile(TWindow owner, const std::string& fileName, bool showMessages);
bool InstallShellVerb();
bool UninstallShellVerb();
