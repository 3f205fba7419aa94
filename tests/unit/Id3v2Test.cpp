// ID3v2 tags: their texts in every encoding, the frame walk of versions 2.2
// to 2.4 on well-formed and hostile tags (2.3 and 2.4 as lame and ffmpeg
// write them are the end-to-end test's), and that an ID3v1.1 tag wins.
#include "TestFiles.h"

#include "Id3v2Unit.h"
#include "MP3Unit.h"
#include "MpegToWave.h"

#include <vector>

namespace {
using Texts = std::vector<std::string>;

template <std::size_t N> std::string S(const char (&text)[N]) { return std::string(text, N - 1); }
std::string Be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string Safe(std::uint32_t v)
{
    return {char(v >> 21 & 127), char(v >> 14 & 127), char(v >> 7 & 127), char(v & 127)};
}

// A frame of each version: identifier, size, flags (2.3 and 2.4), body.
std::string F2(const std::string& id, const std::string& body)
{
    return id + Be32(std::uint32_t(body.size())).substr(1) + body;
}
std::string F3(const std::string& id, const std::string& body, int flags = 0)
{
    return id + Be32(std::uint32_t(body.size())) + '\0' + char(flags) + body;
}
std::string F4(const std::string& id, const std::string& body, int flags = 0)
{
    return id + Safe(std::uint32_t(body.size())) + '\0' + char(flags) + body;
}
std::string Id3(int version, int flags, const std::string& frames)
{
    return "ID3" + std::string{char(version), 0, char(flags)} + Safe(std::uint32_t(frames.size())) + frames;
}
std::string L1(const std::string& text) { return '\0' + text; } // ISO-8859-1
std::string U8(const std::string& text) { return '\3' + text; }  // UTF-8

const std::string Audio = FrameRun(2);
const std::string T3 = F3("TIT2", L1("T")), T4 = F4("TIT2", L1("T"));
const Texts None(7), OnlyT = {"T", "", "", "", "", "", ""};

// The seven fields the tags fill: INAM, IART, ISRF, ICRD, ICMT, ISBJ, IGNR.
Texts Fields(const TWaveListInfo& info)
{
    Texts out;
    for (TInfoField f : {INAM, IART, ISRF, ICRD, ICMT, ISBJ, IGNR})
        out.push_back(info.Text[f]);
    return out;
}
} // namespace

