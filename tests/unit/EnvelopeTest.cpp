// The audio's start, end and segue timers and its peak envelope: the scan
// on made-up samples fed in uneven pieces, the levl bytes, the levels the
// options take, and a whole conversion with /Trim, /Segue and /Peaks.
#include "TestFiles.h"

#include "EnvelopeUnit.h"
#include "MpegToWave.h"

#include <cmath>
#include <functional>
#include <map>
#include <vector>

namespace {
// A signal of Channels channels: the value of each sample frame.
struct Signal {
    int channels;
    std::int64_t frames;
    std::function<float(std::int64_t frame, int channel)> value;
};

// Feeds the signal in pieces of 1, 7, 300 and 4099 frames by turns, as the
// decoder hands over frames of any size.
void Feed(TEnvelopeScan& scan, const Signal& signal)
{
    static const std::int64_t pieces[] = {1, 7, 300, 4099};
    std::vector<float> buffer;
    for (std::int64_t at = 0, turn = 0; at < signal.frames; ++turn) {
        const std::int64_t count = std::min(pieces[turn % 4], signal.frames - at);
        buffer.clear();
        for (std::int64_t n = 0; n < count; ++n)
            for (int c = 0; c < signal.channels; ++c)
                buffer.push_back(signal.value(at + n, c));
        ScanSamples(scan, buffer.data(), count);
        at += count;
    }
}

bool Collect(void* bytes, const std::uint8_t* data, std::int32_t count)
{
    static_cast<std::string*>(bytes)->append(reinterpret_cast<const char*>(data), std::size_t(count));
    return true;
}

bool Refuse(void*, const std::uint8_t*, std::int32_t) { return false; }

TEnvelopeMarks Scan(const Signal& signal, const TEnvelopeChoices& choices, std::string* peaks = nullptr)
{
    TEnvelopeScan scan;
    std::string unused;
    OpenEnvelopeScan(scan, choices, Collect, peaks != nullptr ? peaks : &unused);
    SetEnvelopeFormat(scan, signal.channels, 8000); // segue blocks of 800 samples
    Feed(scan, signal);
    TEnvelopeMarks marks;
    EXPECT_TRUE(CloseEnvelopeScan(scan, signal.frames, marks));
    return marks;
}

TEnvelopeChoices Levels(bool trim, double trimLevel, bool segue, double segueLevel)
{
    TEnvelopeChoices choices;
    choices.Trim = trim;
    choices.TrimLevel = trimLevel;
    choices.Segue = segue;
    choices.SegueLevel = segueLevel;
    return choices;
}

// Steps: 0.5 (-6 dBFS) over [Start, Loud), 0.02 (-34 dBFS) up to Soft,
// 0.005 (-46 dBFS) up to Faint, silence after; in the last channel alone.
Signal Steps(int channels, std::int64_t start, std::int64_t loud, std::int64_t soft, std::int64_t faint,
             std::int64_t frames)
{
    return {channels, frames, [=](std::int64_t n, int c) {
                const float level = n < start ? 0 : n < loud ? 0.5f : n < soft ? 0.02f : n < faint ? 0.005f : 0;
                return c == channels - 1 ? (n % 2 ? level : -level) : 0.0f;
            }};
}
} // namespace

