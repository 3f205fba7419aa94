// BroadcastUnit: the `bext`, `mext` and `cart` chunks of a Broadcast WAVE.
#include "BroadcastUnit.h"

#include "DeclUnit.h"
#include "KorvaneVersion.h"
#include "MP3Unit.h"

#include <cstdio>
#include <random>

namespace {
const std::size_t BextFixedSize = 602, CartFixedSize = 2048, MextSize = 12;
// The widths of the text fields.
const std::size_t DescriptionWidth = 256, OriginatorWidth = 32, CartTextWidth = 64;

// The fields of a chunk body: texts are NUL-filled to their widths by the
// zeros the body starts with.
void PutText(std::string& body, std::size_t offset, const std::string& text, std::size_t width)
{
    body.replace(offset, text.size() < width ? text.size() : width, text, 0, width);
}

void PutNumber(std::string& body, std::size_t offset, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        body[offset + std::size_t(i)] = char(value >> (8 * i));
}

std::string ChunkBytes(const char (&id)[5], const std::string& body)
{
    std::string bytes;
    AppendLong(bytes, FourCC(id));
    AppendLong(bytes, std::uint32_t(body.size()));
    return bytes + body;
}

// Value in Width (2 or 4) decimal digits.
std::string Digits(int value, int width = 2)
{
    char text[8];
    std::snprintf(text, sizeof text, "%0*d", width, value < 0 ? 0 : value % (width == 4 ? 10000 : 100));
    return text;
}

std::string DateText(const TDateTime& t)
{
    return Digits(t.Year, 4) + "-" + Digits(t.Month) + "-" + Digits(t.Day);
}

std::string TimeText(const TDateTime& t)
{
    return Digits(t.Hour) + ":" + Digits(t.Minute) + ":" + Digits(t.Second);
}

// The coding history's room: the line with the widest bit rate, kept even so
// that no pad byte follows the chunk. A shorter line is followed by zeros.
std::size_t CodingHistoryRoom(std::uint32_t firstHeader)
{
    return (CodingHistoryLine(firstHeader, 999).size() + 1) / 2 * 2;
}

std::string ProducerVersion()
{
    return KORVANE_VERSION;
}

// The text of a field up to its first zero byte.
std::string FieldText(const std::string& bytes, std::size_t offset, std::size_t width)
{
    std::string text = bytes.substr(offset, width);
    return text.substr(0, text.find('\0'));
}
} // namespace

std::string AsciiText(const std::string& text, bool utf8, std::size_t width)
{
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() < width;) {
        const std::uint8_t byte = std::uint8_t(text[i]);
        std::size_t length = 1;
        if (utf8 && byte >= 0x80)
            DecodeUtf8Char(reinterpret_cast<const std::uint8_t*>(text.data()) + i, text.size() - i,
                           true, length);
        out += byte >= 0x20 && byte < 0x7F ? char(byte) : '?';
        i += length;
    }
    return out;
}

std::string CodingHistoryLine(std::uint32_t firstHeader, std::int32_t kbps)
{
    static const char* const Modes[4] = {"stereo", "joint-stereo", "dual-mono", "mono"};
    TMpegHeader h;
    DecodeMpegHeader(firstHeader, h);
    // MPEG-2.5 extends MPEG-2 to lower sample rates; the history knows only
    // MPEG1 and MPEG2, and F= tells the rate.
    char line[96];
    std::snprintf(line, sizeof line, "A=MPEG%dL%d,F=%d,B=%d,M=%s,T=%s %s\r\n", h.Version == 1 ? 1 : 2,
                  h.Layer, h.SampleRate, kbps < 0 ? 0 : kbps > 999 ? 999 : kbps,
                  Modes[h.ChannelMode & 3], ProgramTitle.substr(0, 20).c_str(),
                  ProducerVersion().c_str());
    return line;
}

std::string MakeOriginatorReference(const TDateTime& now)
{
    // Country "ZZ" (none in particular), organisation "KVN", a serial number
    // of this run's six random digits and a six-digit count of the files it
    // wrote, the time, and nine random digits.
    static std::mt19937 random(std::random_device{}());
    static const unsigned run = unsigned(random() % 1000000);
    static unsigned count = 0;
    count = (count + 1) % 1000000;
    char text[40];
    std::snprintf(text, sizeof text, "ZZKVN%06u%06u%s%09u", run, count,
                  (Digits(now.Hour) + Digits(now.Minute) + Digits(now.Second)).c_str(),
                  unsigned(random() % 1000000000));
    return text;
}

