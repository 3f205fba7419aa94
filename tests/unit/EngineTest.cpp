// The engine: frame headers, format records, the search for the first frame,
// ID3v1.1 tags and the byte layout of a WAVed MPEG.
#include "TestFiles.h"

#include "MP3Unit.h"
#include "MpegToWave.h"

#include <cstring>
#include <unistd.h>
#include <vector>

namespace {
const std::string H1 = Hex("FF FB 90 64"); // MPEG-1 layer 3, 128 kbit/s, 44.1 kHz, joint stereo
const std::string H2 = Hex("FF FD A4 04"); // MPEG-1 layer 2, 192 kbit/s, 48 kHz, stereo
const std::string L3Record =
    Hex("55 00 02 00 44 AC 00 00 80 3E 00 00 01 00 00 00 0C 00 01 00 02 00 00 00 A1 01 01 00 71 05");
const std::string Credit = "Korvane 1.0 - (c) 2026 the Korvane developers";
using Ints = std::vector<int>;

std::uint32_t Value(const std::string& b) // the 4 bytes as a little-endian value
{
    return std::uint32_t(std::uint8_t(b[0]) | std::uint8_t(b[1]) << 8 | std::uint8_t(b[2]) << 16) | std::uint32_t(std::uint8_t(b[3])) << 24;
}

std::uint32_t Make(int versionId, int layerId, int bitrateIndex, int rateIndex, int padding, int last = 0x64)
{
    return Value({'\xFF', char(0xE1 | versionId << 3 | layerId << 1),
                  char(bitrateIndex << 4 | rateIndex << 2 | padding << 1), char(last)});
}

std::string Record(std::uint32_t value, TMpegWaveFormat& format)
{
    TMpegHeader header;
    DecodeMpegHeader(value, header);
    MakeMpegWaveFormat(header, format);
    std::uint8_t out[MpegWaveFormatMaxSize];
    return std::string(reinterpret_cast<char*>(out), std::size_t(SerializeMpegWaveFormat(format, out)));
}

} // namespace

TEST(FrameHeader, FrameLengthsAndUnusableValues)
{
    // version id, layer id, bitrate index, rate index, padding -> version, layer, kbit/s, Hz, length
    const Ints rows[] = {{3, 1, 9, 0, 0, 1, 3, 128, 44100, 417}, {3, 1, 9, 0, 1, 1, 3, 128, 44100, 418},
                         {3, 2, 10, 1, 0, 1, 2, 192, 48000, 576}, {3, 3, 12, 0, 0, 1, 1, 384, 44100, 416},
                         {3, 3, 12, 0, 1, 1, 1, 384, 44100, 417}, {2, 1, 8, 0, 0, 2, 3, 64, 22050, 208},
                         {2, 1, 8, 0, 1, 2, 3, 64, 22050, 209},   {2, 2, 8, 1, 0, 2, 2, 64, 24000, 192},
                         {2, 3, 4, 0, 1, 2, 1, 64, 22050, 69},    {0, 1, 4, 2, 0, 3, 3, 32, 8000, 288}};
    for (const Ints& r : rows) {
        std::uint32_t value = Make(r[0], r[1], r[2], r[3], r[4]);
        TMpegHeader h;
        DecodeMpegHeader(value, h);
        EXPECT_TRUE(IsMpegHeader(value)) << std::hex << value;
        EXPECT_EQ((Ints{h.Version, h.Layer, h.Bitrate, h.SampleRate, h.FrameLength}), Ints(r.begin() + 5, r.end()));
    }
    // emphasis 2, bitrate index 0 and 15, rate index 3, version id 1, layer id 0
    for (std::uint32_t value : {Make(3, 1, 9, 0, 0, 0x66), Make(3, 1, 0, 0, 0), Make(3, 1, 15, 0, 0),
                                Make(3, 1, 9, 3, 0), Make(1, 1, 9, 0, 0), Make(3, 0, 9, 0, 0)})
        EXPECT_FALSE(IsMpegHeader(value)) << std::hex << value;
}

