// ProcessUnit: command-line processing and the conversion dispatch.
#include "ProcessUnit.h"

#include "DeclUnit.h"
#include "MpegToWave.h"
#include "WaveToMpeg.h"

namespace {
// An option starts with '-' or '/'. Where '/' also starts absolute paths
// (the native build), an argument that has a further '/' or names an
// existing entry is a file.
bool IsOption(const std::string& arg)
{
    if (arg.empty() || (arg[0] != '-' && arg[0] != '/'))
        return false;
    if (arg[0] == '/' && PathSeparator == '/')
        return arg.size() == 1 || (arg.find('/', 1) == std::string::npos && !FileExists(arg));
    return true;
}

bool RegistrationOption(bool install, bool quiet)
{
    // The native build has no registry: it says so rather than report a
    // registry failure.
    if (!PlatformIsWindows) {
        ShowMessageBox(NoWindow, "The /I and /U options exist only in the Windows program.",
                       ProgramTitle, BoxError);
        return false;
    }
    bool ok = install ? InstallShellVerb() : UninstallShellVerb();
    if (!quiet) {
        if (ok)
            ShowMessageBox(NoWindow, install ? InstalledText : UninstalledText, ProgramTitle,
                           BoxInformation);
        else
            ShowError(NoWindow, install ? 9 : 10, std::string());
    }
    return ok;
}
} // namespace

bool ProcessCommandLine()
{
    bool quiet = false, allWell = true;
    std::string invalidText, summary;
    for (const std::string& arg : GetArguments()) {
        if (IsOption(arg)) {
            char option = arg.size() > 1 ? arg[1] : '\0';
            if (option == '?' || option == 'H' || option == 'h') {
                if (ShowMessageBox(NoWindow, AboutText + UsageText, AboutCaption, BoxInformation))
                    return allWell;
            } else if (option == 'I' || option == 'i' || option == 'U' || option == 'u') {
                return RegistrationOption(option == 'I' || option == 'i', quiet) && allWell;
            } else if (option == 'Q' || option == 'q') {
                quiet = true;
            } else {
                invalidText += arg + " ";
                allWell = false;
            }
            continue;
        }
        std::string name = ExpandFoundName(arg);
        if (name.empty()) {
            summary += ErrorTexts[6] + arg + "\n";
            allWell = false;
        } else {
            bool converted = ConvertFile(NoWindow, name, false);
            summary += (converted ? StatusSucceeded : StatusFailed) + name + "\n";
            allWell = allWell && converted;
        }
    }
    if (!invalidText.empty())
        summary = ErrorTexts[3] + invalidText + "\n\n" + summary;
    if (!quiet && !summary.empty())
        ShowMessageBox(NoWindow, summary, ProgramTitle, BoxInformation);
    return allWell;
}

bool ConvertFile(TWindow owner, const std::string& fileName, bool showMessages)
{
    if (GetLowerExt(fileName) == "wav")
        return ConvertWaveToMpeg(owner, fileName, WriteTagOption, showMessages);
    return ConvertMpegToWave(owner, fileName, showMessages);
}

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
