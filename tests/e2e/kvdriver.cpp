// kvdriver: runs a Windows program and answers its message boxes.
//   kvdriver <timeout-seconds> <program.exe> [args...]
//   kvdriver <timeout-seconds> --verb <verb> <file>
// Each box of the child is reported as "BOX <caption>", "ICON <kind>" and
// "TEXT <text, line feeds as \n, backslashes doubled>", then closed with OK. The end is
// "EXIT <code>", or "TIMEOUT" (status 2) when the child outlives the limit.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
DWORD childId;

std::string Text(HWND window, int id)
{
    char buffer[8192] = {0};
    id < 0 ? GetWindowTextA(window, buffer, sizeof buffer)
           : GetDlgItemTextA(window, id, buffer, sizeof buffer);
    return buffer;
}

// The box's icon control is 20 on Windows and 0x440 under Wine. Icon handles
// mean nothing outside their process under Wine, so the icon is told by its
// colours on the screen: red for errors, blue for information.
const char* IconKind(HWND box)
{
    HWND icon = GetDlgItem(box, 20) ? GetDlgItem(box, 20) : GetDlgItem(box, 0x440);
    RECT r;
    if (!icon || !IsWindowVisible(icon) || !GetWindowRect(icon, &r))
        return "none";
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const LONG w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP shot = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, shot);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    int red = 0, blue = 0;
    const BYTE* p = static_cast<const BYTE*>(bits); // blue, green, red, unused
    for (const BYTE* end = p + (p ? 4 * w * h : 0); p < end; p += 4) {
        red += p[2] > p[0] + 64;
        blue += p[0] > p[2] + 64;
    }
    DeleteObject(SelectObject(memory, old));
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return red > 20 && red > 4 * blue     ? "error"
           : blue > 20 && blue > 4 * red ? "information"
                                         : "none";
}

BOOL CALLBACK Answer(HWND window, LPARAM)
{
    DWORD owner = 0;
    char cls[64] = {0};
    GetWindowThreadProcessId(window, &owner);
    if (owner != childId || !IsWindowVisible(window) || !GetClassNameA(window, cls, sizeof cls) ||
        std::string(cls) != "#32770")
        return TRUE;
    std::string text;
    for (char c : Text(window, 0xFFFF))
        text += c == '\n' ? std::string("\\n") : c == '\\' ? std::string("\\\\")
                : c == '\r' ? std::string() : std::string(1, c);
    std::printf("BOX %s\nICON %s\nTEXT %s\n", Text(window, -1).c_str(), IconKind(window),
                text.c_str());
    std::fflush(stdout);
    SendMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kvdriver <timeout-seconds> <program.exe> [args...]\n");
        return 3;
    }
    std::string line;
    for (int i = 2; i < argc; ++i) { // blanks split arguments, double quotes group them
        std::string arg = argv[i];
        bool blank = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
        line += (i > 2 ? " " : "") + (blank ? "\"" + arg + "\"" : arg);
    }
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION child = {};
    // "--verb V file" starts the file's verb V through the shell, as Explorer would.
    SHELLEXECUTEINFOA shell = {};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOCLOSEPROCESS;
    shell.nShow = SW_SHOWNORMAL;
    if (std::string(argv[2]) == "--verb" && argc == 5) {
        shell.lpVerb = argv[3];
        shell.lpFile = argv[4];
        if (!ShellExecuteExA(&shell) || !shell.hProcess) {
            std::printf("NOSTART %lu\n", GetLastError());
            return 3;
        }
        child.hProcess = shell.hProcess;
        child.dwProcessId = GetProcessId(shell.hProcess);
    } else if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &start, &child)) {
        std::printf("NOSTART %lu\n", GetLastError());
        return 3;
    }
    childId = child.dwProcessId;
    const DWORD limit = GetTickCount() + DWORD(std::atoi(argv[1])) * 1000;
    while (WaitForSingleObject(child.hProcess, 50) == WAIT_TIMEOUT) {
        if (LONG(GetTickCount() - limit) > 0) {
            TerminateProcess(child.hProcess, 1);
            std::printf("TIMEOUT\n");
            return 2;
        }
        EnumWindows(Answer, 0);
    }
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    std::printf("EXIT %lu\n", code);
    return 0;
}
