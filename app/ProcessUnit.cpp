// ProcessUnit: command-line processing and the conversion dispatch.
#include "ProcessUnit.h"

#include "DeclUnit.h"
#include "MpegToWave.h"
#include "WaveToMpeg.h"

namespace {
// The native build has no registry: /I and /U say so instead of failing
// with a registry message.
bool RegistryMissing()
{
    if (PlatformIsWindows)
        return false;
    ShowMessageBox(NoWindow, "The /I and /U options exist only in the Windows program.",
                   ProgramTitle, BoxError);
    return true;
}

bool RegistrationOption(bool install, bool quiet)
{
    if (RegistryMissing())
        return false;
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
    bool quiet = false, invalidOption = false, allWell = true;
    std::string invalidText, summary;
    for (const std::string& arg : GetArguments()) {
        if (!arg.empty() && (arg[0] == '-' || arg[0] == '/')) {
            char option = arg.size() > 1 ? arg[1] : '\0';
            if (option == '?' || option == 'H' || option == 'h') {
                if (ShowMessageBox(NoWindow, AboutText + UsageText, AboutCaption, BoxInformation))
                    return allWell;
            } else if (option == 'I' || option == 'i' || option == 'U' || option == 'u') {
                return RegistrationOption(option == 'I' || option == 'i', quiet) && allWell;
            } else if (option == 'Q' || option == 'q') {
                quiet = true;
            } else {
                invalidOption = true;
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
    if (invalidOption)
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

bool InstallShellVerb()
{
    return false;
}

bool UninstallShellVerb()
{
    return false;
}
