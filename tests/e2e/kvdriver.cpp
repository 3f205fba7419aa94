// kvdriver: runs a Windows program and answers its message boxes.
//   kvdriver <timeout-seconds> <program.exe> [args...]
//   kvdriver <timeout-seconds> --verb <verb> <file>   (the file's shell verb, as Explorer would)
//   kvdriver <timeout-seconds> --each <ms> <program.exe> <file>...   (the program once per file,
//                        one every <ms> ms; with 0 all at once: they are started while the
//                        driver holds the gathering lock, which it releases once every one of
//                        them waits for it. Each end is "EXIT <code> <ms since the first start>")
//   kvdriver --kill <count>   (kills the gathering run, see KillGathering: "KILLED")
//   kvdriver --refuse <count>   (becomes the gathering run and refuses every record handed
//                        to it until <count> have come: "REFUSING" once it gathers, "REFUSED <n>")
//   kvdriver --hold   (keeps Wine's desktop open until the Wine session ends; says
//                      "HOLDING" once the desktop is there)
//   kvdriver --window [class]   (each top-level window of the class, by default the drop
//                        target: "WINDOW x y width height style exstyle classstyle visible",
//                        or "NOWINDOW")
//   kvdriver --close    (asks the drop target to close, as another program would)
//   kvdriver --boxes <count> <timeout-seconds>   (answers that many boxes of the program
//                        that shows the drop target)
//   kvdriver --lock <file>   (holds the file open with no sharing, as a player may, says
//                        "LOCKED" or "NOLOCK <error>", and lets go when its input ends)
//   kvdriver --reg delete|add|dump <key> [<default value>]   (the registry in this
//                        process: see DumpKey)
//   kvdriver --serve   (any of the others but --hold and --lock, one after another, read
//                        from stdin: see Serve)
// Each box of the child (or window of a long text in an edit field) is reported as
// "BOX <caption>", "ICON <kind>" and "TEXT <text, line feeds as \n, backslashes doubled>"
// (and "OFFSCREEN" when its OK button lies below the screen), then closed with OK. The end is
// "EXIT <code>", or "TIMEOUT" (status 2) when the child outlives the limit.
// Arguments are taken and texts printed in full Unicode (UTF-8 on stdout).
#include "BoxReader.h"
#include "DirectWin32.h"
#include "DirectWin32Gather.h"

#include <windows.h>
#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::vector<DWORD> childIds;
int answered = 0;

// The text of a window's edit field (a window of a long text): the field
// keeps it to itself, so it is asked for.
std::string FieldText(HWND window)
{
    static wchar_t text[1 << 20];
    DWORD_PTR got = 0;
    HWND field = FindWindowExA(window, nullptr, "Edit", nullptr);
    if (!field || !SendMessageTimeoutW(field, WM_GETTEXT, 1 << 20, LPARAM(text), SMTO_BLOCK, 5000, &got))
        got = 0;
    return Utf8(std::wstring(text, got));
}

// A text on one line: line feeds as \n, backslashes doubled, carriage returns left out.
std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : c == '\r' ? "" : std::string(1, c);
    return out;
}

BOOL CALLBACK Answer(HWND window, LPARAM)
{
    DWORD owner = 0;
    char cls[64] = {0};
    GetWindowThreadProcessId(window, &owner);
    GetClassNameA(window, cls, sizeof cls);
    if (std::find(childIds.begin(), childIds.end(), owner) == childIds.end() ||
        !IsWindowVisible(window) || std::string(cls) != "#32770")
        return TRUE;
    const HWND text = GetDlgItem(window, 0xFFFF);
    std::printf("BOX %s\nICON %s\nTEXT %s\n", TextOf(window).c_str(), IconKind(window),
                Escaped(text ? TextOf(text) : FieldText(window)).c_str());
    RECT ok; // a box taller than the screen has its OK button below it
    HWND button = GetDlgItem(window, IDOK) ? GetDlgItem(window, IDOK) : GetDlgItem(window, IDCANCEL);
    if (button && GetWindowRect(button, &ok) && (ok.top < 0 || ok.bottom > GetSystemMetrics(SM_CYSCREEN)))
        std::printf("OFFSCREEN\n");
    std::fflush(stdout);
    SendMessageA(window, WM_COMMAND, IDOK, 0);
    ++answered;
    return TRUE;
}

