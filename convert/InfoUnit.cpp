// InfoUnit: the lines that tell what a WAV file's chunks say.
#include "InfoUnit.h"

#include "EnvelopeUnit.h"
#include "FrameWalk.h"
#include "MP3Unit.h"

#include <cstdio>
#include <vector>

namespace {
// The block in which long chunks are read, also the most bytes of one text shown.
const std::int64_t WalkBlock = 65536, TextLimit = WalkBlock;
const std::uint32_t Unknown32 = 0xFFFFFFFF; // RF64's "the size is in ds64"
// The most chunks, INFO items or ds64 entries told of one file: far more than
// any file holds, and few enough that a hostile one cannot fill the memory.
const std::uint64_t ItemLimit = 10000;
const char* const TooMany = " more than 10000; the rest is not shown";
// Larger than any file: a 64-bit size beyond it is kept at it.
const std::int64_t HugeSize = std::int64_t(1) << 62;

// One chunk the walk met: where its body starts, the size in effect (in an
// RF64 file from ds64) and whether the body runs past the end of the file.
struct TChunk {
    std::uint32_t Id;
    std::int64_t Body, Size;
    bool Cut;
};

// What the walk found.
struct TWave {
    TFile File;
    std::int64_t FileSize;
    std::vector<TChunk> Chunks;
    std::string Format;          // the first `fmt ` body, up to 64 bytes
    std::int64_t DataBody = -1;  // the first `data` body, and as much of it as the file holds
    std::int64_t DataSize = 0;
    std::int64_t Fact = -1;      // the first `fact` value (from ds64 where it says so)
    std::int64_t Ds64Data = -1, Ds64Samples = -1;
    std::string Ds64Table;       // ds64's entries of other sizes, as stored
    std::uint32_t Rate = 0;      // samples per second, for the timers' seconds
    std::string Damage;          // why the walk stopped early
};

// Up to Count bytes (at most a block) from Position; fewer at the end of the file.
std::string ReadAt(TFile file, std::int64_t position, std::int64_t count)
{
    std::string bytes;
    if (count <= 0 || SeekFile(file, position) != position)
        return bytes;
    bytes.resize(std::size_t(count < WalkBlock ? count : WalkBlock));
    const std::int32_t got = ReadBytes(file, &bytes[0], std::int32_t(bytes.size()));
    bytes.resize(got > 0 ? std::size_t(got) : 0);
    return bytes;
}

// The little-endian number of Width bytes at Offset; bytes beyond the text count as 0.
std::uint64_t Number(const std::string& bytes, std::size_t offset, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = value << 8 | (offset + i < bytes.size() ? std::uint8_t(bytes[offset + i]) : 0u);
    return value;
}

std::int64_t SizeOf(std::uint64_t value)
{
    return value > std::uint64_t(HugeSize) ? HugeSize : std::int64_t(value);
}

// Printable ASCII: a text ends at its first NUL; control characters and bytes
// from 0x7F on become '?'.
std::string Printable(const std::string& bytes)
{
    std::string text = bytes.substr(0, bytes.find('\0'));
    for (char& c : text)
        if (std::uint8_t(c) < 0x20 || std::uint8_t(c) >= 0x7F)
            c = '?';
    return text;
}

// A chunk identifier: four characters, each shown even when it is a NUL.
std::string IdText(std::uint32_t id)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t c = std::uint8_t(id >> (8 * i));
        text += c >= 0x20 && c < 0x7F ? char(c) : '?';
    }
    return text;
}

std::string HexText(std::uint64_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

void Line(std::string& out, const std::string& key, const std::string& value)
{
    out += key + ": " + value + "\n";
}

// "n samples, s.sss s", the seconds when the rate is known.
std::string SampleText(std::uint64_t samples, std::uint32_t rate)
{
    char seconds[48] = "";
    if (rate > 0)
        std::snprintf(seconds, sizeof seconds, ", %.3f s", double(samples) / rate);
    return std::to_string(samples) + " samples" + seconds;
}

// The product, or the largest number where it would not fit.
std::uint64_t Times(std::uint64_t a, std::uint64_t b)
{
    return a != 0 && b > ~std::uint64_t(0) / a ? ~std::uint64_t(0) : a * b;
}

// The text of Size bytes at Position, each of its lines (CR LF, a lone LF or
// CR between them) a line of its own under Key; with Always an empty text
// still gets one. Past the limit, one line says how much is not shown.
void TextLines(std::string& out, const TWave& w, const std::string& key, std::int64_t position,
               std::int64_t size, bool always)
{
    std::string text = ReadAt(w.File, position, size);
    text = text.substr(0, text.find('\0'));
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find_first_of("\r\n", start);
        end = end == std::string::npos ? text.size() : end;
        Line(out, key, Printable(text.substr(start, end - start)));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        always = false;
    }
    if (always)
        Line(out, key, "");
    if (size > TextLimit)
        Line(out, key, "(" + std::to_string(size - TextLimit) + " more bytes not shown)");
}

