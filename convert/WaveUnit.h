// WaveUnit: RIFF chunk records and the LIST/INFO chunk of a WAVed MPEG.
#pragma once

#include "DirectWin32.h"

#include <cstdint>
#include <string>

// The fourteen RIFF INFO texts, in the fixed order in which they are written.
enum TInfoField {
    IART, ICMT, ICOP, ICRD, IENG, IGNR, IKEY, IMED, INAM, ISBJ, ISFT, ISRC, ISRF, ITCH,
    InfoFieldCount
};

struct TWaveListInfo {
    std::string Text[InfoFieldCount];
};

// The chunk identifier of each INFO field, in TInfoField order.
extern const std::uint32_t InfoFieldIds[InfoFieldCount];

// The 8-byte head of every chunk.
struct TChunkHead {
    std::uint32_t Id;
    std::uint32_t Size;
};

// Where a chunk body lies; (0, 0) when the chunk was not found. 64-bit, as
// the `data` chunk of an RF64 file may pass 4 GiB.
struct TChunkSpan {
    std::int64_t Position;
    std::int64_t Size;
};

// The `ds64` chunk that begins an RF64 (or BW64) file: the sizes and the
// sample count that its 32-bit fields hold as 0xFFFFFFFF.
struct TDs64 {
    std::int64_t RiffSize;
    std::int64_t DataSize;
    std::int64_t SampleCount;
    std::int64_t BodySize; // the chunk's own size: the table of other sizes follows the three
};
const std::int32_t Ds64BodySize = 28; // three 64-bit values and an empty table's length
// The `ds64` chunk at the current position; false (all zero) when the chunk
// there is no ds64 whole, or holds a size that is negative as a 64-bit value.
bool ReadDs64Chunk(TFile file, TDs64& ds64);

// Where the Broadcast WAVE chunks whose texts the way back can use lie.
struct TBroadcastSpans {
    TChunkSpan Bext;
    TChunkSpan Cart;
};

// What ScanWaveFile met: values 1 (RIFF/WAVE, or RF64/WAVE with its ds64, assigned), 2 (`fmt ` of an
// MPEG format, or-ed), 4 (`fact` above 0, added), 8 (`data` above 0, added),
// 16 (LIST/INFO, or-ed); or the first problem as a negative code.
enum TScanCode {
    ScanBadRiff = -1,
    ScanBadFormat = -2,
    ScanBadFact = -3,
    ScanBadData = -4,
    ScanBadStart = -6,
    ScanNoFile = -7,
};

const int WaveFormatBufferSize = 50; // the largest `fmt ` body accepted

// The 8-byte chunk head at the current position; all zero when it cannot
// be read whole or its size is 0.
void ReadChunkHead(TFile file, TChunkHead& head);
// Walks the RIFF chunks from the current position once and reports what it
// met; every walk moves forward and ends at the end of the file. Chunks it
// does not know (`bext`, `cart`, `mext`, `levl`, `JUNK` ...) are stepped
// over wherever they stand; where `bext` and `cart` lie goes into Broadcast
// when one is given. In an RF64 file the `data` size and the `fact` value
// that read 0xFFFFFFFF are taken from its ds64 chunk; in a plain RIFF file a
// `data` size of 0xFFFFFFFF is a damaged size.
int ScanWaveFile(TFile file, std::uint8_t format[WaveFormatBufferSize], std::int64_t& factValue,
                 TChunkSpan& dataSpan, TChunkSpan& infoSpan, TBroadcastSpans* broadcast = nullptr);
// Up to Count bytes from the current position, in one read bounded by what
// the file holds.
void ReadInfoText(TFile file, std::int64_t count, std::string& text);
// The INFO sub-chunks of InfoSpan into Info (all fields emptied first).
void ReadListInfo(TFile file, const TChunkSpan& infoSpan, TWaveListInfo& info);

// One INFO sub-chunk (id, trimmed length + 1, text, zero, pad to even);
// false when nothing was written or a write failed.
bool WriteInfoItem(TFile file, std::uint32_t id, const std::string& text);
// The bytes WriteListInfo writes for Info.
std::int64_t ListInfoSize(const TWaveListInfo& info);
// The whole LIST/INFO chunk at the current (even) position, its size fixed
// up afterwards; true only when every write and the fix-up succeeded.
bool WriteListInfo(TFile file, const TWaveListInfo& info);
