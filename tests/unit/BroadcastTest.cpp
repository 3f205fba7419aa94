// Broadcast WAVEs: the bext, mext and cart chunks written for a few kinds of
// stream, and the way back for files that playout systems write.
#include "TestFiles.h"

#include "BroadcastUnit.h"
#include "MpegToWave.h"
#include "WaveToMpeg.h"

#include <ctime>
#include <regex>
#include <utime.h>
#include <vector>

namespace {
TRunChoices BroadcastChoices()
{
    TRunChoices choices;
    choices.Broadcast = true;
    return choices;
}

struct BwfRow {
    std::string name, frames, title, artist; // no ID3v1.1 tag when title and artist are empty
    std::string cartTitle, cartArtist, description, history;
    int soundInformation, frameSize;
    std::uint32_t samples;
};

std::string Frames(std::initializer_list<std::pair<int, std::uint32_t>> runs)
{
    std::string frames;
    for (const auto& run : runs)
        for (int i = 0; i < run.first; ++i)
            frames += Frame(run.second);
    return frames;
}
} // namespace

class Broadcast : public TempDirTest {};

TEST_F(Broadcast, ChunksDescribeEachKindOfStream)
{
    const std::string t = ",T=Korvane 1.0.0.0\r\n";
    const BwfRow rows[] = {
        {"layer1.mp1", Frames({{10, Make(3, 3, 12, 0, 0)}}), "Title One", "Band", "Title One", "Band", "Band - Title One",
         "A=MPEG1L1,F=44100,B=384,M=joint-stereo" + t, 7, 416, 3840},
        {"layer2.mp2", Frames({{1, Make(3, 2, 10, 1, 1, 4)}, {4, Make(3, 2, 10, 1, 0, 4)}, {5, Make(3, 2, 10, 1, 1, 4)}}),
         "Only Title", "", "Only Title", "", "Only Title", "A=MPEG1L2,F=48000,B=192,M=stereo" + t, 1, 576, 11520},
        {"\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F.mp3", Frames({{10, Make(2, 1, 8, 0, 0, 0xC4)}}), "", "", "?????", "", "?????",
         "A=MPEG2L3,F=22050,B=64,M=mono" + t, 7, 208, 5760},
        {"vbr.mp3", Frames({{5, Make(3, 1, 9, 0, 0)}, {5, Make(3, 1, 10, 0, 0)}}), "\xC4 Title", "\xDCmlaut",
         "? Title", "?mlaut", "?mlaut - ? Title", "A=MPEG1L3,F=44100,B=144,M=joint-stereo" + t, 6, 0, 11520},
        {"m25.mp3", Frames({{10, Make(0, 1, 4, 2, 0, 0x84)}}), "Quiet", "", "Quiet", "", "Quiet",
         "A=MPEG2L3,F=8000,B=32,M=dual-mono" + t, 3, 288, 5760},
    };
    std::tm when = {};
    when.tm_year = 124, when.tm_mon = 2, when.tm_mday = 5, when.tm_hour = 6, when.tm_min = 7, when.tm_sec = 8;
    when.tm_isdst = -1;
    const utimbuf times = {std::mktime(&when), std::mktime(&when)};
    std::set<std::string> references;
    for (const BwfRow& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string source = dir + "/" + r.name, output = source.substr(0, source.rfind('.')) + ".wav";
        WriteFile(source, r.frames + (r.title.empty() ? "" : Tag(r.title, r.artist, "", "", 148)));
        ASSERT_EQ(::utime(source.c_str(), &times), 0);
        ASSERT_TRUE(ConvertMpegToWave(NoWindow, source, false));
        const std::string plain = ReadFile(output);
        ASSERT_TRUE(ConvertMpegToWave(NoWindow, source, false, BroadcastChoices()));
        const std::string file = ReadFile(output);
        const auto chunks = Chunks(file);
        std::vector<std::string> ids;
        for (const auto& c : chunks)
            ids.push_back(c.first);
        ASSERT_EQ(ids, (std::vector<std::string>{"fmt ", "fact", "bext", "mext", "cart", "data", "LIST"}));
        // Without the three chunks the file is the plain one, byte for byte.
        const std::size_t at = 20 + chunks[0].second.size() + 12, size = 24 + chunks[2].second.size() + 12 + 2048;
        EXPECT_EQ("RIFF" + Le32(std::uint32_t(file.size() - size - 8)) + file.substr(8, at - 8) + file.substr(at + size), plain);

        const std::string& bext = chunks[2].second;
        EXPECT_EQ(bext.substr(0, 338), Field(r.description, 256) + Field("Korvane", 32) + bext.substr(288, 32) +
                                           "2024-03-0506:07:08");
        EXPECT_TRUE(std::regex_match(bext.substr(288, 32), std::regex("ZZKVN[0-9]{27}")));
        EXPECT_TRUE(references.insert(bext.substr(288, 32)).second);
        EXPECT_EQ(bext.substr(338), Z(8) + Hex("01 00") + Z(254) + Field(r.history, bext.size() - 602));
        EXPECT_EQ(bext.size() % 2, 0u);
        EXPECT_EQ(chunks[3].second, Le32(std::uint32_t(r.soundInformation | r.frameSize << 16)) + Z(8));
        EXPECT_EQ(chunks[4].second, "0101" + Field(r.cartTitle, 64) + Field(r.cartArtist, 64) + Z(320) +
                                        "1900-01-0100:00:009999-12-3123:59:59" + Field("Korvane", 64) +
                                        Field("1.0.0.0", 64) + Z(68) + "AUDs" + Z(4) + "AUDe" + Le32(r.samples) +
                                        Z(1348));
    }
}