enum TFieldKind { FieldText, FieldNumber, FieldHex, FieldSigned };

// A field of a chunk's fixed part.
struct TField {
    const char* Name;
    std::uint16_t Offset, Width;
    TFieldKind Kind;
    const char* Unit;
};

// Each field that the body holds whole, as "Prefix Name: value".
template <std::size_t N>
void Fields(std::string& out, const char* prefix, const std::string& body, const TField (&fields)[N])
{
    for (const TField& f : fields) {
        if (std::size_t(f.Offset + f.Width) > body.size())
            continue;
        const std::uint64_t n = Number(body, f.Offset, f.Width);
        const std::string value = f.Kind == FieldText ? Printable(body.substr(f.Offset, f.Width))
                                  : f.Kind == FieldHex ? HexText(n, 2 * f.Width)
                                  : f.Kind == FieldSigned ? std::to_string(std::int32_t(std::uint32_t(n)))
                                                          : std::to_string(n);
        Line(out, std::string(prefix) + " " + f.Name, value + f.Unit);
    }
}

// " (name, name)" for the bits set in Value; a bit without a name is "bit n".
std::string BitNames(std::uint64_t value, const char* const* names, int count)
{
    std::string text;
    for (int bit = 0; bit < 64; ++bit)
        if (value >> bit & 1)
            text += (text.empty() ? " (" : ", ") +
                    (bit < count ? std::string(names[bit]) : "bit " + std::to_string(bit));
    return text.empty() ? text : text + ")";
}

// False, with a Damaged line, when the chunk is too short for its fixed part.
bool Holds(std::string& out, const TChunk& c, std::int64_t need)
{
    if (c.Size >= need)
        return true;
    Line(out, "Damaged", "the " + IdText(c.Id) + " chunk holds " + std::to_string(c.Size) +
                             " bytes, fewer than the " + std::to_string(need) + " of its fixed part");
    return false;
}

// The fixed part of Need bytes into Body with its fields shown; false, with a
// Damaged line, when the chunk is too short for it.
template <std::size_t N>
bool FixedPart(std::string& out, const TWave& w, const TChunk& c, std::int64_t need, const char* prefix,
               const TField (&fields)[N], std::string& body)
{
    if (!Holds(out, c, need))
        return false;
    body = ReadAt(w.File, c.Body, need);
    Fields(out, prefix, body, fields);
    return true;
}

const TField FormatFields[] = {
    {"FormatTag", 0, 2, FieldHex, ""},      {"Channels", 2, 2, FieldNumber, ""},
    {"SamplesPerSec", 4, 4, FieldNumber, ""}, {"AvgBytesPerSec", 8, 4, FieldNumber, ""},
    {"BlockAlign", 12, 2, FieldNumber, ""}, {"BitsPerSample", 14, 2, FieldNumber, ""},
    {"ExtraSize", 16, 2, FieldNumber, ""}};
const TField MpegFields[] = {
    {"HeadLayer", 18, 2, FieldHex, ""},   {"HeadBitrate", 20, 4, FieldNumber, ""},
    {"HeadMode", 24, 2, FieldHex, ""},    {"HeadModeExt", 26, 2, FieldHex, ""},
    {"HeadEmphasis", 28, 2, FieldNumber, ""}, {"HeadFlags", 30, 2, FieldHex, ""},
    {"PTSLow", 32, 4, FieldNumber, ""},   {"PTSHigh", 36, 4, FieldNumber, ""}};
const TField Layer3Fields[] = {
    {"ID", 18, 2, FieldNumber, ""}, {"Flags", 20, 4, FieldHex, ""}, {"BlockSize", 24, 2, FieldNumber, ""},
    {"FramesPerBlock", 26, 2, FieldNumber, ""}, {"CodecDelay", 28, 2, FieldNumber, ""}};
