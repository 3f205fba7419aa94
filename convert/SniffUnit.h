// SniffUnit: why a conversion failed. A small code that each conversion sets
// where it gives up, and what a file that holds no MPEG audio is instead,
// told from its first bytes.
#pragma once

#include "DirectWin32.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The reasons, in the order of their texts in the string table (5041 on:
// string 5040 + the code).
enum TFailure {
    FailNone,           // converted
    FailNoRead,         // no right to read the input
    FailInputHeld,      // another program holds the input
    FailNoOpen,         // the input cannot be opened otherwise (a folder ...)
    FailEmpty,          // an empty file
    FailNoMpeg,         // nothing known, and no MPEG audio
    FailPcmWave,        // a WAVE of PCM audio (plain or extensible)
    FailAdpcmWave,      // a WAVE of ADPCM audio
    FailOtherWave,      // a WAVE of any other audio but MPEG
    FailNoData,         // a WAVE of MPEG format without a `data` chunk to copy
    FailRf64,           // an RF64 (or BW64) file of no WAVE form
    FailAac,            // AAC in ADTS frames
    FailMp4,            // an MP4/M4A file
    FailOgg,            // an Ogg stream
    FailFlac,           // FLAC
    FailAc3,            // AC-3
    FailTagOnly,        // an ID3v2 tag without MPEG audio behind it
    FailNoWriteRight,   // no right to write in the output's folder
    FailOutputHeld,     // the older output is held by another program, or read-only
    FailOutputIsInput,  // the output name names the input itself
    FailNoCreate,       // the output cannot be created otherwise
    FailDiskFull,       // the disk is full
    FailReadStopped,    // reading stopped before the end of the input
    FailWrite,          // a write failed otherwise
    FailDataCut,        // a `data` chunk longer than the file: what was there is kept
    FailNotWave,        // the way back's input is no RIFF/WAVE file
    FailNameNoFit,      // the file's name does not fit the run's pattern
    FailNameValue,      // its name gives a label its field cannot take (LastFailureDetail)
    FailListValue,      // its row of the list holds such a label (LastFailureDetail)
    FailListOutside,    // the list names a file outside the list's folder
    FailLabelSetting,   // the labels dialog's values no longer fit (LastFailureDetail)
    FailNoDecoder,      // loudness asked for, and the decoder's DLL is missing or cannot be loaded
    FailUndecodable,    // loudness asked for, and not one frame of the audio could be decoded
    FailureCount
};

// The reason the last conversion failed; the dispatch clears it before each
// one, and a conversion sets it where it gives up.
extern TFailure LastFailure;
// What the reason's text is followed by, for the failures that say which
// value was refused; cleared with LastFailure.
extern std::string LastFailureDetail;

// What a file that holds no MPEG audio is, from its first Size bytes.
TFailure SniffBytes(const std::uint8_t* data, std::size_t size);
// The same for the start of an open file; for a file that should be a WAVE
// (Wave set), anything else unknown is no WAVE rather than no MPEG audio.
TFailure SniffFile(TFile file, bool wave = false);
// The failure that the last failed file call stands for: Denied, Held or
// Other by the kind of its error, the disk full, or reading stopped.
TFailure FileFailure(TFailure denied, TFailure held, TFailure other);
// The failure that a failed write stands for: the disk full, or a write that failed.
TFailure WriteFailure();
