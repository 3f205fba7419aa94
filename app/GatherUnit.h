// GatherUnit: the record in which a command-line run hands its arguments to
// the run that gathers the files of many runs into one summary box.
//
// The record is "KVH1", the number of arguments, then each argument as its
// length and its UTF-8 bytes; numbers are 32-bit little-endian. Nothing in it
// is trusted: a record that does not add up exactly is refused whole.
#pragma once

#include "DirectWin32Gather.h"

#include <cstdint>
#include <string>
#include <vector>

// The longest argument handed over: a Windows name of 32,767 UTF-16 units,
// each at most three bytes in UTF-8.
const std::uint32_t MaxHandOverArgument = 3 * 32767;
// The record of Args; empty when they cannot be handed over (none, or too
// long for these limits).
std::string EncodeHandOver(const std::vector<std::string>& args);
// The arguments of a record; false when it is malformed or too long: wrong
// tag, no argument, a length past the record's end or the limits, bytes
// left over, or an argument that is not well-formed UTF-8 or holds a zero.
bool DecodeHandOver(const std::string& record, std::vector<std::string>& args);
