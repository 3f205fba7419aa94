// The program entry: start-up, the mode decision and close-down.
#include "DeclUnit.h"
#include "DirectWin32.h"
#include "ProcessUnit.h"
#include "WinUnit.h"

namespace {
bool RunMode()
{
    if (!GetArguments().empty())
        return ProcessCommandLine();
    if (!PlatformIsWindows) {
        // The native converter has no desktop mode: it explains its use.
        ShowMessageBox(NoWindow, AboutText + UsageText, AboutCaption, BoxInformation);
        return false;
    }
    if (TopWindowOfClassExists(MainClassName)) {
        ShowError(NoWindow, 12, std::string());
        return false;
    }
    if (CreateMainWindow() == NoWindow) {
        ShowError(NoWindow, 11, std::string());
        return false;
    }
    RunMessageLoop();
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    SetNativeArguments(argc, argv);
    InitPlatform();
    ProgramDir = GetPathDir(GetProgramPath());
    LoadCatalogue();
    bool ok = RunMode();
    ReleaseCatalogue();
    // Both builds tell scripts whether anything failed: 1 when a file failed
    // or was not found, an option was invalid or did not do its work.
    return ok ? 0 : 1;
}
