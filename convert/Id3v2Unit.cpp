// Id3v2Unit: finding the end of a leading ID3v2 tag, and walking its frames
// for the texts that the LIST/INFO chunk carries.
#include "Id3v2Unit.h"

#include "MP3Unit.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace {
const std::int32_t TagBlockSize = 65536;
// A wanted frame larger than this is passed over: its text would be written
// into INFO one byte per write call, and no title or comment is that long.
const std::int64_t MaxTextFrameSize = 65536;

// Unicode code points of the Windows-1252 bytes 0x80 to 0x9F; 0 where the
// code page has no character.
const std::uint16_t Cp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

void AppendCodePoint(std::string& text, std::uint32_t code)
{
    if (code == 0xFEFF) // a byte-order mark inside the text, or a zero-width blank
        return;
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
        text += char(code);
        return;
    }
    for (int i = 0; i < 32; ++i)
        if (Cp1252High[i] != 0 && Cp1252High[i] == code) {
            text += char(0x80 + i);
            return;
        }
    text += '?';
}

std::string DecodeUtf8(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0, length = 0; i < size; i += length) {
        std::int32_t code = DecodeUtf8Char(data + i, size - i, false, length);
        if (code < 0)
            text += '?'; // a byte that is not part of a well-formed sequence
        else
            AppendCodePoint(text, std::uint32_t(code));
    }
    return text;
}

// UTF-16 code units (an odd last byte is dropped), surrogate pairs joined.
std::string DecodeUtf16(const std::uint8_t* data, std::size_t size, bool bigEndian)
{
    std::string text;
    const std::size_t units = size / 2;
    auto unit = [&](std::size_t i) {
        const std::uint8_t* u = data + 2 * i;
        return bigEndian ? std::uint32_t(u[0] << 8 | u[1]) : std::uint32_t(u[1] << 8 | u[0]);
    };
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                ++i;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        AppendCodePoint(text, code); // a lone surrogate becomes '?' there too
    }
    return text;
}

// Unsynchronisation put a zero byte after every FF that could be taken for
// the start of a frame header: true for such a zero, which is dropped.
// AfterFF carries whether the byte before was FF.
bool IsStuffedZero(bool& afterFF, std::uint8_t byte)
{
    const bool stuffed = afterFF && byte == 0;
    afterFF = byte == 0xFF;
    return stuffed;
}

// The tag's bytes after its 10-byte header, read forward through one block
// buffer. In a 2.2 or 2.3 tag with the unsynchronisation flag every zero
// byte that follows FF is dropped as the bytes are read.
struct TTagStream {
    TFile File;
    std::int64_t Position; // file offset of the next byte
    std::int64_t End;      // file offset where the frames end
    bool Unsync;
    bool AfterFF;
    std::vector<std::uint8_t> Block;
    std::int64_t BlockStart;
    std::int64_t BlockHeld;
};

// Makes the block hold the byte at Position; false at the end of the frames
// or when the file cannot be read there.
bool FillBlock(TTagStream& s)
{
    if (s.Position >= s.End)
        return false;
    if (s.Position >= s.BlockStart && s.Position < s.BlockStart + s.BlockHeld)
        return true;
    std::int64_t want = s.End - s.Position < TagBlockSize ? s.End - s.Position : TagBlockSize;
    std::int32_t got = SeekFile(s.File, s.Position) == s.Position
                           ? ReadBytes(s.File, s.Block.data(), std::int32_t(want))
                           : -1;
    if (got <= 0)
        return false;
    s.BlockStart = s.Position;
    s.BlockHeld = got;
    return true;
}

// Takes the next Count bytes of the tag into Out, or past them when Out is
// null; false when the tag ends first.
bool TakeTagBytes(TTagStream& s, std::uint8_t* out, std::int64_t count)
{
    if (count > s.End - s.Position)
        return false;
    if (!s.Unsync && !out) {
        s.Position += count;
        return true;
    }
    while (count > 0) {
        if (!FillBlock(s))
            return false;
        const std::uint8_t* held = s.Block.data() + (s.Position - s.BlockStart);
        const std::int64_t available = s.BlockStart + s.BlockHeld - s.Position;
        std::int64_t i = 0;
        while (i < available && count > 0) {
            const std::uint8_t byte = held[i++];
            if (s.Unsync && IsStuffedZero(s.AfterFF, byte))
                continue;
            if (out)
                *out++ = byte;
            --count;
        }
        s.Position += i;
    }
    return true;
}

std::int64_t BigEndian32(const std::uint8_t* b)
{
    return std::int64_t(b[0]) << 24 | std::int64_t(b[1]) << 16 | std::int64_t(b[2]) << 8 | b[3];
}

// A 28-bit syncsafe number; false when a byte has its high bit set.
bool Syncsafe(const std::uint8_t* bytes, std::int64_t& value)
{
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] & 0x80)
            return false;
        value = value << 7 | bytes[i];
    }
    return true;
}