TEST(FrameHeader, DecodesIntoExactFormatRecords)
{
    TMpegHeader h;
    DecodeMpegHeader(Value(H1), h);
    EXPECT_EQ((Ints{h.Version, h.Layer, h.Protection, h.Bitrate, h.SampleRate, h.ChannelMode, h.ModeExtension,
                    h.PaddingBit, h.PrivateBit, h.CopyrightBit, h.OriginalBit, h.Emphasis, h.FrameLength}),
              (Ints{1, 3, 0, 128, 44100, 1, 10, 0, 0, 0, 1, 0, 417}));
    TMpegWaveFormat f;
    EXPECT_EQ(Record(Value(H1), f), L3Record);
    EXPECT_EQ(Record(Value(H2), f), Hex("50 00 02 00 80 BB 00 00 C0 5D 00 00 40 02 10 00 16 00 02 00 00 DC 05 00 "
                                        "01 00 04 00 00 00 18 00 00 00 00 00 00 00 00 00"));
    Record(Value(Hex("FF FD A4 C4")), f); // single channel
    EXPECT_EQ((Ints{f.nChannels, f.fwHeadMode, int(f.dwHeadBitrate)}), (Ints{1, 8, 192000}));
}

TEST(Names, ReplaceExtensionLooksOnlyAtTheLastComponent)
{
    for (auto names : {std::make_pair("C:\\a.b\\song", "C:\\a.b\\song.wav"), {"/x.y/song", "/x.y/song.wav"},
                       {"song.", "song.wav"}, {"song.mp3", "song.wav"}})
        EXPECT_EQ(ReplaceExtension(names.first, "wav"), names.second);
}

class FileTest : public TempDirTest {
protected:
    TFile file = NoFile;
    TFile Open(const std::string& bytes)
    {
        CloseFile(file);
        WriteFile(dir + "/a.mp3", bytes);
        return file = OpenForReading(dir + "/a.mp3");
    }
    void TearDown() override { CloseFile(file), TempDirTest::TearDown(); }
    // The layer of the header found and where the file stands; (0, -1) for an all-zero header.
    std::pair<int, std::int64_t> Find(const std::string& bytes)
    {
        TMpegHeader h, zero;
        std::memset(&zero, 0, sizeof zero);
        FindFirstMpegHeader(Open(bytes), h);
        return std::memcmp(&h, &zero, sizeof h) ? std::make_pair(h.Layer, GetFilePosition(file)) : std::make_pair(0, std::int64_t(-1));
    }
};
using Found = std::pair<int, std::int64_t>;

TEST_F(FileTest, FindsTheFirstHeaderAfterAnId3v2Tag)
{
    EXPECT_EQ(Find(Z(1000) + H1 + Z(100)), Found(3, 1000));
    EXPECT_EQ(Find(Z(100) + H1), Found(3, 100));
    EXPECT_EQ(Find(Z(10) + H2 + H1), Found(2, 10));
    for (const std::string& none : {Z(5000), H1, Z(3) + H1, std::string()})
        EXPECT_EQ(Find(none), Found(0, -1));
    for (std::size_t at : {61436, 61437, 61438, 61439, 61440, 122876, 122877, 122878})
        EXPECT_EQ(Find(Z(at) + H1 + Z(5)), Found(3, at)) << at;
    // A leading ID3v2 tag is skipped only when it fits the file.
    const std::string body = Z(20) + H1 + Z(76);
    EXPECT_EQ(Find(Hex("49 44 33 03 00 00 00 00 00 64") + body + H2 + Z(8)), Found(2, 110));
    EXPECT_EQ(Find(Hex("49 44 33 03 00 10 00 00 00 64") + body + H1 + Z(6) + H2), Found(2, 120)); // footer
    EXPECT_EQ(Find(Hex("49 44 33 03 00 00 00 00 07 68") + body + H2), Found(3, 30)); // 1000 bytes claimed
}

