// MP3Unit: decoding MPEG audio frame headers, finding the first one in a
// file, describing the stream as a WAVE format record, reading ID3v1.1 tags.
#include "MP3Unit.h"

#include "Id3v2Unit.h"

#include <cstring>
#include <memory>

namespace {
// Version id (2 bits) to Version; layer id (2 bits) to Layer.
const std::int32_t VersionTable[4] = {3, 0, 2, 1};
const std::int32_t LayerTable[4] = {0, 3, 2, 1};

const std::int32_t SampleRateTable[4][4] = {
    {0, 0, 0, 0},
    {44100, 48000, 32000, 0}, // MPEG-1
    {22050, 24000, 16000, 0}, // MPEG-2
    {11025, 12000, 8000, 0},  // MPEG-2.5
};

// [MPEG-1 or not][Layer - 1][bitrate index], kbit/s.
const std::int32_t BitrateTable[2][3][16] = {
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    },
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    },
};

std::uint32_t Bits(std::uint32_t value, int first, int count)
{
    return (value >> first) & ((1u << count) - 1);
}

// A tag text field: its bytes up to the first zero byte, trimmed.
std::string TagField(const TId3Tag& tag, int offset, int width)
{
    const char* start = reinterpret_cast<const char*>(tag.Bytes + offset);
    const void* zero = std::memchr(start, 0, std::size_t(width));
    std::size_t length = zero ? std::size_t(static_cast<const char*>(zero) - start) : std::size_t(width);
    return TrimText(std::string(start, length));
}

// ISBJ as a track number: leading blanks, then an optional sign and decimal
// digits or "$" and hexadecimal digits, and nothing after them.
bool ReadTrackNumber(const std::string& text, int& number)
{
    std::string::size_type i = text.find_first_not_of(' ');
    if (i == std::string::npos)
        return false;
    int base = 10;
    bool negative = false;
    if (text[i] == '$') {
        base = 16;
        ++i;
    } else if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    long value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9' ? c - '0'
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : -1;
        if (digit < 0)
            return false;
        if (value <= 255)
            value = value * base + digit; // anything past 255 is out of range anyway
    }
    number = int(negative ? -value : value);
    return true;
}

// The header value at Position, read straight from the file (0, which is no
// header, when it cannot be read); the file is then put back at Resume, and
// the result is false when that fails.
bool ReadValueAt(TFile file, std::int64_t position, std::int64_t resume, std::uint32_t& value)
{
    std::uint8_t bytes[4];
    bool ok = SeekFile(file, position) == position && ReadBytes(file, bytes, 4) == 4;
    value = ok ? Little32(bytes) : 0;
    return SeekFile(file, resume) == resume;
}

void Put16(std::uint8_t* out, std::uint16_t value)
{
    out[0] = std::uint8_t(value);
    out[1] = std::uint8_t(value >> 8);
}

void Put32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = std::uint8_t(value >> (8 * i));
}
} // namespace

std::string TrimText(const std::string& text)
{
    std::string::size_type first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) < 33)
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) < 33)
        --last;
    return text.substr(first, last - first);
}

void DecodeMpegHeader(std::uint32_t value, TMpegHeader& header)
{
    std::memset(&header, 0, sizeof header);
    header.Value = value;
    header.Version = VersionTable[Bits(value, 11, 2)];
    header.Layer = LayerTable[Bits(value, 9, 2)];
    if (header.Version != 0) {
        header.SampleRate = SampleRateTable[header.Version][Bits(value, 18, 2)];
        if (header.Layer != 0)
            header.Bitrate = BitrateTable[header.Version == 1][header.Layer - 1][Bits(value, 20, 4)];
    }
    header.ChannelMode = std::int32_t(Bits(value, 30, 2));
    header.ModeExtension = (header.Layer - 1) * 4 + std::int32_t(Bits(value, 28, 2));
    header.PaddingBit = Bits(value, 17, 1) != 0;
    header.Protection = Bits(value, 8, 1) == 0;
    header.PrivateBit = Bits(value, 16, 1) != 0;
    header.CopyrightBit = Bits(value, 27, 1) != 0;
    header.OriginalBit = Bits(value, 26, 1) != 0;
    header.Emphasis = std::int32_t(Bits(value, 24, 2));
    if (header.SampleRate == 0)
        return;
    if (header.Layer == 1)
        header.FrameLength = 12000 * header.Bitrate / header.SampleRate * 4;
    else
        header.FrameLength = 144000 * header.Bitrate / header.SampleRate;
    if (header.Version != 1)
        header.FrameLength /= 2;
    if (header.PaddingBit)
        header.FrameLength += 1;
}