// Starts the program (the first word) with the others as its arguments: blanks
// split arguments, double quotes group them. None when it cannot be started.
// One run of --each: the program and its file, or, for "/B <file>", the option and the file.
std::vector<std::wstring> EachRun(const std::wstring& program, const std::wstring& item)
{
    if (item.compare(0, 3, L"/B ") == 0)
        return {program, L"/B", item.substr(3)};
    return {program, item};
}

HANDLE Start(const std::vector<std::wstring>& words)
{
    std::wstring line;
    for (const std::wstring& arg : words) {
        bool blank = arg.empty() || arg.find_first_of(L" \t") != std::wstring::npos;
        line += (line.empty() ? L"" : L" ") + (blank ? L"\"" + arg + L"\"" : arg);
    }
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

// Waits until the gathering lock has Count handles besides the driver's own:
// every run started has opened it, and waits for it.
void AwaitRuns(std::intptr_t lock, std::size_t count)
{
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};
    for (DWORD since = GetTickCount(); GetTickCount() - since < 60000 && NtQueryObject(reinterpret_cast<HANDLE>(lock),
             ObjectBasicInformation, &info, sizeof info, nullptr) == 0 && info.HandleCount <= count; Sleep(10)) {
    }
}

// --kill: ends the gathering run once it shows, as a crash would, holding the
// gathering lock; once <count> runs wait for the lock it ends, abandoning it.
int KillGathering(std::size_t count)
{
    HWND window = nullptr;
    for (DWORD since = GetTickCount(); !window && GetTickCount() - since < 30000; Sleep(10))
        window = FindWindowExA(HWND_MESSAGE, nullptr, "TKORVANE_GATHER", nullptr);
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    const std::intptr_t lock = window ? TakeGatherLock() : 0;
    HANDLE run = lock ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id) : nullptr;
    if (!run || !TerminateProcess(run, 1) || WaitForSingleObject(run, 30000) != WAIT_OBJECT_0)
        return 1;
    std::printf("KILLED\n");
    std::fflush(stdout);
    AwaitRuns(lock, count);
    return 0;
}

bool RefuseRecord(void* context, const std::string&)
{
    ++*static_cast<int*>(context);
    return false;
}

int RefuseRecords(int count)
{
    int refused = 0;
    TGatherPoint point;
    point.Taker = RefuseRecord;
    point.Context = &refused;
    if (JoinGathering("kvdriver", point) != HandOverNone || point.Window == NoWindow)
        return 1;
    std::printf("REFUSING\n");
    std::fflush(stdout);
    for (DWORD since = GetTickCount(); refused < count && GetTickCount() - since < 60000;)
        AwaitQuiet(point, 50);
    EndGathering(point, 0);
    std::printf("REFUSED %d\n", refused);
    return refused < count;
}

// The drop target of a running Korvane, or the windows of a class, from outside.
int DropTarget(const std::string& what, int argc, const std::vector<std::string>& argv)
{
    if (what == "--window") {
        const char* cls = argc > 2 ? argv[2].c_str() : "TKORVANE_MAIN";
        HWND window = nullptr;
        int found = 0;
        for (RECT r; (window = FindWindowExA(nullptr, window, cls, nullptr)); ++found) {
            GetWindowRect(window, &r);
            std::printf("WINDOW %ld %ld %ld %ld %08lX %08lX %08lX %d\n", r.left, r.top,
                        r.right - r.left, r.bottom - r.top, GetWindowLongA(window, GWL_STYLE),
                        GetWindowLongA(window, GWL_EXSTYLE), GetClassLongA(window, GCL_STYLE),
                        IsWindowVisible(window) ? 1 : 0);
        }
        if (!found)
            std::printf("NOWINDOW\n");
        return found ? 0 : 1;
    }
    HWND target = FindWindowA("TKORVANE_MAIN", nullptr);
    if (!target) {
        std::printf("NOWINDOW\n");
        return 1;
    }
    if (what == "--close") {
        PostMessageA(target, WM_CLOSE, 0, 0);
        std::printf("CLOSED\n");
        return 0;
    }
    childIds.push_back(0);
    GetWindowThreadProcessId(target, &childIds[0]); // --boxes <count> <timeout-seconds>
    const int count = std::stoi(argv[2]);
    const DWORD begun = GetTickCount(), limit = DWORD(std::stoul(argv[3])) * 1000;
    while (answered < count && GetTickCount() - begun < limit) {
        EnumWindows(Answer, 0);
        Sleep(10);
    }
    std::printf(answered < count ? "TIMEOUT\n" : "DONE\n");
    return answered < count ? 2 : 0;
}

