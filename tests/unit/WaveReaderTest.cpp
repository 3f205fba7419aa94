// Reading WAVed MPEGs back: the chunk walk and INFO reader on hostile files,
// the ID3v1.1 tag writer, and the conversion back to MPEG (real files there
// and back are the end-to-end test's, truncations the fuzz target's).
#include "TestFiles.h"

#include "MP3Unit.h"
#include "WaveToMpeg.h"

namespace {
const std::string Frames = H1 + std::string(413, 'a'); // one frame

std::string Riff(const std::string& body, std::uint32_t size = 0)
{
    return "RIFF" + Le32(size ? size : std::uint32_t(body.size() + 4)) + "WAVE" + body;
}
std::string Wave(const std::string& extra = "", const std::string& fmt = Fmt55)
{
    return Riff(Chunk("fmt ", fmt) + Chunk("fact", Le32(44100)) + Chunk("data", Frames) + extra);
}

class WaveReader : public TempDirTest {
protected:
    TWaveListInfo texts;
    int Scan(const std::string& bytes)
    {
        WriteFile(dir + "/x.wav", bytes);
        TFile file = OpenForReading(dir + "/x.wav");
        std::uint8_t format[WaveFormatBufferSize];
        std::int64_t fact = 0;
        TChunkSpan data{0, 0}, info{0, 0};
        int scan = ScanWaveFile(file, format, fact, data, info);
        ReadListInfo(file, info, texts);
        CloseFile(file);
        return scan;
    }
    bool Back(const char* wav) { return ConvertWaveToMpeg(NoWindow, dir + "/" + wav, WriteTagOption, false); }
};
} // namespace

// A ds64 chunk (RIFF size, data size, sample count, an empty table) with Table more bytes.
std::string Ds64(std::uint64_t data, const std::string& table = "")
{
    return Chunk("ds64", Le32(0) + Le32(0) + Le32(std::uint32_t(data)) + Le32(std::uint32_t(data >> 32)) +
                             Le32(4608) + Le32(0) + Le32(std::uint32_t(table.size() / 12)) + table);
}
// An RF64 file with Head after "WAVE" and the sizes its ds64 holds left at 0xFFFFFFFF.
std::string Rf64(const std::string& head, const char* form = "RF64")
{
    return form + Le32(0xFFFFFFFF) + "WAVE" + head + Chunk("fmt ", Fmt55) + Chunk("fact", Le32(0xFFFFFFFF)) +
           "data" + Le32(0xFFFFFFFF) + Frames;
}

TEST_F(WaveReader, ScanResultsOfHostileFiles)
{
    const std::pair<std::string, int> rows[] = {
        {"", 0}, {Z(3), 0}, {Z(7), 0}, {Z(127), 0}, {Wave(), 15}, {Wave(Chunk("LIST", "INFO")), 31},
        {Riff(Chunk("fmt ", Hex("01 00 02 00") + Z(12))), -2}, {"RIFF" + Le32(4) + "AVI " + Z(20), -1},
        {Riff(Chunk("fmt ", Fmt55), 0xFFFFFFFF), 3}, {Chunk("fmt ", Fmt55), 2},
        {Riff(Chunk("fact", Le32(0)) + Chunk("data", Frames)), 9}, // a WAVed MPEG of under a second
        {Riff(Chunk("fact", Le32(0x90000000)) + Chunk("data", Frames)), 13}, // a long stream's count
        {Riff(Chunk("fact", Z(5))), -3}, {Riff(Chunk("data", Frames) + Chunk("data", Frames)), 17},
        {Riff("data" + Le32(0x80000000) + Frames), 9}, {Riff("data" + Le32(5000) + Frames), 9},
        {Riff("data" + Le32(0xFFFFFFFF) + Frames), -4}, // RF64's "see ds64" in a plain RIFF file
        {Riff(Chunk("fmt ", Fmt55 + Z(21))), -2}, {Riff(Chunk("fmt ", Fmt55.substr(0, 14))), 3},
        {Riff("fmt " + Le32(0xFFFFFFFF) + Fmt55), -2}, {Riff("junk" + Le32(0xFFFFFFF7) + Z(64)), 1},
        {Riff("junk" + Le32(0xFFFFFFF8) + Z(64)), 1}, {Riff(Chunk("LIST", "ab") + Chunk("LIST", "adtl")), 1},
        {Riff(Chunk("odd ", "x") + Chunk("fmt ", Fmt55)), 3}, // pad byte after an odd body
        {Riff("odd " + Le32(1) + "x" + Chunk("fmt ", Fmt55)), 1}, // no pad: the walk is off
        {Riff(Chunk("odd ", "x")), 1}, {"RIFF" + Le32(0) + "WAVE" + Chunk("fmt ", Fmt55), 0},
        {Riff(Chunk("fmt ", Fmt55.substr(0, 16)) + Chunk("fmt ", Fmt55 + Z(20))), 3},
        {Riff(Chunk("data", Frames) + Chunk("fmt ", Fmt55)), 11},
        {Riff(Chunk("fact", Le32(9).substr(0, 1))), 5}, {Frames + Frames, 0}, // an MP3 named .wav
        // RF64 and BW64: the ds64 chunk first, whole, with sizes that are not negative
        {Rf64(Ds64(Frames.size())), 15}, {Rf64(Ds64(Frames.size()), "BW64"), 15},
        {Rf64(Ds64(Frames.size(), "JUNK" + Z(8))), 15}, {Rf64(Chunk("ds64", Z(20))), -4},
        {Rf64(Ds64(std::uint64_t(1) << 63)), -4}, {Rf64(Chunk("JUNK", Z(28)) + Ds64(Frames.size())), -4},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Scan(row.first), row.second) << testing::PrintToString(row.first.substr(0, 24));
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += "tiny" + Le32(1) + "xx";
    EXPECT_EQ(Scan(Riff(many + Chunk("fmt ", Fmt55))), 3);
}

