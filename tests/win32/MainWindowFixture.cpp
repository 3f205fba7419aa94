// The helpers of the drop-target window tests (MainWindowFixture.h).
#include "MainWindowFixture.h"

#include <shlobj.h>

#include <cstring>

// Count MPEG-1 layer III frames of 417 bytes.
std::string Frames(int count)
{
    std::string frame = std::string("\xFF\xFB\x90\x64", 4) + std::string(413, '\0'), bytes;
    while (count-- > 0)
        bytes += frame;
    return bytes;
}

// CUSTOM.BMP as a user may draw it: 24 bits, 20 x 10, all red (rows of 60
// bytes need no padding).
std::string BmpFile()
{
    auto le32 = [](DWORD v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    std::string pixels;
    for (int i = 0; i < 200; ++i)
        pixels += std::string("\0\0\xC8", 3);
    return "BM" + le32(54 + 600) + le32(0) + le32(54) + le32(40) + le32(20) + le32(10) +
           std::string("\1\0\x18\0", 4) + std::string(24, '\0') + pixels;
}

// The drop handle a file manager hands over: DROPFILES and the names, each
// ended by a NUL, the list by another; an empty list is two NULs (the shell
// reads a second byte past the first NUL).
// The names are wide, as the shell gives them.
HDROP MakeDrop(const std::vector<std::string>& names)
{
    std::wstring list;
    for (const std::string& n : names)
        list += WidenText(n) + L'\0';
    list += names.empty() ? std::wstring(2, L'\0') : std::wstring(1, L'\0');
    const std::size_t bytes = list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), bytes);
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

RECT WindowRect(HWND w)
{
    RECT r = {};
    GetWindowRect(w, &r);
    return r;
}

// Whether the screen shows each colour at its point (relative to Place)
// within two seconds: the window's messages are pumped meanwhile, since Wine
// draws what X exposed only then.
bool ScreenShows(const RECT& place, const std::vector<TPixel>& pixels)
{
    HDC screen = GetDC(nullptr);
    bool shown = false;
    for (DWORD begun = GetTickCount(); !shown && GetTickCount() - begun < 2000; Sleep(10)) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        shown = true;
        for (const TPixel& p : pixels)
            shown = shown && GetPixel(screen, place.left + p.X, place.top + p.Y) == p.Colour;
    }
    ReleaseDC(nullptr, screen);
    return shown;
}

std::function<void(HWND, LPARAM)> onProgress;
WNDPROC windowProc;
LRESULT CALLBACK ProgressHook(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CONVERTPROGRESS && onProgress)
        onProgress(w, lParam);
    return CallWindowProcA(windowProc, w, message, wParam, lParam);
}

std::string KeptSetting(const char* name)
{
    char value[256] = "(none)";
    DWORD size = sizeof value;
    RegGetValueA(HKEY_CURRENT_USER, "Software\\Korvane", name, RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}
