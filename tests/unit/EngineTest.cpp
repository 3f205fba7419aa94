// The engine: frame headers, format records, the search for the first frame,
// ID3v1.1 tags and the byte layout of a WAVed MPEG.
#include "TestFiles.h"

#include "FrameWalk.h"
#include "MP3Unit.h"
#include "MpegToWave.h"

#include <unistd.h>
#include <vector>

namespace {
const std::string Credit = "Korvane 1.0 - (c) 2026 the Korvane developers";
using Ints = std::vector<int>;

std::string Record(std::uint32_t value, TMpegWaveFormat& format)
{
    TMpegHeader header;
    DecodeMpegHeader(value, header);
    MakeMpegWaveFormat(header, format);
    std::uint8_t out[MpegWaveFormatMaxSize];
    return std::string(reinterpret_cast<char*>(out), std::size_t(SerializeMpegWaveFormat(format, out)));
}
} // namespace

TEST(FrameHeader, LengthsUnusableValuesAndFormatRecords)
{
    // version id, layer id, bitrate index, rate index, padding -> version, layer, kbit/s, Hz, length
    const Ints rows[] = {{3, 1, 9, 0, 1, 1, 3, 128, 44100, 418}, {3, 2, 10, 1, 0, 1, 2, 192, 48000, 576},
                         {3, 3, 12, 0, 1, 1, 1, 384, 44100, 417}, {2, 1, 8, 0, 0, 2, 3, 64, 22050, 208},
                         {2, 1, 8, 0, 1, 2, 3, 64, 22050, 209},   {2, 2, 8, 1, 0, 2, 2, 64, 24000, 192},
                         {2, 3, 4, 0, 1, 2, 1, 64, 22050, 69},    {0, 1, 4, 2, 0, 3, 3, 32, 8000, 288}};
    for (const Ints& r : rows) {
        std::uint32_t value = Make(r[0], r[1], r[2], r[3], r[4]);
        TMpegHeader h;
        DecodeMpegHeader(value, h);
        EXPECT_TRUE(IsMpegHeader(value)) << std::hex << value;
        EXPECT_EQ((Ints{h.Version, h.Layer, h.Bitrate, h.SampleRate, h.FrameLength}),
                  Ints(r.begin() + 5, r.end()));
    }
    // emphasis 2, bitrate index 0 and 15, rate index 3, version id 1, layer id 0
    for (std::uint32_t value : {Make(3, 1, 9, 0, 0, 0x66), Make(3, 1, 0, 0, 0), Make(3, 1, 15, 0, 0),
                                Make(3, 1, 9, 3, 0), Make(1, 1, 9, 0, 0), Make(3, 0, 9, 0, 0)})
        EXPECT_FALSE(IsMpegHeader(value)) << std::hex << value;
    TMpegWaveFormat f;
    EXPECT_EQ(Record(Make(3, 2, 10, 1, 0, 0x04), f), Fmt50); // H2
    Record(Make(3, 2, 10, 1, 0, 0xE5), f); // single channel, mode extension 2, emphasis 1
    EXPECT_EQ((Ints{f.nChannels, f.fwHeadMode, f.fwHeadModeExt, f.wHeadEmphasis, int(f.dwHeadBitrate)}),
              (Ints{1, 8, 6, 1, 192000}));
}

TEST(Names, ReplaceExtensionLooksOnlyAtTheLastComponent)
{
    for (auto names : {std::make_pair("C:\\a.b\\song", "C:\\a.b\\song.wav"), {"/x.y/song", "/x.y/song.wav"},
                       {"song.", "song.wav"}, {"song.mp3", "song.wav"}})
        EXPECT_EQ(ReplaceExtension(names.first, "wav"), names.second);
}

using Found = std::pair<int, std::int64_t>;
class Files : public TempDirTest {
protected:
    TFile file = NoFile;
    TFile Open(const std::string& bytes)
    {
        CloseFile(file);
        WriteFile(dir + "/a.mp3", bytes);
        return file = OpenForReading(dir + "/a.mp3");
    }
    void TearDown() override { CloseFile(file), TempDirTest::TearDown(); }
    // The layer of the header found and where the file stands; (0, -1) when none was found.
    Found Find(const std::string& bytes)
    {
        TMpegHeader h;
        FindFirstMpegHeader(Open(bytes), h);
        return {h.Layer, h.Layer ? GetFilePosition(file) : -1};
    }
    bool Convert(const std::string& mp3)
    {
        WriteFile(dir + "/song.mp3", mp3);
        return ConvertMpegToWave(NoWindow, dir + "/song.mp3", false);
    }
};

