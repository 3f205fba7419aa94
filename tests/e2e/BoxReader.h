// What a message box shows, read the same way by kvdriver from another
// process and by the window tests' watcher inside the program's own: texts
// in UTF-8, and the kind of the box's icon.
#pragma once

#include <windows.h>

#include <string>

inline std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// The box's icon control is 20 on Windows and 0x440 under Wine. Icon handles
// mean nothing outside their process under Wine, so the icon is told by its
// colours on the screen: red for errors, blue for information. They are read
// in one copy of the icon's place (each GetPixel of the screen is a round
// trip to the X server under Wine), again until the icon shows, for at most
// two seconds: the box's own thread may draw it only after the box is found.
// An icon off the screen (a box wider than it) shows none.
inline const char* IconKind(HWND box)
{
    HWND icon = GetDlgItem(box, 20) ? GetDlgItem(box, 20) : GetDlgItem(box, 0x440);
    RECT r;
    if (!icon || !IsWindowVisible(icon) || !GetWindowRect(icon, &r) || r.left < 0 || r.top < 0 ||
        r.right > GetSystemMetrics(SM_CXSCREEN) || r.bottom > GetSystemMetrics(SM_CYSCREEN))
        return "none";
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP copy = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, copy);
    const char* kind = "none";
    for (const DWORD begun = GetTickCount(); bits && *kind == 'n' && GetTickCount() - begun < 2000; Sleep(10)) {
        int red = 0, blue = 0;
        const bool copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) && GdiFlush();
        for (int i = 0; copied && i < width * height; ++i) {
            const DWORD c = static_cast<const DWORD*>(bits)[i]; // 0x00RRGGBB
            red += int((c >> 16) & 0xFF) > int(c & 0xFF) + 64;
            blue += int(c & 0xFF) > int((c >> 16) & 0xFF) + 64;
        }
        kind = red > 20 && red > 4 * blue ? "error" : blue > 20 && blue > 4 * red ? "information" : "none";
    }
    SelectObject(memory, old);
    DeleteObject(copy);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return kind;
}

inline std::string TextOf(HWND window)
{
    static wchar_t text[65536];
    const int n = GetWindowTextW(window, text, 65536);
    return Utf8(std::wstring(text, std::size_t(n > 0 ? n : 0)));
}
