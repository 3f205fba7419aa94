// VerbUnit: the Explorer verb on the file type of ".mp3", which /I adds and
// /U removes.
#include "DeclUnit.h"
#include "ProcessUnit.h"

namespace {
const char* const VerbKeyName = "Korvane";

// The key of the file type (ProgID) that ".mp3" is associated with; none
// when there is no such type or the ".mp3" key could not be closed again.
TRegKey OpenMp3FileType()
{
    TRegKey mp3 = OpenRegKey(ClassesRoot, ".mp3", false);
    if (mp3 == NoKey)
        return NoKey;
    std::string progId = ReadRegString(mp3, std::string());
    if (!CloseRegKey(mp3) || progId.empty())
        return NoKey;
    return OpenRegKey(ClassesRoot, progId, false);
}
} // namespace

bool InstallShellVerb()
{
    // The shell starts the program with the chosen file's long name:
    // "<program path>" "%L".
    std::string command = FormatText(LoadText(5016), {GetProgramPath()});
    TRegKey fileType = OpenMp3FileType();
    if (fileType == NoKey)
        return false;
    bool result = false;
    TRegKey shell = OpenRegKey(fileType, "shell", true);
    if (shell != NoKey) {
        TRegKey verb = OpenRegKey(shell, VerbKeyName, true);
        if (verb != NoKey) {
            if (WriteRegString(verb, std::string(), VerbCaption)) {
                TRegKey commandKey = OpenRegKey(verb, "command", true);
                if (commandKey != NoKey) {
                    result = WriteRegString(commandKey, std::string(), command);
                    CloseRegKey(commandKey);
                }
            }
            CloseRegKey(verb);
        }
        CloseRegKey(shell);
    }
    CloseRegKey(fileType);
    return result;
}

bool UninstallShellVerb()
{
    TRegKey fileType = OpenMp3FileType();
    if (fileType == NoKey)
        return false;
    TRegKey shell = OpenRegKey(fileType, "shell", false);
    if (shell == NoKey) {
        CloseRegKey(fileType);
        return false;
    }
    bool result = false;
    TRegKey verb = OpenRegKey(shell, VerbKeyName, false);
    if (verb != NoKey) {
        DeleteRegKey(verb, "command");
        CloseRegKey(verb);
        result = DeleteRegKey(shell, VerbKeyName);
    }
    if (CountSubKeys(shell) > 0 || CountValues(shell) > 0) {
        // "shell" still holds other verbs or a value of its own: it stays.
        result = CloseRegKey(shell) && result;
    } else if (!CloseRegKey(shell) || !DeleteRegKey(fileType, "shell")) {
        result = false;
    }
    return CloseRegKey(fileType) && result;
}
