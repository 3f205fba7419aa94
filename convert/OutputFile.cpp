// OutputFile: temporary output beside the final name, moved into place last.
#include "OutputFile.h"

#include "DeclUnit.h"

namespace {
bool Refuse(const TOutputFile& output, TWindow owner, bool showMessages)
{
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
        return Refuse(output, owner, showMessages);
    for (int attempt = 0; attempt < 100 && output.File == NoFile; ++attempt) {
        // "song.~k0" for "song.wav": no longer than the final name, so that
        // a name near the path limit can still be written.
        output.TempName = ReplaceExtension(name, "~k" + std::to_string(attempt));
        output.File = CreateNewForWriting(output.TempName);
        if (output.File == NoFile && !FileExists(output.TempName))
            break; // not a name clash: the folder cannot take a new file
    }
    return output.File != NoFile || Refuse(output, owner, showMessages);
}

bool CommitOutput(TOutputFile& output, TWindow owner, bool showMessages)
{
    bool closed = CloseFile(output.File);
    output.File = NoFile;
    if (closed && MoveFileOver(output.TempName, output.Name))
        return true;
    DeleteFileName(output.TempName);
    return Refuse(output, owner, showMessages);
}

void AbandonOutput(TOutputFile& output)
{
    if (output.File != NoFile)
        CloseFile(output.File);
    output.File = NoFile;
    DeleteFileName(output.TempName);
}
