// The Win32 backend against the real system calls (run under Wine): string
// resources as windres compiled them, wvsprintfA formatting, sharing rules,
// the copier's progress messages to a real window, and the icon and cursor
// of the drop target. (Names as the directory search finds them are the
// command-line end-to-end test's.)
#include "DirectWin32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {
std::string TempDir()
{
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    std::string dir = std::string(path) + "kvtest" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void WriteFileOfSize(const std::string& name, DWORD size)
{
    std::vector<char> bytes(size, '\x11');
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    WriteFile(h, bytes.data(), size, &done, nullptr);
    CloseHandle(h);
}

std::vector<std::pair<WPARAM, LPARAM>> progress;
int posted = 0;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CONVERTPROGRESS)
        progress.push_back({wParam, lParam});
    if (message == WM_APP)
        ++posted;
    return DefWindowProcA(window, message, wParam, lParam);
}
} // namespace

TEST(Win32Backend, StringTableTextsAsCompiled)
{
    EXPECT_EQ(LoadText(5016), "\"%s\" \"%%L\"");
    EXPECT_EQ(LoadText(5011), "Conversion successfull");
    EXPECT_EQ(LoadText(5033), "An unknown error occured ");
    EXPECT_EQ(LoadText(30133), "Negerpunk");
    EXPECT_EQ(LoadText(30148), "Unknown");
    EXPECT_EQ(LoadText(5008), "");
    std::string usage = LoadText(5005);
    EXPECT_EQ(usage.substr(0, 9), "\n\nUsage:\n");
    EXPECT_EQ(usage.find('\r'), std::string::npos);
}

TEST(Win32Backend, FormatTextThroughWvsprintf)
{
    EXPECT_EQ(FormatText(LoadText(5016), {"C:\\Program Files\\Korvane.exe"}),
              "\"C:\\Program Files\\Korvane.exe\" \"%L\"");
    EXPECT_EQ(FormatText("mailto:%s?Subject=About %s", {"a@example.org", "Korvane"}),
              "mailto:a@example.org?Subject=About Korvane");
    EXPECT_EQ(FormatText("", {"x"}), "");
    EXPECT_EQ(FormatText("%s", {std::string(2000, 'x')}).size(), 1023u);
}

TEST(Win32Backend, SharingRulesAndSameFile)
{
    std::string dir = TempDir();
    std::string a = dir + "\\a.mp3", b = dir + "\\b.mp3";
    WriteFileOfSize(a, 10);
    WriteFileOfSize(b, 10);
    TFile input = OpenForReading(a);
    ASSERT_NE(input, NoFile);
    EXPECT_EQ(CreateForWriting(a), NoFile) << "an open input must not be truncated";
    EXPECT_EQ(CreateNewForWriting(b), NoFile);
    EXPECT_TRUE(IsSameFile(input, a));
    EXPECT_FALSE(IsSameFile(input, b));
    EXPECT_EQ(OpenForReading(dir), NoFile);
    EXPECT_EQ(GetFileSize(input), 10);
    EXPECT_TRUE(CloseFile(input));
    EXPECT_TRUE(MoveFileOver(a, b));
    EXPECT_FALSE(FileExists(a));
    EXPECT_TRUE(DeleteFileName(b));
    RemoveDirectoryA(dir.c_str());
}

TEST(Win32Backend, CopyReportsProgressAndPumpsTheOwnersMessages)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "KvProgressTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "KvProgressTest", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    std::string dir = TempDir();
    WriteFileOfSize(dir + "\\in.bin", 4000000);
    TFile source = OpenForReading(dir + "\\in.bin");
    TFile target = CreateForWriting(dir + "\\out.bin");
    PostMessageA(window, WM_APP, 0, 0);
    EXPECT_EQ(CopyFileBytes(TWindow(window), source, target, 4000000), 4000000);
    CloseFile(source);
    CloseFile(target);
    ASSERT_EQ(progress.size(), 66u);
    EXPECT_EQ(progress.front(), std::make_pair(WPARAM(61440), LPARAM(1)));
    EXPECT_EQ(progress.back(), std::make_pair(WPARAM(4000000), LPARAM(100)));
    EXPECT_EQ(posted, 1);
    DestroyWindow(window);
    DeleteFileA((dir + "\\in.bin").c_str());
    DeleteFileA((dir + "\\out.bin").c_str());
    RemoveDirectoryA(dir.c_str());
}

TEST(Win32Backend, IconAndCursorAsTheWindowNeedsThem)
{
    // (The bitmaps are the window tests': their sizes there, their pixels on the screen.)
    HMODULE module = GetModuleHandleA(nullptr);
    ICONINFO icon = {}, cursor = {};
    ASSERT_TRUE(GetIconInfo(LoadIconA(module, "MAINICON"), &icon));
    ASSERT_TRUE(GetIconInfo(LoadCursorA(module, "KORVANE"), &cursor));
    EXPECT_FALSE(cursor.fIcon);
    EXPECT_EQ(cursor.xHotspot, 0u);
    EXPECT_EQ(cursor.yHotspot, 0u);
    BITMAP mask = {};
    GetObjectA(cursor.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    EXPECT_EQ(mask.bmHeight, 64); // monochrome: AND and XOR masks stacked, no colour bitmap
    EXPECT_EQ(cursor.hbmColor, nullptr);
    for (HBITMAP b : {icon.hbmMask, icon.hbmColor, cursor.hbmMask})
        DeleteObject(b);
}
