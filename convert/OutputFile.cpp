// OutputFile: temporary output beside the final name, moved into place last.
#include "OutputFile.h"

#include "DeclUnit.h"
#include "SniffUnit.h"

namespace {
const char* const TemporaryExtension = "~k";

bool Refuse(const TOutputFile& output, TWindow owner, bool showMessages, TFailure failure)
{
    LastFailure = failure;
    if (showMessages)
        ShowError(owner, 5, output.Name);
    return false;
}
} // namespace

bool BeginOutput(TOutputFile& output, const std::string& name, TFile source, TWindow owner,
                 bool showMessages)
{
    output.Name = name;
    output.TempName.clear();
    output.File = NoFile;
    if (IsSameFile(source, name))
        return Refuse(output, owner, showMessages, FailOutputIsInput);
    for (int attempt = 0; attempt < 100 && output.File == NoFile; ++attempt) {
        // "song.~k0" for "song.wav": no longer than the final name, so that
        // a name near the path limit can still be written.
        output.TempName = ReplaceExtension(name, TemporaryExtension + std::to_string(attempt));
        output.File = CreateNewForWriting(output.TempName);
        if (output.File == NoFile && !FileExists(output.TempName))
            break; // not a name clash: the folder cannot take a new file
    }
    return output.File != NoFile ||
           Refuse(output, owner, showMessages, FileFailure(FailNoWriteRight, FailNoCreate, FailNoCreate));
}

bool CommitOutput(TOutputFile& output, TWindow owner, bool showMessages)
{
    bool closed = CloseFile(output.File);
    output.File = NoFile;
    if (closed && MoveFileOver(output.TempName, output.Name))
        return true;
    // A close fails as a write does (a full disk, a network drive gone); a
    // move when the older output cannot be replaced.
    const TFailure failure = closed ? FileFailure(FailOutputHeld, FailOutputHeld, FailNoCreate)
                                    : WriteFailure();
    DeleteFileName(output.TempName);
    return Refuse(output, owner, showMessages, failure);
}

void AbandonOutput(TOutputFile& output)
{
    if (output.File != NoFile)
        CloseFile(output.File);
    output.File = NoFile;
    DeleteFileName(output.TempName);
}

bool FolderTakesOutput(const std::string& folder)
{
    TOutputFile probe;
    probe.File = NoFile;
    for (int attempt = 0; attempt < 100 && probe.File == NoFile; ++attempt) {
        probe.TempName = PlaceInFolder(".korvane." + std::string(TemporaryExtension) + std::to_string(attempt), folder);
        probe.File = CreateNewForWriting(probe.TempName);
        if (probe.File == NoFile && !FileExists(probe.TempName))
            return false;
    }
    const bool made = probe.File != NoFile;
    AbandonOutput(probe);
    return made;
}

bool IsTemporaryOutputName(const std::string& name)
{
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || name.compare(dot + 1, 2, TemporaryExtension) != 0 || dot + 3 >= name.size())
        return false;
    for (std::string::size_type i = dot + 3; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}
