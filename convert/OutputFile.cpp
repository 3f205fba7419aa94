// OutputFile: temporary output beside the final name, moved into place last.
#include "OutputFile.h"

#include "DeclUnit.h"
#include "SniffUnit.h"

namespace {
// What every temporary output's extension starts with.
const char* const TemporaryExtension = "~";

bool Refuse(const TOutputFile& output, TWindow owner, bool showMessages, TFailure failure)
{
    LastFailure = failure;
    if (showMessages)
        ShowError(owner, 5, output.Name);
    return false;
}

// The temporary names beside "song.wav": "song.~00", then, beside leftovers
// of runs that ended before they could remove theirs, "song.~01" up to
// "song.~zz". Each is exactly as long as the final name (whose extension has
// three characters in both directions), however many leftovers lie there,
// so that a name right at the path limit can still be written. Letters are
// of one case: Windows names do not tell the cases apart.
const int TempNameCount = 36 * 36;

std::string TempName(const std::string& name, int attempt)
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    return ReplaceExtension(name, TemporaryExtension + std::string(1, digits[attempt / 36]) + digits[attempt % 36]);
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
    for (int attempt = 0; attempt < TempNameCount && output.File == NoFile; ++attempt) {
        output.TempName = TempName(name, attempt);
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
    // "song.~00" to "song.~zz", and "song.~k0" to "song.~k99" as earlier
    // versions named them.
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || name.compare(dot + 1, 1, TemporaryExtension) != 0)
        return false;
    const std::string tail = name.substr(dot + 2);
    const auto all = [](const std::string& text, const char* set) {
        return !text.empty() && text.find_first_not_of(set) == std::string::npos;
    };
    return (tail.size() == 2 && all(tail, "0123456789abcdefghijklmnopqrstuvwxyz")) ||
           (tail.size() >= 2 && tail.size() <= 3 && tail[0] == 'k' && all(tail.substr(1), "0123456789"));
}
