// Id3v2Unit: the ID3v2 tag (versions 2.2, 2.3 and 2.4) at the start of an
// MPEG audio file: where it ends, and its words for the LIST/INFO chunk.
#pragma once

#include "DirectWin32.h"
#include "WaveUnit.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The end of a well-formed ID3v2 tag at the start of the file ("ID3",
// version bytes below FF, flags, a 28-bit syncsafe size, 10 more bytes with
// a footer) that ends inside the file, else 0. The search for the first
// frame header starts there: album art in such a tag often holds bytes that
// look like frame headers.
std::int64_t GetId3v2TagEnd(TFile file, std::int64_t fileSize);

// Fills INAM, IART, ISRF, ICRD, ICMT, ISBJ and IGNR from the text frames of
// a leading ID3v2.2, 2.3 or 2.4 tag, the first frame of each kind with a
// text winning; fields without such a frame are left as they were. A frame
// that cannot be read is passed over, and what cannot be walked past ends
// the walk. True when such a tag was found. Reads at most the tag, forward,
// in blocks; the file position is unspecified afterwards.
bool ReadId3v2Info(TFile file, TWaveListInfo& info);

// The first text of an ID3v2 text field (it ends at the first NUL, or at the
// end of the data) in Windows-1252, whatever its encoding: 0 ISO-8859-1 (its
// bytes as they are), 1 UTF-16 with a byte-order mark (without one, the
// order its zero bytes suggest), 2 UTF-16BE, 3 UTF-8. A character that
// Windows-1252 cannot hold becomes '?'. Next, when given, receives the
// offset just after the text's terminator.
std::string DecodeId3v2Text(int encoding, const std::uint8_t* data, std::size_t size,
                            std::size_t* next = nullptr);
