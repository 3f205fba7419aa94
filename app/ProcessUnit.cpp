// ProcessUnit: command-line processing and the conversion dispatch.
#include "ProcessUnit.h"

#include "DeclUnit.h"
#include "KorvaneVersion.h"
#include "MpegToWave.h"
#include "WaveToMpeg.h"

#include <set>

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

// The summary of one run: every file line, and the failed and not-found lines
// alone for a run too long to list in full.
struct TSummary {
    std::string Lines, Problems;
    int LineCount = 0, ProblemCount = 0, Converted = 0;
};

void AddLine(TSummary& summary, const std::string& line, bool converted)
{
    summary.Lines += line + "\n";
    ++summary.LineCount;
    if (converted) {
        ++summary.Converted;
    } else if (++summary.ProblemCount <= SummaryLineLimit) {
        summary.Problems += line + "\n";
    }
}

// The box lists every line, or, past the limit, the failed and not-found lines
// and one closing line that counts the others. The native converter prints
// every line.
std::string SummaryText(const TSummary& summary)
{
    if (!PlatformIsWindows || summary.LineCount <= SummaryLineLimit)
        return summary.Lines;
    std::string closing = std::to_string(summary.Converted) +
                          (summary.ProblemCount > 0 ? " other" : "") +
                          (summary.Converted == 1 ? " file converted" : " files converted");
    if (summary.ProblemCount > SummaryLineLimit)
        closing += ", " + std::to_string(summary.ProblemCount - SummaryLineLimit) +
                   " more failed or not found";
    return summary.Problems + closing + "\n";
}

// The name a conversion of Name has written. A WAVed MPEG whose `data` chunk
// claims more than the file holds keeps what it copied although it fails, so
// its output counts whatever the result.
std::string WrittenName(const std::string& name, bool converted)
{
    if (GetLowerExt(name) == "wav")
        return WaveToMpegName(name);
    return converted ? ReplaceExtension(name, "wav") : std::string();
}

bool IsBroadcastOption(const std::string& arg)
{
    return IsOption(arg) && arg.size() > 1 && (arg[1] == 'B' || arg[1] == 'b');
}
} // namespace

bool BroadcastWave = false;

bool ProcessCommandLine()
{
    bool quiet = false, allWell = true;
    std::string invalidText;
    TSummary summary;
    // /B anywhere makes every WAVed MPEG of the run a Broadcast WAVE.
    const std::vector<std::string> arguments = GetArguments();
    for (const std::string& arg : arguments)
        BroadcastWave = BroadcastWave || IsBroadcastOption(arg);
    // The files this run has converted or written, by FileNameKey: a pattern
    // never takes one of them as input, so that "*.*" does not turn the new
    // song.wav back into song.mp3 over the original.
    std::set<std::string> taken;
    for (const std::string& arg : arguments) {
        if (IsOption(arg)) {
            // The native converter also answers the two long options every
            // Linux tool has: --help stands for /?, --version says the version.
            if (!PlatformIsWindows && arg == "--version") {
                ShowMessageBox(NoWindow, ProgramTitle + " " KORVANE_VERSION, ProgramTitle, BoxInformation);
                return allWell;
            }
            char option = !PlatformIsWindows && arg == "--help" ? '?' : arg.size() > 1 ? arg[1] : '\0';
            if (option == '?' || option == 'H' || option == 'h') {
                if (ShowMessageBox(NoWindow, AboutText + UsageText, AboutCaption, BoxInformation))
                    return allWell;
            } else if (option == 'I' || option == 'i' || option == 'U' || option == 'u') {
                return RegistrationOption(option == 'I' || option == 'i', quiet) && allWell;
            } else if (option == 'Q' || option == 'q') {
                quiet = true;
            } else if (option == 'B' || option == 'b') {
                // taken before the first file
            } else {
                invalidText += arg + " ";
                allWell = false;
            }
            continue;
        }
        // A pattern stands for every file it matches, all listed before the
        // first of them converts; a name for the entry it finds.
        const bool pattern = HasWildcard(arg);
        std::vector<std::string> names;
        if (pattern) {
            for (const std::string& found : ListMatchingFiles(arg))
                names.push_back(JoinFoundName(arg, found));
        } else {
            names.push_back(ExpandFoundName(arg));
            if (names.back().empty())
                names.clear();
        }
        if (names.empty()) {
            AddLine(summary, ErrorTexts[6] + arg, false);
            allWell = false;
        }
        for (const std::string& name : names) {
            const std::string key = FileNameKey(name);
            if (pattern && taken.count(key) > 0)
                continue;
            bool converted = ConvertFile(NoWindow, name, false);
            AddLine(summary, converted ? StatusSucceeded + name : StatusFailed + name + FailureReason(),
                    converted);
            allWell = allWell && converted;
            taken.insert(key);
            const std::string written = WrittenName(name, converted);
            if (!written.empty())
                taken.insert(FileNameKey(written));
        }
    }
    std::string text = SummaryText(summary);
    if (!invalidText.empty())
        text = ErrorTexts[3] + invalidText + "\n\n" + text;
    if (!quiet && !text.empty())
        ShowMessageBox(NoWindow, text, ProgramTitle, BoxInformation);
    return allWell;
}

bool ConvertFile(TWindow owner, const std::string& fileName, bool showMessages)
{
    LastFailure = FailNone;
    if (GetLowerExt(fileName) == "wav")
        return ConvertWaveToMpeg(owner, fileName, WriteTagOption, showMessages);
    return ConvertMpegToWave(owner, fileName, showMessages, BroadcastWave);
}

std::string FailureListText(const std::vector<std::string>& lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < std::size_t(SummaryLineLimit); ++i)
        text += lines[i] + "\n";
    if (lines.size() > std::size_t(SummaryLineLimit))
        text += std::to_string(lines.size() - SummaryLineLimit) + " more failed\n";
    return text;
}

namespace {
// The one setting kept between runs, for the user.
const char* const SettingsKeyName = "Software\\Korvane";
const char* const BroadcastValueName = "BroadcastWave";
} // namespace

bool LoadBroadcastSetting()
{
    TRegKey key = OpenRegKey(CurrentUser, SettingsKeyName, false);
    if (key == NoKey)
        return false;
    std::uint32_t value = 0, size = sizeof value;
    unsigned type = 0;
    bool on = ReadRegValue(key, BroadcastValueName, type, &value, size) && type == RegTypeDword &&
              size == sizeof value && value != 0;
    CloseRegKey(key);
    return on;
}

bool SaveBroadcastSetting(bool on)
{
    TRegKey key = OpenRegKey(CurrentUser, SettingsKeyName, true);
    if (key == NoKey)
        return false;
    const std::uint32_t value = on ? 1 : 0;
    bool ok = WriteRegValue(key, BroadcastValueName, RegTypeDword, &value, sizeof value);
    return CloseRegKey(key) && ok;
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
