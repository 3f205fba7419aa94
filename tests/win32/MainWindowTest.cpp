// The drop-target window in this process: the real catalogue, the real
// window procedure and the program's own resources, driven with real
// messages (drops through an HDROP made here, commands, the tray callback)
// while a watcher thread reads and closes boxes, menus and the file dialog.
#include "DeclUnit.h"
#include "DirectWin32Desktop.h"
#include "ProcessUnit.h"
#include "WinUnit.h"
#include "WinFiles.h"
#include "WindowWatcher.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {
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
struct TPixel {
    int X, Y;
    COLORREF Colour;
};
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

// Called for each progress message before the window's own handling.
std::function<void(HWND, LPARAM)> onProgress;
WNDPROC windowProc;
LRESULT CALLBACK ProgressHook(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CONVERTPROGRESS && onProgress)
        onProgress(w, lParam);
    return CallWindowProcA(windowProc, w, message, wParam, lParam);
}

class MainWindowTest : public ::testing::Test {
protected:
    std::string dir;
    HWND window = nullptr;

    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir = std::string(temp) + "kvwin" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(dir.c_str(), nullptr);
        LoadCatalogue();
        ProgramDir = dir;
    }
    void Create()
    {
        window = reinterpret_cast<HWND>(CreateMainWindow());
        ASSERT_NE(window, nullptr);
        StartWatcher(window);
    }
    void Destroy()
    {
        StopWatcher();
        onProgress = nullptr;
        if (window && IsWindow(window))
            DestroyWindow(window);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        UnregisterClassA(MainClassName, GetModuleHandleA(nullptr));
    }
    void TearDown() override
    {
        Destroy();
        SHFILEOPSTRUCTA op = {};
        std::string from = dir + '\0';
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
        SHFileOperationA(&op);
    }
    std::string Path(const std::string& name) const { return dir + "\\" + name; }
    void Drop(const std::vector<std::string>& names)
    {
        SendMessageA(window, WM_DROPFILES, WPARAM(MakeDrop(names)), 0);
    }
    // The menu as the window shows it on a right click.
    std::map<int, UINT> MenuStates(UINT message = WM_RBUTTONDOWN, LPARAM lParam = 0)
    {
        TakeSeen();
        SendMessageA(window, message, message == WM_RBUTTONDOWN ? MK_RBUTTON : 0, lParam);
        std::vector<TSeen> seen = TakeSeen();
        if (seen.size() != 1 || seen[0].Kind != "menu")
            return {};
        return seen[0].States;
    }
    void Hook(std::function<void(HWND, LPARAM)> action)
    {
        onProgress = action;
        windowProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressHook)));
    }
    // Handles this thread's messages (the window's timers) until Done holds, for at most 20 s.
    static bool PumpUntil(const std::function<bool()>& done)
    {
        for (const DWORD start = GetTickCount(); !done(); MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT)) {
            if (GetTickCount() - start > 20000)
                return false;
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
        return true;
    }
    static std::string Boxes(const std::vector<TSeen>& seen)
    {
        std::string all;
        for (const TSeen& s : seen)
            all += s.Kind + "|" + s.Caption + "|" + s.Icon + "|" + s.Text + "\n";
        return all;
    }
};

const UINT Checked = MF_CHECKED, Grey = MF_GRAYED;
} // namespace

TEST_F(MainWindowTest, SizedByTheChosenBitmapWithItsMark)
{
    // (Class, styles and place as other programs see them are the desktop end-to-end test's;
    // the class brush shows in the custom bitmap test.)
    Create();
    const RECT first = WindowRect(window);
    const struct { int choice, width, height; } steps[] = {{CmdLarge, 150, 100}, {CmdSmall, 35, 35}, {CmdLarge, 150, 100}};
    EXPECT_EQ(MenuStates()[CmdSmall] & MF_CHECKED, Checked);
    for (const auto& step : steps) {
        SendMessageA(window, WM_COMMAND, step.choice, 0);
        RECT r = WindowRect(window);
        EXPECT_EQ(r.left * 1000 + r.top, first.left * 1000 + first.top) << step.choice; // the corner stays
        EXPECT_EQ((r.right - r.left) * 1000 + (r.bottom - r.top), step.width * 1000 + step.height);
        std::map<int, UINT> states = MenuStates();
        EXPECT_EQ(states.count(CmdCustom), 0u) << "no CUSTOM.BMP beside the program";
        EXPECT_EQ(states[step.choice] & MF_CHECKED, Checked);
        EXPECT_EQ(states[CmdSmall + CmdLarge - step.choice] & MF_CHECKED, 0u);
        EXPECT_EQ(states[CmdVisible], Checked) << "visible and enabled";
    }
}

