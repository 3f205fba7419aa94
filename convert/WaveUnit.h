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

// Where a chunk body lies; (0, 0) when the chunk was not found.
struct TChunkSpan {
    std::uint32_t Position;
    std::uint32_t Size;
};

// One INFO sub-chunk (id, trimmed length + 1, text, zero, pad to even);
// false when nothing was written or a write failed.
bool WriteInfoItem(TFile file, std::uint32_t id, const std::string& text);
// The whole LIST/INFO chunk at the current (even) position, its size fixed
// up afterwards; true only when every write and the fix-up succeeded.
bool WriteListInfo(TFile file, const TWaveListInfo& info);
