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
//
// A watched folder ("Watch folder...") is looked at on a timer; its files
// are converted there as drops are, one at a time, and wait while a drop or
// Convert runs.
#include "WinUnit.h"

#include "DeclUnit.h"
#include "ProcessUnit.h"
#include "SettingUnit.h"
#include "WatchUnit.h"

const char* const MainClassName = "TKORVANE_MAIN";

#ifdef _WIN32
#include "DirectWin32Desktop.h"

#include <algorithm>
#include <vector>

namespace {
// The timers: the watch's look at its folder, and its resumption just after
// the window is made (so that a box saying why it cannot resume has a window).
const UINT_PTR WatchTimer = 1, ResumeTimer = 2;
// How often the watched folder's changes are looked at.
const int WatchLookMs = 250;
const int TextWatchTip = 5267;

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
    TWatch* Watch = nullptr; // the watched folder's watch, when there is one
    bool Stepping = false;   // the watch is taking its files
    std::string WatchIn;     // the watched folder and where its files go
    std::string WatchOut;
    std::string Tip;         // the tray icon's tip
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
    EnableMenuItem(Front.Menu, CmdWatch, MF_BYCOMMAND | MF_GRAYED);
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
    EnableMenuItem(Front.Menu, CmdWatch, MF_BYCOMMAND | MF_ENABLED);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
}

