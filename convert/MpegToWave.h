// MPEG audio to WAVed MPEG.
#pragma once

#include "DirectWin32.h"

#include <string>

// Writes FileName's MPEG frames behind a RIFF/WAVE header, with its ID3v1.1
// tag as a LIST/INFO chunk, into the file named after it with extension
// "wav". Failures are shown in a box (owned by Owner) only when ShowMessages
// is on; the result tells whether the output was written completely. With
// Broadcast the output is a Broadcast WAVE: `bext`, `mext` and `cart` stand
// between `fact` and `data`.
bool ConvertMpegToWave(TWindow owner, const std::string& fileName, bool showMessages,
                       bool broadcast = false);