const TField ExtensibleFields[] = {
    {"ValidBitsPerSample", 18, 2, FieldNumber, ""}, {"ChannelMask", 20, 4, FieldHex, ""},
    {"SubFormat", 24, 2, FieldHex, ""}};

void DescribeFormat(const TWave& w, const TChunk& c, std::string& out)
{
    const std::string body = ReadAt(w.File, c.Body, c.Size < 64 ? c.Size : 64);
    Fields(out, "fmt", body, FormatFields);
    const std::uint64_t tag = Number(body, 0, 2);
    if (tag == 0x50)
        Fields(out, "fmt", body, MpegFields);
    else if (tag == 0x55)
        Fields(out, "fmt", body, Layer3Fields);
    else if (tag == 0xFFFE)
        Fields(out, "fmt", body, ExtensibleFields);
    Holds(out, c, 16);
}

void DescribeFact(const TWave& w, const TChunk& c, std::string& out)
{
    if (!Holds(out, c, 4))
        return;
    const std::uint64_t value = Number(ReadAt(w.File, c.Body, 4), 0, 4);
    Line(out, "fact SampleLength", std::to_string(value) + (value == Unknown32 && w.Ds64Samples >= 0
                                                         ? " (ds64: " + std::to_string(w.Ds64Samples) + ")" : ""));
}

const TField BextFields[] = {
    {"Description", 0, 256, FieldText, ""},  {"Originator", 256, 32, FieldText, ""},
    {"OriginatorReference", 288, 32, FieldText, ""}, {"OriginationDate", 320, 10, FieldText, ""},
    {"OriginationTime", 330, 8, FieldText, ""}, {"TimeReference", 338, 8, FieldNumber, " samples"},
    {"Version", 346, 2, FieldNumber, ""}};
const std::int64_t BextFixed = 602;

void DescribeBext(const TWave& w, const TChunk& c, std::string& out)
{
    std::string body;
    if (!FixedPart(out, w, c, BextFixed, "bext", BextFields, body))
        return;
    std::string umid;
    for (std::size_t i = 348; i < 412; ++i)
        umid += HexText(std::uint8_t(body[i]), 2).substr(2);
    if (umid.find_first_not_of('0') != std::string::npos)
        Line(out, "bext UMID", umid);
    static const char* const Loudness[5][2] = {{"LoudnessValue", " LUFS"}, {"LoudnessRange", " LU"},
                                               {"MaxTruePeakLevel", " dBTP"}, {"MaxMomentaryLoudness", " LUFS"},
                                               {"MaxShortTermLoudness", " LUFS"}};
    for (std::size_t n = 0; n < 5 && Number(body, 346, 2) >= 2; ++n) {
        const int value = std::int16_t(std::uint16_t(Number(body, 412 + 2 * n, 2)));
        char text[24];
        std::snprintf(text, sizeof text, "%s%d.%02d%s", value < 0 ? "-" : "", (value < 0 ? -value : value) / 100,
                      (value < 0 ? -value : value) % 100, Loudness[n][1]);
        Line(out, std::string("bext ") + Loudness[n][0], value == 0x7FFF ? "n/a" : text);
    }
    TextLines(out, w, "bext CodingHistory", c.Body + BextFixed, c.Size - BextFixed, false);
}

void DescribeMext(const TWave& w, const TChunk& c, std::string& out)
{
    static const char* const Sound[] = {"homogeneous", "padding bit never set",
                                        "padding bit never set at 22.05 or 44.1 kHz", "free format"};
    static const char* const Ancillary[] = {"left or mono energy", "private byte", "right energy"};
    static const TField Sizes[] = {{"FrameSize", 2, 2, FieldNumber, ""},
                                   {"AncillaryDataLength", 4, 2, FieldNumber, ""}};
    if (!Holds(out, c, 12))
        return;
    const std::string body = ReadAt(w.File, c.Body, 12);
    Line(out, "mext SoundInformation", HexText(Number(body, 0, 2), 4) + BitNames(Number(body, 0, 2), Sound, 4));
    Fields(out, "mext", body, Sizes);
    Line(out, "mext AncillaryDataDef", HexText(Number(body, 6, 2), 4) + BitNames(Number(body, 6, 2), Ancillary, 3));
}