bool IsMpegHeader(std::uint32_t value)
{
    if ((value & 0xE0FF) != 0xE0FF)
        return false;
    TMpegHeader header;
    DecodeMpegHeader(value, header);
    return header.Version != 0 && header.Layer != 0 && header.Bitrate != 0 &&
           header.SampleRate != 0 && header.Emphasis != 2;
}

std::int32_t MpegFrameBytes(const TMpegHeader& header)
{
    if (header.SampleRate == 0 || header.Layer == 0)
        return 0;
    const std::int32_t padding = header.PaddingBit ? 1 : 0;
    if (header.Layer == 1)
        return (12000 * header.Bitrate / header.SampleRate + padding) * 4;
    const std::int32_t factor = header.Layer == 3 && header.Version != 1 ? 72000 : 144000;
    return factor * header.Bitrate / header.SampleRate + padding;
}

std::int32_t MpegFrameSamples(const TMpegHeader& header)
{
    return header.Layer == 1 ? 384 : header.Layer == 3 && header.Version != 1 ? 576 : 1152;
}

bool IsNextMpegHeader(std::uint32_t first, std::uint32_t value)
{
    // version id, layer id and sample-rate index
    const std::uint32_t stream = 0x000C1E00;
    return (value & stream) == (first & stream) && IsMpegHeader(value);
}

void FindFirstMpegHeader(TFile file, TMpegHeader& header)
{
    std::memset(&header, 0, sizeof header);
    std::int64_t size = GetFileSize(file);
    if (file == NoFile || size < 8)
        return;
    TId3Tag tag;
    const std::int64_t audioEnd = ReadId3Tag(file, tag) ? size - 128 : size;
    // The offsets are examined one by one in increasing order, but read
    // through one block buffer; three bytes carry over between blocks.
    std::int64_t offset = GetId3v2TagEnd(file, size);
    if (SeekFile(file, offset) != offset)
        return;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[CopyBlockSize + 3]);
    std::int32_t held = 0; // bytes in the buffer, starting at file offset "offset"
    while (offset + 4 <= size) {
        std::int32_t got = ReadBytes(file, buffer.get() + held, CopyBlockSize);
        if (got <= 0)
            return;
        held += got;
        std::int32_t k = 0;
        for (; k + 4 <= held; ++k) {
            std::uint32_t value = Little32(buffer.get() + k);
            if (!IsMpegHeader(value))
                continue;
            TMpegHeader candidate;
            DecodeMpegHeader(value, candidate);
            const std::int64_t at = offset + k, next = at + MpegFrameBytes(candidate);
            bool confirmed = next == audioEnd;
            if (!confirmed && next + 4 <= audioEnd) {
                std::uint32_t following = 0;
                if (next + 4 <= offset + held)
                    following = Little32(buffer.get() + (next - offset));
                else if (!ReadValueAt(file, next, offset + held, following))
                    return;
                confirmed = IsNextMpegHeader(value, following);
            }
            if (confirmed) {
                if (SeekFile(file, at) == at)
                    header = candidate;
                return;
            }
        }
        std::memmove(buffer.get(), buffer.get() + k, std::size_t(held - k));
        held -= k;
        offset += k;
    }
}

void MakeMpegWaveFormat(const TMpegHeader& header, TMpegWaveFormat& format)
{
    std::memset(&format, 0, sizeof format);
    format.nChannels = header.ChannelMode == 3 ? 1 : 2;
    format.nSamplesPerSec = std::uint32_t(header.SampleRate);
    format.nAvgBytesPerSec = std::uint32_t(header.Bitrate) * 125;
    if (header.Layer == 1 || header.Layer == 2) {
        static const std::uint16_t modes[4] = {1, 2, 4, 8};
        format.wFormatTag = 0x0050;
        format.nBlockAlign = std::uint16_t(header.FrameLength);
        format.wBitsPerSample = 16;
        format.cbSize = 22;
        format.fwHeadLayer = std::uint16_t(header.Layer);
        format.dwHeadBitrate = format.nChannels * format.nAvgBytesPerSec * 8;
        format.fwHeadMode = modes[header.ChannelMode & 3];
        format.fwHeadModeExt = std::uint16_t(header.ModeExtension);
        format.wHeadEmphasis = std::uint16_t(header.Emphasis);
        format.fwHeadFlags = 24;
    } else if (header.Layer == 3) {
        format.wFormatTag = 0x0055;
        format.nBlockAlign = 1;
        format.wBitsPerSample = 0;
        format.cbSize = 12;
        format.wID = 1;
        format.fdwFlags = 2;
        format.nBlockSize = std::uint16_t(header.FrameLength);
        format.nFramesPerBlock = 1;
        format.nCodecDelay = 1393;
    }
}