TEST_F(MainWindowTest, CustomBitmapAndAFailedChoice)
{
    // The program may stand in a folder of any name ("Программа"). Wine starts no
    // program from a path past 260 characters, and its LoadImage takes none.
    ProgramDir = Path("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD0\xB0");
    ASSERT_TRUE(CreateDirectoryW(WideFileName(ProgramDir).c_str(), nullptr));
    const std::string bitmap = ProgramDir + "\\CUSTOM.BMP";
    ASSERT_TRUE(Spill(bitmap, BmpFile()));
    Create();
    EXPECT_EQ(MenuStates().count(CmdCustom), 1u);
    SendMessageA(window, WM_COMMAND, CmdCustom, 0);
    RECT r = WindowRect(window);
    EXPECT_EQ((r.right - r.left) * 1000 + (r.bottom - r.top), 20 * 1000 + 10);
    EXPECT_EQ(MenuStates()[CmdCustom] & MF_CHECKED, Checked);
    SendMessageA(window, WM_COMMAND, CmdLarge, 0);
    EXPECT_TRUE(DeleteFileName(bitmap));
    EXPECT_TRUE(RemoveDirectoryW(WideFileName(ProgramDir).c_str()));
    SendMessageA(window, WM_COMMAND, CmdCustom, 0);
    r = WindowRect(window);
    EXPECT_EQ((r.right - r.left) * 1000 + (r.bottom - r.top), 150 * 1000 + 100) << "size kept";
    std::map<int, UINT> states = MenuStates();
    EXPECT_EQ(states[CmdLarge] & MF_CHECKED, Checked) << "the mark stays";
    EXPECT_EQ(states[CmdCustom] & MF_CHECKED, 0u);
    EXPECT_EQ(states[CmdVisible], Checked | Grey);
    // Without a bitmap the window shows the class brush's colour, once drawn.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_TRUE(ScreenShows(r, {{75, 50, face}, {2, 98, face}}));
}

TEST_F(MainWindowTest, OneBoxPerDropEvenWithoutFiles)
{
    // (Files that convert or fail, dropped from outside, are the desktop end-to-end test's.)
    Create();
    Drop({});
    EXPECT_EQ(Boxes(TakeSeen()), "box|Korvane|information|Conversion successfull\n");
    Drop({Path("missing.mp3"), Path("gone.mp3")});
    EXPECT_EQ(Boxes(TakeSeen()), "box|Korvane|error|At least one file failed conversion\n\nFailed : " +
                                     Path("missing.mp3") + " | it cannot be opened\nFailed : " + Path("gone.mp3") +
                                     " | it cannot be opened\n\n");
}

