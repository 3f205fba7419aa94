// ProcessUnit: command-line mode, the conversion dispatch and the Explorer verb.
#pragma once

#include "DirectWin32.h"

#include <string>

// Walks the program's arguments: options act at once, files are converted,
// and one summary box reports them. True when every option was valid, every
// file was found and converted, and any /I or /U worked.
bool ProcessCommandLine();
// Whether the WAVed MPEGs written are Broadcast WAVEs (`bext`, `mext` and
// `cart` chunks): set for a run by /B, and in desktop mode by the menu item,
// whose state is kept for the user between runs.
extern bool BroadcastWave;
bool LoadBroadcastSetting();
bool SaveBroadcastSetting(bool on);
// Converts one file in the direction its extension calls for.
bool ConvertFile(TWindow owner, const std::string& fileName, bool showMessages);
bool InstallShellVerb();
bool UninstallShellVerb();
