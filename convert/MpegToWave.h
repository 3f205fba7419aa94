// MPEG audio to WAVed MPEG.
#pragma once

#include "BroadcastUnit.h"
#include "LabelUnit.h"
#include "LoudnessUnit.h"
#include "DirectWin32.h"
#include "MP3Unit.h"
#include "WaveUnit.h"

#include <cstdint>
#include <string>

// What the header of one WAVed MPEG says, and where its audio lies in the
// source. The head (everything before the audio) is made from it twice: as
// the conversion begins, and with the final sizes and counts after the copy.
struct TWaveHeader {
    TMpegWaveFormat Format;
    std::uint32_t FactValue;   // whole seconds times the rate, or a VBR stream's samples
    std::int64_t SampleCount;  // the same without the 32-bit limit, for ds64
    std::int64_t AudioStart;
    std::int64_t AudioLength;
    std::int64_t FileSize;     // 0 until the file is complete
    bool Rf64;                 // the RIFF size would not fit 32 bits: RF64 with ds64
    TWaveListInfo Info;
    bool Broadcast;            // `bext`, `mext` and `cart` stand between `fact` and `data`
    TBroadcastInfo BroadcastInfo;
    std::int64_t LevlSize;     // the `levl` chunk after `data`, head included; 0 without one
};

// The size of the file Header describes, which decides whether it is written
// as RF64 (Rf64 is set accordingly).
std::int64_t PlanWaveFile(TWaveHeader& header);
// The size of the file Header describes, as RIFF or RF64 as it says.
std::int64_t WaveFileSize(const TWaveHeader& header);
// The bytes from the start of the file to the first audio byte: "RIFF" (or
// "RF64" and ds64), "WAVE", `fmt `, `fact`, the Broadcast WAVE chunks, and the
// `data` chunk's head.
std::string WaveHeadBytes(const TWaveHeader& header);

// Writes FileName's MPEG frames behind a RIFF/WAVE header, with its ID3v1.1
// tag as a LIST/INFO chunk, into the file named after it with extension
// "wav" (in the folder Choices name, else beside it). Failures are shown in a box (owned by Owner) only when ShowMessages
// is on; the result tells whether the output was written completely. When
// Choices ask for Broadcast the output is a Broadcast WAVE: `bext`, `mext` and
// `cart`, with the labels Choices give, stand between `fact` and `data`.
// With Choices' Loudness (and Broadcast) the audio is measured as it is copied:
// its values go into `bext` (version 2) and LastLoudness; a file whose audio
// cannot be decoded at all, or measured without the decoder, fails. The
// Envelope choices decode it the same way: `cart` gets its start, end and
// segue timers (and LastMarks them), and a `levl` chunk its peak envelope
// after `data`.
bool ConvertMpegToWave(TWindow owner, const std::string& fileName, bool showMessages,
                       const TRunChoices& choices = TRunChoices());

// The values the last conversion measured; cleared as each one begins.
extern TLoudness LastLoudness;
// Where the last conversion found the audio to start, end and segue.
extern TEnvelopeMarks LastMarks;
