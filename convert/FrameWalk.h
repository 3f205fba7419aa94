// FrameWalk: counts the frames of an MPEG audio stream while it is copied,
// block by block, so that a stream whose frames differ in bit rate (VBR) can
// be described by its true length and average byte rate.
#pragma once

#include <cstdint>

struct TFrameWalk {
    std::int64_t Length;       // the audio's bytes, from the first frame header on
    std::int64_t Fed;          // bytes handed to the walk so far
    std::uint32_t First;       // the first frame's header value
    std::int64_t Next;         // where the next header is due, or where the search for one goes on
    bool InStep;               // Next is where the frame before it ended
    std::int64_t Frames;       // frames counted
    std::int64_t FrameBytes;   // their bytes
    bool Variable;             // a counted frame has another bit rate than the first
    bool ModeVaries;           // a counted frame has another channel mode than the first
    bool Padded;               // a counted frame has its padding bit set
    std::int32_t Sizes[32];    // frame bytes by bit rate index and padding bit
    std::int64_t TailStart;    // the bytes from there to Fed, which a decision still needs
    std::uint8_t Tail[4096];
};

// Starts a walk over Length bytes of audio that begin with a frame header
// (audio that does not gets no frame counted).
void BeginFrameWalk(TFrameWalk& walk, std::int64_t length);
// The next Count bytes of the audio, in order. A frame counts when it has a
// usable header of the first frame's version, layer and sample rate and ends
// within the audio. Frames follow each other; where the next header is not
// where the frame before it ended, the walk searches on byte by byte, and
// trusts a header found there only when the next frame's header follows it
// (or its frame ends exactly where the audio ends). Bytes beyond Length are
// ignored.
void FeedFrameWalk(TFrameWalk& walk, const std::uint8_t* data, std::int32_t count);
// For a VBR stream (Variable), the exact sample count (kept to 32 bits) and
// the average byte rate of the frames counted; false for a stream of one bit
// rate, whose values stay those of its first frame.
bool GetVariableRate(const TFrameWalk& walk, std::uint32_t& samples, std::uint32_t& bytesPerSecond);
// The samples of the frames counted: frames times the samples of one frame.
std::int64_t GetWalkSamples(const TFrameWalk& walk);