TEST_F(MainWindowTest, BroadcastAndLoudnessItemsAreKeptForTheUserAndMakeDropsBroadcastWaves)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    Spill(Path("song.mp3"), Frames(20));
    const struct {
        int Item;
        const char* Value;
    } items[] = {{CmdBroadcast, "BroadcastWave"}, {CmdLoudness, "MeasureLoudness"}};
    for (DWORD on : {1u, 0u}) { // checked, then unchecked again at the next start
        Create();
        for (const auto& item : items) {
            EXPECT_EQ(MenuStates()[item.Item] & Checked, on ? 0u : Checked) << item.Value;
            SendMessageA(window, WM_COMMAND, WPARAM(item.Item), 0);
            EXPECT_EQ(MenuStates()[item.Item] & Checked, on ? Checked : 0u) << item.Value;
        }
        Drop({Path("song.mp3")});
        EXPECT_EQ(Boxes(TakeSeen()), "box|Korvane|information|Conversion successfull\n");
        const std::string wav = Slurp(Path("song.wav"));
        EXPECT_EQ(wav.substr(62, 4), on ? "bext" : "data");
        // Measured: bext version 2; silent frames have none of the five values.
        if (on)
            EXPECT_EQ(wav.substr(70 + 346, 2) + wav.substr(70 + 412, 10),
                      std::string("\x02\x00\xFF\x7F\xFF\x7F\xFF\x7F\xFF\x7F\xFF\x7F", 12));
        for (const auto& item : items) {
            DWORD value = 9, size = sizeof value;
            EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Korvane", item.Value, RRF_RT_REG_DWORD, nullptr,
                                   &value, &size), LONG(ERROR_SUCCESS));
            EXPECT_EQ(value, on) << item.Value;
        }
        Destroy();
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
}

// The labels dialog's fields in its order: Category, ClientID, Classification,
// OutCue, UserDef, Start, End, Number cuts from.
std::string KeptSetting(const char* name)
{
    char value[256] = "(none)";
    DWORD size = sizeof value;
    RegGetValueA(HKEY_CURRENT_USER, "Software\\Korvane", name, RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}

// The text of a field of the output's cart chunk, without its padding.
std::string CartText(const std::string& wave, std::size_t offset, std::size_t width)
{
    const std::size_t body = wave.find("cart") + 8;
    const std::string field = wave.substr(body + offset, width);
    return field.substr(0, field.find('\0'));
}

// The day Days after today, as a cart date, from the system's own calendar.
std::string DaysFromToday(int days)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME time;
    SystemTimeToFileTime(&now, &time);
    ULARGE_INTEGER ticks = {{time.dwLowDateTime, time.dwHighDateTime}};
    ticks.QuadPart += ULONGLONG(days) * 24 * 3600 * 10000000;
    time = {ticks.LowPart, ticks.HighPart};
    FileTimeToSystemTime(&time, &now);
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

TEST_F(MainWindowTest, LabelsDialogIsKeptAcrossARestartAndLabelsTheDrops)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    Spill(Path("one.mp3"), Frames(20));
    Spill(Path("two.mp3"), Frames(20));
    Create();
    SendMessageA(window, WM_COMMAND, CmdBroadcast, 0);
    QueueLabelsAnswer({"COM", "Acme Tyres", "Spot", "winter sale", "u1", "2026-01-02", "+14", "1001"});
    SendMessageA(window, WM_COMMAND, CmdLabels, 0);
    std::vector<TSeen> seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u) << Boxes(seen);
    EXPECT_EQ(seen[0].Kind + "|" + seen[0].Caption + "|" + seen[0].Name, "labels|Broadcast WAVE labels|||||||||");
    EXPECT_EQ(KeptSetting("End"), "+14") << "kept as typed";
    Destroy();
    // The next start shows what was typed; Cancel changes nothing, and drops take the labels.
    Create();
    SendMessageA(window, WM_COMMAND, CmdLabels, 0);
    seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u) << Boxes(seen);
    EXPECT_EQ(seen[0].Name, "COM|Acme Tyres|Spot|winter sale|u1|2026-01-02|+14|1001|");
    Drop({Path("one.mp3"), Path("two.mp3")});
    EXPECT_EQ(Boxes(TakeSeen()), "box|Korvane|information|Conversion successfull\n");
    const std::string end = DaysFromToday(14) + "23:59:59";
    for (const std::string file : {"one", "two"}) {
        const std::string wave = Slurp(Path(file + ".wav"));
        const struct { std::size_t offset, width; std::string text; } fields[] = {
            {132, 64, file == "one" ? "1001" : "1002"}, {196, 64, "Acme Tyres"}, {260, 64, "COM"},
            {324, 64, "Spot"}, {388, 64, "winter sale"}, {616, 64, "u1"},
            {452, 18, "2026-01-0200:00:00"}, {470, 18, end}};
        for (const auto& field : fields)
            EXPECT_EQ(CartText(wave, field.offset, field.width), field.text) << file << " at " << field.offset;
    }
    EXPECT_EQ(KeptSetting("NextCutID"), "1003") << "the numbers go on at the next drop";
    EXPECT_EQ(KeptSetting("Category") + KeptSetting("Start"), "COM2026-01-02");
    // Unchecked, a drop writes a plain WAVed MPEG and takes no number.
    SendMessageA(window, WM_COMMAND, CmdBroadcast, 0);
    Drop({Path("one.mp3")});
    EXPECT_EQ(Boxes(TakeSeen()), "box|Korvane|information|Conversion successfull\n");
    EXPECT_EQ(Slurp(Path("one.wav")).substr(62, 4), "data");
    EXPECT_EQ(KeptSetting("NextCutID"), "1003");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
}

