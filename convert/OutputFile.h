// OutputFile: a conversion's output is written under a temporary name beside
// the final one and moved over it only when the conversion succeeded, so that
// a failed conversion leaves an earlier file of that name untouched and no
// half-written file behind.
#pragma once

#include "DirectWin32.h"

#include <string>

struct TOutputFile {
    std::string Name;     // the final name
    std::string TempName; // where the bytes go until the output is complete
    TFile File;
};

// Creates the temporary file for Name; false when Name is the open Source
// itself (a link, or the same file under another spelling) or when nothing
// can be created beside it. Failures show "Unable to create" and the name
// when ShowMessages is on.
bool BeginOutput(TOutputFile& output, const std::string& name, TFile source, TWindow owner,
                 bool showMessages);
// Closes the temporary file and moves it over the final name; a failure is
// shown as for BeginOutput.
bool CommitOutput(TOutputFile& output, TWindow owner, bool showMessages);
// Closes and removes the temporary file.
void AbandonOutput(TOutputFile& output);

// Whether Folder is a folder in which a new file can be made: a file is
// created there and removed again.
bool FolderTakesOutput(const std::string& folder);
// Whether the own name Name is one BeginOutput gives a temporary file.
bool IsTemporaryOutputName(const std::string& name);
