// SniffUnit: the failure codes and the look at a file's first bytes.
#include "SniffUnit.h"

#include <cstring>

TFailure LastFailure = FailNone;
std::string LastFailureDetail;

namespace {
unsigned Le16(const std::uint8_t* p)
{
    return p[0] | p[1] << 8;
}

// A RIFF/WAVE file by the format tag of its `fmt ` chunk, when that lies in
// the bytes at hand; WAVE_FORMAT_EXTENSIBLE by its sub-format's tag.
TFailure SniffWave(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t at = 12; at + 8 <= size;) {
        const std::uint32_t length = Little32(data + at + 4);
        if (std::memcmp(data + at, "fmt ", 4) == 0 && length >= 2 && at + 10 <= size) {
            unsigned tag = Le16(data + at + 8);
            if (tag == 0xFFFE && length >= 26 && at + 34 <= size)
                tag = Le16(data + at + 32);
            return tag == 1 ? FailPcmWave : tag == 2 || tag == 0x11 ? FailAdpcmWave
                   : tag == 0x50 || tag == 0x55 ? FailNoData : FailOtherWave;
        }
        if (length > size)
            break;
        at += 8 + std::size_t(length) + (length & 1);
    }
    return FailOtherWave; // no `fmt ` in view
}
} // namespace

TFailure SniffBytes(const std::uint8_t* data, std::size_t size)
{
    auto starts = [&](std::size_t at, const char* magic) {
        return size >= at + std::strlen(magic) && std::memcmp(data + at, magic, std::strlen(magic)) == 0;
    };
    if (size == 0)
        return FailEmpty;
    if ((starts(0, "RIFF") || starts(0, "RF64") || starts(0, "BW64")) && starts(8, "WAVE"))
        return SniffWave(data, size);
    if (starts(0, "RF64") || starts(0, "BW64"))
        return FailRf64;
    if (starts(0, "ID3"))
        return FailTagOnly;
    if (starts(4, "ftyp"))
        return FailMp4;
    if (starts(0, "OggS"))
        return FailOgg;
    if (starts(0, "fLaC"))
        return FailFlac;
    if (size >= 2 && data[0] == 0x0B && data[1] == 0x77)
        return FailAc3;
    // ADTS: the sync word of MPEG audio, with the layer bits 00 that MPEG audio never uses.
    if (size >= 2 && data[0] == 0xFF && (data[1] & 0xF6) == 0xF0)
        return FailAac;
    return FailNoMpeg;
}

TFailure SniffFile(TFile file, bool wave)
{
    std::uint8_t start[4096];
    const std::int32_t got = SeekFile(file, 0) == 0 ? ReadBytes(file, start, sizeof start) : -1;
    const TFailure failure = got < 0 ? FailReadStopped : SniffBytes(start, std::size_t(got));
    return wave && failure == FailNoMpeg ? FailNotWave : failure;
}

TFailure FileFailure(TFailure denied, TFailure held, TFailure other)
{
    switch (LastFileError()) {
    case FileErrorDenied:
        return denied;
    case FileErrorHeld:
        return held;
    case FileErrorFull:
        return FailDiskFull;
    case FileErrorOther:
        return other;
    default:
        return FailReadStopped;
    }
}

TFailure WriteFailure()
{
    return FileFailure(FailWrite, FailWrite, FailWrite);
}