void BeginBroadcastInfo(TBroadcastInfo& info, const TWaveListInfo& tags, const std::string& fileName,
                        TFile source, std::uint32_t firstHeader, const TLabels& labels)
{
    // A label given wins over the tag, the tag over the file's name.
    info.Labels = labels;
    const std::string title = labels.Given[LabelTitle] ? labels.Text[LabelTitle]
                                                       : AsciiText(TrimText(tags.Text[INAM]), false, std::string::npos);
    info.Artist = labels.Given[LabelArtist] ? labels.Text[LabelArtist]
                                            : AsciiText(TrimText(tags.Text[IART]), false, std::string::npos);
    info.Title = title;
    if (title.empty()) {
        // The file's own name without its extension.
        std::string name = fileName.substr(fileName.find_last_of(PathSeparator) + 1);
        name = name.substr(0, name.rfind('.'));
        info.Title = AsciiText(name, true, std::string::npos);
    }
    info.Description = title.empty() || info.Artist.empty() ? info.Title : info.Artist + " - " + title;
    if (labels.Given[LabelDescription])
        info.Description = labels.Text[LabelDescription];
    if (!GetFileWriteTime(source, info.Origination))
        info.Origination = GetLocalNow();
    info.OriginatorReference = MakeOriginatorReference(GetLocalNow());
    TMpegHeader first;
    DecodeMpegHeader(firstHeader, first);
    info.FirstHeader = firstHeader;
    info.Kbps = first.Bitrate;
    info.SampleCount = 0;
    info.SoundInformation = 0;
    info.FrameSize = 0;
    info.Measured = false;
    info.Marked = false;
    info.Marks = TEnvelopeMarks();
    for (std::int16_t& value : info.Loudness)
        value = 0x7FFF;
}

void DescribeFrames(TBroadcastInfo& info, const TFrameWalk& walk)
{
    const std::int64_t samples = GetWalkSamples(walk);
    info.SampleCount = samples > 0xFFFFFFFF ? 0xFFFFFFFFu : std::uint32_t(samples > 0 ? samples : 0);
    TMpegHeader first, unpadded;
    DecodeMpegHeader(walk.First, first);
    DecodeMpegHeader(walk.First & ~0x00020000u, unpadded);
    if (walk.Variable && samples > 0) // kbit/s = bytes x 8 x rate / samples / 1000, rounded
        info.Kbps = std::int32_t((16 * walk.FrameBytes * first.SampleRate + samples * 1000) /
                                 (2 * samples * 1000));
    const bool homogeneous = walk.Frames > 0 && !walk.Variable && !walk.ModeVaries;
    const bool noPadding = walk.Frames > 0 && !walk.Padded;
    const bool rateWithoutPadding = first.SampleRate == 22050 || first.SampleRate == 44100;
    info.SoundInformation = std::uint16_t((homogeneous ? 1 : 0) | (noPadding ? 2 : 0) |
                                          (noPadding && rateWithoutPadding ? 4 : 0));
    info.FrameSize = std::uint16_t(homogeneous ? MpegFrameBytes(unpadded) : 0);
}