const TField CartFields[] = {
    {"Version", 0, 4, FieldText, ""},        {"Title", 4, 64, FieldText, ""},
    {"Artist", 68, 64, FieldText, ""},       {"CutID", 132, 64, FieldText, ""},
    {"ClientID", 196, 64, FieldText, ""},    {"Category", 260, 64, FieldText, ""},
    {"Classification", 324, 64, FieldText, ""}, {"OutCue", 388, 64, FieldText, ""},
    {"StartDate", 452, 10, FieldText, ""},   {"StartTime", 462, 8, FieldText, ""},
    {"EndDate", 470, 10, FieldText, ""},     {"EndTime", 480, 8, FieldText, ""},
    {"ProducerAppID", 488, 64, FieldText, ""}, {"ProducerAppVersion", 552, 64, FieldText, ""},
    {"UserDef", 616, 64, FieldText, ""},     {"LevelReference", 680, 4, FieldSigned, ""}};
const std::int64_t CartFixed = 2048;

void DescribeCart(const TWave& w, const TChunk& c, std::string& out)
{
    std::string body;
    if (!FixedPart(out, w, c, CartFixed, "cart", CartFields, body))
        return;
    // Eight timers of a usage id and a sample; a zero id is a timer not used.
    for (std::size_t at = 684; at < 748; at += 8)
        if (const std::uint32_t id = std::uint32_t(Number(body, at, 4)))
            Line(out, "cart Timer " + IdText(id), SampleText(Number(body, at + 4, 4), w.Rate));
    Line(out, "cart URL", Printable(body.substr(1024, 1024)));
    TextLines(out, w, "cart TagText", c.Body + CartFixed, c.Size - CartFixed, false);
}

const TField LevlFields[] = {
    {"Version", 0, 4, FieldNumber, ""},  {"Format", 4, 4, FieldNumber, ""},
    {"PointsPerValue", 8, 4, FieldNumber, ""}, {"BlockSize", 12, 4, FieldNumber, " samples"},
    {"Channels", 16, 4, FieldNumber, ""}, {"PeakFrames", 20, 4, FieldNumber, ""}};
const std::int64_t LevlHeader = LevlHeaderSize;

// The peak envelope: its header, whether the peaks fill what the header
// gives, and the largest of them.
void DescribeLevl(const TWave& w, const TChunk& c, std::string& out)
{
    std::string head;
    if (!FixedPart(out, w, c, LevlHeader, "levl", LevlFields, head))
        return;
    const std::uint64_t peak = Number(head, 24, 4), offset = Number(head, 28, 4), format = Number(head, 4, 4);
    Line(out, "levl PeakOfPeaks", peak == Unknown32 ? "unknown" : std::to_string(peak) + " (sample frame)");
    Line(out, "levl Offset", std::to_string(offset));
    Line(out, "levl TimeStamp", Printable(head.substr(32, 28)));
    // The offset counts from the chunk's id, whose head is 8 bytes.
    if (offset < std::uint64_t(LevlHeader + 8) || offset - 8 > std::uint64_t(c.Size)) {
        Line(out, "Damaged", "the levl peaks start at byte " + std::to_string(offset) + ", outside the chunk");
        return;
    }
    const std::uint64_t bytes = format == 1 || format == 2 ? format : 0;
    const std::int64_t start = c.Body + std::int64_t(offset) - 8, size = c.Size - (std::int64_t(offset) - 8);
    Line(out, "levl PeakData", std::to_string(size) + " bytes");
    if (bytes == 0) {
        Line(out, "Damaged", "the levl format " + std::to_string(format) + " is neither 1 (8-bit) nor 2 (16-bit)");
        return;
    }
    const std::uint64_t frames = Number(head, 20, 4), channels = Number(head, 16, 4), points = Number(head, 8, 4);
    const std::uint64_t expected = Times(Times(Times(frames, channels), points), bytes);
    if (expected != std::uint64_t(size))
        Line(out, "Damaged", "the levl peak data holds " + std::to_string(size) + " bytes, not " +
                                 std::to_string(frames) + " x " + std::to_string(channels) + " x " +
                                 std::to_string(points) + " x " + std::to_string(bytes) + " = " +
                                 std::to_string(expected));
    std::uint64_t largest = 0;
    std::string block;
    for (std::int64_t at = 0; at + std::int64_t(bytes) <= size; at += std::int64_t(block.size())) {
        block = ReadAt(w.File, start + at, size - at);
        for (std::size_t i = 0; i + bytes <= block.size(); i += bytes) {
            const std::uint64_t value = Number(block, i, bytes);
            largest = value > largest ? value : largest;
        }
        if (block.empty())
            break;
    }
    Line(out, "levl LargestPeak", std::to_string(largest));
}

