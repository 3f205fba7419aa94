// WinUnit: the drop-target window. A borderless, always-on-top tool window
// whose surface is one bitmap; files dropped on it are converted, and a
// popup menu (from the window or the tray icon) offers the rest.
//
// One thread: a conversion runs inside the handling of the message that
// asked for it, and its block copier pumps the window's messages, so the
// procedure is entered again during a copy. While a conversion runs the
// window accepts no drops and greys Convert; an Exit then destroys the
// window, the copier stops at its next block and the conversion removes its
// unfinished output.
#include "WinUnit.h"

#include "DeclUnit.h"
#include "ProcessUnit.h"
#include "SettingUnit.h"

const char* const MainClassName = "TKORVANE_MAIN";

#ifdef _WIN32
#include "DirectWin32Desktop.h"

#include <vector>

namespace {
// The front end's state: exactly one main window exists.
struct TFrontEnd {
    HMENU Menu = nullptr;
    HBITMAP Bitmap = nullptr;
    NOTIFYICONDATAA Tray = {};
    bool Converting = false; // a drop or Convert is being handled
    int Progress = -1;       // percentage drawn at the bottom, -1 for none
    bool Created = false;    // the creation handling succeeded
    bool Destroyed = false;  // WM_DESTROY has run
    TRunChoices Choices;     // what drops and Convert ask: the settings kept for the user
    TLabelSettings Labels;   // the labels dialog's fields, which Choices take at each conversion
};
TFrontEnd Front;

HWND W(TWindow window)
{
    return reinterpret_cast<HWND>(window);
}

std::string CustomBitmapPath()
{
    return ProgramDir + "\\CUSTOM.BMP";
}

// While a conversion runs the window starts no second one: it stops
// accepting drops and greys Convert, and both come back afterwards.
void BeginConversion(HWND window)
{
    Front.Converting = true;
    Front.Progress = 0;
    DragAcceptFiles(window, FALSE);
    EnableMenuItem(Front.Menu, CmdConvert, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(Front.Menu, CmdLabels, MF_BYCOMMAND | MF_GRAYED);
}

void EndConversion(HWND window)
{
    Front.Converting = false;
    Front.Progress = -1;
    if (Front.Destroyed)
        return;
    DragAcceptFiles(window, TRUE);
    EnableMenuItem(Front.Menu, CmdConvert, MF_BYCOMMAND | MF_ENABLED);
    EnableMenuItem(Front.Menu, CmdLabels, MF_BYCOMMAND | MF_ENABLED);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
}

LRESULT OnCreate(HWND window)
{
    Front = TFrontEnd();
    Front.Menu = LoadMenuA(GetModuleHandleA(nullptr), "MAINMENU");
    CheckMenuRadioItem(Front.Menu, CmdSmall, CmdCustom, CmdSmall, MF_BYCOMMAND);
    Front.Choices.Broadcast = LoadBroadcastSetting();
    Front.Labels = LoadLabelSettings();
    CheckMenuItem(Front.Menu, CmdBroadcast, MF_BYCOMMAND | (Front.Choices.Broadcast ? MF_CHECKED : MF_UNCHECKED));
    Front.Choices.Loudness = LoadLoudnessSetting();
    CheckMenuItem(Front.Menu, CmdLoudness, MF_BYCOMMAND | (Front.Choices.Loudness ? MF_CHECKED : MF_UNCHECKED));
    if (!FileExists(CustomBitmapPath()))
        DeleteMenu(Front.Menu, CmdCustom, MF_BYCOMMAND);
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
    AddTrayIcon(window, icon, ProgramTitle, Front.Tray);
    bool held = SetDropTargetBitmap(TWindow(window), CmdSmall);
    CenterWindow(window);
    Front.Created = held;
    return held ? 0 : -1;
}

void OnDestroy()
{
    Front.Destroyed = true;
    DeleteTrayIcon(Front.Tray);
    DestroyMenu(Front.Menu);
    Front.Menu = nullptr;
    DeleteObject(Front.Bitmap);
    Front.Bitmap = nullptr;
    // A window whose creation was refused ends no message loop: the quit
    // would close the "Unable to create" box before anyone could read it.
    if (Front.Created)
        PostQuitMessage(0);
}

// The one box after a drop or Convert. After an Exit during the conversion
// the window has gone, and the box layer shows nothing for it.
void ReportResult(HWND window, bool ok, int failure, const std::string& extra)
{
    if (ok)
        ShowMessageBox(TWindow(window), ConvertedText, ProgramTitle, BoxInformation);
    else
        ShowError(TWindow(window), failure, extra);
}

// Converts a dropped or chosen file with the window's choices. While
// Broadcast WAVE is checked a WAVed MPEG takes the labels of the dialog,
// dated from the day of its conversion, and the next cut number, which moves
// on, and is kept, only when the file was written.
bool ConvertWithLabels(HWND window, const std::string& name, bool showMessages)
{
    TRunChoices choices = Front.Choices;
    if (!choices.Broadcast || GetLowerExt(name) == "wav")
        return ConvertFile(TWindow(window), name, showMessages, choices);
    TLabelError error = LabelOk;
    const TLabelSetting refused = ApplyLabelSettings(Front.Labels, GetLocalNow(), choices, error);
    if (refused != LabelSettingCount) {
        // A kept value that no longer fits (a start "+3" past a fixed end, a
        // cut number past the largest): the file is not written.
        LastFailure = FailLabelSetting;
        LastFailureDetail = LabelSettingErrorText(refused, error);
        return false;
    }
    const bool ok = ConvertFile(TWindow(window), name, showMessages, choices);
    if (ok && choices.NumberCuts) {
        Front.Labels.Text[SettingNextCut] = std::to_string(std::uint64_t(choices.NextCut) + 1);
        SaveLabelSettings(Front.Labels);
    }
    return ok;
}

// Each dropped name is fetched at the length the shell reports, so that a
// long name is never cut into the name of another file.
void OnDropFiles(HWND window, HDROP drop)
{
    if (Front.Converting) {
        DragFinish(drop);
        return;
    }
    BeginConversion(window);
    std::vector<std::string> failed;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count && !Front.Destroyed; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::vector<wchar_t> name(length + 1, L'\0');
        UINT got = DragQueryFileW(drop, i, name.data(), length + 1);
        if (got == 0)
            continue;
        const std::string fileName = NarrowText(name.data(), got);
        if (!ConvertWithLabels(window, fileName, false))
            failed.push_back(StatusFailed + fileName + FailureReason());
    }
    EndConversion(window);
    // "At least one file failed conversion", then each failed file and why.
    ReportResult(window, failed.empty(), 8, "\n\n" + FailureListText(failed));
    DragFinish(drop);
}

void ConvertChosenFile(HWND window)
{
    if (Front.Converting)
        return;
    std::string name;
    if (!OpenFileDialog(window, OpenDialogFilter, OpenDialogTitle, name) || Front.Destroyed)
        return;
    BeginConversion(window);
    bool ok = ConvertWithLabels(window, name, true);
    EndConversion(window);
    ReportResult(window, ok, 7, name + FailureReason());
}

// The labels dialog's OK: the values are taken when each fits its field,
// dated from today, and the end is not before the start; otherwise a box over
// the dialog names the field and why, as the command line does.
int CheckLabelTexts(void*, HWND dialog, const std::vector<std::string>& texts)
{
    TLabelSettings settings;
    for (int i = 0; i < LabelSettingCount; ++i)
        settings.Text[i] = texts[std::size_t(i)];
    TRunChoices choices;
    TLabelError error = LabelOk;
    const TLabelSetting refused = ApplyLabelSettings(settings, GetLocalNow(), choices, error);
    if (refused == LabelSettingCount)
        return -1;
    ShowMessageBox(TWindow(dialog), LabelSettingErrorText(refused, error), ProgramTitle, BoxError);
    return refused;
}

// What the dialog takes is kept for the user at once; Cancel changes nothing.
void EditLabels(HWND window)
{
    std::vector<std::string> texts(Front.Labels.Text, Front.Labels.Text + LabelSettingCount);
    if (Front.Converting || !ShowTextsDialog(window, "LABELSDIALOG", texts, CheckLabelTexts, nullptr))
        return;
    for (int i = 0; i < LabelSettingCount; ++i)
        Front.Labels.Text[i] = texts[std::size_t(i)];
    SaveLabelSettings(Front.Labels);
}

void ChooseBitmap(HWND window, int choice)
{
    if (SetDropTargetBitmap(TWindow(window), choice))
        CheckMenuRadioItem(Front.Menu, CmdSmall, CmdCustom, UINT(choice), MF_BYCOMMAND);
    else
        EnableMenuItem(Front.Menu, CmdVisible, MF_BYCOMMAND | MF_GRAYED);
}

void ShellOpen(HWND window, const std::string& what)
{
    ShellExecuteA(window, "open", what.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void OnCommand(HWND window, int id)
{
    switch (id) {
    case CmdConvert:
        ConvertChosenFile(window);
        break;
    case CmdBroadcast:
        // Drops and Convert write Broadcast WAVEs while the item is checked;
        // the choice is kept for the user's next start.
        Front.Choices.Broadcast = !Front.Choices.Broadcast;
        SaveBroadcastSetting(Front.Choices.Broadcast);
        CheckMenuItem(Front.Menu, CmdBroadcast, MF_BYCOMMAND | (Front.Choices.Broadcast ? MF_CHECKED : MF_UNCHECKED));
        break;
    case CmdLabels:
        EditLabels(window);
        break;
    case CmdLoudness:
        // Broadcast WAVEs (while that item is checked too) carry their loudness.
        Front.Choices.Loudness = !Front.Choices.Loudness;
        SaveLoudnessSetting(Front.Choices.Loudness);
        CheckMenuItem(Front.Menu, CmdLoudness, MF_BYCOMMAND | (Front.Choices.Loudness ? MF_CHECKED : MF_UNCHECKED));
        break;
    case CmdVisible:
        ShowWindow(window, (GetMenuState(Front.Menu, CmdVisible, MF_BYCOMMAND) & MF_CHECKED)
                               ? SW_HIDE
                               : SW_SHOW);
        break;
    case CmdSmall:
    case CmdLarge:
    case CmdCustom:
        ChooseBitmap(window, id);
        break;
    case CmdAbout:
        ShowMessageBox(TWindow(window), AboutText, AboutCaption, BoxInformation);
        break;
    case CmdHomepage:
        ShellOpen(window, HomepageAddress);
        break;
    case CmdMail:
        ShellOpen(window, FormatText("mailto:%s?Subject=About %s", {MailAddress, ProgramTitle}));
        break;
    case CmdExit:
        SendMessageA(window, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

void OnTrayIcon(HWND window, LPARAM mouse)
{
    if (mouse == WM_LBUTTONUP)
        ShowWindow(window, IsWindowVisible(window) ? SW_HIDE : SW_SHOW);
    else if (mouse == WM_RBUTTONUP && IsWindowEnabled(window))
        ShowPopupMenu(window, Front.Menu);
}

// Only the bar's rows are redrawn for each block.
void OnConvertProgress(HWND window, LPARAM percent)
{
    if (!Front.Converting || percent < 0 || percent > 100 || percent == Front.Progress)
        return;
    Front.Progress = int(percent);
    RECT bar = ProgressBarRect(window);
    InvalidateRect(window, &bar, FALSE);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_PAINT:
        PaintBitmap(window, Front.Bitmap, Front.Progress);
        break;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        break;
    case WM_INITMENUPOPUP:
        CheckMenuItem(Front.Menu, CmdVisible,
                      MF_BYCOMMAND | (IsWindowVisible(window) ? MF_CHECKED : MF_UNCHECKED));
        break;
    case WM_LBUTTONDOWN:
        // Every point of the window is a caption to drag it by.
        SendMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
        break;
    case WM_LBUTTONDBLCLK:
        SendMessageA(window, WM_COMMAND, CmdConvert, 0);
        break;
    case WM_RBUTTONDOWN:
        ShowPopupMenu(window, Front.Menu);
        break;
    case WM_DROPFILES:
        OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
        break;
    case WM_TRAYICON:
        OnTrayIcon(window, lParam);
        break;
    case WM_CONVERTPROGRESS:
        OnConvertProgress(window, lParam);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
} // namespace

bool SetDropTargetBitmap(TWindow window, int choice)
{
    if (Front.Bitmap) {
        DeleteObject(Front.Bitmap);
        Front.Bitmap = nullptr;
    }
    HINSTANCE module = GetModuleHandleA(nullptr);
    if (choice == CmdSmall)
        Front.Bitmap = LoadBitmapA(module, "SMALL");
    else if (choice == CmdLarge)
        Front.Bitmap = LoadBitmapA(module, "LARGE");
    else if (choice == CmdCustom)
        Front.Bitmap = LoadBitmapFile(CustomBitmapPath());
    if (!Front.Bitmap)
        return false;
    std::int32_t width, height;
    GetBitmapSize(Front.Bitmap, width, height);
    SetWindowPos(W(window), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    RedrawWindow(W(window), nullptr, nullptr, RDW_INVALIDATE);
    return true;
}

TWindow CreateMainWindow()
{
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSA cls = {};
    cls.style = CS_DBLCLKS | CS_CLASSDC | CS_PARENTDC;
    cls.lpfnWndProc = MainWindowProc;
    cls.hInstance = module;
    cls.hIcon = LoadIconA(module, "MAINICON");
    cls.hCursor = LoadCursorA(module, "KORVANE");
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = MainClassName;
    if (!RegisterClassA(&cls))
        return NoWindow;
    HWND window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_ACCEPTFILES | WS_EX_TOOLWINDOW |
                                      WS_EX_WINDOWEDGE,
                                  MainClassName, ProgramTitle.c_str(), WS_POPUP | WS_VISIBLE, 0, 0,
                                  0, 0, nullptr, nullptr, module, nullptr);
    return reinterpret_cast<TWindow>(window);
}

#else
// The native converter has no desktop mode.
TWindow CreateMainWindow()
{
    return NoWindow;
}

bool SetDropTargetBitmap(TWindow, int)
{
    return false;
}
#endif
