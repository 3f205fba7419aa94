// OutputFile: temporary output beside the final name, moved into place last.
#include "OutputFile.h"

#include "DeclUnit.h"
#include "SniffUnit.h"

namespace {
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
        output.TempName = ReplaceExtension(name, "~k" + std::to_string(attempt));
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