TEST(Envelope, TimersFollowTheLevels)
{
    struct Row {
        const char* what;
        Signal signal;
        TEnvelopeChoices choices;
        std::uint32_t start, end;
        bool reached, segue;
        std::uint32_t segueStart;
    } rows[] = {
        {"stereo, trim at -40", Steps(2, 1000, 16000, 24000, 30000, 40000), Levels(true, -40, false, 0), 1000,
         24000, true, false, 0},
        {"segue where the 100 ms peaks fall below -30", Steps(2, 1000, 16100, 24000, 30000, 40000),
         Levels(true, -40, true, -30), 1000, 24000, true, true, 16800},
        {"mono, the faint tail above the trim level", Steps(1, 1000, 16000, 24000, 30000, 40000),
         Levels(true, -50, true, -30), 1000, 30000, true, true, 16000},
        {"no trim: the whole length, the segue measured to the end", Steps(2, 1000, 16000, 24000, 30000, 40000),
         Levels(false, 0, true, -30), 0, 40000, true, true, 16000},
        {"never reaches the trim level", Steps(2, 1000, 1000, 1000, 30000, 40000), Levels(true, -40, true, -30), 0,
         40000, false, false, 0},
        {"loud to the end: no segue", Steps(2, 1000, 40000, 40000, 40000, 40000), Levels(true, -40, true, -30),
         1000, 40000, true, false, 0},
        {"the loud part ends in the block that holds the end", Steps(2, 1000, 23900, 24000, 24000, 40000),
         Levels(true, -40, true, -30), 1000, 24000, true, false, 0},
        {"a segue level below the trim level: blocks after the end do not count",
         Steps(2, 1000, 16000, 24000, 30000, 40000), Levels(true, -30, true, -50), 1000, 16000, true, false, 0},
        {"silence", Steps(2, 0, 0, 0, 0, 5000), Levels(true, -40, true, -30), 0, 5000, false, false, 0},
    };
    for (const Row& row : rows) {
        const TEnvelopeMarks marks = Scan(row.signal, row.choices);
        EXPECT_EQ(marks.AudioStart, row.start) << row.what;
        EXPECT_EQ(marks.AudioEnd, row.end) << row.what;
        EXPECT_EQ(marks.Reached, row.reached) << row.what;
        EXPECT_EQ(marks.HasSegue, row.segue) << row.what;
        if (row.segue) {
            EXPECT_EQ(marks.SegueStart, row.segueStart) << row.what;
            EXPECT_EQ(marks.SegueEnd, row.end) << row.what;
        }
    }
}

TEST(Envelope, PeaksPerChannelAndBlock)
{
    // Channel 0 swings +0.5/-0.25 in the first block and is silent after;
    // channel 1 holds -1.0 (beyond full scale on the negative side) at frame
    // 300 and 0.75 from frame 600 on; 700 frames make three peak frames, the
    // last one partial.
    const Signal signal = {2, 700, [](std::int64_t n, int c) {
                               if (c == 0)
                                   return n < 256 ? (n % 2 ? 0.5f : -0.25f) : 0.0f;
                               return n == 300 ? -1.0f : n >= 600 ? 0.75f : 0.0f;
                           }};
    TEnvelopeChoices choices;
    choices.Peaks = true;
    std::string peaks;
    const TEnvelopeMarks marks = Scan(signal, choices, &peaks);
    const auto pair = [](int high, int low) { return std::string{char(high), char(high >> 8), char(low), char(low >> 8)}; };
    EXPECT_EQ(peaks, pair(16384, 8192) + pair(0, 0) +   // 0.5 * 32767 rounds to 16384
                         pair(0, 0) + pair(0, 32767) +  // -1.0 as the negative peak
                         pair(0, 0) + pair(24575, 0));  // 0.75
    EXPECT_EQ(marks.PeakFrames, 3);
    EXPECT_EQ(marks.PeakOfPeaks, 300u);

    const TDateTime made = {2026, 12, 8, 9, 5, 7};
    const std::string head = LevlHeadBytes(marks, 2, made);
    EXPECT_EQ(head, "levl" + Le32(120 + 3 * 2 * 4) + Le32(1) + Le32(2) + Le32(2) + Le32(256) + Le32(2) + Le32(3) +
                        Le32(300) + Le32(128) + "2026:12:08:09:05:07:000" + Z(5) + Z(60));
    EXPECT_EQ(LevlChunkSize(700, 2), 8 + 120 + 3 * 8);
    EXPECT_EQ(LevlChunkSize(768, 1), 8 + 120 + 3 * 4);
}

TEST(Envelope, AWriteOfTheEnvelopeThatFailsFailsTheScan)
{
    TEnvelopeChoices choices;
    choices.Peaks = true;
    TEnvelopeScan scan;
    OpenEnvelopeScan(scan, choices, Refuse, nullptr);
    SetEnvelopeFormat(scan, 2, 44100);
    const std::vector<float> samples(2 * 300, 0.25f);
    ScanSamples(scan, samples.data(), 300);
    TEnvelopeMarks marks;
    EXPECT_FALSE(CloseEnvelopeScan(scan, 300, marks));
    EXPECT_EQ(marks.PeakOfPeaks, 0u); // the first sample of the largest value
}

