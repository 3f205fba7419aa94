// InfoUnit: what a WAV file's chunks say, for `/Info`. The file is described
// in lines "Key: value" that a script splits at the first ": ", with fixed
// ASCII keys: its name, container, format and true length, then every chunk
// in file order with the fields of those this program knows (`fmt `, `fact`,
// `bext`, `mext`, `cart`, `levl`, `LIST`, `ds64`). Every size is checked
// against the file: a chunk that runs past its end is told on a "Damaged:"
// line and ends the walk. Texts from the file are shown in printable ASCII;
// large chunks are walked in blocks, never read whole.
#pragma once

#include "DirectWin32.h"

#include <string>

// Describes the open File, shown as Name, into Text (one line each, ended by
// a line feed; no blank line at the end). False, with Text empty, when the
// file is no RIFF, RF64 or BW64 file of WAVE form.
bool DescribeWaveFile(TFile file, const std::string& name, std::string& text);
