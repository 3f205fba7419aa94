// /Info's reader: a playout system's file told line by line, and hostile
// files told as damaged (or as no WAV file) without a crash.
#include "TestFiles.h"

#include "InfoUnit.h"

namespace {
std::string Riff(const std::string& chunks, const char* form = "RIFF")
{
    return form + Le32(std::uint32_t(chunks.size() + 4)) + "WAVE" + chunks;
}

// A peak envelope: its header (8- or 16-bit values, two points per value,
// 256 samples per value, two channels, Frames peak frames), then Peaks.
std::string Levl(int format, std::uint32_t frames, const std::string& peaks, std::uint32_t offset = 128)
{
    return Chunk("levl", Le32(1) + Le32(format) + Le32(2) + Le32(256) + Le32(2) + Le32(frames) + Le32(700) +
                             Le32(offset) + Field("2026:01:02:03:04:05:006", 28) + Z(60) + peaks);
}

// The file a playout system keeps: a stream of three frames with bext
// (version 2), mext, cart with four timers, JUNK, levl after the data, and INFO.
std::string Playout()
{
    std::string loudness;
    for (int value : {-2300, 520, -100, 0x7FFF, -2050})
        loudness += Le16(std::uint16_t(value));
    const std::string bext = Field("Acme - Winter Sale", 256) + Field("Radio One", 32) + Field("ZZKVN0001", 32) +
                             "2026-01-0203:04:05" + Le32(44100) + Le32(1) + Le16(2) + Hex("01 02") + Z(62) +
                             loudness + Z(180) + "A=MPEG1L3,F=44100,B=128,M=joint-stereo\r\nT=two\xE9\r\n";
    const std::string cart = "0101" + Field("Winter Sale", 64) + Field("Acme", 64) + Field("1234", 64) +
                             Field("ACME", 64) + Field("COM", 64) + Field("Spot", 64) + Field("at Acme today", 64) +
                             "2026-12-2406:00:002027-01-0623:59:59" + Field("Playout", 64) + Field("2.1", 64) +
                             Field("u1", 64) + Le32(std::uint32_t(-2000)) + "AUDs" + Le32(0) + "SEGs" + Le32(1152) +
                             "SEGe" + Le32(2304) + "AUDe" + Le32(3456) + Z(32 + 276) +
                             Field("http://example.org/a", 1024) + "one\r\ntwo\r\n";
    std::string peaks;
    for (int value : {100, 90, 30000, 20000, 5, 6, 7, 8, 1, 2, 3, 4, 29999, 0, 0, 0})
        peaks += Le16(std::uint16_t(value));
    return Riff(Chunk("fmt ", Fmt55) + Chunk("fact", Le32(3456)) + Chunk("bext", bext) +
                Chunk("mext", Le16(7) + Le16(417) + Le16(0) + Le16(5) + Z(4)) + Chunk("cart", cart) +
                Chunk("JUNK", Z(28)) + Chunk("data", FrameRun(3)) + Levl(2, 4, peaks) +
                Chunk("LIST", "INFO" + Item("INAM", "Winter Sale") + Item("ICMT", "Caf\xE9\tx") + Item("IART", "")));
}

class Info : public TempDirTest {
protected:
    std::string text;
    bool Describe(const std::string& bytes)
    {
        WriteFile(dir + "/x.wav", bytes);
        TFile file = OpenForReading(dir + "/x.wav");
        const bool described = DescribeWaveFile(file, "x.wav", text);
        EXPECT_TRUE(CloseFile(file));
        return described;
    }
};
} // namespace