std::string MakeBroadcastChunks(const TBroadcastInfo& info)
{
    std::string bext(BextFixedSize + CodingHistoryRoom(info.FirstHeader), '\0');
    PutText(bext, 0, info.Description, DescriptionWidth);
    const TLabels& labels = info.Labels;
    PutText(bext, 256,
            labels.Given[LabelOriginator] ? labels.Text[LabelOriginator] : AsciiText(ProgramTitle, true, OriginatorWidth),
            OriginatorWidth);
    PutText(bext, 288, info.OriginatorReference, OriginatorWidth);
    PutText(bext, 320, DateText(info.Origination), 10);
    PutText(bext, 330, TimeText(info.Origination), 8);
    // Version 1: TimeReference, UMID and the rest stay zero. Version 2 adds
    // the loudness values after the UMID; the chunk keeps its size.
    PutNumber(bext, 346, info.Measured ? 2 : 1, 2);
    if (info.Measured)
        for (int n = 0; n < 5; ++n)
            PutNumber(bext, 412 + 2 * std::size_t(n), std::uint16_t(info.Loudness[n]), 2);
    const std::string history = CodingHistoryLine(info.FirstHeader, info.Kbps);
    PutText(bext, BextFixedSize, history, bext.size() - BextFixedSize);

    std::string mext(MextSize, '\0');
    PutNumber(mext, 0, info.SoundInformation, 2);
    PutNumber(mext, 2, info.FrameSize, 2);

    // The tag text follows the fixed part, NUL-padded to an even size.
    const std::string& tagText = labels.Text[LabelTagText];
    std::string cart(CartFixedSize + (tagText.size() + 1) / 2 * 2, '\0');
    PutText(cart, 0, "0101", 4);
    PutText(cart, 4, info.Title, CartTextWidth);
    PutText(cart, 68, info.Artist, CartTextWidth);
    static const struct {
        TLabelField Field;
        std::size_t Offset;
    } Fields[] = {{LabelCutID, 132},   {LabelClientID, 196}, {LabelCategory, 260}, {LabelClassification, 324},
                  {LabelOutCue, 388},  {LabelUserDef, 616},  {LabelURL, 1024},     {LabelTagText, CartFixedSize}};
    for (const auto& field : Fields)
        PutText(cart, field.Offset, labels.Text[field.Field], LabelWidth(field.Field) ? LabelWidth(field.Field) : tagText.size());
    // Without dates given, no restriction on when the cut may be played.
    PutText(cart, 452, labels.Given[LabelStart] ? labels.Text[LabelStart] : DefaultStart, 18);
    PutText(cart, 470, labels.Given[LabelEnd] ? labels.Text[LabelEnd] : DefaultEnd, 18);
    PutText(cart, 488, AsciiText(ProgramTitle, true, CartTextWidth), CartTextWidth);
    PutText(cart, 552, ProducerVersion(), CartTextWidth);
    // The timers: the audio starts at sample 0 and ends after its last
    // sample, unless the decoded audio told where it starts, ends and segues.
    const TEnvelopeMarks& marks = info.Marks;
    PutText(cart, 684, "AUDs", 4);
    PutNumber(cart, 688, info.Marked ? marks.AudioStart : 0, 4);
    PutText(cart, 692, "AUDe", 4);
    PutNumber(cart, 696, info.Marked ? marks.AudioEnd : info.SampleCount, 4);
    if (info.Marked && marks.HasSegue) {
        PutText(cart, 700, "SEGs", 4);
        PutNumber(cart, 704, marks.SegueStart, 4);
        PutText(cart, 708, "SEGe", 4);
        PutNumber(cart, 712, marks.SegueEnd, 4);
    }
    return ChunkBytes("bext", bext) + ChunkBytes("mext", mext) + ChunkBytes("cart", cart);
}

bool ReadBroadcastTags(TFile file, const TBroadcastSpans& spans, TWaveListInfo& info)
{
    const std::int64_t size = GetFileSize(file);
    const bool cart = spans.Cart.Size >= CartFixedSize && spans.Cart.Position + std::int64_t(spans.Cart.Size) <= size;
    const bool bext = spans.Bext.Size >= BextFixedSize && spans.Bext.Position + std::int64_t(spans.Bext.Size) <= size;
    const TChunkSpan& span = cart ? spans.Cart : spans.Bext;
    std::string bytes(cart ? 132 : DescriptionWidth, '\0');
    if ((!cart && !bext) || SeekFile(file, span.Position) != span.Position ||
        ReadBytes(file, &bytes[0], std::int32_t(bytes.size())) != std::int32_t(bytes.size()))
        return false;
    for (std::string& text : info.Text)
        text.clear();
    info.Text[INAM] = FieldText(bytes, cart ? 4 : 0, cart ? CartTextWidth : DescriptionWidth);
    if (cart)
        info.Text[IART] = FieldText(bytes, 68, CartTextWidth);
    return true;
}