TEST_F(MainWindowTest, ARefusedLabelKeepsTheDialogOpenAndSaysWhy)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    const std::vector<std::string> good = {"COM", "", "", "", "", "2026-03-01", "", ""};
    const struct { int field; std::string value, why; } rows[] = {
        {0, std::string(65, 'x'), "Category: longer than its field's 64 characters"},
        {3, "caf\xC3\xA9", "OutCue: a character outside printable ASCII"},
        {5, "2026-02-29", "Start: not a date (yyyy-mm-dd, yyyy-mm-dd hh:mm:ss, or +days from today)"},
        {6, "2026-02-28 23:59:59", "End: the end lies before the start"},
        {7, "4294967296", "Number cuts from: not a number from 0 to 4294967295"},
        {7, "#1", "Number cuts from: not a number from 0 to 4294967295"}};
    Create();
    std::string expected;
    for (const auto& row : rows) {
        std::vector<std::string> answer = good;
        answer[std::size_t(row.field)] = row.value;
        QueueLabelsAnswer(answer);
        expected += "labels\nbox|Korvane|error|" + row.why + "\n";
    }
    SendMessageA(window, WM_COMMAND, CmdLabels, 0); // cancelled after the last box
    std::string got;
    for (const TSeen& s : TakeSeen())
        got += s.Kind == "labels" ? "labels\n" : Boxes({s});
    EXPECT_EQ(got, expected + "labels\n");
    EXPECT_EQ(KeptSetting("Category"), "(none)") << "nothing kept";
}

TEST_F(MainWindowTest, AKeptLabelThatNoLongerFitsFailsTheFileWithItsReason)
{
    // The last cut number there is goes to the first file; the second gets none rather than 0 again.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    const DWORD on = 1;
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Korvane", "BroadcastWave", REG_DWORD, &on, sizeof on);
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Korvane", "NextCutID", REG_SZ, "4294967295", 11);
    Spill(Path("one.mp3"), Frames(20));
    Spill(Path("two.mp3"), Frames(20));
    Create();
    Drop({Path("one.mp3"), Path("two.mp3")});
    EXPECT_EQ(Boxes(TakeSeen()), "box|Korvane|error|At least one file failed conversion\n\nFailed : " + Path("two.mp3") +
                                     " | the Broadcast WAVE labels give a value that cannot be written: "
                                     "Number cuts from: not a number from 0 to 4294967295\n\n");
    EXPECT_EQ(CartText(Slurp(Path("one.wav")), 132, 64), "4294967295");
    EXPECT_EQ(Slurp(Path("two.wav")), "(none)");
    EXPECT_EQ(KeptSetting("NextCutID"), "4294967296");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
}