TEST_F(Files, FindsTheFirstConfirmedHeaderAfterAnId3v2Tag)
{
    const std::string one = H1 + Z(413), two = FrameRun(2), layer2 = H2 + Z(572) + H2 + Z(572);
    // One frame that ends the audio (before a closing tag, too); a lone false sync before a stream.
    EXPECT_EQ(Find(Z(100) + one), Found(3, 100));
    EXPECT_EQ(Find(one + Tag("", "", "", "", 0)), Found(3, 0));
    EXPECT_EQ(Find(Z(50) + H2 + Z(50) + two), Found(3, 104));
    for (const std::string& none : {Z(5000), H1, Z(3) + H1, std::string(), Z(9) + one + "x", H1 + Z(5000)})
        EXPECT_EQ(Find(none), Found(0, -1));
    // A next header that differs from the first only in sample rate, version or layer, or in its sync.
    for (std::uint32_t other : {Make(3, 1, 9, 1, 0), Make(2, 1, 9, 0, 0), Make(3, 2, 9, 0, 0), Make(3, 1, 9, 0, 0) ^ 1})
        EXPECT_EQ(Find(one + Le32(other)), Found(0, -1)) << std::hex << other;
    // Headers, and the next frame's header, before, across and after the read buffer's boundaries.
    for (std::size_t at : {1000, 61100, 61436, 61437, 61438, 61439, 61440, 122876, 122877, 122878})
        EXPECT_EQ(Find(Z(at) + two + Z(5)), Found(3, at)) << at;
    // A leading ID3v2 tag is skipped only when it fits the file; the frames inside it do not count.
    auto id3 = [](int flags, int size) { return "ID3" + std::string{3, 0, char(flags), 0, 0, char(size >> 7), char(size & 127)}; };
    EXPECT_EQ(Find(id3(0, 834) + two + layer2), Found(2, 844));
    EXPECT_EQ(Find(id3(0x10, 834) + two + Z(10) + layer2), Found(2, 854)); // footer
    EXPECT_EQ(Find(id3(0, 5000) + two + layer2), Found(3, 10));            // claims more than the file
}

TEST_F(Files, ReadsId3v1Tags)
{
    TWaveListInfo info;
    // Only "TAG" in upper case, and only behind at least one byte of audio.
    EXPECT_FALSE(ReadId3Info(Open(Z(10) + "tag" + Tag("Song", "", "", "", 17).substr(3)), info));
    EXPECT_FALSE(ReadId3Info(Open(Tag("Song", "", "", "", 17)), info));
    ASSERT_TRUE(ReadId3Info(Open(Z(10) + Tag(std::string(30, 'T'), "  Band ", "", "", 0)), info));
    EXPECT_EQ((std::vector<std::string>{info.Text[INAM], info.Text[IART], info.Text[ISBJ]}),
              (std::vector<std::string>{std::string(30, 'T'), "Band", "0"}));
    // A comment of 30 bytes leaves no room for a track: ISBJ is left alone.
    info.Text[ISBJ] = "kept";
    ASSERT_TRUE(ReadId3Info(Open(Z(10) + Tag("", "", "", std::string(30, 'C'), 0)), info));
    EXPECT_EQ(info.Text[ICMT], std::string(30, 'C'));
    EXPECT_EQ(info.Text[ISBJ], "kept");
    for (int genre : {148, 149, 255})
        EXPECT_EQ(GetId3GenreName(std::uint8_t(genre)), "Unknown") << genre;
}