// --reg: the registry's work done here, not by reg.exe and regedit.exe (a
// Wine start each). dump lists each key below the key, its own first, as
// "KEY <name>", then its values as "STRING|NUMBER <value name>\t<value>"
// (escaped as box texts are; the default value's name is empty).
void DumpKey(HKEY key, const std::wstring& name)
{
    std::printf("KEY %s\n", Utf8(name).c_str());
    wchar_t value[16384], data[32768];
    for (DWORD i = 0, length = 16384, size = sizeof data, type = 0; RegEnumValueW(key, i, value, &length, nullptr,
             &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS; ++i, length = 16384, size = sizeof data) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof number);
        data[std::min<DWORD>(size / 2, 32767)] = L'\0';
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_DWORD)
            std::printf("%s %s\t%s\n", type == REG_DWORD ? "NUMBER" : "STRING", Escaped(Utf8(value)).c_str(),
                        type == REG_DWORD ? std::to_string(number).c_str() : Escaped(Utf8(data)).c_str());
    }
    HKEY sub = nullptr;
    for (DWORD i = 0, length = 256; RegEnumKeyExW(key, i, value, &length, nullptr, nullptr, nullptr, nullptr) ==
                                    ERROR_SUCCESS; ++i, length = 256)
        if (RegOpenKeyExW(key, value, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            DumpKey(sub, name + L"\\" + value);
            RegCloseKey(sub);
        }
}

