// EnvelopeUnit: the audio's start, end and segue points and its peak
// envelope, from the decoded samples.
#include "EnvelopeUnit.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
const std::size_t PendingBytes = 1 << 16; // envelope bytes gathered before a write

float Linear(double dbfs)
{
    return float(std::pow(10.0, dbfs / 20));
}

std::uint32_t Clamp32(std::int64_t value)
{
    return value < 0 ? 0 : value > 0xFFFFFFFF ? 0xFFFFFFFFu : std::uint32_t(value);
}

void PutLong(std::string& bytes, std::size_t offset, std::uint32_t value)
{
    for (int n = 0; n < 4; ++n)
        bytes[offset + std::size_t(n)] = char((value >> (8 * n)) & 0xFF);
}

bool Flush(TEnvelopeScan& scan)
{
    if (!scan.Pending.empty() && !scan.WriteFailed)
        scan.WriteFailed = !scan.Writer(scan.WriterContext, scan.Pending.data(), std::int32_t(scan.Pending.size()));
    scan.Pending.clear();
    return !scan.WriteFailed;
}

std::uint16_t PeakValue(float value)
{
    return std::uint16_t(value <= 0 ? 0 : value >= 1 ? 32767 : std::lround(value * 32767));
}

// The peak frame read so far goes to the envelope: per channel the positive
// peak, then the negative one as a positive value.
void EndPeakFrame(TEnvelopeScan& scan)
{
    for (int channel = 0; channel < scan.Channels; ++channel) {
        const std::uint16_t high = PeakValue(scan.PeakHigh[channel]);
        const std::uint16_t low = PeakValue(-scan.PeakLow[channel]);
        scan.Pending.insert(scan.Pending.end(), {std::uint8_t(high & 0xFF), std::uint8_t(high >> 8),
                                                 std::uint8_t(low & 0xFF), std::uint8_t(low >> 8)});
        scan.PeakHigh[channel] = scan.PeakLow[channel] = 0;
    }
    ++scan.PeakFrames;
    scan.PeakLeft = PeakBlockSamples;
    if (scan.Pending.size() >= PendingBytes)
        Flush(scan);
}

// A segue block ends at End with the peak read: the latest block that reached
// the segue level is remembered, and the one before it when it lies before
// the last sample that reached the trim level.
void EndSegueBlock(TEnvelopeScan& scan, std::int64_t start, std::int64_t end)
{
    if (scan.BlockPeak >= scan.SegueLinear) {
        if (scan.LoudBlockStart >= 0 && (!scan.Choices.Trim || scan.LoudBlockStart <= scan.LastLoud))
            scan.SegueBefore = scan.LoudBlockEnd;
        scan.LoudBlockStart = start;
        scan.LoudBlockEnd = end;
    }
    scan.BlockPeak = 0;
    scan.BlockLeft = scan.SegueBlock;
}

// Samples that lie in one peak frame and one segue block.
void ScanRun(TEnvelopeScan& scan, const float* samples, std::int64_t frames)
{
    const int channels = scan.Channels;
    const std::int64_t values = frames * channels;
    float high[2] = {}, low[2] = {}; // of this run alone
    if (channels == 2) {
        for (std::int64_t n = 0; n < values; n += 2) {
            high[0] = samples[n] > high[0] ? samples[n] : high[0];
            low[0] = samples[n] < low[0] ? samples[n] : low[0];
            high[1] = samples[n + 1] > high[1] ? samples[n + 1] : high[1];
            low[1] = samples[n + 1] < low[1] ? samples[n + 1] : low[1];
        }
    } else {
        for (std::int64_t n = 0; n < values; ++n) {
            high[0] = samples[n] > high[0] ? samples[n] : high[0];
            low[0] = samples[n] < low[0] ? samples[n] : low[0];
        }
    }
    float peak = 0;
    for (int channel = 0; channel < channels; ++channel) {
        scan.PeakHigh[channel] = std::fmax(scan.PeakHigh[channel], high[channel]);
        scan.PeakLow[channel] = std::fmin(scan.PeakLow[channel], low[channel]);
        peak = std::fmax(peak, std::fmax(high[channel], -low[channel]));
    }
    // The run's peak decides whether its samples must be looked at one by one.
    const auto loud = [&](std::int64_t frame, float level) {
        for (int channel = 0; channel < channels; ++channel)
            if (std::fabs(samples[frame * channels + channel]) >= level)
                return true;
        return false;
    };
    if (scan.Choices.Trim && peak >= scan.TrimLinear) {
        std::int64_t frame = 0;
        if (scan.FirstLoud < 0) {
            while (!loud(frame, scan.TrimLinear))
                ++frame;
            scan.FirstLoud = scan.Position + frame;
        }
        frame = frames - 1;
        while (!loud(frame, scan.TrimLinear))
            --frame;
        scan.LastLoud = scan.Position + frame;
    }
    if (peak > scan.Largest) {
        std::int64_t frame = 0;
        while (!loud(frame, peak))
            ++frame;
        scan.Largest = peak;
        scan.LargestAt = scan.Position + frame;
    }
    scan.BlockPeak = std::fmax(scan.BlockPeak, peak);
}
} // namespace

