// The Win32 backend against the real system calls (run under Wine): names
// UTF-8 inside and UTF-16 at the calls, full paths in their \\?\ form,
// sharing rules, and the icon and cursor of the drop
// target. (Whole conversions under any name, the texts of the string table
// and the copier's progress are the end-to-end and window tests'.)
#include "DirectWin32.h"
#include "WinFiles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

TEST(Names, Utf8AndUtf16BothWays)
{
    const std::pair<std::wstring, std::string> rows[] = {
        {L"caf\u00E9", "caf\xC3\xA9"},
        {L"\u6771\u4EAC", "\xE6\x9D\xB1\xE4\xBA\xAC"},
        {L"\xD83C\xDFB5", "\xF0\x9F\x8E\xB5"},     // a pair: one four-byte character
        {L"a\xD800" L"b", "a\xED\xA0\x80" "b"},    // lone surrogates keep their three bytes
        {L"\xDC00\xD83C", "\xED\xB0\x80\xED\xA0\xBC"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(NarrowText(r.first.data(), r.first.size()), r.second);
        EXPECT_EQ(WidenText(r.second), r.first);
    }
    EXPECT_EQ(WidenText("a\xFF\xC3"), L"a\xFFFD\xFFFD"); // bytes that are no UTF-8
}

TEST(Names, FullNamesInTheirLongForm)
{
    EXPECT_EQ(WideFileName("C:\\a\\..\\b.mp3"), L"\\\\?\\C:\\b.mp3");
    EXPECT_EQ(WideFileName("C:/a/b.mp3"), L"\\\\?\\C:\\a\\b.mp3");
    EXPECT_EQ(WideFileName("\\\\server\\share\\b.mp3"), L"\\\\?\\UNC\\server\\share\\b.mp3");
    EXPECT_EQ(WideFileName("\\\\?\\C:\\x\\..\\y"), L"\\\\?\\C:\\x\\..\\y");
    EXPECT_EQ(WideFileName("nul"), L"\\\\.\\nul"); // a device stays a device
    EXPECT_EQ(WideFileName("C:\\a\\con.mp3"), L"\\\\.\\con"); // (bare names: the command-line tests)
}

TEST(Win32Backend, SharingRulesAndSameFile)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string dir = temp + std::string("kvtest") + std::to_string(GetCurrentProcessId());
    const std::string a = dir + "\\a.mp3", b = dir + "\\b.mp3";
    CreateDirectoryA(dir.c_str(), nullptr);
    ASSERT_TRUE(Spill(a, std::string(10, 'x')) && Spill(b, "b"));
    TFile input = OpenForReading(a);
    ASSERT_NE(input, NoFile);
    EXPECT_EQ(CreateForWriting(a), NoFile) << "an open input must not be truncated";
    EXPECT_EQ(CreateNewForWriting(b), NoFile);
    EXPECT_TRUE(IsSameFile(input, a));
    EXPECT_FALSE(IsSameFile(input, b));
    EXPECT_EQ(OpenForReading(dir), NoFile);
    EXPECT_TRUE(CloseFile(input) && MoveFileOver(a, b) && !FileExists(a) && DeleteFileName(b));
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
    EXPECT_EQ(cursor.yHotspot, 0u); // the tip of the arrow clicks
    for (HBITMAP b : {icon.hbmMask, icon.hbmColor, cursor.hbmMask, cursor.hbmColor})
        DeleteObject(b);
}
