// DirectWin32, desktop part: the Win32 calls of the drop-target window.
#include "DirectWin32Desktop.h"

#include "DirectWin32.h"

#include <commdlg.h>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

void CenterWindow(HWND window)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return;
    int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

HBITMAP LoadBitmapFile(const std::string& path)
{
    return static_cast<HBITMAP>(
        LoadImageW(nullptr, WideFileName(path).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}

void GetBitmapSize(HBITMAP bitmap, std::int32_t& width, std::int32_t& height)
{
    BITMAP description;
    if (GetObjectA(bitmap, sizeof description, &description) != int(sizeof description)) {
        width = height = 0;
        return;
    }
    width = description.bmWidth;
    height = description.bmHeight;
}

RECT ProgressBarRect(HWND window)
{
    RECT bar = {};
    GetClientRect(window, &bar);
    bar.top = bar.bottom - ProgressBarHeight;
    return bar;
}

namespace {
// The bar over the full width of the window's bottom rows.
void DrawProgressBar(HWND window, HDC dc, int progress)
{
    const RECT bar = ProgressBarRect(window);
    RECT done = bar;
    done.right = bar.left + (bar.right - bar.left) * progress / 100;
    RECT rest = bar;
    rest.left = done.right;
    HBRUSH doneBrush = CreateSolidBrush(ProgressDoneColour);
    HBRUSH restBrush = CreateSolidBrush(ProgressRestColour);
    FillRect(dc, &done, doneBrush);
    FillRect(dc, &rest, restBrush);
    DeleteObject(doneBrush);
    DeleteObject(restBrush);
}
} // namespace

void PaintBitmap(HWND window, HBITMAP bitmap, int progress)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc)
        return;
    const RECT& r = paint.rcPaint;
    if (bitmap) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, r.left, r.top,
               SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    } else {
        // No bitmap held (a failed choice): the class background, not
        // whatever the screen held there.
        FillRect(dc, &r, reinterpret_cast<HBRUSH>(GetClassLongPtrA(window, GCLP_HBRBACKGROUND)));
    }
    if (progress >= 0 && progress <= 100)
        DrawProgressBar(window, dc, progress);
    EndPaint(window, &paint);
}

void AddTrayIcon(HWND window, HICON icon, const std::string& tip, NOTIFYICONDATAA& record)
{
    std::memset(&record, 0, sizeof record);
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = window;
    record.uID = 0;
    record.uFlags = tip.empty() ? NIF_MESSAGE | NIF_ICON : NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = WM_TRAYICON;
    record.hIcon = icon;
    std::memcpy(record.szTip, tip.data(), tip.size() < 63 ? tip.size() : 63);
    Shell_NotifyIconA(NIM_ADD, &record);
}

bool SetTrayTip(const NOTIFYICONDATAA& record, const std::string& tip)
{
    NOTIFYICONDATAW wide;
    std::memset(&wide, 0, sizeof wide);
    wide.cbSize = NOTIFYICONDATAW_V1_SIZE;
    wide.hWnd = record.hWnd;
    wide.uID = record.uID;
    wide.uFlags = NIF_TIP;
    const std::wstring text = WidenText(tip);
    std::memcpy(wide.szTip, text.data(), (text.size() < 63 ? text.size() : 63) * sizeof(wchar_t));
    return Shell_NotifyIconW(NIM_MODIFY, &wide) != FALSE;
}

bool DeleteTrayIcon(const NOTIFYICONDATAA& record)
{
    NOTIFYICONDATAA copy = record;
    return Shell_NotifyIconA(NIM_DELETE, &copy) != FALSE;
}

bool ShowPopupMenu(HWND window, HMENU menu)
{
    POINT at;
    if (!GetCursorPos(&at))
        return false;
    // A menu opened from the tray closes on a click elsewhere only when its
    // owner is the foreground window.
    SetForegroundWindow(window);
    const bool shown = TrackPopupMenu(GetSubMenu(menu, 0), 0, at.x, at.y, 0, window, nullptr) != FALSE;
    // A harmless message to the window lets the menu's loop end for good;
    // without it the next menu may open and close again at once.
    PostMessageA(window, WM_NULL, 0, 0);
    return shown;
}

bool OpenFileDialog(HWND owner, const std::string& filter, const std::string& title,
                    std::string& name)
{
    char filterBuffer[256];
    FilterToBuffer(filter, filterBuffer);
    const std::wstring wideFilter = WidenText(std::string(filterBuffer, sizeof filterBuffer));
    const std::wstring wideTitle = WidenText(title);
    // Room for the longest path the system takes, and the initial name.
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring initial = WidenText(name);
    std::copy(initial.begin(), initial.begin() + std::min<std::size_t>(initial.size(), file.size() - 1),
              file.begin());
    OPENFILENAMEW dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = wideFilter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = DWORD(file.size());
    dialog.lpstrTitle = wideTitle.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&dialog))
        return false;
    file.back() = L'\0';
    name = NarrowText(file.data(), std::wcslen(file.data()));
    return true;
}

namespace {
struct TTextsDialog {
    std::vector<std::string>* Texts;
    TTextsCheck Check;
    void* Context;
};

std::string FieldText(HWND dialog, int id)
{
    HWND field = GetDlgItem(dialog, id);
    std::vector<wchar_t> text(std::size_t(std::max(GetWindowTextLengthW(field), 0)) + 1, L'\0');
    const int got = GetWindowTextW(field, text.data(), int(text.size()));
    return NarrowText(text.data(), std::size_t(std::max(got, 0)));
}

INT_PTR CALLBACK TextsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const auto* state = reinterpret_cast<const TTextsDialog*>(lParam);
        for (std::size_t i = 0; i < state->Texts->size(); ++i)
            SetDlgItemTextW(dialog, FirstTextField + int(i), WidenText((*state->Texts)[i]).c_str());
        return TRUE; // the first field takes the focus
    }
    const auto* state = reinterpret_cast<const TTextsDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message != WM_COMMAND || state == nullptr)
        return FALSE;
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    if (LOWORD(wParam) != IDOK)
        return FALSE;
    std::vector<std::string> typed;
    for (std::size_t i = 0; i < state->Texts->size(); ++i)
        typed.push_back(FieldText(dialog, FirstTextField + int(i)));
    const int refused = state->Check(state->Context, dialog, typed);
    if (refused >= 0) {
        HWND field = GetDlgItem(dialog, FirstTextField + refused);
        SendMessageW(dialog, WM_NEXTDLGCTL, WPARAM(field), TRUE);
        SendMessageW(field, EM_SETSEL, 0, -1);
        return TRUE;
    }
    *state->Texts = typed;
    EndDialog(dialog, IDOK);
    return TRUE;
}
} // namespace

bool ShowTextsDialog(HWND owner, const std::string& name, std::vector<std::string>& texts,
                     TTextsCheck check, void* context)
{
    TTextsDialog state = {&texts, check, context};
    return DialogBoxParamW(GetModuleHandleW(nullptr), WidenText(name).c_str(), owner, TextsDialogProc,
                           reinterpret_cast<LPARAM>(&state)) == IDOK;
}

namespace {
int TakeTexts(void*, HWND, const std::vector<std::string>&)
{
    return -1;
}
} // namespace

bool ShowTextWindow(TWindow owner, const std::string& text)
{
    std::vector<std::string> lines(1); // the field breaks lines at CR LF
    for (char c : text)
        lines[0] += c == '\n' ? "\r\n" : std::string(1, c);
    return ShowTextsDialog(reinterpret_cast<HWND>(owner), "INFODIALOG", lines, TakeTexts, nullptr);
}
