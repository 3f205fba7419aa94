// FrameWalk: the frame count of an MPEG audio stream, taken from the blocks
// that the copier reads anyway, so the audio is read once.
#include "FrameWalk.h"

#include "MP3Unit.h"

#include <cstring>

namespace {
// The walk sees a block and, before it, the tail of the blocks before: the
// byte at Position is in one or the other.
struct TView {
    const TFrameWalk& Walk;
    const std::uint8_t* Block;
    std::int64_t BlockStart;
    std::uint8_t At(std::int64_t position) const
    {
        return position < BlockStart ? Walk.Tail[position - Walk.TailStart]
                                     : Block[position - BlockStart];
    }
    std::uint32_t Value(std::int64_t position) const
    {
        return std::uint32_t(At(position)) | std::uint32_t(At(position + 1)) << 8 |
               std::uint32_t(At(position + 2)) << 16 | std::uint32_t(At(position + 3)) << 24;
    }
};

// The bytes of the frame whose header value is Value when it is a usable
// header of the first frame's stream, else 0: what IsNextMpegHeader and
// MpegFrameBytes would say, from the table of the stream's frame sizes.
std::int32_t NextFrameBytes(const TFrameWalk& walk, std::uint32_t value)
{
    const bool usable = (value & 0xE0FF) == 0xE0FF && ((value ^ walk.First) & 0x000C1E00) == 0 &&
                        (value >> 24 & 3) != 2;
    return usable ? walk.Sizes[(value >> 20 & 15) << 1 | (value >> 17 & 1)] : 0;
}

// The frame sizes of the first frame's stream by bit rate index and padding
// bit; 0 for an unusable index, and all 0 when the first header is unusable.
void MakeSizeTable(TFrameWalk& walk)
{
    for (std::uint32_t i = 0; i < 32; ++i) {
        const std::uint32_t value = (walk.First & ~0x00F20000u) | (i >> 1) << 20 | (i & 1) << 17;
        TMpegHeader header;
        DecodeMpegHeader(value, header);
        walk.Sizes[i] = IsMpegHeader(walk.First) && IsMpegHeader(value) ? MpegFrameBytes(header) : 0;
    }
}

// Counts the frames that follow each other wholly within the block from Next
// on, the state kept in locals (the walk of a long stream is mostly this);
// stops before the first frame it cannot take so, which Walk then decides.
void WalkInStep(TFrameWalk& walk, const TView& view, std::int64_t available)
{
    std::int64_t next = walk.Next, frames = walk.Frames, frameBytes = walk.FrameBytes;
    std::uint32_t differ = 0, padded = 0; // the bits of the counted headers
    while (next >= view.BlockStart && next + 4 <= available) {
        const std::uint8_t* p = view.Block + (next - view.BlockStart);
        const std::uint32_t value = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                    std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
        const std::int32_t bytes = NextFrameBytes(walk, value);
        if (bytes <= 0 || next + bytes > walk.Length)
            break;
        differ |= value ^ walk.First;
        padded |= value;
        frames += 1;
        frameBytes += bytes;
        next += bytes;
    }
    // Same version and layer: the same bit rate index is the same bit rate.
    walk.Variable = walk.Variable || (differ & 0x00F00000) != 0;
    walk.ModeVaries = walk.ModeVaries || (differ & 0xC0000000) != 0;
    walk.Padded = walk.Padded || (padded & 0x00020000) != 0;
    walk.Next = next;
    walk.Frames = frames;
    walk.FrameBytes = frameBytes;
}

// Takes every decision that the bytes up to Available allow. Next only ever
// grows, or stays while a header found by the search turns into the frame
// that is counted next, so the walk ends.
void Walk(TFrameWalk& walk, const TView& view, std::int64_t available)
{
    for (;;) {
        if (walk.InStep)
            WalkInStep(walk, view, available);
        const std::int64_t at = walk.Next;
        if (at + 4 > available)
            return;
        const std::uint32_t value = view.Value(at);
        const std::int32_t bytes = NextFrameBytes(walk, value);
        const std::int64_t end = at + bytes;
        if (walk.InStep) {
            if (bytes > 0 && end <= walk.Length) {
                // Same version and layer: the same bit rate index is the same bit rate.
                walk.Variable = walk.Variable || ((value ^ walk.First) & 0x00F00000) != 0;
                walk.ModeVaries = walk.ModeVaries || ((value ^ walk.First) & 0xC0000000) != 0;
                walk.Padded = walk.Padded || (value & 0x00020000) != 0;
                walk.Frames += 1;
                walk.FrameBytes += bytes;
                walk.Next = end;
            } else {
                walk.InStep = false; // a damaged stretch, a cut frame or a tag: search on
                walk.Next = at + 1;
            }
            continue;
        }
        bool trusted = false;
        if (bytes > 0 && (end == walk.Length || end + 4 <= walk.Length)) {
            if (end != walk.Length && end + 4 > available)
                return; // the next frame's header is not here yet
            trusted = end == walk.Length || NextFrameBytes(walk, view.Value(end)) > 0;
        }
        if (trusted)
            walk.InStep = true;
        else
            walk.Next = at + 1;
    }
}
} // namespace

