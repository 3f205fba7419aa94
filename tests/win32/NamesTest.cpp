// Names in the Windows build: UTF-8 inside, UTF-16 at the system calls, full
// paths in their \\?\ form; a name the code page cannot hold, one past 260
// characters and one with a lone surrogate, through the backend and a
// whole conversion.
#include "DirectWin32.h"
#include "ProcessUnit.h"
#include "WinFiles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {
const std::string Frame = std::string("\xFF\xFB\x90\x64", 4) + std::string(413, '\0');

std::string Folder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::string dir = NarrowText(temp, wcslen(temp)) + "kvnames" + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(WideFileName(dir).c_str(), nullptr);
    return dir;
}

} // namespace

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

TEST(Names, EveryKindOfNameConverts)
{
    const std::string dir = Folder(), mp3 = Frame + Frame + Frame;
    ASSERT_TRUE(Spill(dir + "\\plain.mp3", mp3));
    ASSERT_TRUE(ConvertFile(NoWindow, dir + "\\plain.mp3", false));
    const std::string plain = Slurp(dir + "\\plain.wav");
    std::string deep = dir;
    for (int i = 0; i < 5; ++i) {
        deep += "\\" + std::string(200, char('a' + i));
        ASSERT_TRUE(CreateDirectoryW(WideFileName(deep).c_str(), nullptr)) << deep.size();
    }
    for (const std::string& stem : {dir + "\\\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F", deep + "\\song",
                                    dir + "\\e\xCC\x81 \xF0\x9F\x8E\xB5"}) {
        ASSERT_TRUE(Spill(stem + ".mp3", mp3)) << stem.size();
        EXPECT_EQ(ExpandFoundName(stem + ".mp3"), stem + ".mp3");
        EXPECT_TRUE(ConvertFile(NoWindow, stem + ".mp3", false)) << stem.size();
        EXPECT_EQ(Slurp(stem + ".wav"), plain);
        EXPECT_TRUE(ConvertFile(NoWindow, stem + ".wav", false));
        EXPECT_EQ(Slurp(stem + ".mp3"), mp3 + "TAG" + std::string(124, '\0') + "\x94");
        std::string found;
        EXPECT_TRUE(FindFirstName(stem + ".w*", found));
        EXPECT_EQ(found, stem.substr(stem.rfind('\\') + 1) + ".wav");
        EXPECT_TRUE(DeleteFileName(stem + ".mp3") && DeleteFileName(stem + ".wav"));
    }
    // A lone surrogate converts where the file system can hold it; where it
    // cannot (Wine keeps names as UTF-8), the conversion fails and writes nothing.
    const std::string lone = dir + "\\a\xED\xA0\x80" "b";
    std::string found;
    if (Spill(lone + ".mp3", mp3)) {
        EXPECT_TRUE(ConvertFile(NoWindow, lone + ".mp3", false));
        EXPECT_EQ(Slurp(lone + ".wav"), plain);
        DeleteFileName(lone + ".mp3");
        DeleteFileName(lone + ".wav");
    } else {
        EXPECT_FALSE(ConvertFile(NoWindow, lone + ".mp3", false));
    }
    EXPECT_FALSE(FindFirstName(dir + "\\a?b*", found)) << found; // nor under a stand-in name
    for (int i = 0; i < 5; ++i, deep = GetPathDir(deep))
        RemoveDirectoryW(WideFileName(deep).c_str());
    DeleteFileName(dir + "\\plain.mp3");
    DeleteFileName(dir + "\\plain.wav");
    EXPECT_TRUE(RemoveDirectoryW(WideFileName(dir).c_str()));
}