int SerializeMpegWaveFormat(const TMpegWaveFormat& format, std::uint8_t out[MpegWaveFormatMaxSize])
{
    std::memset(out, 0, MpegWaveFormatMaxSize);
    Put16(out + 0, format.wFormatTag);
    Put16(out + 2, format.nChannels);
    Put32(out + 4, format.nSamplesPerSec);
    Put32(out + 8, format.nAvgBytesPerSec);
    Put16(out + 12, format.nBlockAlign);
    Put16(out + 14, format.wBitsPerSample);
    Put16(out + 16, format.cbSize);
    if (format.wFormatTag == 0x0050) {
        Put16(out + 18, format.fwHeadLayer);
        Put32(out + 20, format.dwHeadBitrate);
        Put16(out + 24, format.fwHeadMode);
        Put16(out + 26, format.fwHeadModeExt);
        Put16(out + 28, format.wHeadEmphasis);
        Put16(out + 30, format.fwHeadFlags);
        Put32(out + 32, format.dwPTSLow);
        Put32(out + 36, format.dwPTSHigh);
        return 40;
    }
    if (format.wFormatTag == 0x0055) {
        Put16(out + 18, format.wID);
        Put32(out + 20, format.fdwFlags);
        Put16(out + 24, format.nBlockSize);
        Put16(out + 26, format.nFramesPerBlock);
        Put16(out + 28, format.nCodecDelay);
        return 30;
    }
    return 18;
}

std::string GetId3GenreName(std::uint8_t index)
{
    return TrimText(LoadText(30000 + (index > 148 ? 148 : index)));
}

bool ReadId3Tag(TFile file, TId3Tag& tag)
{
    std::memset(tag.Bytes, 0, sizeof tag.Bytes);
    std::int64_t size = GetFileSize(file);
    if (file == NoFile || size <= 128)
        return false;
    if (SeekFile(file, size - 128) != size - 128 || ReadBytes(file, tag.Bytes, 128) != 128)
        return false;
    return std::memcmp(tag.Bytes, "TAG", 3) == 0;
}

bool ReadId3Info(TFile file, TWaveListInfo& info)
{
    TId3Tag tag;
    if (!ReadId3Tag(file, tag))
        return false;
    info.Text[INAM] = TagField(tag, 3, 30);
    info.Text[IART] = TagField(tag, 33, 30);
    info.Text[ISRF] = TagField(tag, 63, 30);
    info.Text[ICRD] = TagField(tag, 93, 4);
    info.Text[IGNR] = GetId3GenreName(tag.Bytes[127]);
    info.Text[ICMT] = TagField(tag, 97, 30);
    if (tag.Bytes[125] == 0)
        info.Text[ISBJ] = std::to_string(tag.Bytes[126]);
    return true;
}

void CopyToTagField(const std::string& text, std::uint8_t* place, int width)
{
    std::size_t count = text.size() < std::size_t(width) ? text.size() : std::size_t(width);
    std::memcpy(place, text.data(), count);
}

bool WriteId3Tag(TFile file, const TWaveListInfo& info)
{
    if (file == NoFile)
        return false;
    TId3Tag tag;
    std::int64_t size = GetFileSize(file);
    bool overwrite = ReadId3Tag(file, tag);
    std::int64_t where = overwrite ? size - 128 : SeekFileEnd(file);
    if (where < 0 || SeekFile(file, where) != where)
        return false;
    std::memset(tag.Bytes, 0, sizeof tag.Bytes);
    std::memcpy(tag.Bytes, "TAG", 3);
    tag.Bytes[127] = 148;
    for (int genre = 0; genre < 148; ++genre)
        if (GetId3GenreName(std::uint8_t(genre)) == info.Text[IGNR]) {
            tag.Bytes[127] = std::uint8_t(genre);
            break;
        }
    int track = 0;
    if (ReadTrackNumber(info.Text[ISBJ], track) && track >= 0 && track <= 255) {
        CopyToTagField(info.Text[ICMT], tag.Bytes + 97, 28);
        tag.Bytes[126] = std::uint8_t(track);
    } else {
        CopyToTagField(info.Text[ICMT], tag.Bytes + 97, 30);
    }
    CopyToTagField(info.Text[INAM], tag.Bytes + 3, 30);
    CopyToTagField(info.Text[IART], tag.Bytes + 33, 30);
    CopyToTagField(info.Text[ISRF], tag.Bytes + 63, 30);
    CopyToTagField(info.Text[ICRD], tag.Bytes + 93, 4);
    return WriteBytes(file, tag.Bytes, 128) == 128;
}