void DescribeList(const TWave& w, const TChunk& c, std::string& out)
{
    if (!Holds(out, c, 4))
        return;
    const std::uint32_t type = std::uint32_t(Number(ReadAt(w.File, c.Body, 4), 0, 4));
    Line(out, "LIST Type", IdText(type));
    if (type != FourCC("INFO"))
        return;
    const std::int64_t end = c.Body + c.Size;
    std::uint64_t items = 0;
    for (std::int64_t p = c.Body + 4; p + 8 <= end; ++items) {
        if (items == ItemLimit) {
            Line(out, "Damaged", std::string("INFO items:") + TooMany);
            return;
        }
        const std::string head = ReadAt(w.File, p, 8);
        const std::int64_t size = std::int64_t(Number(head, 4, 4));
        const std::string id = IdText(std::uint32_t(Number(head, 0, 4)));
        if (size > end - p - 8) {
            Line(out, "Damaged", "the INFO item " + id + " runs " + std::to_string(p + 8 + size - end) +
                                     " bytes past its LIST chunk");
            return;
        }
        TextLines(out, w, "INFO " + id, p + 8, size, true);
        p += 8 + size + size % 2;
    }
}

const TField Ds64Fields[] = {
    {"RIFFSize", 0, 8, FieldNumber, ""}, {"DataSize", 8, 8, FieldNumber, ""},
    {"SampleCount", 16, 8, FieldNumber, ""}, {"TableLength", 24, 4, FieldNumber, ""}};
const std::int64_t Ds64Fixed = 28, Ds64Entry = 12;

void DescribeDs64(const TWave& w, const TChunk& c, std::string& out)
{
    std::string body;
    if (!FixedPart(out, w, c, Ds64Fixed, "ds64", Ds64Fields, body))
        return;
    const std::uint64_t count = Number(body, 24, 4);
    std::uint64_t n = 0;
    for (; n < count && n < ItemLimit && Ds64Fixed + std::int64_t(n + 1) * Ds64Entry <= c.Size; ++n) {
        const std::string entry = ReadAt(w.File, c.Body + Ds64Fixed + std::int64_t(n) * Ds64Entry, Ds64Entry);
        Line(out, "ds64 Table " + IdText(std::uint32_t(Number(entry, 0, 4))),
             std::to_string(Number(entry, 4, 8)) + " bytes");
    }
    if (n < count)
        Line(out, "Damaged", n == ItemLimit ? std::string("ds64 entries:") + TooMany : "the ds64 table of " +
                                 std::to_string(count) + " entries runs past its chunk");
}

typedef void (*TDescriber)(const TWave& w, const TChunk& c, std::string& out);
const struct {
    std::uint32_t Id;
    TDescriber Describe;
} Describers[] = {{FourCC("fmt "), DescribeFormat}, {FourCC("fact"), DescribeFact}, {FourCC("bext"), DescribeBext},
                  {FourCC("mext"), DescribeMext},   {FourCC("cart"), DescribeCart}, {FourCC("levl"), DescribeLevl},
                  {FourCC("LIST"), DescribeList},   {FourCC("ds64"), DescribeDs64}};

// The sizes an RF64 file's ds64 chunk (its first, at offset 12) gives.
void TakeDs64(TWave& w)
{
    const std::string head = ReadAt(w.File, 12, 8), body = ReadAt(w.File, 20, Ds64Fixed);
    const std::uint64_t size = Number(head, 4, 4);
    if (Number(head, 0, 4) != FourCC("ds64") || size < std::uint64_t(Ds64Fixed) ||
        body.size() < std::size_t(Ds64Fixed))
        return;
    w.Ds64Data = SizeOf(Number(body, 8, 8));
    w.Ds64Samples = SizeOf(Number(body, 16, 8));
    const std::int64_t table = std::int64_t(Number(body, 24, 4) * Ds64Entry);
    const std::int64_t room = std::int64_t(size) - Ds64Fixed;
    w.Ds64Table = ReadAt(w.File, 20 + Ds64Fixed, table < room ? table : room);
}

