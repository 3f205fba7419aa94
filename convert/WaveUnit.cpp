// WaveUnit: writing and reading the chunks of a WAVed MPEG.
#include "WaveUnit.h"

#include "MP3Unit.h"

#include <cstring>

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

std::int64_t ListInfoSize(const TWaveListInfo& info)
{
    std::int64_t size = 12;
    for (const std::string& text : info.Text) {
        const std::int64_t length = std::int64_t(TrimText(text).size());
        if (length > 0)
            size += 8 + (length + 2) / 2 * 2; // the text, its zero and a pad to even
    }
    return size;
}

namespace {
// The longest INFO text read; far beyond anything a tag can carry.
const std::int64_t InfoTextLimit = 1 << 20;

bool ReadWhole(TFile file, void* buffer, std::int32_t count)
{
    return ReadBytes(file, buffer, count) == count;
}

std::int64_t Little64(const std::uint8_t* b)
{
    return std::int64_t(std::uint64_t(Little32(b)) | std::uint64_t(Little32(b + 4)) << 32);
}

const std::uint32_t Unknown32 = 0xFFFFFFFF; // a 32-bit size or count that ds64 holds
} // namespace

bool ReadDs64Chunk(TFile file, TDs64& ds64)
{
    ds64 = TDs64{0, 0, 0, 0};
    TChunkHead head;
    std::uint8_t body[Ds64BodySize];
    ReadChunkHead(file, head);
    if (head.Id != FourCC("ds64") || head.Size < std::uint32_t(Ds64BodySize) ||
        !ReadWhole(file, body, Ds64BodySize) || Little64(body) < 0 || Little64(body + 8) < 0 ||
        Little64(body + 16) < 0)
        return false;
    ds64 = TDs64{Little64(body), Little64(body + 8), Little64(body + 16), head.Size};
    return true;
}

void ReadChunkHead(TFile file, TChunkHead& head)
{
    std::uint8_t bytes[8];
    head.Id = 0;
    head.Size = 0;
    if (file == NoFile || !ReadWhole(file, bytes, 8) || Little32(bytes + 4) == 0)
        return;
    head.Id = Little32(bytes);
    head.Size = Little32(bytes + 4);
}

int ScanWaveFile(TFile file, std::uint8_t format[WaveFormatBufferSize], std::int64_t& factValue,
                 TChunkSpan& dataSpan, TChunkSpan& infoSpan, TBroadcastSpans* broadcast)
{
    std::memset(format, 0, WaveFormatBufferSize);
    factValue = 0;
    dataSpan = TChunkSpan{0, 0};
    infoSpan = TChunkSpan{0, 0};
    if (broadcast)
        *broadcast = TBroadcastSpans{{0, 0}, {0, 0}};
    if (file == NoFile)
        return ScanNoFile;
    std::int64_t p = GetFilePosition(file);
    const std::int64_t end = GetFileSize(file) - 8;
    if (p < 0 || SeekFile(file, p) != p)
        return ScanBadStart;
    int result = 0;
    // Met in an RF64 file, right behind "WAVE": the sizes its 32-bit fields leave out.
    TDs64 ds64 = {0, 0, 0, 0};
    bool rf64 = false;
    while (p < end && result >= 0) {
        TChunkHead head;
        ReadChunkHead(file, head);
        std::int64_t n = head.Size;
        std::uint8_t bytes[4];
        if (head.Id == FourCC("RIFF") || head.Id == FourCC("RF64") || head.Id == FourCC("BW64")) {
            if (n > 0 && ReadWhole(file, bytes, 4) && Little32(bytes) == FourCC("WAVE")) {
                result = 1;
                n = 4;
                // RF64 and BW64 give their sizes in a ds64 chunk, which must come first.
                rf64 = head.Id != FourCC("RIFF") && ReadDs64Chunk(file, ds64);
                if (rf64)
                    n += 8 + ds64.BodySize;
            } else {
                result = ScanBadRiff;
            }
        } else if (head.Id == FourCC("fmt ")) {
            if (n >= 1 && n <= WaveFormatBufferSize && ReadWhole(file, format, std::int32_t(n)) &&
                (format[1] == 0 && (format[0] == 0x50 || format[0] == 0x55)))
                result |= 2;
            else
                result = ScanBadFormat;
        } else if (head.Id == FourCC("fact")) {
            std::uint8_t value[4] = {0, 0, 0, 0};
            if (n < 1 || n > 4 || !ReadWhole(file, value, std::int32_t(n))) {
                result = ScanBadFact;
            } else {
                // Unsigned: a long stream's count may have its top bit set.
                factValue = rf64 && Little32(value) == Unknown32 ? ds64.SampleCount : Little32(value);
                if (factValue > 0)
                    result += 4;
            }
            // A fact value of 0 is what a WAVed MPEG of under a second
            // carries: it adds nothing, but the file is still readable.
        } else if (head.Id == FourCC("data")) {
            if (head.Size == Unknown32)
                n = rf64 ? ds64.DataSize : 0; // in a plain RIFF file, a damaged size
            dataSpan = TChunkSpan{p + 8, n};
            if (n > 0)
                result += 8;
            else
                result = ScanBadData;
        } else if (head.Id == FourCC("LIST")) {
            if (n >= 4 && ReadWhole(file, bytes, 4) && Little32(bytes) == FourCC("INFO")) {
                infoSpan = TChunkSpan{p + 12, n - 4};
                result |= 16;
            }
        } else if (broadcast && (head.Id == FourCC("bext") || head.Id == FourCC("cart"))) {
            (head.Id == FourCC("bext") ? broadcast->Bext : broadcast->Cart) = TChunkSpan{p + 8, n};
        }
        if ((p + n) % 2 != 0)
            ++n;
        std::int64_t next = SeekFile(file, p + n + 8);
        if (next < 0 || next >= end)
            break;
        p = next;
    }
    return result;
}

void ReadInfoText(TFile file, std::int64_t count, std::string& text)
{
    text.clear();
    std::int64_t position = GetFilePosition(file);
    std::int64_t available = GetFileSize(file) - position;
    if (count <= 0 || position < 0 || available <= 0)
        return;
    if (count > available)
        count = available;
    if (count > InfoTextLimit)
        count = InfoTextLimit;
    text.resize(std::size_t(count));
    std::int32_t got = ReadBytes(file, &text[0], std::int32_t(count));
    text.resize(got > 0 ? std::size_t(got) : 0);
}

void ReadListInfo(TFile file, const TChunkSpan& infoSpan, TWaveListInfo& info)
{
    for (std::string& text : info.Text)
        text.clear();
    if (file == NoFile || SeekFile(file, infoSpan.Position) != infoSpan.Position)
        return;
    const std::int64_t fileSize = GetFileSize(file);
    const std::int64_t end = infoSpan.Position + infoSpan.Size - 8;
    std::int64_t p = infoSpan.Position;
    while (p < end && p + 8 <= fileSize) {
        TChunkHead head;
        ReadChunkHead(file, head);
        std::int64_t n = head.Size;
        for (int field = 0; field < InfoFieldCount; ++field)
            if (head.Id == InfoFieldIds[field])
                ReadInfoText(file, n - 1, info.Text[field]);
        if (n % 2 != 0)
            ++n;
        std::int64_t next = SeekFile(file, p + n + 8);
        if (next <= p)
            break;
        p = next;
    }
}