TEST_F(MainWindowTest, AWatchedFolderIsKeptResumedAndConvertedWithTheDropsChoices)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    const DWORD on = 1;
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Korvane", "BroadcastWave", REG_DWORD, &on, sizeof on);
    const std::string in = Path("in"), out = Path("out");
    CreateDirectoryA(in.c_str(), nullptr);
    CreateDirectoryA(out.c_str(), nullptr);
    Create();
    EXPECT_EQ(TrayTip(), "Korvane");
    QueueLabelsAnswer({in, out, "0"});
    SendMessageA(window, WM_COMMAND, CmdWatch, 0);
    std::vector<TSeen> seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u) << Boxes(seen);
    EXPECT_EQ(seen[0].Caption + "|" + seen[0].Name, "Watch folder|||2|") << "the settle time's default";
    EXPECT_EQ(KeptSetting("WatchIn") + "|" + KeptSetting("WatchOut") + "|" + KeptSetting("WatchSettle"),
              in + "|" + out + "|0");
    EXPECT_EQ(MenuStates()[CmdWatch], Checked);
    Destroy();
    // The next start watches again: what arrives is converted into the output folder.
    Create();
    EXPECT_TRUE(PumpUntil([] { return TrayTip() == "Watching in: 0 converted, 0 failed"; })) << TrayTip();
    Spill(in + "\\song.mp3", Frames(20));
    Spill(in + "\\bad.mp3", "no audio");
    EXPECT_TRUE(PumpUntil([] { return TrayTip() == "Watching in: 1 converted, 1 failed"; })) << TrayTip();
    EXPECT_EQ(Slurp(out + "\\song.wav").substr(62, 4), "bext");
    EXPECT_EQ(Slurp(in + "\\done\\song.mp3"), Frames(20));
    EXPECT_EQ(Slurp(in + "\\failed\\bad.mp3"), "no audio");
    const std::string log = Slurp(in + "\\korvane-watch.log");
    EXPECT_NE(log.find("Successfull: " + in + "\\song.mp3\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Failed : " + in + "\\bad.mp3 | "), std::string::npos) << log;
    // Empty folders end the watch, and are kept so.
    QueueLabelsAnswer({"", "", "0"});
    SendMessageA(window, WM_COMMAND, CmdWatch, 0);
    seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u) << Boxes(seen);
    EXPECT_EQ(seen[0].Name, in + "|" + out + "|0|");
    EXPECT_EQ(TrayTip(), "Korvane");
    EXPECT_EQ(KeptSetting("WatchIn"), "");
    EXPECT_EQ(MenuStates()[CmdWatch], 0u);
    EXPECT_NE(Slurp(in + "\\korvane-watch.log").find("Stopped watching " + in), std::string::npos);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
}

TEST_F(MainWindowTest, ARefusedWatchValueKeepsTheDialogOpenAndSaysWhy)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    const std::string in = Path("in"), out = Path("out");
    CreateDirectoryA(in.c_str(), nullptr);
    CreateDirectoryA(out.c_str(), nullptr);
    const struct { std::vector<std::string> answer; std::string why; } rows[] = {
        {{Path("none"), out, "2"}, "Watched folder: no such folder, or it cannot be written"},
        {{in, Path("none"), "2"}, "Output folder: no such folder, or it cannot be written"},
        {{in, "", "2"}, "Output folder: no value given"},
        {{in, in + "\\.", "2"}, "Output folder: the same folder as the watched one"},
        {{in, out, "3601"}, "Settle time: not a whole number of seconds from 0 to 3600"},
        {{in, out, ""}, "Settle time: not a whole number of seconds from 0 to 3600"}};
    Create();
    std::string expected;
    for (const auto& row : rows) {
        QueueLabelsAnswer(row.answer);
        expected += "labels\nbox|Korvane|error|" + row.why + "\n";
    }
    SendMessageA(window, WM_COMMAND, CmdWatch, 0); // cancelled after the last box
    std::string got;
    for (const TSeen& s : TakeSeen())
        got += s.Kind == "labels" ? "labels\n" : Boxes({s});
    EXPECT_EQ(got, expected + "labels\n");
    EXPECT_EQ(KeptSetting("WatchIn"), "(none)") << "nothing kept";
    EXPECT_EQ(TrayTip(), "Korvane");
}