// The size a chunk whose 32-bit field says "see ds64" has; the field itself
// when ds64 does not give it.
std::int64_t Ds64Size(const TWave& w, std::uint32_t id, std::uint32_t field)
{
    if (id == FourCC("data") && w.Ds64Data >= 0)
        return w.Ds64Data;
    for (std::size_t at = 0; at + Ds64Entry <= w.Ds64Table.size(); at += Ds64Entry)
        if (Number(w.Ds64Table, at, 4) == id)
            return SizeOf(Number(w.Ds64Table, at + 4, 8));
    return field;
}

// Walks the chunks from offset 12 to the end of the file, or to the first
// that runs past it; keeps the format, the data and the fact value.
void WalkChunks(TWave& w, bool rf64)
{
    if (rf64)
        TakeDs64(w);
    std::int64_t p = 12;
    for (; p + 8 <= w.FileSize; p += 8 + w.Chunks.back().Size + w.Chunks.back().Size % 2) {
        const std::string head = ReadAt(w.File, p, 8);
        if (head.size() < 8)
            break;
        if (w.Chunks.size() == ItemLimit) {
            w.Damage = std::string("chunks:") + TooMany;
            return;
        }
        const std::uint32_t id = std::uint32_t(Number(head, 0, 4)), field = std::uint32_t(Number(head, 4, 4));
        const std::int64_t size = rf64 && field == Unknown32 ? Ds64Size(w, id, field) : field;
        const TChunk chunk = {id, p + 8, size, size > w.FileSize - p - 8};
        w.Chunks.push_back(chunk);
        if (id == FourCC("fmt ") && w.Format.empty())
            w.Format = ReadAt(w.File, p + 8, size < 64 ? size : 64);
        if (id == FourCC("fact") && w.Fact < 0 && size >= 4) {
            const std::int64_t value = std::int64_t(Number(ReadAt(w.File, p + 8, 4), 0, 4));
            w.Fact = rf64 && value == Unknown32 && w.Ds64Samples >= 0 ? w.Ds64Samples : value;
        }
        if (id == FourCC("data") && w.DataBody < 0) {
            w.DataBody = p + 8;
            w.DataSize = chunk.Cut ? w.FileSize - p - 8 : size;
        }
        if (chunk.Cut) {
            w.Damage = "the " + IdText(id) + " chunk runs " + std::to_string(size - (w.FileSize - p - 8)) +
                       " bytes past the end of the file";
            return;
        }
    }
    if (p < w.FileSize)
        w.Damage = std::to_string(w.FileSize - p) + " bytes after the last chunk, too few for a chunk";
}

// Where the MPEG frames of the data start: the first header, within the
// first block, that the next frame's header confirms (or whose frame ends
// the data); -1 when there is none.
std::int64_t FirstFrame(const TWave& w)
{
    const std::string first = ReadAt(w.File, w.DataBody, w.DataSize);
    for (std::size_t i = 0; i + 4 <= first.size(); ++i) {
        const std::uint32_t value = std::uint32_t(Number(first, i, 4));
        if (!IsMpegHeader(value))
            continue;
        TMpegHeader h;
        DecodeMpegHeader(value, h);
        const std::size_t next = i + std::size_t(MpegFrameBytes(h));
        if (std::int64_t(next) == w.DataSize ||
            (next + 4 <= first.size() && IsNextMpegHeader(value, std::uint32_t(Number(first, next, 4)))))
            return std::int64_t(i);
    }
    return -1;
}

