// The drop-target window in this process: the real catalogue, the real
// window procedure and the program's own resources, driven with real
// messages (drops through an HDROP made here, commands, the tray callback)
// while a watcher thread reads and closes boxes, menus and the file dialog.
#include "MainWindowFixture.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// The labels dialog's fields in its order: Category, ClientID, Classification,
// OutCue, UserDef, Start, End, Number cuts from.
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
    EXPECT_EQ(seen[0].Kind + "|" + seen[0].Caption + "|" + seen[0].Name, "labels|Broadcast WAVE labels|||||||||||");
    EXPECT_EQ(KeptSetting("End"), "+14") << "kept as typed";
    Destroy();
    // The next start shows what was typed; Cancel changes nothing, and drops take the labels.
    Create();
    SendMessageA(window, WM_COMMAND, CmdLabels, 0);
    seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u) << Boxes(seen);
    EXPECT_EQ(seen[0].Name, "COM|Acme Tyres|Spot|winter sale|u1|2026-01-02|+14|1001|||");
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
    const std::vector<std::string> good = {"COM", "", "", "", "", "2026-03-01", "", "", "-40", ""};
    const struct { int field; std::string value, why; } rows[] = {
        {0, std::string(65, 'x'), "Category: longer than its field's 64 characters"},
        {3, "caf\xC3\xA9", "OutCue: a character outside printable ASCII"},
        {5, "2026-02-29", "Start: not a date (yyyy-mm-dd, yyyy-mm-dd hh:mm:ss, or +days from today)"},
        {6, "2026-02-28 23:59:59", "End: the end lies before the start"},
        {7, "4294967296", "Number cuts from: not a number from 0 to 4294967295"},
        {7, "#1", "Number cuts from: not a number from 0 to 4294967295"},
        {8, "-96.5", "Trim level: not a level in dBFS from -96 to 0, such as -40"},
        {9, "-6dB", "Segue level: not a level in dBFS from -96 to 0, such as -40"}};
    Create();
    std::vector<std::pair<std::vector<std::string>, std::string>> answers;
    for (const auto& row : rows) {
        answers.push_back({good, row.why});
        answers.back().first[std::size_t(row.field)] = row.value;
    }
    ExpectRefusedInTurn(CmdLabels, answers);
    EXPECT_EQ(KeptSetting("Category"), "(none)") << "nothing kept";
}

TEST_F(MainWindowTest, TrimSegueAndPeakEnvelopeAreKeptAndMarkADrop)
{
    // The project's sample (beside this program) behind 28 silent frames of its kind: 32 kHz mono, 144 bytes.
    std::string late, exe(MAX_PATH, '\0');
    for (int i = 0; i < 28; ++i)
        late += std::string("\xFF\xFB\x18\xC4", 4) + std::string(140, '\0');
    exe.resize(GetModuleFileNameA(nullptr, &exe[0], MAX_PATH));
    Spill(Path("late.mp3"), late + Slurp(exe.substr(0, exe.rfind('\\')) + "\\tone.mp3"));
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    Create();
    QueueLabelsAnswer({"", "", "", "", "", "", "", "", "-40", "-20"});
    for (int item : {CmdBroadcast, CmdPeaks, CmdLabels})
        SendMessageA(window, WM_COMMAND, WPARAM(item), 0);
    Destroy();
    Create(); // resumed at the next start
    Drop({Path("late.mp3")});
    ASSERT_EQ(Boxes(TakeSeen()), "box|Korvane|information|Conversion successfull\n");
    const std::string wave = Slurp(Path("late.wav"));
    const auto le = [](UINT32 value) { return std::string(reinterpret_cast<const char*>(&value), 4); };
    // AUDs, AUDe where the tone first and last reaches -40 dBFS, SEGs where it falls below -20 for good;
    // levl after the audio: version 1, 16-bit values, two a peak, 256 samples each, one channel, 509 peaks.
    EXPECT_EQ(wave.substr(wave.find("cart") + 692, 32) + wave.substr(wave.find("data") + 8 + 113 * 144, 32),
              "AUDs" + le(33362) + "AUDe" + le(129362) + "SEGs" + le(118400) + "SEGe" + le(129362) + "levl" +
                  le(2156) + le(1) + le(2) + le(2) + le(256) + le(1) + le(509));
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
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
        for (int i = 0; i < 1000 && got.find('\n') == std::string::npos; ++i, Sleep(10))
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