int Registry(const std::vector<std::wstring>& args)
{
    const std::wstring& name = args[3];
    const std::wstring root = name.substr(0, 18), rest = name.substr(std::min<std::size_t>(18, name.size()));
    const HKEY top = root == L"HKEY_CLASSES_ROOT\\" ? HKEY_CLASSES_ROOT
                     : root == L"HKEY_CURRENT_USER\\" ? HKEY_CURRENT_USER : nullptr;
    HKEY key = nullptr;
    if (top && args[2] == L"delete") // gone afterwards, whether it was there or not
        RegDeleteTreeW(top, rest.c_str());
    else if (top && args[2] == L"add" &&
             RegCreateKeyExW(top, rest.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS &&
             args.size() > 4)
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(args[4].c_str()),
                       DWORD(args[4].size() + 1) * 2);
    else if (top && args[2] == L"dump" && RegOpenKeyExW(top, rest.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
        DumpKey(key, name);
    if (key)
        RegCloseKey(key);
    return top ? 0 : 3;
}

// One command: the words of a command line after the driver's own name.
int Command(const std::vector<std::wstring>& args)
{
    const int argc = int(args.size());
    std::vector<std::string> argv;
    for (const std::wstring& arg : args)
        argv.push_back(Utf8(arg));
    childIds.clear();
    answered = 0;
    if (argc == 3 && argv[1] == "--refuse")
        return RefuseRecords(std::stoi(argv[2]));
    if (argc == 3 && argv[1] == "--kill")
        return KillGathering(std::stoul(argv[2]));
    if (argc >= 2 && (argv[1] == "--window" || argv[1] == "--close" ||
                      (argv[1] == "--boxes" && argc == 4)))
        return DropTarget(argv[1], argc, argv);
    if (argc >= 4 && argv[1] == "--reg")
        return Registry(args);
    if (argc < 3) {
        std::fprintf(stderr, "usage: kvdriver <timeout-seconds> <program.exe> [args...]\n");
        return 3;
    }
    // The program, the verb or the programs of --each: their boxes answered.
    std::vector<HANDLE> children;
    const auto closed = [&children](int status) {
        for (HANDLE child : children)
            if (child)
                CloseHandle(child);
        return status;
    };
    std::vector<std::wstring> later; // the files whose runs start one every <step> ms
    DWORD step = 0, begun = GetTickCount();
    const bool each = argv[2] == "--each" && argc >= 6;
    if (argv[2] == "--verb" && argc == 5) {
        SHELLEXECUTEINFOW shell = {};
        shell.cbSize = sizeof shell;
        shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI; // a failure is told, not shown
        shell.lpVerb = args[3].c_str();
        shell.lpFile = args[4].c_str();
        shell.nShow = SW_SHOWNORMAL;
        if (ShellExecuteExW(&shell))
            children.push_back(shell.hProcess);
    } else if (each) {
        step = DWORD(std::stoul(argv[3]));
        later.assign(args.begin() + 5, args.end());
        if (const std::intptr_t lock = step == 0 ? TakeGatherLock() : 0) {
            for (const std::wstring& file : later)
                children.push_back(Start(EachRun(args[4], file)));
            later.clear();
            AwaitRuns(lock, children.size());
            ReleaseGatherLock(lock);
        }
    } else {
        children.push_back(Start(std::vector<std::wstring>(args.begin() + 2, args.end())));
    }
    const DWORD limit = DWORD(std::stoul(argv[1])) * 1000;
    std::vector<DWORD> ended; // ms since the first start, plus one
    for (std::size_t next = 0;; Sleep(5)) {
        for (; next < later.size() && GetTickCount() - begun >= next * step; ++next)
            children.push_back(Start(EachRun(args[4], later[next])));
        if (std::count(children.begin(), children.end(), nullptr) > 0) {
            std::printf("NOSTART %lu\n", GetLastError());
            return closed(3);
        }
        for (std::size_t i = childIds.size(); i < children.size(); ++i) {
            childIds.push_back(GetProcessId(children[i]));
            ended.push_back(0);
        }
        for (std::size_t i = 0; i < children.size(); ++i)
            if (!ended[i] && WaitForSingleObject(children[i], 0) == WAIT_OBJECT_0)
                ended[i] = GetTickCount() - begun + 1;
        if (next == later.size() && std::count(ended.begin(), ended.end(), 0u) == 0)
            break;
        EnumWindows(Answer, 0);
        if (GetTickCount() - begun > limit) {
            for (HANDLE child : children)
                TerminateProcess(child, 1);
            std::printf("TIMEOUT\n");
            return closed(2);
        }
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        DWORD code = 0;
        GetExitCodeProcess(children[i], &code);
        std::printf(each ? "EXIT %lu %lu\n" : "EXIT %lu\n", code, ended[i] - 1);
    }
    return closed(0);
}

// --serve: one command a line on stdin (UTF-8): the folder to run it in, then
// its words, each ended by a NUL; after the command's lines "END <status>".
// A test so starts Wine once for its driver, not once a run.
int Serve()
{
    std::string line;
    for (int got; (got = std::getchar()) != EOF;) {
        if (got != '\n') {
            line += char(got);
            continue;
        }
        std::vector<std::wstring> words(1, L"kvdriver");
        for (std::size_t at = 0, end; (end = line.find('\0', at)) != std::string::npos; at = end + 1)
            words.push_back(WidenText(line.substr(at, end - at)));
        line.clear();
        const bool there = words.size() > 2 && SetCurrentDirectoryW(words[1].c_str());
        if (there)
            words.erase(words.begin() + 1);
        std::printf("END %d\n", there ? Command(words) : 3);
        std::fflush(stdout);
    }
    return 0;
}
} // namespace

int main()
{
    int argc = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(wide, wide + argc);
    LocalFree(wide);
    // Wine closes its desktop, and ends the process that draws it, soon
    // after the last program that used it has ended; every later program
    // then waits about a second for a new one. A holder keeps it open.
    if (argc == 2 && args[1] == L"--hold") {
        GetDesktopWindow();
        std::printf("HOLDING\n");
        std::fflush(stdout);
        Sleep(INFINITE);
    }
    if (argc == 3 && args[1] == L"--lock") {
        HANDLE file = CreateFileW(args[2].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        std::printf(file == INVALID_HANDLE_VALUE ? "NOLOCK %lu\n" : "LOCKED\n", GetLastError());
        std::fflush(stdout);
        for (char c; std::fread(&c, 1, 1, stdin) == 1;) {
        }
        return file == INVALID_HANDLE_VALUE || !CloseHandle(file);
    }
    if (argc == 2 && args[1] == L"--serve")
        return Serve();
    return Command(args);
}