// The format line and the true length of MPEG audio: the frames walked.
void DescribeMpeg(TWave& w, std::string& out)
{
    const std::int64_t start = w.DataBody < 0 ? -1 : FirstFrame(w);
    if (start < 0) {
        Line(out, "Format", "MPEG (" + HexText(Number(w.Format, 0, 2), 4) + "), no MPEG frame in the data");
        Line(out, "Length", "unknown");
        return;
    }
    static TFrameWalk walk; // its tail is large for the stack
    BeginFrameWalk(walk, w.DataSize - start);
    std::string block;
    for (std::int64_t at = start; at < w.DataSize; at += std::int64_t(block.size())) {
        block = ReadAt(w.File, w.DataBody + at, w.DataSize - at);
        if (block.empty())
            break;
        FeedFrameWalk(walk, reinterpret_cast<const std::uint8_t*>(block.data()), std::int32_t(block.size()));
    }
    static const char* const Layers[] = {"", "I", "II", "III"};
    static const char* const Modes[] = {"stereo", "joint stereo", "dual channel", "mono"};
    TMpegHeader h;
    DecodeMpegHeader(walk.First, h);
    w.Rate = std::uint32_t(h.SampleRate);
    const std::int64_t samples = GetWalkSamples(walk);
    std::string rate = std::to_string(h.Bitrate) + " kbit/s";
    if (walk.Variable && samples > 0) // kbit/s = bytes x 8 x rate / samples / 1000, rounded
        rate = std::to_string((16 * walk.FrameBytes * h.SampleRate + samples * 1000) / (2 * samples * 1000)) +
               " kbit/s average (VBR)";
    Line(out, "Format", "MPEG-" + (h.Version == 3 ? std::string("2.5") : std::to_string(h.Version)) +
                            " Layer " + Layers[h.Layer & 3] + ", " + std::to_string(w.Rate) + " Hz, " +
                            Modes[h.ChannelMode & 3] + ", " + rate);
    Line(out, "Length", SampleText(std::uint64_t(samples), w.Rate));
    Line(out, "Frames", std::to_string(walk.Frames) +
                            (start > 0 ? ", the first " + std::to_string(start) + " bytes into the data" : ""));
}

// The format line and the length: MPEG by its frames, PCM (and the other
// formats of one block per sample frame) by the data's blocks, anything
// else by its fact value.
void DescribeAudio(TWave& w, std::string& out)
{
    const std::uint64_t tag = Number(w.Format, 0, 2);
    if (w.Format.size() < 16) {
        Line(out, "Format", w.Format.empty() ? "unknown, no fmt chunk" : "unknown, the fmt chunk is too short");
        Line(out, "Length", "unknown");
        return;
    }
    if (tag == 0x50 || tag == 0x55)
        return DescribeMpeg(w, out);
    const std::uint64_t kind = tag == 0xFFFE ? Number(w.Format, 24, 2) : tag;
    static const char* const Names[] = {"", "PCM", "", "IEEE float", "", "", "A-law", "mu-law"};
    const bool blocks = kind < 8 && *Names[kind];
    const std::string name = blocks ? Names[kind] : HexText(kind, 4);
    const std::uint64_t channels = Number(w.Format, 2, 2), align = Number(w.Format, 12, 2);
    w.Rate = std::uint32_t(Number(w.Format, 4, 4));
    Line(out, "Format", (tag == 0xFFFE ? "extensible " + name : name) + ", " + std::to_string(w.Rate) + " Hz, " +
                            std::to_string(channels) + (channels == 1 ? " channel, " : " channels, ") +
                            std::to_string(Number(w.Format, 14, 2)) + " bits");
    if (blocks && align > 0 && w.DataBody >= 0)
        Line(out, "Length", SampleText(std::uint64_t(w.DataSize) / align, w.Rate));
    else if (w.Fact >= 0)
        Line(out, "Length", SampleText(std::uint64_t(w.Fact), w.Rate) + " (fact)");
    else
        Line(out, "Length", "unknown");
}
} // namespace

bool DescribeWaveFile(TFile file, const std::string& name, std::string& text)
{
    text.clear();
    TWave w;
    w.File = file;
    w.FileSize = GetFileSize(file);
    const std::string head = ReadAt(file, 0, 12);
    const std::string form = head.substr(0, 4);
    if (head.size() < 12 || (form != "RIFF" && form != "RF64" && form != "BW64") || head.compare(8, 4, "WAVE") != 0)
        return false;
    WalkChunks(w, form != "RIFF");
    Line(text, "File", name);
    Line(text, "Container", form + " WAVE, " + std::to_string(w.FileSize) + " bytes, RIFF size " +
                                std::to_string(Number(head, 4, 4)));
    if (form != "RIFF" && (w.Chunks.empty() || w.Chunks[0].Id != FourCC("ds64")))
        Line(text, "Damaged", "the " + form + " file does not start with a ds64 chunk");
    DescribeAudio(w, text);
    for (const TChunk& c : w.Chunks) {
        Line(text, "Chunk", IdText(c.Id) + " " + std::to_string(c.Size) + " bytes at " +
                                std::to_string(c.Body - 8));
        for (const auto& d : Describers)
            if (d.Id == c.Id && !c.Cut)
                d.Describe(w, c, text);
    }
    if (!w.Damage.empty())
        Line(text, "Damaged", w.Damage);
    return true;
}
