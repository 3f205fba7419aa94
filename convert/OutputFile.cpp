// OutputFile: temporary output beside the final name, moved into place last.
#include "OutputFile.h"

bool BeginOutput(TOutputFile& output, const std::string& name, TFile source)
{
    output.Name = name;
    output.TempName.clear();
    output.File = NoFile;
    if (IsSameFile(source, name))
        return false;
    for (int attempt = 0; attempt < 100 && output.File == NoFile; ++attempt) {
        output.TempName = name + ".~tmp" + std::to_string(attempt);
        output.File = CreateNewForWriting(output.TempName);
        if (output.File == NoFile && !FileExists(output.TempName))
            break; // not a name clash: the folder cannot take a new file
    }
    return output.File != NoFile;
}

bool CommitOutput(TOutputFile& output)
{
    bool closed = CloseFile(output.File);
    output.File = NoFile;
    if (closed && MoveFileOver(output.TempName, output.Name))
        return true;
    DeleteFileName(output.TempName);
    return false;
}

void AbandonOutput(TOutputFile& output)
{
    if (output.File != NoFile)
        CloseFile(output.File);
    output.File = NoFile;
    DeleteFileName(output.TempName);
}