// The 10-byte tag header at offset 0 and the file offset where the tag ends.
bool ReadTagHeader(TFile file, std::int64_t fileSize, std::uint8_t head[10], std::int64_t& end)
{
    std::int64_t size = 0;
    if (fileSize < 10 || SeekFile(file, 0) != 0 || ReadBytes(file, head, 10) != 10)
        return false;
    if (std::memcmp(head, "ID3", 3) != 0 || head[3] == 0xFF || head[4] == 0xFF || !Syncsafe(head + 6, size))
        return false;
    end = 10 + size + ((head[5] & 0x10) ? 10 : 0);
    return end <= fileSize;
}

void UndoUnsynchronisation(std::vector<std::uint8_t>& data)
{
    std::size_t out = 0;
    bool afterFF = false;
    for (std::size_t i = 0; i < data.size(); ++i)
        if (!IsStuffedZero(afterFF, data[i]))
            data[out++] = data[i];
    data.resize(out);
}

enum TFrameKind { PlainText, YearText, CommentText, UserCommentText, TrackText, GenreText };

struct TFrameField {
    const char* Id;
    TInfoField Field;
    TFrameKind Kind;
};

// The frames read, with their three-character names of version 2.2.
const TFrameField FrameFields[] = {
    {"TIT2", INAM, PlainText}, {"TT2", INAM, PlainText},    {"TPE1", IART, PlainText},
    {"TP1", IART, PlainText},  {"TALB", ISRF, PlainText},   {"TAL", ISRF, PlainText},
    {"TYER", ICRD, PlainText}, {"TYE", ICRD, PlainText},    {"TDRC", ICRD, YearText},
    {"COMM", ICMT, CommentText}, {"COM", ICMT, CommentText}, {"TRCK", ISBJ, TrackText},
    {"TRK", ISBJ, TrackText},  {"TCON", IGNR, GenreText},   {"TCO", IGNR, GenreText},
    // ffmpeg keeps a comment in a user text frame described "comment"; a
    // COMM frame comes first.
    {"TXXX", ICMT, UserCommentText}, {"TXX", ICMT, UserCommentText},
};

bool IsDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// "(17)", "(17)Rock" and "17" name genre 17; any other text is a name itself.
std::string GenreFromText(const std::string& text)
{
    std::string number = text;
    if (text.size() > 2 && text[0] == '(') {
        std::string::size_type close = text.find(')');
        number = close == std::string::npos ? std::string() : text.substr(1, close - 1);
    }
    const int genre = IsDigits(number) && number.size() <= 3 ? std::stoi(number) : 256;
    return genre <= 255 ? GetId3GenreName(std::uint8_t(genre)) : text;
}

// The text a frame body gives its INFO field; empty when it gives none.
std::string FrameText(TFrameKind kind, const std::vector<std::uint8_t>& body)
{
    if (body.empty() || body[0] > 3)
        return std::string();
    const int encoding = body[0];
    const std::uint8_t* data = body.data() + 1;
    std::size_t size = body.size() - 1;
    if (kind == CommentText || kind == UserCommentText) {
        // COMM: a language code of three characters, then a description;
        // TXXX: a description, which must be "comment".
        const std::size_t skip = kind == CommentText ? 3 : 0;
        if (size < skip)
            return std::string();
        std::size_t next = 0;
        std::string description = DecodeId3v2Text(encoding, data + skip, size - skip, &next);
        for (char& c : description)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (skip + next >= size || (kind == UserCommentText && TrimText(description) != "comment"))
            return std::string();
        data += skip + next;
        size -= skip + next;
    }
    std::string text = TrimText(DecodeId3v2Text(encoding, data, size));
    if (kind == YearText)
        text = TrimText(text.substr(0, 4));
    if (kind == TrackText) {
        text = TrimText(text.substr(0, text.find('/')));
        if (!IsDigits(text))
            return std::string();
        text.erase(0, text.find_first_not_of('0'));
        if (text.empty())
            text = "0";
    }
    if (kind == GenreText && !text.empty())
        text = TrimText(GenreFromText(text));
    return text;
}

struct TFrameHead {
    char Id[5];
    std::int64_t Size;
    bool Readable;     // neither compressed, encrypted nor grouped
    bool Unsync;       // 2.4: the frame's own unsynchronisation
    bool LengthPrefix; // 2.4: a 4-byte data length comes first
};