TEST_F(MainWindowTest, ConvertCommandAndDoubleClickUseTheFileDialog)
{
    // A name outside the code page ("Песня") comes back from the dialog whole.
    const std::string song = Path("\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F");
    Spill(song + ".mp3", Frames(20));
    Spill(Path("bad.mp3"), std::string(3000, 'x'));
    Create();
    QueueDialogAnswer(song + ".mp3");
    SendMessageA(window, WM_COMMAND, CmdConvert, 0);
    std::vector<TSeen> seen = TakeSeen();
    EXPECT_EQ(Boxes(seen), "dialog|Select file to convert||Valid Files (*.mp?;*.wav)\n"
                           "box|Korvane|information|Conversion successfull\n");
    EXPECT_EQ(seen.at(0).Name, "") << "the dialog opens without a name";
    EXPECT_EQ(Slurp(song + ".wav").substr(70, 417), Frames(1));
    // The conversion's own reason first, then the command's box with the full path.
    QueueDialogAnswer(Path("bad.mp3"));
    SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(Boxes(TakeSeen()),
              "dialog|Select file to convert||Valid Files (*.mp?;*.wav)\n"
              "box|Korvane|error|This doesn't seem to be a valid MPEG Audio file " + Path("bad.mp3") +
                  "\nbox|Korvane|error|Conversion failed " + Path("bad.mp3") + " | no MPEG audio found in it\n");
    // Cancelled: nothing more.
    SendMessageA(window, WM_COMMAND, CmdConvert, 0);
    EXPECT_EQ(Boxes(TakeSeen()), "dialog|Select file to convert||Valid Files (*.mp?;*.wav)\n");
}

TEST_F(MainWindowTest, TrayClicksHideShowAndOpenTheMenu)
{
    Create();
    // A left click on the tray and the Visible command each turn the window over; the menu
    // opened from the tray marks Visible while it shows.
    for (UINT message : {WM_TRAYICON, UINT(WM_COMMAND), UINT(WM_COMMAND), WM_TRAYICON}) {
        const bool was = IsWindowVisible(window);
        SendMessageA(window, message, message == WM_COMMAND ? CmdVisible : 0, message == WM_COMMAND ? 0 : WM_LBUTTONUP);
        EXPECT_NE(bool(IsWindowVisible(window)), was) << message;
        EXPECT_EQ(MenuStates(WM_TRAYICON, WM_RBUTTONUP)[CmdVisible], was ? 0u : Checked);
    }
    // While a box is open the window is disabled: a right click on the tray does nothing.
    EnableWindow(window, FALSE);
    EXPECT_TRUE(MenuStates(WM_TRAYICON, WM_RBUTTONUP).empty());
    SendMessageA(window, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_FALSE(IsWindowVisible(window)) << "left clicks still work";
    EnableWindow(window, TRUE);
    SendMessageA(window, WM_COMMAND, CmdAbout, 0);
    EXPECT_EQ(Boxes(TakeSeen()), "box|About Korvane|information|" + AboutText + "\n");
}

TEST_F(MainWindowTest, HomepageAndMailTextsGoToTheShell)
{
    // The shell's handlers for the two protocols write what they were given.
    const struct { const char* protocol; int command; std::string expected; } cases[] = {
        {"mailto", CmdMail, "mailto:korvane@example.org?Subject=About Korvane"},
        {"http", CmdHomepage, "http://www.example.org/korvane/"}};
    Create();
    for (const auto& c : cases) {
        const std::string key = std::string("Software\\Classes\\") + c.protocol + "\\shell\\open\\command";
        const std::string out = Path(std::string(c.protocol) + ".txt");
        const std::string command = "cmd.exe /c echo %1>\"" + out + "\"";
        ASSERT_EQ(RegSetValueA(HKEY_LOCAL_MACHINE, key.c_str(), REG_SZ, command.c_str(), 0), ERROR_SUCCESS);
        SendMessageA(window, WM_COMMAND, c.command, 0);
        std::string got;
        for (int i = 0; i < 200 && got.find('\n') == std::string::npos; ++i, Sleep(50))
            got = Slurp(out) == "(none)" ? "" : Slurp(out);
        EXPECT_EQ(got, c.expected + "\r\n");
    }
    EXPECT_EQ(TakeSeen().size(), 0u);
}

TEST_F(MainWindowTest, ExitRemovesTheTrayIconAndEndsTheLoop)
{
    Create();
    NOTIFYICONDATAA probe = {NOTIFYICONDATAA_V1_SIZE, window}; // icon 0 of the window
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &probe)) << "the icon is there";
    PostMessageA(window, WM_COMMAND, CmdExit, 0);
    RunMessageLoop(); // returns at the quit message
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &probe)) << "the icon has gone";
    EXPECT_EQ(TakeSeen().size(), 0u);
}