TEST(Id3v2Text, EncodingsBecomeWindows1252)
{
    const struct { int encoding; std::string bytes, text; } rows[] = {
        {0, "Caf\xE9\x80", "Caf\xE9\x80"},                          // ISO-8859-1: the bytes as they are
        {1, Hex("FF FE 43 00 61 00 E9 00 AC 20"), "Ca\xE9\x80"},   // little-endian, the euro sign
        {1, Hex("FE FF 00 43 00 61 00 E9 26 03"), "Ca\xE9?"},      // big-endian, a snowman
        {1, Hex("43 00 61 00 E9 00"), "Ca\xE9"},                   // no mark: zero bytes second
        {1, Hex("00 43 00 61 00 E9"), "Ca\xE9"},                   // no mark: zero bytes first
        {2, Hex("00 43 01 52 20 1E 00 81"), "C\x8C\x84?"},         // a C1 control has no character
        {1, Hex("FF FE 41 00 42"), "A"},                           // odd length
        {1, Hex("FF FE"), ""},                                     // the mark alone
        {1, Hex("FF FE 41 00 00 00 42 00"), "A"},                  // the first of two texts
        {1, Hex("FF FE 3D D8 00 DE 41 00 00 DC 3D D8"), "?A??"},   // a pair, lone surrogates
        {3, "Caf\xC3\xA9 \xE2\x82\xAC\xE2\x98\x83", "Caf\xE9 \x80?"},
        {3, "a\xFF\xC3(\xE0\x80\x80\xED\xA0\x80\xC2", "a?" "?(" "???????"}, // bad, cut, overlong, surrogate
        {3, S("one\0two"), "one"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(DecodeId3v2Text(r.encoding, reinterpret_cast<const std::uint8_t*>(r.bytes.data()), r.bytes.size()),
                  r.text) << r.encoding << " " << r.bytes;
    std::size_t next = 0;
    DecodeId3v2Text(2, reinterpret_cast<const std::uint8_t*>("\0A\0\0\0B"), 6, &next);
    EXPECT_EQ(next, 4u);
}

class Id3v2 : public TempDirTest {
protected:
    // The fields the file's leading tag gives; the file is also converted,
    // which must succeed with the audio as its data whatever the tag holds.
    Texts Read(const std::string& tag, bool found = true)
    {
        WriteFile(dir + "/a.mp3", tag + Audio);
        TFile file = OpenForReading(dir + "/a.mp3");
        TWaveListInfo info;
        EXPECT_EQ(ReadId3v2Info(file, info), found);
        CloseFile(file);
        EXPECT_TRUE(ConvertMpegToWave(NoWindow, dir + "/a.mp3", false));
        const std::string wav = ReadFile(dir + "/a.wav");
        EXPECT_TRUE(wav.compare(62, 8 + Audio.size(), "data" + Le32(std::uint32_t(Audio.size())) + Audio) == 0);
        return Fields(info);
    }
};

TEST_F(Id3v2, FramesOfEachVersionFillTheMappedFields)
{
    const Texts all = {"Title", "Artist", "Album", "1999", "Words", "7", "Rock"};
    EXPECT_EQ(Read(Id3(2, 0, F2("TT2", L1(" Title ")) + F2("TP1", L1("Artist")) + F2("TAL", L1("Album")) +
                                 F2("TYE", L1("1999")) + F2("COM", L1(S("engdesc\0Words"))) +
                                 F2("TRK", L1("07/12")) + F2("TCO", L1("(17)")))),
              all);
    // 2.4: the first of several texts; a year from a date; COMM before a
    // user "comment" text; the first frame with a text wins.
    EXPECT_EQ(Read(Id3(4, 0, F4("TIT2", U8("")) + F4("TIT2", U8(S("Title\0Other"))) + F4("TIT2", U8("Third")) +
                                 F4("TPE1", U8("Artist")) + F4("TALB", U8("Album")) +
                                 F4("TDRC", U8("1999-05-01T10:00")) + F4("TXXX", U8(S("Comment\0user"))) +
                                 F4("COMM", U8(S("eng\0Words"))) + F4("TRCK", U8("7")) +
                                 F4("TCON", U8(S("17\0Pop"))))),
              all);
    EXPECT_EQ(Read(Id3(4, 0, F4("TXXX", U8(S("other\0no"))) + F4("TXXX", U8(S("comment\0yes"))))),
              (Texts{"", "", "", "", "yes", "", ""}));
    // Genres and tracks: names stay, numbers past 148 are "Unknown", past 255 text.
    const std::pair<std::string, std::string> genres[] = {
        {"Trance", "Trance"}, {"(255)", "Unknown"}, {"(300)", "(300)"}, {"(17)Rock & Roll", "Rock"},
        {"(RX)", "(RX)"}, {" ", ""}};
    for (const auto& g : genres)
        EXPECT_EQ(Read(Id3(3, 0, F3("TCON", L1(g.first))))[6], g.second) << g.first;
    for (const auto& t : {std::make_pair("0", "0"), {"12/", "12"}, {"A1", ""}, {"/5", ""}, {"0012", "12"}})
        EXPECT_EQ(Read(Id3(3, 0, F3("TRCK", L1(t.first))))[5], t.second) << t.first;
}

TEST_F(Id3v2, HostileTagsAreWalkedSafely)
{
    const std::string big = std::string(70000, 'x');
    const struct { const char* what; std::string tag; Texts fields; bool found; } rows[] = {
        {"size past the tag", Id3(3, 0, T3 + "TPE1" + Be32(1000) + Z(2) + L1("x")), OnlyT, true},
        {"size 0", Id3(3, 0, F3("TPE1", "") + T3), OnlyT, true},
        {"size FFFFFFFF", Id3(3, 0, T3 + "TPE1" + Hex("FF FF FF FF 00 00") + L1("abc")), OnlyT, true},
        {"syncsafe high bit",
         Id3(4, 0, T4 + "TPE1" + Hex("00 00 00 80 00 00") + L1("a") + F4("TALB", L1("b"))), OnlyT, true},
        {"bad identifier", Id3(3, 0, T3 + F3("ti t", L1("x")) + F3("TPE1", L1("y"))), OnlyT, true},
        {"padding", Id3(3, 0, T3 + Z(20) + F3("TPE1", L1("y"))), OnlyT, true},
        {"BOM only, odd UTF-16", Id3(3, 0, F3("TIT2", Hex("01 FF FE")) + F3("TPE1", Hex("01 FF FE 41"))), None,
         true},
        {"unknown encoding", Id3(3, 0, F3("TIT2", "\x04T")), None, true},
        {"no COMM text",
         Id3(3, 0, F3("COMM", L1("en")) + F3("COMM", L1("eng")) + F3("COMM", L1(S("engdesc\0")))), None, true},
        {"2.3 compressed, encrypted, grouped", Id3(3, 0, F3("TIT2", L1("c"), 0x80) + F3("TIT2", L1("e"), 0x40) +
                                                          F3("TIT2", L1("g"), 0x20) + T3), OnlyT, true},
        {"2.4 compressed, encrypted, grouped", Id3(4, 0, F4("TIT2", L1("c"), 0x08) + F4("TIT2", L1("e"), 0x04) +
                                                          F4("TIT2", L1("g"), 0x40) + T4), OnlyT, true},
        {"too big a text", Id3(3, 0, F3("TIT2", L1(big)) + T3), OnlyT, true},
        {"2.3 extended header", Id3(3, 0x40, Be32(6) + Z(6) + T3), OnlyT, true},
        {"2.4 extended header", Id3(4, 0x40, Safe(6) + "\1" + Z(1) + T4), OnlyT, true},
        {"2.4 extended header too small", Id3(4, 0x40, Safe(3) + Z(2) + T4), None, true},
        {"2.3 extended header too big", Id3(3, 0x40, Be32(99) + T3), None, true},
        {"2.4 footer", Id3(4, 0x10, T4) + "3DI" + Z(7), OnlyT, true},
        {"size with a high bit", Hex("49 44 33 03 00 00 00 00 00 80") + T3, None, false},
        {"size past the file", Hex("49 44 33 03 00 00 00 01 00 00") + T3, None, false},
        {"version 2.5", Id3(5, 0, T3), None, false},
        {"2.2 compressed", Id3(2, 0x40, F2("TT2", L1("T"))), None, false},
        {"cut header", "ID3\3", None, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Read(r.tag, r.found), r.fields) << r.what;
    // Ten thousand tiny frames before the one that counts.
    std::string many;
    for (int i = 0; i < 10000; ++i)
        many += F3("ZZZZ", "x");
    EXPECT_EQ(Read(Id3(3, 0, many + T3)), OnlyT);
}

TEST_F(Id3v2, Unsynchronisation)
{
    // 2.2 and 2.3: the whole tag; the frame sizes count the bytes without the inserted zeros.
    for (int version : {2, 3}) {
        std::string frames = version == 2 ? F2("TT2", L1("\xFF\xE9")) + F2("TP1", L1("\xFF"))
                                          : F3("TIT2", L1("\xFF\xE9")) + F3("TPE1", L1("\xFF"));
        std::string stored;
        for (char c : frames)
            stored += c == '\xFF' ? S("\xFF\0") : std::string(1, c);
        EXPECT_EQ(Read(Id3(version, 0x80, stored)), (Texts{"\xFF\xE9", "\xFF", "", "", "", "", ""})) << version;
    }
    // 2.4: per frame (or for every frame by the tag's flag), with a data length first.
    EXPECT_EQ(Read(Id3(4, 0, F4("TIT2", Hex("00 FF 00 E9"), 0x02) + F4("TPE1", Safe(2) + L1("A"), 0x01) +
                                 F4("TALB", Safe(2) + Hex("00 FF 00"), 0x03))),
              (Texts{"\xFF\xE9", "A", "\xFF", "", "", "", ""}));
    EXPECT_EQ(Read(Id3(4, 0x80, F4("TIT2", Hex("00 FF 00 E9"))))[0], "\xFF\xE9");
}

TEST_F(Id3v2, AnId3v1TagAloneCounts)
{
    // With an ID3v1.1 tag as well, the ID3v2 tag changes nothing: the same bytes
    // as when zeros stand in its place. (Real tags' words in INFO and back are
    // the end-to-end test's.)
    const std::string v2 = Id3(3, 0, F3("TIT2", L1("New")) + F3("TPE1", L1("Band"))), v1 = Tag("Old", "", "", "", 3);
    WriteFile(dir + "/song.mp3", Z(v2.size()) + Audio + v1);
    ASSERT_TRUE(ConvertMpegToWave(NoWindow, dir + "/song.mp3", false));
    const std::string plain = ReadFile(dir + "/song.wav");
    WriteFile(dir + "/song.mp3", v2 + Audio + v1);
    ASSERT_TRUE(ConvertMpegToWave(NoWindow, dir + "/song.mp3", false));
    EXPECT_EQ(ReadFile(dir + "/song.wav"), plain);
}