bool IsIdChar(std::uint8_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The next frame head; false at the padding, at the tag's end, and at a
// head whose identifier or size cannot be trusted to lead to the next one.
bool ReadFrameHead(TTagStream& s, int version, TFrameHead& frame)
{
    const int idLength = version == 2 ? 3 : 4;
    std::uint8_t h[10];
    if (!TakeTagBytes(s, h, version == 2 ? 6 : 10) || h[0] == 0)
        return false;
    std::memset(frame.Id, 0, sizeof frame.Id);
    for (int i = 0; i < idLength; ++i) {
        if (!IsIdChar(h[i]))
            return false;
        frame.Id[i] = char(h[i]);
    }
    frame.Readable = true;
    frame.Unsync = frame.LengthPrefix = false;
    if (version == 2) {
        frame.Size = std::int64_t(h[3]) << 16 | std::int64_t(h[4]) << 8 | h[5];
    } else if (version == 3) {
        frame.Size = BigEndian32(h + 4);
        frame.Readable = (h[9] & 0xE0) == 0;
    } else {
        if (!Syncsafe(h + 4, frame.Size))
            return false;
        frame.Readable = (h[9] & 0x4C) == 0;
        frame.Unsync = (h[9] & 0x02) != 0;
        frame.LengthPrefix = (h[9] & 0x01) != 0;
    }
    return frame.Size <= s.End - s.Position;
}

const TFrameField* FindFrameField(const char* id)
{
    for (const TFrameField& f : FrameFields)
        if (std::strcmp(f.Id, id) == 0)
            return &f;
    return nullptr;
}

// Skips the extended header of a 2.3 or 2.4 tag; false when it is malformed.
bool SkipExtendedHeader(TTagStream& s, int version)
{
    std::uint8_t b[4];
    if (!TakeTagBytes(s, b, 4))
        return false;
    if (version == 3)
        return TakeTagBytes(s, nullptr, BigEndian32(b));
    std::int64_t size = 0; // 2.4: syncsafe, the four size bytes included
    return Syncsafe(b, size) && size >= 6 && TakeTagBytes(s, nullptr, size - 4);
}
} // namespace

std::int64_t GetId3v2TagEnd(TFile file, std::int64_t fileSize)
{
    std::uint8_t head[10];
    std::int64_t end = 0;
    return ReadTagHeader(file, fileSize, head, end) ? end : 0;
}

std::string DecodeId3v2Text(int encoding, const std::uint8_t* data, std::size_t size, std::size_t* next)
{
    std::size_t length = 0, after = size;
    if (encoding == 1 || encoding == 2) {
        while (length + 1 < size && (data[length] != 0 || data[length + 1] != 0))
            length += 2;
        if (length + 1 < size)
            after = length + 2;
        else
            length = size;
    } else {
        const void* zero = std::memchr(data, 0, size);
        length = zero ? std::size_t(static_cast<const std::uint8_t*>(zero) - data) : size;
        after = zero ? length + 1 : size;
    }
    if (next)
        *next = after;
    if (encoding == 0)
        return std::string(reinterpret_cast<const char*>(data), length);
    if (encoding == 3)
        return DecodeUtf8(data, length);
    if (length >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF)))
        return DecodeUtf16(data + 2, length - 2, data[0] == 0xFE);
    if (encoding == 2)
        return DecodeUtf16(data, length, true);
    // No byte-order mark: Latin characters have their zero byte second in
    // little-endian order, first in big-endian order.
    std::size_t zeroFirst = 0, zeroSecond = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        zeroFirst += data[i] == 0;
        zeroSecond += data[i + 1] == 0;
    }
    return DecodeUtf16(data, length, zeroFirst > zeroSecond);
}

bool ReadId3v2Info(TFile file, TWaveListInfo& info)
{
    std::uint8_t head[10];
    std::int64_t end = 0;
    if (file == NoFile || !ReadTagHeader(file, GetFileSize(file), head, end))
        return false;
    const int version = head[3];
    const std::uint8_t flags = head[5];
    if (version < 2 || version > 4 || (version == 2 && (flags & 0x40))) // 2.2: compressed tag
        return false;
    TTagStream s;
    s.File = file;
    s.Position = 10;
    s.End = end - ((flags & 0x10) && version == 4 ? 10 : 0);
    s.Unsync = version < 4 && (flags & 0x80);
    s.AfterFF = false;
    s.Block.resize(TagBlockSize);
    s.BlockStart = s.BlockHeld = 0;
    if (version > 2 && (flags & 0x40) && !SkipExtendedHeader(s, version))
        return true;
    bool taken[InfoFieldCount] = {};
    std::string userComment;
    std::vector<std::uint8_t> body;
    TFrameHead frame;
    while (ReadFrameHead(s, version, frame)) {
        const TFrameField* wanted = FindFrameField(frame.Id);
        if (!wanted || taken[wanted->Field] || !frame.Readable || frame.Size > MaxTextFrameSize) {
            if (!TakeTagBytes(s, nullptr, frame.Size))
                break;
            continue;
        }
        body.resize(std::size_t(frame.Size));
        if (!TakeTagBytes(s, body.data(), frame.Size))
            break;
        if (frame.Unsync || (version == 4 && (flags & 0x80)))
            UndoUnsynchronisation(body);
        if (frame.LengthPrefix)
            body.erase(body.begin(), body.begin() + (body.size() < 4 ? body.size() : 4));
        std::string text = FrameText(wanted->Kind, body);
        if (wanted->Kind == UserCommentText) {
            if (userComment.empty())
                userComment = text;
        } else if (!text.empty()) {
            info.Text[wanted->Field] = text;
            taken[wanted->Field] = true;
        }
    }
    if (!taken[ICMT] && !userComment.empty())
        info.Text[ICMT] = userComment;
    return true;
}
