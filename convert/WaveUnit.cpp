// WaveUnit: writing the LIST/INFO chunk of a WAVed MPEG.
#include "WaveUnit.h"

#include "MP3Unit.h"

const std::uint32_t InfoFieldIds[InfoFieldCount] = {
    FourCC("IART"), FourCC("ICMT"), FourCC("ICOP"), FourCC("ICRD"), FourCC("IENG"),
    FourCC("IGNR"), FourCC("IKEY"), FourCC("IMED"), FourCC("INAM"), FourCC("ISBJ"),
    FourCC("ISFT"), FourCC("ISRC"), FourCC("ISRF"), FourCC("ITCH"),
};

bool WriteInfoItem(TFile file, std::uint32_t id, const std::string& text)
{
    std::string trimmed = TrimText(text);
    if (file == NoFile || id == 0 || trimmed.empty() || trimmed.size() >= 0x7FFFFFFF)
        return false;
    return WriteChunkHead(file, id, std::uint32_t(trimmed.size() + 1)) &&
           WriteTextBytes(file, trimmed) && WriteByteValue(file, 0) && PadToEven(file);
}

bool WriteListInfo(TFile file, const TWaveListInfo& info)
{
    std::int64_t start = GetFilePosition(file);
    if (start < 0 || !WriteChunkHead(file, FourCC("LIST"), 0) || !WriteLongValue(file, FourCC("INFO")))
        return false;
    for (int field = 0; field < InfoFieldCount; ++field)
        if (!TrimText(info.Text[field]).empty() &&
            !WriteInfoItem(file, InfoFieldIds[field], info.Text[field]))
            return false;
    std::int64_t end = GetFilePosition(file);
    return end >= 0 && end - start - 8 <= 0xFFFFFFFF && SeekFile(file, start) == start &&
           WriteChunkHead(file, FourCC("LIST"), std::uint32_t(end - start - 8)) &&
           SeekFileEnd(file) == end;
}