TEST_F(MainWindowTest, ADropDuringAConversionIsRefused)
{
    Spill(Path("long.mp3"), Frames(3000));
    Spill(Path("other.mp3"), Frames(10));
    Create();
    int calls = 0;
    LPARAM last = -1;
    LONG acceptDuring = -1;
    bool barRead = false;
    Hook([&](HWND w, LPARAM percent) {
        ++calls;
        last = percent;
        if (calls == 1) {
            acceptDuring = GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_ACCEPTFILES;
            PostMessageA(w, WM_DROPFILES, WPARAM(MakeDrop({Path("other.mp3")})), 0);
            PostMessageA(w, WM_RBUTTONDOWN, MK_RBUTTON, 0);
        }
        if (calls == 2) // no file dialog: Convert is not started either
            PostMessageA(w, WM_LBUTTONDBLCLK, 0, 0);
        if (percent >= 50 && !barRead) {
            // The bar drawn for the previous block: done on the left, dark on the right.
            UpdateWindow(w);
            RECT r = WindowRect(w);
            barRead = ScreenShows(r, {{1, 99, ProgressDoneColour}, {148, 99, ProgressRestColour}});
            if (const char* shots = std::getenv("KORVANE_SHOTS")) {
                // For the README: the screen as it is now, taken from outside.
                std::system(("start /unix /usr/bin/import -window root " + std::string(shots) +
                             "/progress-screen.png").c_str());
                Sleep(3000);
            }
        }
    });
    SendMessageA(window, WM_COMMAND, CmdLarge, 0);
    const RECT r = WindowRect(window);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, LoadBitmapA(GetModuleHandleA(nullptr), "LARGE"));
    const COLORREF plain = GetPixel(memory, 40, 99);
    DeleteObject(SelectObject(memory, old));
    DeleteDC(memory);
    Drop({Path("long.mp3")});
    EXPECT_EQ(calls, 21); // 1,251,000 bytes in blocks of 61,440, the last one at 100 %
    EXPECT_EQ(last, 100);
    EXPECT_EQ(acceptDuring, 0);
    EXPECT_TRUE(barRead) << "the bar half done";
    std::vector<TSeen> seen = TakeSeen();
    ASSERT_EQ(seen.size(), 2u) << Boxes(seen); // the menu opened during the copy, then the one box
    EXPECT_EQ(seen[0].States[CmdConvert], Grey);
    EXPECT_EQ(seen[0].States[CmdLabels], Grey);
    EXPECT_EQ(Boxes({seen[1]}), "box|Korvane|information|Conversion successfull\n");
    EXPECT_EQ(Slurp(Path("other.wav")), "(none)");
    EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, WS_EX_ACCEPTFILES);
    EXPECT_EQ(MenuStates()[CmdConvert] | MenuStates()[CmdLabels], 0u);
    // Afterwards (once the closed box's place is drawn again) the plain bitmap.
    EXPECT_TRUE(ScreenShows(r, {{40, 99, plain}}));
}

TEST_F(MainWindowTest, ExitDuringALongConversionLeavesNothingHalfWritten)
{
    Spill(Path("long.mp3"), Frames(3000));
    Spill(Path("long.wav"), "the old output");
    Create();
    Hook([](HWND w, LPARAM) { PostMessageA(w, WM_COMMAND, CmdExit, 0); });
    PostMessageA(window, WM_DROPFILES, WPARAM(MakeDrop({Path("long.mp3")})), 0);
    RunMessageLoop();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Slurp(Path("long.wav")), "the old output");
    std::string found; // no temporary output either
    EXPECT_FALSE(FindFirstName(Path("*.~*"), found)) << found;
    EXPECT_EQ(TakeSeen().size(), 0u) << "no box for a window that has gone";
}
