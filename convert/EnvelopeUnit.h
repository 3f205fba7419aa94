// EnvelopeUnit: where the audio starts and ends, where it fades out for a
// segue, and its peak envelope, read from the decoded samples as they pass
// (the meter's decoder feeds them; nothing of the audio is held).
// Positions count samples per channel from the first decoded sample, as the
// `cart` timers and the `levl` chunk give them.
#pragma once

#include "DirectWin32.h"

#include <cstdint>
#include <string>
#include <vector>

// What a run asks for: levels in dBFS, each with whether it was given.
struct TEnvelopeChoices {
    bool Trim = false;       // AUDs/AUDe where the audio first and last reaches TrimLevel
    double TrimLevel = 0;
    bool Segue = false;      // SEGs/SEGe where the 100 ms peaks fall below SegueLevel for good
    double SegueLevel = 0;
    bool Peaks = false;      // a `levl` chunk after `data`
};

const int PeakBlockSamples = 256;      // samples per channel of one peak value
const std::int32_t LevlHeaderSize = 120; // the `levl` body before its peaks

// The peak values' writer: the next bytes of the envelope, in order; false
// when they could not be written.
typedef bool (*TPeakWriter)(void* context, const std::uint8_t* data, std::int32_t count);

// One stream's scan. Opened with the choices and, for Peaks, the writer of
// the envelope's bytes.
struct TEnvelopeScan {
    TEnvelopeChoices Choices;
    float TrimLinear = 0, SegueLinear = 0;
    int Channels = 0;
    std::int64_t SegueBlock = 0;         // samples per channel of one segue block (100 ms)
    std::int64_t Position = 0;           // samples per channel scanned
    std::int64_t FirstLoud = -1, LastLoud = -1;       // samples reaching the trim level
    // The segue blocks: the peak of the one being read, and the latest
    // blocks that reached the segue level (start and end), one of them
    // already known to lie before the last loud sample.
    float BlockPeak = 0;
    std::int64_t BlockLeft = 0;
    std::int64_t LoudBlockStart = -1, LoudBlockEnd = -1, SegueBefore = -1;
    // The envelope: the current peak frame, the peak of peaks, and the bytes
    // waiting for the writer.
    float PeakHigh[2] = {}, PeakLow[2] = {};
    int PeakLeft = PeakBlockSamples;
    float Largest = 0;
    std::int64_t LargestAt = -1;
    std::int64_t PeakFrames = 0;
    std::vector<std::uint8_t> Pending;
    TPeakWriter Writer = nullptr;
    void* WriterContext = nullptr;
    bool WriteFailed = false;
};

// Whether Text is a level the options take: a number of dBFS from -96 to 0,
// with at most two decimals ("-40", "-30.5"); its value into Level.
bool ReadLevel(const std::string& text, double& level);

// A level as the options take it: "-40", "-30.5".
std::string LevelText(double level);

void OpenEnvelopeScan(TEnvelopeScan& scan, const TEnvelopeChoices& choices, TPeakWriter writer, void* context);
// The decoder's format, told before its first samples.
void SetEnvelopeFormat(TEnvelopeScan& scan, int channels, long rate);
// Count samples per channel, interleaved floats in -1 .. 1.
void ScanSamples(TEnvelopeScan& scan, const float* samples, std::int64_t count);

// What the scan found for a stream of Samples samples per channel.
struct TEnvelopeMarks {
    std::uint32_t AudioStart = 0, AudioEnd = 0; // AUDs, AUDe
    bool Reached = true;       // the audio reached the trim level (always, without Trim)
    bool HasSegue = false;
    std::uint32_t SegueStart = 0, SegueEnd = 0; // SEGs, SEGe
    std::int64_t PeakFrames = 0;                // of the levl chunk
    std::uint32_t PeakOfPeaks = 0xFFFFFFFF;     // the first sample of the largest value
};
// Ends the scan: the last partial peak frame goes to the writer. False when
// a write of the envelope failed.
bool CloseEnvelopeScan(TEnvelopeScan& scan, std::int64_t samples, TEnvelopeMarks& marks);

// The `levl` chunk's head and header (version 1, 16-bit values, two points
// per value, blocks of 256 samples) for Channels channels; its peaks follow.
std::string LevlHeadBytes(const TEnvelopeMarks& marks, int channels, const TDateTime& made);
// The whole `levl` chunk's size, head included, for Samples samples.
std::int64_t LevlChunkSize(std::int64_t samples, int channels);
