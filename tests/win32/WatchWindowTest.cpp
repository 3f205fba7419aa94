// The drop target's watched folder ("Watch folder..."), in this process:
// its dialog, its resumption at the next start, the files it takes between
// drops, and the tray icon's tip that counts them.
#include "MainWindowFixture.h"

#include <string>
#include <vector>

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
    const std::vector<std::pair<std::vector<std::string>, std::string>> answers = {
        {{Path("none"), out, "2"}, "Watched folder: no such folder, or it cannot be written"},
        {{in, Path("none"), "2"}, "Output folder: no such folder, or it cannot be written"},
        {{in, "", "2"}, "Output folder: no value given"},
        {{in, in + "\\.", "2"}, "Output folder: the same folder as the watched one"},
        {{in, out, "3601"}, "Settle time: not a whole number of seconds from 0 to 3600"},
        {{in, out, ""}, "Settle time: not a whole number of seconds from 0 to 3600"}};
    Create();
    ExpectRefusedInTurn(CmdWatch, answers);
    EXPECT_EQ(KeptSetting("WatchIn"), "(none)") << "nothing kept";
    EXPECT_EQ(TrayTip(), "Korvane");
}

TEST_F(MainWindowTest, WatchedFilesWaitForADropAndAnExitLeavesThemWhole)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
    const std::string in = Path("in"), out = Path("out");
    CreateDirectoryA(in.c_str(), nullptr);
    CreateDirectoryA(out.c_str(), nullptr);
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Korvane", "WatchIn", REG_SZ, in.c_str(), DWORD(in.size() + 1));
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Korvane", "WatchOut", REG_SZ, out.c_str(), DWORD(out.size() + 1));
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Korvane", "WatchSettle", REG_SZ, "0", 2);
    Spill(Path("long.mp3"), Frames(3000));
    Create();
    ASSERT_TRUE(PumpUntil([] { return TrayTip() == "Watching in: 0 converted, 0 failed"; })) << TrayTip();
    // A file arriving during a drop is converted after it, never inside it:
    // the drop's blocks go on while the watch's look falls due.
    std::string during;
    Hook([&](HWND, LPARAM) {
        if (during.empty()) {
            Spill(in + "\\early.mp3", Frames(10));
            Sleep(300); // past the watch's next look
        }
        during += Slurp(out + "\\early.wav") == "(none)" ? "." : "converted";
    });
    Drop({Path("long.mp3")});
    EXPECT_EQ(during.find("converted"), std::string::npos) << during;
    EXPECT_EQ(Boxes(TakeSeen()), "box|Korvane|information|Conversion successfull\n");
    EXPECT_TRUE(PumpUntil([] { return TrayTip() == "Watching in: 1 converted, 0 failed"; })) << TrayTip();
    // An Exit in the middle of a watched file: no output, and the file waits for the next start.
    Spill(out + "\\late.wav", "the old output");
    onProgress = [](HWND w, LPARAM) { PostMessageA(w, WM_COMMAND, CmdExit, 0); };
    Spill(in + "\\late.mp3", Frames(3000));
    RunMessageLoop();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Slurp(out + "\\late.wav"), "the old output");
    EXPECT_EQ(Slurp(in + "\\late.mp3"), Frames(3000));
    std::string found;
    EXPECT_FALSE(FindFirstName(out + "\\*.~*", found)) << found;
    const std::string log = Slurp(in + "\\korvane-watch.log");
    EXPECT_EQ(log.find("late.mp3"), std::string::npos) << log;
    EXPECT_NE(log.find("Stopped watching " + in), std::string::npos) << log;
    EXPECT_EQ(TakeSeen().size(), 0u);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
}