TEST_F(Files, WritesTheWavedMpegLayout)
{
    // song.wav: the 70-byte head, the audio, a pad byte after odd audio, LIST/INFO with the items.
    auto expectWave = [this](const std::string& audio, std::uint32_t fact, const std::string& items) {
        const std::string wav = ReadFile(dir + "/song.wav"), size = Le32(std::uint32_t(audio.size()));
        EXPECT_EQ(wav.substr(0, 70), "RIFF" + Le32(std::uint32_t(wav.size() - 8)) + "WAVE" +
                                         Chunk("fmt ", Fmt55) + Chunk("fact", Le32(fact)) + "data" + size);
        EXPECT_TRUE(wav.compare(70, audio.size(), audio) == 0);
        EXPECT_EQ(wav.substr(70 + audio.size()),
                  Z(audio.size() % 2) + Chunk("LIST", "INFO" + items + Item("ISFT", "Korvane")));
    };
    std::string audio = FrameRun(9592) + Z(136);
    ASSERT_TRUE(Convert(audio + Tag("Song", "Band", "1999", Z(29) + "\x07", 17)));
    expectWave(audio, 11025000, Item("IART", "Band") + Item("ICOP", Credit) + Item("ICRD", "1999") +
                                    Item("IGNR", "Rock") + Item("INAM", "Song") + Item("ISBJ", "7"));
    // Odd audio after junk and without a tag replaces the first output.
    audio.pop_back();
    ASSERT_TRUE(Convert(Z(1000) + audio));
    expectWave(audio, 10980900, Item("ICOP", Credit));
}

TEST(WaveHead, RiffUpTo4GiBThenRf64WithDs64)
{
    TWaveHeader h = {};
    Record(Make(3, 1, 9, 0, 0), h.Format);
    h.Info.Text[ISFT] = "Korvane";
    // The largest even audio length whose file's RIFF size fits 32 bits, then one
    // byte more, which brings a pad byte: 70 bytes of head, the audio, LIST.
    const std::int64_t fits = (0xFFFFFFFFll + 8 - 70 - 28) / 2 * 2; // LIST: INFO and the ISFT item
    for (std::int64_t length : {fits, fits + 1}) {
        h.AudioLength = length;
        const std::int64_t size = PlanWaveFile(h);
        EXPECT_EQ(h.Rf64, length > fits);
        EXPECT_EQ(size, (h.Rf64 ? 106 : 70) + length + length % 2 + 28);
    }
    h.AudioLength = (5ll << 30) + 1;
    h.FileSize = PlanWaveFile(h);
    h.SampleCount = 23456789012ll;
    h.FactValue = 1234;
    auto le64 = [](std::int64_t v) { return Le32(std::uint32_t(v)) + Le32(std::uint32_t(v >> 32)); };
    EXPECT_EQ(WaveHeadBytes(h), "RF64" + Le32(0xFFFFFFFF) + "WAVE" + "ds64" + Le32(28) + le64(h.FileSize - 8) +
                                    le64(h.AudioLength) + le64(h.SampleCount) + Le32(0) + Chunk("fmt ", Fmt55) +
                                    Chunk("fact", Le32(0xFFFFFFFF)) + "data" + Le32(0xFFFFFFFF));
}

TEST_F(Files, AnOutputNameThatLinksToTheSourceIsRefused)
{
    // The source is left alone. (A failure keeping an older output is the command line's test.)
    ASSERT_EQ(::symlink("song.mp3", (dir + "/song.wav").c_str()), 0);
    EXPECT_FALSE(Convert(FrameRun(12)));
    EXPECT_EQ(ReadFile(dir + "/song.mp3"), FrameRun(12));
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"song.mp3", "song.wav"}));
}