TEST(Envelope, LevelsTheOptionsTake)
{
    const struct {
        const char* text;
        bool taken;
        double level;
    } rows[] = {{"-40", true, -40},  {"0", true, 0},       {"-0", true, 0},       {"-30.5", true, -30.5},
                {"-12.25", true, -12.25}, {"-96", true, -96}, {"-96.01", false, 0}, {"-97", false, 0},
                {"40", false, 0},     {"-40.", false, 0},  {"-.5", false, 0},     {"-40.125", false, 0},
                {"", false, 0},       {"-", false, 0},     {"-40dB", false, 0},   {" -40", false, 0},
                {"-1000", false, 0},  {"+3", false, 0}};
    for (const auto& row : rows) {
        double level = 1;
        EXPECT_EQ(ReadLevel(row.text, level), row.taken) << row.text;
        if (row.taken)
            EXPECT_EQ(level, row.level) << row.text;
    }
    EXPECT_EQ(LevelText(-40), "-40");
    EXPECT_EQ(LevelText(-30.5), "-30.5");
    EXPECT_EQ(LevelText(-0.0), "0");
}

namespace {
class EnvelopeConversion : public TempDirTest {};
}

TEST_F(EnvelopeConversion, TimersAndEnvelopeAroundTheUntouchedAudio)
{
    // The sample: 3 s of a mono 32 kHz chime, 32 kbit/s, with an ID3v1.1 tag.
    const std::string source = ReadFile(KORVANE_SAMPLE);
    ASSERT_GT(source.size(), 128u);
    const std::string audio = source.substr(0, source.size() - 128);
    WriteFile(dir + "/tone.mp3", source);
    TRunChoices choices;
    choices.Broadcast = true;
    choices.Envelope = Levels(true, -40, true, -20);
    choices.Envelope.Peaks = true;
    ASSERT_TRUE(ConvertMpegToWave(NoWindow, dir + "/tone.mp3", false, choices));
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"tone.mp3", "tone.wav"})); // no spool file left
    const std::string wav = ReadFile(dir + "/tone.wav");
    ASSERT_GT(wav.size(), 12u);
    EXPECT_EQ(wav.substr(4, 4), Le32(std::uint32_t(wav.size() - 8)));
    std::vector<std::string> order;
    std::map<std::string, std::string> body;
    for (const auto& chunk : Chunks(wav)) {
        order.push_back(chunk.first);
        body[chunk.first] = chunk.second;
    }
    EXPECT_EQ(order, (std::vector<std::string>{"fmt ", "fact", "bext", "mext", "cart", "data", "levl", "LIST"}));
    EXPECT_EQ(body["data"], audio);
    const std::string& levl = body["levl"];
    const std::string& cart = body["cart"];
    // 3 s at 32 kHz and the encoder's padding in frames of 1152: 85 frames,
    // 97920 samples, 383 peak frames.
    const std::int64_t samples = 85 * 1152;
    ASSERT_EQ(levl.size(), 120u + 383 * 4);
    EXPECT_EQ(levl.substr(0, 24), Le32(1) + Le32(2) + Le32(2) + Le32(256) + Le32(1) + Le32(383));
    EXPECT_EQ(levl.substr(24, 4), Le32(LastMarks.PeakOfPeaks));
    EXPECT_LT(LastMarks.PeakOfPeaks, std::uint32_t(samples));
    // The chime starts at once and rings out; its second note starts loud
    // at 1.5 s (plus the decoder's delay), so its last 100 ms block above
    // -20 dBFS ends after that.
    ASSERT_TRUE(LastMarks.Reached && LastMarks.HasSegue);
    EXPECT_LT(LastMarks.AudioStart, 1152u);
    EXPECT_GT(LastMarks.AudioEnd, 2 * 32000u);
    EXPECT_LE(LastMarks.AudioEnd, std::uint32_t(samples));
    EXPECT_GT(LastMarks.SegueStart, 48000u);
    EXPECT_LT(LastMarks.SegueStart, LastMarks.AudioEnd);
    EXPECT_EQ(cart.substr(684, 32), "AUDs" + Le32(LastMarks.AudioStart) + "AUDe" + Le32(LastMarks.AudioEnd) +
                                        "SEGs" + Le32(LastMarks.SegueStart) + "SEGe" + Le32(LastMarks.AudioEnd));
    EXPECT_EQ(cart.substr(716, 32), Z(32));
}