TEST_F(FileTest, ReadsId3v1Tags)
{
    TWaveListInfo info;
    EXPECT_FALSE(ReadId3Info(Open(Z(10) + "tag" + Tag("Song", "", "", "", 17).substr(3)), info));
    EXPECT_FALSE(ReadId3Info(Open(Tag("Song", "", "", "", 17)), info));
    ASSERT_TRUE(ReadId3Info(Open(Z(10) + Tag("   Word   ", "Band", "1999", Z(29) + "\x07", 17)), info));
    EXPECT_EQ((std::vector<std::string>{info.Text[INAM], info.Text[IART], info.Text[ICRD], info.Text[ISBJ],
                                        info.Text[IGNR], info.Text[ICMT]}),
              (std::vector<std::string>{"Word", "Band", "1999", "7", "Rock", ""}));
    ASSERT_TRUE(ReadId3Info(Open(Z(10) + Tag(std::string(30, 'T'), "Band", "", "", 0)), info));
    EXPECT_EQ(info.Text[INAM], std::string(30, 'T'));
    EXPECT_EQ(info.Text[ISBJ], "0");
    info.Text[ISBJ] = "kept";
    ASSERT_TRUE(ReadId3Info(Open(Z(10) + Tag("", "", "", std::string(30, 'C'), 0)), info));
    EXPECT_EQ(info.Text[ICMT], std::string(30, 'C'));
    EXPECT_EQ(info.Text[ISBJ], "kept");
    EXPECT_EQ(GetId3GenreName(133), "Negerpunk");
    for (int genre : {148, 149, 255})
        EXPECT_EQ(GetId3GenreName(std::uint8_t(genre)), "Unknown") << genre;
}

class Convert : public TempDirTest {
protected:
    bool Run(const std::string& mp3)
    {
        WriteFile(dir + "/song.mp3", mp3);
        return ConvertMpegToWave(NoWindow, dir + "/song.mp3", false);
    }
    // song.wav: the 70-byte head, the audio, a pad byte after odd audio, LIST/INFO with Items.
    void ExpectWave(const std::string& audio, std::uint32_t fact, const std::string& items)
    {
        const std::string wav = ReadFile(dir + "/song.wav"), list = Chunk("LIST", "INFO" + items);
        ASSERT_EQ(wav.size(), 70 + audio.size() + audio.size() % 2 + list.size());
        EXPECT_EQ(wav.substr(0, 70), "RIFF" + Le32(std::uint32_t(wav.size() - 8)) + "WAVE" + Chunk("fmt ", L3Record) +
                                         Chunk("fact", Le32(fact)) + "data" + Le32(std::uint32_t(audio.size())));
        EXPECT_TRUE(wav.compare(70, audio.size(), audio) == 0);
        EXPECT_EQ(wav.substr(70 + audio.size()), Z(audio.size() % 2) + list);
    }
};

TEST_F(Convert, WritesTheWavedMpegLayout)
{
    EXPECT_EQ(CreditText, Credit);
    const std::string audio = H1 + Z(3999996);
    ASSERT_TRUE(Run(audio + Tag("Song", "Band", "1999", Z(29) + "\x07", 17)));
    ExpectWave(audio, 11025000, Item("IART", "Band") + Item("ICOP", Credit) + Item("ICRD", "1999") +
                                    Item("IGNR", "Rock") + Item("INAM", "Song") + Item("ISBJ", "7") + Item("ISFT", "Korvane"));
}

TEST_F(Convert, OddAudioAfterJunkWithoutTagReplacesTheOldOutput)
{
    WriteFile(dir + "/song.wav", "old");
    const std::string audio = H1 + Z(3999995);
    ASSERT_TRUE(Run(Z(1000) + audio));
    ExpectWave(audio, 10980900, Item("ICOP", Credit) + Item("ISFT", "Korvane"));
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"song.mp3", "song.wav"}));
}

TEST_F(Convert, FailureKeepsTheOldOutputAndLeavesNothingBehind)
{
    // Not MPEG audio; the only header lies inside the trailing tag.
    for (const std::string& mp3 : {std::string("Just text.\n"), Z(200) + Tag(H1, "", "", "", 0)}) {
        ::unlink((dir + "/song.wav").c_str());
        EXPECT_FALSE(Run(mp3));
        EXPECT_EQ(Listing(dir), (std::set<std::string>{"song.mp3"}));
        WriteFile(dir + "/song.wav", "old");
        EXPECT_FALSE(Run(mp3));
        EXPECT_EQ(ReadFile(dir + "/song.wav"), "old");
        EXPECT_EQ(Listing(dir), (std::set<std::string>{"song.mp3", "song.wav"}));
    }
}

TEST_F(Convert, RefusesAnOutputNameThatLinksToTheSource)
{
    ASSERT_EQ(::symlink("song.mp3", (dir + "/song.wav").c_str()), 0);
    const std::string mp3 = H1 + Z(5000);
    EXPECT_FALSE(Run(mp3));
    EXPECT_EQ(ReadFile(dir + "/song.mp3"), mp3);
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"song.mp3", "song.wav"}));
}