TEST_F(Broadcast, TextsAreCutToTheirWidthsInAscii)
{
    TBroadcastInfo info = {};
    info.Title = std::string(70, 't');
    info.Artist = std::string(65, 'a');
    info.Description = std::string(300, 'd');
    info.FirstHeader = Make(3, 1, 9, 0, 0);
    const std::string bytes = MakeBroadcastChunks(info);
    const std::size_t cart = bytes.find("cart") + 8;
    EXPECT_EQ(bytes.substr(8, 257), std::string(256, 'd') + 'K');
    EXPECT_EQ(bytes.substr(cart + 4, 129), std::string(64, 't') + std::string(64, 'a') + '\0');
    EXPECT_EQ(AsciiText("\xC3\xA9t\xE2\x82\xAC\xF0\x9F\x8E\xB5\x01~", true, 4), "?t??");
    EXPECT_EQ(AsciiText("\xC3\xA9t\x7F", false, 9), "??t?");
}

TEST_F(Broadcast, TheWayBackSkipsEveryChunkAndTakesTheCartWhenThereIsNoInfo)
{
    const std::string frames = FrameRun(4), url = "http://example.org/cuts/1";
    const std::string cart = Chunk("cart", "0101" + Field("Cart Title", 64) + Field("Cart Artist", 64) + Z(892) +
                                               Field(url, 1024) + "tag\r\n");
    const std::string bext = Chunk("bext", Field("Bext Desc", 256) + Z(346));
    const std::string info = Chunk("LIST", "INFO" + Item("INAM", "Info Title"));
    struct {
        std::string before, after, title, artist;
    } rows[] = {
        {Chunk("mext", Z(12)), cart + Chunk("levl", Z(121)) + Chunk("JUNK", Z(6)), "Cart Title", "Cart Artist"},
        {bext, "cart" + Le32(100000) + cart.substr(8), "Bext Desc", ""}, // a cart longer than the file
        {"cart" + Le32(100) + Z(100), Chunk("PAD ", Z(3)), "", ""},      // a cart shorter than its fixed part
        {cart, info, "Info Title", ""},
    };
    for (const auto& r : rows) {
        const std::string body = "WAVE" + Chunk("fmt ", Fmt55) + Chunk("fact", Le32(4608)) + r.before +
                                 Chunk("data", frames) + r.after;
        WriteFile(dir + "/bwf.wav", "RIFF" + Le32(std::uint32_t(body.size())) + body);
        EXPECT_TRUE(ConvertWaveToMpeg(NoWindow, dir + "/bwf.wav", WriteTagOption, false));
        EXPECT_EQ(ReadFile(dir + "/bwf.mp3"), frames + (r.title.empty() ? "" : Tag(r.title, r.artist, "", "", 148)))
            << r.title;
    }
}