// A check item shows its state.
void ShowItem(bool on, int id)
{
    CheckMenuItem(Front.Menu, UINT(id), MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

LRESULT OnCreate(HWND window)
{
    Front = TFrontEnd();
    Front.Menu = LoadMenuA(GetModuleHandleA(nullptr), "MAINMENU");
    CheckMenuRadioItem(Front.Menu, CmdSmall, CmdCustom, CmdSmall, MF_BYCOMMAND);
    Front.Labels = LoadLabelSettings();
    ApplyLevelSettings(Front.Labels, Front.Choices.Envelope);
    ShowItem(Front.Choices.Broadcast = LoadBroadcastSetting(), CmdBroadcast);
    ShowItem(Front.Choices.Loudness = LoadLoudnessSetting(), CmdLoudness);
    ShowItem(Front.Choices.Envelope.Peaks = LoadPeaksSetting(), CmdPeaks);
    if (!FileExists(CustomBitmapPath()))
        DeleteMenu(Front.Menu, CmdCustom, MF_BYCOMMAND);
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
    AddTrayIcon(window, icon, ProgramTitle, Front.Tray);
    Front.Tip = ProgramTitle;
    if (!LoadWatchSettings()[0].empty())
        SetTimer(window, ResumeTimer, 1, nullptr);
    bool held = SetDropTargetBitmap(TWindow(window), CmdSmall);
    CenterWindow(window);
    Front.Created = held;
    return held ? 0 : -1;
}

void StopWatching(HWND window);

void OnDestroy(HWND window)
{
    Front.Destroyed = true;
    // A watch taking a file ends once that file's conversion has stopped.
    if (!Front.Stepping)
        StopWatching(window);
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
bool ConvertWithLabels(HWND window, const std::string& name, bool showMessages, const std::string& outFolder = "")
{
    TRunChoices choices = Front.Choices;
    choices.OutFolder = outFolder;
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
    ApplyLevelSettings(Front.Labels, Front.Choices.Envelope);
}

// The watch's conversions: one at a time, and none after the window has gone
// (the source then stays for the next start).
bool ConvertWatchedFile(void* context, const std::string& name, TWindow)
{
    HWND window = static_cast<HWND>(context);
    if (Front.Destroyed)
        return false;
    BeginConversion(window);
    const bool ok = ConvertWithLabels(window, name, false, Front.WatchOut);
    EndConversion(window);
    return ok;
}

bool WindowEnding(void*)
{
    return Front.Destroyed;
}

void ShowTip(const std::string& tip)
{
    Front.Tip = tip;
    if (!Front.Destroyed)
        SetTrayTip(Front.Tray, tip);
}

// The tip names the whole folder when it fits, else its own name, so that
// the counts stay in sight.
void ShowCounts(void*, int converted, int failed)
{
    const std::vector<std::string> counts = {std::to_string(converted), std::to_string(failed)};
    std::string tip = FormatText(LoadText(TextWatchTip), {Front.WatchIn, counts[0], counts[1]});
    if (tip.size() > 63)
        tip = FormatText(LoadText(TextWatchTip),
                         {Front.WatchIn.substr(Front.WatchIn.find_last_of('\\') + 1), counts[0], counts[1]});
    ShowTip(tip);
}

void StopWatching(HWND window)
{
    KillTimer(window, WatchTimer);
    if (Front.Watch != nullptr)
        EndWatch(Front.Watch);
    Front.Watch = nullptr;
    ShowTip(ProgramTitle);
    CheckMenuItem(Front.Menu, CmdWatch, MF_BYCOMMAND | MF_UNCHECKED);
}

// Starts watching as the settings say (an empty watched folder: no watch);
// false, Why saying why, when the watch cannot start.
bool StartWatching(HWND window, const std::vector<std::string>& texts, std::string& why)
{
    TRunSetup setup;
    if (texts[0].empty())
        return true;
    if (CheckWatchSettings(texts, setup, why) >= 0)
        return false;
    TWatchPlan plan;
    plan.In = Front.WatchIn = setup.Watch;
    plan.Out = Front.WatchOut = setup.Choices.OutFolder;
    plan.SettleMs = setup.SettleSeconds * 1000;
    plan.Owner = TWindow(window);
    plan.Convert = ConvertWatchedFile;
    plan.Context = window;
    plan.Counted = ShowCounts;
    plan.Ending = WindowEnding;
    Front.Watch = BeginWatch(plan, why);
    if (Front.Watch == nullptr)
        return false;
    CheckMenuItem(Front.Menu, CmdWatch, MF_BYCOMMAND | MF_CHECKED);
    SetTimer(window, WatchTimer, WatchLookMs, nullptr);
    return true;
}

// The watch takes its ready files, unless a conversion runs (its files then
// wait), and looks again as soon as it has work, at the latest after
// WatchLookMs.
void OnWatchTimer(HWND window)
{
    if (Front.Watch == nullptr || Front.Converting || Front.Stepping)
        return;
    Front.Stepping = true;
    int next = 0;
    const bool going = StepWatch(*Front.Watch, 0, next);
    Front.Stepping = false;
    if (!going || Front.Destroyed)
        StopWatching(window);
    else
        SetTimer(window, WatchTimer, UINT(std::min(std::max(next, 10), WatchLookMs)), nullptr);
}

void ResumeWatch(HWND window)
{
    KillTimer(window, ResumeTimer);
    std::string why;
    if (Front.Watch == nullptr && !StartWatching(window, LoadWatchSettings(), why))
        ShowMessageBox(TWindow(window), why, ProgramTitle, BoxError);
}

// The watch dialog's OK: the folders and the settle time are taken as the
// options /Watch=, /Out= and /Settle= would be; otherwise a box over the
// dialog names the field and why.
int CheckWatchTexts(void*, HWND dialog, const std::vector<std::string>& texts)
{
    TRunSetup setup;
    std::string why;
    const int refused = texts[0].empty() ? -1 : CheckWatchSettings(texts, setup, why);
    if (refused >= 0)
        ShowMessageBox(TWindow(dialog), why, ProgramTitle, BoxError);
    return refused;
}

// What the dialog takes is kept for the user and watched at once, in place
// of the folder watched before; Cancel changes nothing.
void EditWatch(HWND window)
{
    std::vector<std::string> texts = LoadWatchSettings();
    if (texts[2].empty())
        texts[2] = "2";
    if (Front.Converting || !ShowTextsDialog(window, "WATCHDIALOG", texts, CheckWatchTexts, nullptr) ||
        Front.Destroyed || Front.Converting)
        return;
    SaveWatchSettings(texts);
    StopWatching(window);
    std::string why;
    if (!StartWatching(window, texts, why))
        ShowMessageBox(TWindow(window), why, ProgramTitle, BoxError);
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

// A check item whose state the user's next start keeps: it flips, is saved
// and shown.
void ToggleItem(bool& on, bool (*save)(bool), int id)
{
    on = !on;
    save(on);
    ShowItem(on, id);
}

void OnCommand(HWND window, int id)
{
    switch (id) {
    case CmdConvert:
        ConvertChosenFile(window);
        break;
    case CmdBroadcast:
        // Drops and Convert write Broadcast WAVEs while the item is checked.
        ToggleItem(Front.Choices.Broadcast, SaveBroadcastSetting, CmdBroadcast);
        break;
    case CmdLabels:
        EditLabels(window);
        break;
    case CmdLoudness:
        // Broadcast WAVEs (while that item is checked too) carry their loudness.
        ToggleItem(Front.Choices.Loudness, SaveLoudnessSetting, CmdLoudness);
        break;
    case CmdPeaks:
        // Broadcast WAVEs carry a levl chunk after their audio.
        ToggleItem(Front.Choices.Envelope.Peaks, SavePeaksSetting, CmdPeaks);
        break;
    case CmdWatch:
        EditWatch(window);
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
        OnDestroy(window);
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
    case WM_TIMER:
        if (wParam == WatchTimer)
            OnWatchTimer(window);
        else if (wParam == ResumeTimer)
            ResumeWatch(window);
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

std::string TrayTip()
{
    return Front.Tip;
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

std::string TrayTip()
{
    return "";
}
#endif
