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
// colours on the screen: red for errors, blue for information.
inline const char* IconKind(HWND box)
{
    HWND icon = GetDlgItem(box, 20) ? GetDlgItem(box, 20) : GetDlgItem(box, 0x440);
    RECT r;
    if (!icon || !IsWindowVisible(icon) || !GetWindowRect(icon, &r))
        return "none";
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC screen = GetDC(nullptr);
    int red = 0, blue = 0;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x) {
            const COLORREF c = GetPixel(screen, x, y);
            red += GetRValue(c) > GetBValue(c) + 64;
            blue += GetBValue(c) > GetRValue(c) + 64;
        }
    ReleaseDC(nullptr, screen);
    return red > 20 && red > 4 * blue ? "error"
           : blue > 20 && blue > 4 * red ? "information" : "none";
}

inline std::string TextOf(HWND window)
{
    static wchar_t text[65536];
    const int n = GetWindowTextW(window, text, 65536);
    return Utf8(std::wstring(text, std::size_t(n > 0 ? n : 0)));
}
