// WAVed MPEG back to MPEG audio.
#pragma once

#include "DirectWin32.h"

#include <string>

// Option bit: write an ID3v1.1 tag from the LIST/INFO chunk.
const int WriteTagOption = 1;

// Copies the `data` body of the WAVed MPEG FileName into a file named after
// it with the extension its `fmt ` chunk calls for (mp1, mp2, mp3 or mpa),
// followed by an ID3v1.1 tag when asked for and a LIST/INFO chunk exists;
// in OutFolder when one is given, else beside it.
bool ConvertWaveToMpeg(TWindow owner, const std::string& fileName, int options, bool showMessages,
                       const std::string& outFolder = std::string());
// The name ConvertWaveToMpeg writes for FileName; empty when FileName is no
// WAVed MPEG it would convert.
std::string WaveToMpegName(const std::string& fileName, const std::string& outFolder = std::string());