TEST_F(Info, PlayoutFileLineByLine)
{
    ASSERT_TRUE(Describe(Playout()));
    EXPECT_EQ(text,
              "File: x.wav\nContainer: RIFF WAVE, 4320 bytes, RIFF size 4312\n"
              "Format: MPEG-1 Layer III, 44100 Hz, joint stereo, 128 kbit/s\nLength: 3456 samples, 0.078 s\nFrames: 3\n"
              "Chunk: fmt  30 bytes at 12\nfmt FormatTag: 0x0055\nfmt Channels: 2\nfmt SamplesPerSec: 44100\n"
              "fmt AvgBytesPerSec: 16000\nfmt BlockAlign: 1\nfmt BitsPerSample: 0\nfmt ExtraSize: 12\nfmt ID: 1\n"
              "fmt Flags: 0x00000002\nfmt BlockSize: 417\nfmt FramesPerBlock: 1\nfmt CodecDelay: 1393\n"
              "Chunk: fact 4 bytes at 50\nfact SampleLength: 3456\n"
              "Chunk: bext 650 bytes at 62\nbext Description: Acme - Winter Sale\nbext Originator: Radio One\n"
              "bext OriginatorReference: ZZKVN0001\nbext OriginationDate: 2026-01-02\nbext OriginationTime: 03:04:05\n"
              "bext TimeReference: 4295011396 samples\nbext Version: 2\nbext UMID: 0102" + std::string(124, '0') + "\n"
              "bext LoudnessValue: -23.00 LUFS\nbext LoudnessRange: 5.20 LU\nbext MaxTruePeakLevel: -1.00 dBTP\n"
              "bext MaxMomentaryLoudness: n/a\nbext MaxShortTermLoudness: -20.50 LUFS\n"
              "bext CodingHistory: A=MPEG1L3,F=44100,B=128,M=joint-stereo\nbext CodingHistory: T=two?\n"
              "Chunk: mext 12 bytes at 720\n"
              "mext SoundInformation: 0x0007 (homogeneous, padding bit never set, padding bit never set at 22.05 or 44.1 kHz)\n"
              "mext FrameSize: 417\nmext AncillaryDataLength: 0\n"
              "mext AncillaryDataDef: 0x0005 (left or mono energy, right energy)\n"
              "Chunk: cart 2058 bytes at 740\ncart Version: 0101\ncart Title: Winter Sale\ncart Artist: Acme\n"
              "cart CutID: 1234\ncart ClientID: ACME\ncart Category: COM\ncart Classification: Spot\n"
              "cart OutCue: at Acme today\ncart StartDate: 2026-12-24\ncart StartTime: 06:00:00\n"
              "cart EndDate: 2027-01-06\ncart EndTime: 23:59:59\ncart ProducerAppID: Playout\n"
              "cart ProducerAppVersion: 2.1\ncart UserDef: u1\ncart LevelReference: -2000\n"
              "cart Timer AUDs: 0 samples, 0.000 s\ncart Timer SEGs: 1152 samples, 0.026 s\n"
              "cart Timer SEGe: 2304 samples, 0.052 s\ncart Timer AUDe: 3456 samples, 0.078 s\n"
              "cart URL: http://example.org/a\ncart TagText: one\ncart TagText: two\n"
              "Chunk: JUNK 28 bytes at 2806\nChunk: data 1251 bytes at 2842\n"
              "Chunk: levl 152 bytes at 4102\nlevl Version: 1\nlevl Format: 2\nlevl PointsPerValue: 2\n"
              "levl BlockSize: 256 samples\nlevl Channels: 2\nlevl PeakFrames: 4\nlevl PeakOfPeaks: 700 (sample frame)\n"
              "levl Offset: 128\nlevl TimeStamp: 2026:01:02:03:04:05:006\nlevl PeakData: 32 bytes\nlevl LargestPeak: 30000\n"
              "Chunk: LIST 50 bytes at 4262\nLIST Type: INFO\nINFO INAM: Winter Sale\nINFO ICMT: Caf??x\nINFO IART: \n");
}

