// LoudnessUnit: the loudness of an MPEG audio stream, measured while it is
// copied. libmpg123 decodes the copier's blocks as they pass (the file is
// read once) and libebur128 meters the samples as EBU R 128 asks (K-weighting,
// gating, the loudness range, true peak at 4x oversampling) in its histogram
// mode, so that memory stays the same however long the stream.
#pragma once

#include <cstdint>
#include <string>

// The five values a Broadcast WAVE's `bext` (version 2) carries, in its order.
enum TLoudnessValue {
    LoudIntegrated,  // LUFS
    LoudRange,       // LU
    LoudTruePeak,    // dBTP
    LoudMomentary,   // the largest momentary loudness, LUFS
    LoudShortTerm,   // the largest short-term loudness, LUFS
    LoudValueCount
};

// What was measured. A value that does not exist (the integrated loudness of
// digital silence, the range of a stream shorter than one short-term block)
// has Exists false.
struct TLoudness {
    double Value[LoudValueCount] = {};
    bool Exists[LoudValueCount] = {};
    std::int64_t Samples = 0;     // decoded samples per channel
    std::int64_t Undecoded = 0;   // frames the decoder could not decode
};

// `bext`'s field for a value: hundredths, rounded to the nearest, or 0x7FFF
// when the value does not exist.
std::int16_t LoudnessHundredths(const TLoudness& loudness, TLoudnessValue value);

struct TMeter;

// Whether the decoder can be had (on Windows: its DLL beside the program
// loads and has what the meter needs). Loaded once, on first need.
bool DecoderAvailable();
struct TEnvelopeScan;
// A meter for one stream, measuring its loudness when Loudness is set and
// handing the decoded samples to Scan when there is one; null when the
// decoder is not available.
TMeter* OpenMeter(bool loudness, TEnvelopeScan* scan = nullptr);
// The stream's next bytes, in order (a block reader of the copier).
void FeedMeter(void* meter, const std::uint8_t* data, std::int32_t count);
// The values, with the frames the decoder could not decode out of the Frames
// that the frame walk counted, each of FrameSamples samples. Closes the meter.
// False when not one sample could be decoded.
bool CloseMeter(TMeter* meter, std::int64_t frames, std::int32_t frameSamples, TLoudness& result);

// What the summary line says of a measured file: the integrated loudness,
// the range and the true peak with one decimal (from bext's hundredths), and the frames the decoder
// could not decode when there were some: Format has a %s for each of the
// three values, NoValue stands for a value that does not exist, and
// Undecodable has one %s for the count.
std::string LoudnessText(const TLoudness& loudness, const std::string& format, const std::string& noValue,
                         const std::string& undecodable);