void BeginFrameWalk(TFrameWalk& walk, std::int64_t length)
{
    std::memset(&walk, 0, sizeof walk);
    walk.Length = length;
    walk.InStep = true;
}

void FeedFrameWalk(TFrameWalk& walk, const std::uint8_t* data, std::int32_t count)
{
    const std::int64_t blockStart = walk.Fed;
    if (count <= 0 || blockStart >= walk.Length)
        return;
    if (count > walk.Length - blockStart)
        count = std::int32_t(walk.Length - blockStart);
    walk.Fed += count;
    const TView view = {walk, data, blockStart};
    if (blockStart < 4 && walk.Fed >= 4) { // the first four bytes have come
        walk.First = view.Value(0);
        MakeSizeTable(walk);
    }
    if (walk.Fed >= 4)
        Walk(walk, view, walk.Fed);
    // Keep what a later decision needs: the bytes from Next on. Each decision
    // looks at most one frame and four bytes ahead, so they fit the tail.
    std::int64_t keepFrom = walk.Next > walk.TailStart ? walk.Next : walk.TailStart;
    if (walk.Fed - keepFrom > std::int64_t(sizeof walk.Tail)) {
        keepFrom = walk.Fed - std::int64_t(sizeof walk.Tail); // never so; the walk stays in bounds
        walk.Next = keepFrom;
        walk.InStep = false;
    }
    const std::int64_t keep = walk.Fed > keepFrom ? walk.Fed - keepFrom : 0;
    std::uint8_t kept[sizeof walk.Tail];
    for (std::int64_t i = 0; i < keep; ++i)
        kept[i] = view.At(keepFrom + i);
    std::memcpy(walk.Tail, kept, std::size_t(keep));
    walk.TailStart = keep > 0 ? keepFrom : walk.Fed;
}

std::int64_t GetWalkSamples(const TFrameWalk& walk)
{
    TMpegHeader first;
    DecodeMpegHeader(walk.First, first);
    return walk.Frames * MpegFrameSamples(first);
}

bool GetVariableRate(const TFrameWalk& walk, std::uint32_t& samples, std::uint32_t& bytesPerSecond)
{
    if (!walk.Variable || walk.Frames == 0)
        return false;
    TMpegHeader first;
    DecodeMpegHeader(walk.First, first);
    const std::int64_t total = GetWalkSamples(walk);
    samples = total > 0xFFFFFFFF ? 0xFFFFFFFFu : std::uint32_t(total);
    // bytes x rate / samples, rounded to the nearest integer
    bytesPerSecond = std::uint32_t((2 * walk.FrameBytes * first.SampleRate + total) / (2 * total));
    return true;
}