TEST(FrameWalk, CountsTheFramesADecoderPlays)
{
    // MPEG-1 layer III at 128, 64 and 320 kbit/s: 417, 208 and 1044 bytes.
    const std::string a = Frame(Make(3, 1, 9, 0, 0)), b = Frame(Make(3, 1, 5, 0, 0)), c = Frame(Make(3, 1, 14, 0, 0));
    const std::string vbr = a + b + c + a, falseSync = "xyz" + H1 + Z(30) + H2;
    // MPEG-2 layer II at 24 kHz (384 and 192 bytes), padded MPEG-1 layer I (420 and 136 bytes):
    // frames whose length is not the format record's block size.
    const std::string l2 = Frame(Make(2, 2, 8, 1, 0)) + Frame(Make(2, 2, 4, 1, 0)), l1 = Frame(Make(3, 3, 12, 0, 1)) + Frame(Make(3, 3, 4, 0, 0));
    const struct { std::string audio; Ints counted; } rows[] = {
        // audio -> frames, their bytes, variable, and for VBR the fact value and byte rate
        {vbr, {4, 2086, 1, 4608, 19964}},
        {a + b + falseSync + c + a, {4, 2086, 1, 4608, 19964}}, // garbage with a false sync in the middle
        {vbr + a.substr(0, 200), {4, 2086, 1, 4608, 19964}},     // a cut last frame
        {vbr + "APETAGEX" + Z(24) + H1, {4, 2086, 1, 4608, 19964}},
        {l2 + l2.substr(0, 384), {3, 960, 1, 3456, 6667}},
        {l1 + l1.substr(0, 420) + "x", {3, 976, 1, 1152, 37363}},
        {FrameRun(3), {3, 1251, 0}},
        {a + b.substr(0, 100), {1, 417, 0}}, // only the first frame is whole: one bit rate
        {Z(5000) + vbr, {0, 0, 0}},           // no header where the audio starts
        // a frame of another sample rate, version or layer, without the sync word, or of emphasis 2
        {a + Frame(Make(3, 1, 5, 1, 0)) + a, {2, 834, 0}}, {a + Frame(Make(2, 1, 5, 0, 0)) + a, {2, 834, 0}},
        {a + Frame(Make(3, 2, 5, 0, 0)) + a, {2, 834, 0}}, {a + Frame(Make(3, 1, 9, 0, 0) ^ 1) + a, {2, 834, 0}},
        {a + Frame(Make(3, 1, 9, 0, 0, 0x66)) + a, {2, 834, 0}},
    };
    for (const auto& row : rows)
        for (std::int32_t block : {1, 7, 416, 61440}) {
            TFrameWalk walk;
            BeginFrameWalk(walk, std::int64_t(row.audio.size()));
            for (std::size_t at = 0; at < row.audio.size(); at += std::size_t(block))
                FeedFrameWalk(walk, reinterpret_cast<const std::uint8_t*>(row.audio.data() + at),
                              std::int32_t(std::min<std::size_t>(std::size_t(block), row.audio.size() - at)));
            std::uint32_t samples = 0, rate = 0;
            Ints got = {int(walk.Frames), int(walk.FrameBytes), walk.Variable};
            if (GetVariableRate(walk, samples, rate))
                got.insert(got.end(), {int(samples), int(rate)});
            EXPECT_EQ(got, row.counted) << row.audio.size() << " bytes in blocks of " << block;
        }
    // 2 GB of small frames: the sample count is kept at the largest 32-bit value.
    TFrameWalk walk;
    BeginFrameWalk(walk, 1);
    walk.First = Make(3, 1, 1, 0, 0), walk.Variable = true, walk.Frames = 20000000, walk.FrameBytes = 2000000000;
    std::uint32_t samples = 0, rate = 0;
    EXPECT_TRUE(GetVariableRate(walk, samples, rate));
    EXPECT_EQ((std::vector<std::uint32_t>{samples, rate}), (std::vector<std::uint32_t>{0xFFFFFFFF, 3828}));
}

TEST_F(Files, AVbrStreamGetsItsTrueLengthAndByteRate)
{
    // Frames of 128 and 320 kbit/s: every byte as for one bit rate but the byte rate and the fact value.
    const std::string audio = FrameRun(3) + Frame(Make(3, 1, 14, 0, 0)) + FrameRun(1);
    ASSERT_TRUE(Convert(Z(9) + audio + Tag("Song", "", "", "", 17)));
    std::string fmt = Fmt55;
    fmt.replace(8, 4, Le32(20764)); // 2712 bytes in 5 x 1152 samples at 44100 Hz
    const std::string wav = ReadFile(dir + "/song.wav");
    EXPECT_EQ(wav.substr(0, 70), "RIFF" + Le32(std::uint32_t(wav.size() - 8)) + "WAVE" + Chunk("fmt ", fmt) +
                                     Chunk("fact", Le32(5760)) + "data" + Le32(std::uint32_t(audio.size())));
    EXPECT_TRUE(wav.compare(70, audio.size(), audio) == 0);
}
