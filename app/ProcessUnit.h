// ProcessUnit: command-line mode and the conversion dispatch; the Explorer
// verb (VerbUnit.cpp).
#pragma once

#include "DirectWin32.h"
#include "LabelUnit.h"
#include "OptionUnit.h"

#include <string>
#include <vector>

// Past this many file lines the summary box could grow taller than a
// 768-pixel screen and hide its OK button: some 55 short lines fit, and the
// rest is left for long names that wrap.
const int SummaryLineLimit = 40;

// Walks the program's arguments: options act at once, files are converted,
// and one summary box reports them. A run that would show that box gathers:
// it hands its files to the gathering run of this user and session, or
// becomes it and reports the files of every run in one box. True when every
// option was valid, every file was found and converted, and any /I or /U
// worked.
bool ProcessCommandLine();
// The drop target's watch (the watched folder, the output folder and the
// settle time, as typed), checked as /Watch=, /Out= and /Settle= are: -1
// when all fit, Setup then holding the full folder names and the time;
// otherwise the field refused first, Why naming it and why.
int CheckWatchSettings(const std::vector<std::string>& texts, TRunSetup& setup, std::string& why);
// Converts one file in the direction its extension calls for; when it
// fails, LastFailure says why.
// Choices say what the run asks of a WAVed MPEG: Broadcast WAVE, labels.
bool ConvertFile(TWindow owner, const std::string& fileName, bool showMessages,
                 const TRunChoices& choices = TRunChoices());
// Failed lines as a box lists them: up to the summary's limit, then one line
// that counts the rest.
std::string FailureListText(const std::vector<std::string>& lines);
bool InstallShellVerb();
bool UninstallShellVerb();