bool ReadLevel(const std::string& text, double& level)
{
    // "-40", "0", "-30.5", "-12.25": a sign for anything but 0, digits, and
    // at most two decimals.
    std::size_t at = 0, whole = 0, decimals = 0;
    bool point = false;
    if (at < text.size() && text[at] == '-')
        ++at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        ++whole;
    if (at < text.size() && text[at] == '.') {
        point = true;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
            ++decimals;
    }
    if (at != text.size() || whole == 0 || whole > 3 || decimals > 2 || (point && decimals == 0))
        return false;
    level = std::strtod(text.c_str(), nullptr);
    return level >= -96 && level <= 0;
}

std::string LevelText(double level)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", level);
    std::string shown = text;
    while (shown.back() == '0')
        shown.pop_back();
    if (shown.back() == '.')
        shown.pop_back();
    return shown == "-0" ? "0" : shown;
}

void OpenEnvelopeScan(TEnvelopeScan& scan, const TEnvelopeChoices& choices, TPeakWriter writer, void* context)
{
    scan = TEnvelopeScan();
    scan.Choices = choices;
    scan.TrimLinear = Linear(choices.TrimLevel);
    scan.SegueLinear = Linear(choices.SegueLevel);
    scan.Writer = writer;
    scan.WriterContext = context;
}

void SetEnvelopeFormat(TEnvelopeScan& scan, int channels, long rate)
{
    scan.Channels = channels;
    scan.SegueBlock = rate / 10 > 0 ? rate / 10 : 1;
    scan.BlockLeft = scan.SegueBlock;
}

void ScanSamples(TEnvelopeScan& scan, const float* samples, std::int64_t count)
{
    if (scan.Channels < 1 || scan.Channels > 2)
        return;
    while (count > 0) {
        std::int64_t take = count < scan.BlockLeft ? count : scan.BlockLeft;
        if (take > scan.PeakLeft)
            take = scan.PeakLeft;
        ScanRun(scan, samples, take);
        samples += take * scan.Channels;
        count -= take;
        scan.Position += take;
        scan.BlockLeft -= take;
        scan.PeakLeft -= int(take);
        if (scan.BlockLeft == 0)
            EndSegueBlock(scan, scan.Position - scan.SegueBlock, scan.Position);
        if (scan.PeakLeft == 0 && scan.Choices.Peaks)
            EndPeakFrame(scan);
        scan.PeakLeft = scan.PeakLeft == 0 ? PeakBlockSamples : scan.PeakLeft;
    }
}

bool CloseEnvelopeScan(TEnvelopeScan& scan, std::int64_t samples, TEnvelopeMarks& marks)
{
    marks = TEnvelopeMarks();
    if (scan.BlockLeft > 0 && scan.BlockLeft < scan.SegueBlock)
        EndSegueBlock(scan, scan.Position - (scan.SegueBlock - scan.BlockLeft), scan.Position);
    if (scan.Choices.Peaks && scan.PeakLeft < PeakBlockSamples)
        EndPeakFrame(scan);
    const bool written = !scan.Choices.Peaks || Flush(scan);
    std::int64_t start = 0, end = samples;
    if (scan.Choices.Trim) {
        marks.Reached = scan.FirstLoud >= 0 && scan.FirstLoud < samples;
        if (marks.Reached) {
            start = scan.FirstLoud;
            end = scan.LastLoud + 1 < samples ? scan.LastLoud + 1 : samples;
        }
    }
    marks.AudioStart = Clamp32(start);
    marks.AudioEnd = Clamp32(end);
    if (scan.Choices.Segue) {
        // The level falls below the segue level for good where the last block
        // that reached it, of those that start before the end, ends.
        const std::int64_t segue = scan.LoudBlockStart >= 0 && scan.LoudBlockStart < end ? scan.LoudBlockEnd
                                                                                           : scan.SegueBefore;
        marks.HasSegue = segue >= 0 && segue < end;
        if (marks.HasSegue) {
            marks.SegueStart = Clamp32(segue);
            marks.SegueEnd = marks.AudioEnd;
        }
    }
    marks.PeakFrames = (samples + PeakBlockSamples - 1) / PeakBlockSamples;
    if (scan.LargestAt >= 0 && scan.LargestAt < samples)
        marks.PeakOfPeaks = Clamp32(scan.LargestAt);
    return written;
}

std::string LevlHeadBytes(const TEnvelopeMarks& marks, int channels, const TDateTime& made)
{
    std::string bytes(8 + LevlHeaderSize, '\0');
    bytes.replace(0, 4, "levl");
    PutLong(bytes, 4, std::uint32_t(LevlChunkSize(marks.PeakFrames * PeakBlockSamples, channels) - 8));
    const std::uint32_t fields[] = {1,        // version
                                    2,        // 16-bit values
                                    2,        // the positive and the negative peak
                                    PeakBlockSamples,
                                    std::uint32_t(channels),
                                    Clamp32(marks.PeakFrames),
                                    marks.PeakOfPeaks,
                                    8 + LevlHeaderSize}; // the peaks' offset from the chunk's id
    for (std::size_t n = 0; n < sizeof fields / sizeof fields[0]; ++n)
        PutLong(bytes, 8 + 4 * n, fields[n]);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d:%02d:%02d:%02d:%02d:%02d:000", made.Year % 10000, made.Month % 100,
                  made.Day % 100, made.Hour % 100, made.Minute % 100, made.Second % 100);
    bytes.replace(8 + 32, 23, stamp, 23);
    return bytes;
}

std::int64_t LevlChunkSize(std::int64_t samples, int channels)
{
    const std::int64_t frames = (samples + PeakBlockSamples - 1) / PeakBlockSamples;
    return 8 + LevlHeaderSize + frames * channels * 4;
}