TEST_F(WaveReader, InfoTextsFromHostileListChunks)
{
    const std::string big(65536, 'b');
    Scan(Wave(Chunk("LIST", "INFO" + Item("INAM", "Song") + Chunk("ICMT", "") +
                                Chunk("IART", {'a', '\0', 'b'}) + Chunk("ICRD", "1999") + Item("ISRF", big) +
                                Item("IXYZ", "skip") + Item("INAM", "Again"))));
    EXPECT_EQ(texts.Text[INAM], "Again");
    EXPECT_EQ(texts.Text[IART], std::string("a\0", 2));
    EXPECT_EQ(texts.Text[ICRD], "199");
    EXPECT_EQ(texts.Text[ISRF], big);
    // Sub-chunks, and LIST chunks, claiming more than their LIST or the file: bounded, no hang.
    for (std::uint32_t size : {0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFF7u}) {
        Scan(Wave("LIST" + Le32(64) + "INFO" + "INAM" + Le32(size) + "Song"));
        EXPECT_EQ(texts.Text[INAM], "Song") << size;
        Scan(Wave("LIST" + Le32(size) + "INFO" + Item("INAM", "Big") + Item("ITCH", "")));
        EXPECT_EQ(texts.Text[INAM], "Big") << size;
    }
}

TEST_F(WaveReader, TagWriterFieldsTrackAndGenre)
{
    // ISBJ, comment, genre -> bytes 97..127 of the tag written for texts wider than their fields
    const std::vector<std::vector<std::string>> rows = {
        {"5", std::string(30, 'c'), "Synthpop", std::string(28, 'c') + Hex("00 05 93")},
        {"", std::string(30, 'c'), "Blues", std::string(30, 'c') + Hex("00")},
        {"  $ff", "", "blues", Z(28) + Hex("00 FF 94")}, {"-1", "", "Unknown", Z(30) + Hex("94")},
        {"256", "", " Rock", Z(30) + Hex("94")}, {"7 ", "", "", Z(30) + Hex("94")},
        {"0", "", "Negerpunk", Z(28) + Hex("00 00 85")}};
    for (const auto& row : rows) {
        TWaveListInfo in;
        in.Text[INAM] = std::string(40, 't');
        in.Text[IART] = std::string(31, 'a');
        in.Text[ISRF] = std::string(99, 'l');
        in.Text[ICRD] = "19999";
        in.Text[ISBJ] = row[0];
        in.Text[ICMT] = row[1];
        in.Text[IGNR] = row[2];
        TFile file = CreateForWriting(dir + "/t.mp3");
        ASSERT_TRUE(WriteId3Tag(file, in));
        CloseFile(file);
        EXPECT_EQ(ReadFile(dir + "/t.mp3"), "TAG" + std::string(30, 't') + std::string(30, 'a') +
                                                std::string(30, 'l') + "1999" + row[3])
            << row[0] << '/' << row[2];
    }
}

TEST_F(WaveReader, BackConversion)
{
    for (auto back : {std::make_pair('\2', "mp2"), {'\1', "mp1"}, {'\7', "mpa"}}) { // 0x50 records by layer
        WriteFile(dir + "/x.wav", Wave("", Fmt50.substr(0, 18) + back.first + Fmt50.substr(19)));
        EXPECT_TRUE(Back("x.wav"));
        EXPECT_EQ(ReadFile(dir + "/x." + back.second), Frames) << back.second; // no LIST, no tag
    }
    // Refused, nothing written: PCM, no data chunk, a file too short.
    for (const auto& bad : {Riff(Chunk("fmt ", Hex("01 00") + Z(14)) + Chunk("data", Frames)),
                            Riff(Chunk("fmt ", Fmt55) + Chunk("fact", Le32(1))), Frames.substr(0, 7)}) {
        WriteFile(dir + "/y.wav", bad);
        EXPECT_FALSE(Back("y.wav"));
        EXPECT_EQ(Listing(dir).count("y.mp3"), 0u);
    }
    // A data size beyond the end, also from a ds64 chunk: the bytes that are there, no tag, failure.
    for (const auto& z : {Riff(Chunk("fmt ", Fmt55) + "data" + Le32(5000) + Frames + Chunk("LIST", "INFO")),
                          Rf64(Ds64(std::uint64_t(1) << 40))}) {
        WriteFile(dir + "/z.wav", z);
        EXPECT_FALSE(Back("z.wav"));
        EXPECT_EQ(ReadFile(dir + "/z.mp3"), Frames + (z[1] == 'I' ? Chunk("LIST", "INFO") : ""));
    }
    WriteFile(dir + "/r.wav", Rf64(Ds64(Frames.size()) + Chunk("JUNK", "x")) + Z(1) + Chunk("LIST", "INFO"));
    EXPECT_TRUE(Back("r.wav"));
    EXPECT_EQ(ReadFile(dir + "/r.mp3"), Frames + "TAG" + Z(124) + "\x94");
}