TEST_F(Info, HostileFilesAreToldDamagedOrNoWave)
{
    const std::string mpeg = Chunk("fmt ", Fmt55) + Chunk("data", FrameRun(2));
    const std::string peaks = Z(30);
    const struct {
        std::string bytes;
        std::vector<std::string> lines; // lines the text holds; none: no WAV file
    } rows[] = {
        {"", {}}, {Z(12), {}}, {"RIFF" + Le32(4) + "AVI ", {}}, {FrameRun(3), {}}, {"RIFF" + Le32(4) + "WAV", {}},
        {Riff("fmt " + Le32(30) + Fmt55.substr(0, 20)),
         {"Format: MPEG (0x0055), no MPEG frame in the data", "Damaged: the fmt  chunk runs 10 bytes past the end of the file"}},
        {Riff(Chunk("fmt ", Fmt55) + "data" + Le32(5000) + FrameRun(2)),
         {"Length: 2304 samples, 0.052 s", "Chunk: data 5000 bytes at 50",
          "Damaged: the data chunk runs 4166 bytes past the end of the file"}},
        {Riff(Chunk("fmt ", Fmt55.substr(0, 14)) + Chunk("fact", "ab")),
         {"Format: unknown, the fmt chunk is too short", "Damaged: the fmt  chunk holds 14 bytes, fewer than the 16 of its fixed part",
          "Damaged: the fact chunk holds 2 bytes, fewer than the 4 of its fixed part"}},
        // An odd size without its pad byte puts the walk off; one at the end wants none.
        {Riff("odd " + Le32(1) + "x" + Chunk("fmt ", Fmt55)), {"Format: unknown, no fmt chunk", "Chunk: mt ? 1426063360 bytes at 22"}},
        {Riff(mpeg + Chunk("odd ", "x").substr(0, 9)), {"Length: 2304 samples, 0.052 s", "Chunk: odd  1 bytes at 892"}},
        {Riff(mpeg + "ab"), {"Damaged: 2 bytes after the last chunk, too few for a chunk"}},
        {Riff(mpeg + Levl(2, 4, peaks)), {"levl PeakData: 30 bytes", "Damaged: the levl peak data holds 30 bytes, not 4 x 2 x 2 x 2 = 32",
                                          "levl LargestPeak: 0"}},
        {Riff(Levl(3, 4, peaks)), {"Damaged: the levl format 3 is neither 1 (8-bit) nor 2 (16-bit)"}},
        {Riff(Levl(1, 0xFFFFFFFF, "\x7F\x80")), {"Damaged: the levl peak data holds 2 bytes, not 4294967295 x 2 x 2 x 1 = 17179869180",
                                                 "levl LargestPeak: 128"}},
        {Riff(Levl(2, 1, peaks, 127)), {"Damaged: the levl peaks start at byte 127, outside the chunk"}},
        {Riff(Levl(2, 1, peaks, 159)), {"Damaged: the levl peaks start at byte 159, outside the chunk"}},
        {Riff(Chunk("cart", "0101" + Z(96))), {"Damaged: the cart chunk holds 100 bytes, fewer than the 2048 of its fixed part"}},
        {Riff(Chunk("bext", Z(601)) + Chunk("mext", Z(11)) + Chunk("levl", Z(119)) + Chunk("LIST", "IN")),
         {"Damaged: the bext chunk holds 601 bytes, fewer than the 602 of its fixed part", "Chunk: mext 11 bytes at 622",
          "Damaged: the levl chunk holds 119 bytes, fewer than the 120 of its fixed part", "Chunk: LIST 2 bytes at 770"}},
        {Riff(Chunk("LIST", "INFO" + Item("INAM", "a") + "IART" + Le32(9) + "b")),
         {"INFO INAM: a", "Damaged: the INFO item IART runs 8 bytes past its LIST chunk"}},
        {Riff(Chunk("LIST", "adtl" + Item("labl", "x"))), {"LIST Type: adtl", "Chunk: LIST 14 bytes at 12"}},
        // RF64: sizes from a whole ds64 first, else the data's size runs past the end.
        {Riff(Chunk("ds64", Z(20)) + Chunk("fmt ", Fmt55) + "data" + Le32(0xFFFFFFFF) + FrameRun(1), "RF64"),
         {"Damaged: the ds64 chunk holds 20 bytes, fewer than the 28 of its fixed part",
          "Damaged: the data chunk runs 4294966878 bytes past the end of the file"}},
        {Riff(Chunk("fmt ", Fmt55) + "data" + Le32(0xFFFFFFFF) + FrameRun(1), "BW64"),
         {"Damaged: the BW64 file does not start with a ds64 chunk", "Chunk: data 4294967295 bytes at 50"}},
        {Riff(Chunk("ds64", Z(8) + Le32(417) + Z(4) + Le32(1152) + Z(4) + Le32(2) + "JUNK" + Le32(4) + Z(4)) +
                  "JUNK" + Le32(0xFFFFFFFF) + Z(4) + Chunk("fmt ", Fmt55) + "data" + Le32(0xFFFFFFFF) + FrameRun(1), "RF64"),
         {"ds64 DataSize: 417", "ds64 TableLength: 2", "ds64 Table JUNK: 4 bytes",
          "Damaged: the ds64 table of 2 entries runs past its chunk", "Chunk: JUNK 4 bytes at 60",
          "Length: 1152 samples, 0.026 s", "Chunk: data 417 bytes at 110"}},
        {Riff(Chunk("fmt ", Hex("01 00 01 00 40 1F 00 00 80 3E 00 00 02 00 10 00")) + Chunk("data", Z(8001))),
         {"Format: PCM, 8000 Hz, 1 channel, 16 bits", "Length: 4000 samples, 0.500 s"}},
        {Riff(Chunk("fmt ", Hex("11 00 02 00 22 56 00 00 00 00 00 00 00 02 04 00")) + Chunk("fact", Le32(22050))),
         {"Format: 0x0011, 22050 Hz, 2 channels, 4 bits", "Length: 22050 samples, 1.000 s (fact)"}},
        {Riff(Chunk("fmt ", Fmt55) + Chunk("data", Z(1000))), {"Format: MPEG (0x0055), no MPEG frame in the data", "Length: unknown"}},
        {Riff(Chunk("fmt ", Fmt55) + Chunk("data", Z(37) + FrameRun(2))), {"Frames: 2, the first 37 bytes into the data"}},
    };
    std::string many, items;
    for (int i = 0; i < 10001; ++i) {
        many += Chunk("tiny", "");
        items += Item("INAM", "");
    }
    // So many chunks or INFO items tell of a hostile file: the first 10000 are shown.
    for (const auto& row : {std::make_pair(many + Chunk("LIST", "INFO" + items), "Chunk: tiny 0 bytes at 80004\n"
                                                                                 "Damaged: chunks:"),
                            {Chunk("LIST", "INFO" + items), "INFO INAM: \nDamaged: INFO items:"}}) {
        const std::string end = row.second + std::string(" more than 10000; the rest is not shown\n");
        EXPECT_TRUE(Describe(Riff(row.first)));
        EXPECT_EQ(text.substr(text.size() - end.size()), end);
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.bytes.substr(0, 40)));
        EXPECT_EQ(Describe(row.bytes), !row.lines.empty());
        for (const std::string& line : row.lines)
            EXPECT_NE(("\n" + text).find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
        EXPECT_EQ(text.find("\n\n"), std::string::npos);
    }
}
