// Names in the Windows build: UTF-8 inside, UTF-16 at the system calls, full
// paths in their \\?\ form (whole conversions under such names are the
// command-line end-to-end test's).
#include "DirectWin32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

TEST(Names, Utf8AndUtf16BothWays)
{
    const std::pair<std::wstring, std::string> rows[] = {
        {L"song.mp3", "song.mp3"},
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
    EXPECT_EQ(WideFileName("C:\\a\\con.mp3"), L"\\\\.\\con");
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(WideFileName("b.mp3"), L"\\\\?\\" + std::wstring(current) +
                                         (current[wcslen(current) - 1] == L'\\' ? L"" : L"\\") + L"b.mp3");
}
