// MPEG audio to WAVed MPEG: "RIFF", "WAVE", `fmt `, `fact`, `data` holding
// the frames byte for byte, a pad byte to an even offset, then LIST/INFO.
#include "MpegToWave.h"

#include "BroadcastUnit.h"
#include "DeclUnit.h"
#include "FrameWalk.h"
#include "Id3v2Unit.h"
#include "LoudnessUnit.h"
#include "MP3Unit.h"
#include "OutputFile.h"
#include "SniffUnit.h"
#include "WaveUnit.h"

#include <algorithm>
#include <vector>

TLoudness LastLoudness;
TEnvelopeMarks LastMarks;

namespace {
// What reads the copied audio: the frame walk, and the decoder when the run
// measures loudness or scans the audio's envelope (closed on every way out).
struct TAudioReaders {
    TFrameWalk Walk;
    TMeter* Meter = nullptr;
    TEnvelopeScan Scan;
    ~TAudioReaders()
    {
        TLoudness unused;
        if (Meter != nullptr)
            CloseMeter(Meter, 0, 0, unused);
    }
};

void ReadBlock(void* readers, const std::uint8_t* data, std::int32_t count)
{
    TAudioReaders& audio = *static_cast<TAudioReaders*>(readers);
    FeedFrameWalk(audio.Walk, data, count);
    if (audio.Meter != nullptr)
        FeedMeter(audio.Meter, data, count);
}

bool WritePeaks(void* file, const std::uint8_t* data, std::int32_t count)
{
    return WriteBlock(*static_cast<TFile*>(file), data, count);
}

// What the decoder found into the broadcast record, LastLoudness and
// LastMarks; false, with the reason set, when nothing of the audio could be
// decoded or the envelope could not be written.
bool TakeDecoded(TAudioReaders& audio, TBroadcastInfo& info, bool loudness, bool scan)
{
    const TFrameWalk& walk = audio.Walk;
    const std::int32_t frameSamples = walk.Frames > 0 ? std::int32_t(GetWalkSamples(walk) / walk.Frames) : 0;
    TMeter* meter = audio.Meter;
    audio.Meter = nullptr;
    TLoudness decoded;
    if (!CloseMeter(meter, walk.Frames, frameSamples, decoded)) {
        LastFailure = FailUndecodable;
        return false;
    }
    if (loudness) {
        LastLoudness = decoded;
        info.Measured = true;
        for (int n = 0; n < LoudValueCount; ++n)
            info.Loudness[n] = LoudnessHundredths(LastLoudness, TLoudnessValue(n));
    }
    if (scan) {
        if (!CloseEnvelopeScan(audio.Scan, GetWalkSamples(walk), LastMarks))
            return false;
        info.Marked = true;
        info.Marks = LastMarks;
    }
    return true;
}

void PutChunkHead(std::string& bytes, const char (&id)[5], std::uint32_t size)
{
    AppendLong(bytes, FourCC(id));
    AppendLong(bytes, size);
}

// The `levl` chunk after the audio: its header, the envelope from the spool
// file it was written to as it was made, cut or filled with zeros to the
// peak frames the true sample count takes.
bool WriteLevl(TFile output, TFile spool, const TEnvelopeMarks& marks, int channels)
{
    const std::string head = LevlHeadBytes(marks, channels, GetLocalNow());
    if (!WriteBlock(output, head.data(), std::int32_t(head.size())) || SeekFile(spool, 0) != 0)
        return false;
    std::int64_t left = marks.PeakFrames * channels * 4;
    std::vector<std::uint8_t> block(1 << 16);
    bool spooled = true;
    while (left > 0) {
        const std::int32_t want = std::int32_t(left < std::int64_t(block.size()) ? left : std::int64_t(block.size()));
        std::int32_t got = spooled ? ReadBytes(spool, block.data(), want) : 0;
        if (got < 0)
            return false;
        spooled = got == want;
        std::fill(block.begin() + got, block.begin() + want, std::uint8_t(0));
        if (!WriteBlock(output, block.data(), want))
            return false;
        left -= want;
    }
    return true;
}

// What the audio is decoded for.
struct TDecoding {
    bool Loudness = false;
    bool Scan = false;       // timers or an envelope
    TFile Spool = NoFile;    // where the envelope goes while the audio is copied
};

// Everything after the output file was created: the head, the audio copy
// (decoded as Decoding asks), the `levl` chunk, the LIST/INFO chunk, and the
// head again with the final values. True only when every write worked, the
// file came out as planned, and the decoder found audio to decode.
bool WriteWaveFile(TWindow owner, TFile source, TFile output, TWaveHeader& header, const TRunChoices& choices,
                   TDecoding& decoding)
{
    const bool peaks = decoding.Spool != NoFile;
    const int channels = header.Format.nChannels;
    // The envelope's size follows the true sample count, known only after
    // the copy; the estimate decides RF64.
    header.LevlSize = peaks ? LevlChunkSize(header.SampleCount, channels) : 0;
    PlanWaveFile(header);
    std::string head = WaveHeadBytes(header);
    if (SeekFile(source, header.AudioStart) != header.AudioStart ||
        !WriteBlock(output, head.data(), std::int32_t(head.size())))
        return false;
    // The frames are counted as they pass, so that a stream whose frames differ
    // in bit rate gets its true length and byte rate instead of the first
    // frame's, and the broadcast chunks their true sample count.
    // The decoder reads the same blocks: the audio is read once.
    TAudioReaders audio;
    TFrameWalk& walk = audio.Walk;
    BeginFrameWalk(walk, header.AudioLength);
    if (decoding.Scan)
        OpenEnvelopeScan(audio.Scan, choices.Envelope, WritePeaks, &decoding.Spool);
    if (decoding.Loudness || decoding.Scan)
        audio.Meter = OpenMeter(decoding.Loudness, decoding.Scan ? &audio.Scan : nullptr);
    if (CopyFileBytes(owner, source, output, header.AudioLength, ReadBlock, &audio) != header.AudioLength)
        return false;
    std::uint32_t samples, bytesPerSecond;
    if (GetVariableRate(walk, samples, bytesPerSecond)) {
        header.Format.nAvgBytesPerSec = bytesPerSecond;
        header.FactValue = samples;
        header.SampleCount = GetWalkSamples(walk);
    }
    if (header.Broadcast)
        DescribeFrames(header.BroadcastInfo, walk);
    if (audio.Meter != nullptr && !TakeDecoded(audio, header.BroadcastInfo, decoding.Loudness, decoding.Scan))
        return false;
    if (!PadToEven(output) || (peaks && !WriteLevl(output, decoding.Spool, LastMarks, channels)) ||
        !WriteListInfo(output, header.Info))
        return false;
    header.LevlSize = peaks ? LevlChunkSize(GetWalkSamples(walk), channels) : 0;
    header.FileSize = GetFileSize(output);
    // A RIFF file the true envelope took past 4 GiB would not say its size.
    if (header.FileSize != WaveFileSize(header) || (!header.Rf64 && header.FileSize - 8 > 0xFFFFFFFF))
        return false;
    head = WaveHeadBytes(header);
    return SeekFile(output, 0) == 0 && WriteBlock(output, head.data(), std::int32_t(head.size()));
}

bool Convert(TWindow owner, TFile source, const std::string& fileName, bool showMessages,
             const TRunChoices& choices)
{
    TMpegHeader first;
    TWaveHeader header;
    TMpegWaveFormat& format = header.Format;
    FindFirstMpegHeader(source, first);
    MakeMpegWaveFormat(first, format);
    if (format.wFormatTag == 0) {
        LastFailure = SniffFile(source);
        if (showMessages)
            ShowError(owner, 1, fileName);
        return false;
    }
    const std::int64_t audioStart = GetFilePosition(source);
    const std::int64_t size = GetFileSize(source);
    std::int64_t length = size - audioStart;
    TWaveListInfo& info = header.Info;
    // A closing ID3v1.1 tag alone fills the INFO texts when there is one;
    // otherwise a leading ID3v2 tag's text frames do.
    if (ReadId3Info(source, info))
        length -= 128;
    else
        ReadId3v2Info(source, info);
    // The audio must be there: the first header may lie inside the trailing tag.
    if (audioStart < 0 || size < 0 || length <= 0) {
        LastFailure = SniffFile(source);
        if (showMessages)
            ShowError(owner, 1, fileName);
        return false;
    }
    // Loudness goes into `bext`, the timers into `cart`: the audio is decoded
    // for Broadcast WAVEs alone. Without its decoder a file to be decoded
    // fails before any output exists.
    TDecoding decoding;
    const TEnvelopeChoices& envelope = choices.Envelope;
    decoding.Loudness = choices.Broadcast && choices.Loudness;
    decoding.Scan = choices.Broadcast && (envelope.Trim || envelope.Segue || envelope.Peaks);
    if ((decoding.Loudness || decoding.Scan) && !DecoderAvailable()) {
        LastFailure = FailNoDecoder;
        return false;
    }
    const std::string outputName = PlaceInFolder(ReplaceExtension(fileName, "wav"), choices.OutFolder);
    TOutputFile output, spool;
    if (!BeginOutput(output, outputName, source, owner, showMessages))
        return false;
    // The envelope is written, as it is made, to a second temporary file
    // beside the output, and copied behind the audio when that is complete.
    if (decoding.Scan && envelope.Peaks) {
        if (!BeginOutput(spool, outputName, source, owner, showMessages)) {
            AbandonOutput(output);
            return false;
        }
        decoding.Spool = spool.File;
    }
    // Whole seconds at the first frame's byte rate, times the sample rate (the
    // fact value keeps it to 32 bits, ds64 does not); the frame walk replaces
    // it for a VBR stream.
    header.SampleCount = length / format.nAvgBytesPerSec * format.nSamplesPerSec;
    header.FactValue = std::uint32_t(header.SampleCount);
    header.AudioStart = audioStart;
    header.AudioLength = length;
    header.FileSize = 0;
    header.LevlSize = 0;
    header.Info.Text[ISFT] = ProgramTitle;
    header.Info.Text[ICOP] = CreditText;
    header.Broadcast = choices.Broadcast;
    if (choices.Broadcast)
        BeginBroadcastInfo(header.BroadcastInfo, info, fileName, source, first.Value, choices.Labels);
    const bool written = WriteWaveFile(owner, source, output.File, header, choices, decoding);
    if (!written && LastFailure != FailUndecodable)
        LastFailure = WriteFailure();
    if (decoding.Spool != NoFile)
        AbandonOutput(spool);
    if (!written) {
        AbandonOutput(output);
        return false;
    }
    return CommitOutput(output, owner, showMessages);
}
} // namespace

std::int64_t PlanWaveFile(TWaveHeader& header)
{
    header.Rf64 = false;
    std::int64_t size = WaveFileSize(header);
    if (size - 8 > 0xFFFFFFFF) {
        header.Rf64 = true;
        size = WaveFileSize(header);
    }
    return size;
}

std::int64_t WaveFileSize(const TWaveHeader& header)
{
    const std::int64_t audio = header.AudioLength + header.AudioLength % 2; // and the pad byte
    return std::int64_t(WaveHeadBytes(header).size()) + audio + header.LevlSize + ListInfoSize(header.Info);
}

std::string WaveHeadBytes(const TWaveHeader& header)
{
    std::uint8_t record[MpegWaveFormatMaxSize];
    const int recordSize = SerializeMpegWaveFormat(header.Format, record);
    const std::uint32_t unknown = 0xFFFFFFFF; // a 32-bit field whose value ds64 holds
    const std::int64_t riffSize = header.FileSize > 0 ? header.FileSize - 8 : 0;
    std::string bytes;
    PutChunkHead(bytes, header.Rf64 ? "RF64" : "RIFF", header.Rf64 ? unknown : std::uint32_t(riffSize));
    AppendLong(bytes, FourCC("WAVE"));
    if (header.Rf64) {
        PutChunkHead(bytes, "ds64", std::uint32_t(Ds64BodySize));
        for (std::int64_t value : {riffSize, header.AudioLength, header.SampleCount}) {
            AppendLong(bytes, std::uint32_t(value));
            AppendLong(bytes, std::uint32_t(std::uint64_t(value) >> 32));
        }
        AppendLong(bytes, 0); // no table of other chunks' sizes
    }
    PutChunkHead(bytes, "fmt ", std::uint32_t(recordSize));
    bytes.append(reinterpret_cast<const char*>(record), std::size_t(recordSize));
    PutChunkHead(bytes, "fact", 4);
    AppendLong(bytes, header.Rf64 ? unknown : header.FactValue);
    if (header.Broadcast)
        bytes += MakeBroadcastChunks(header.BroadcastInfo);
    PutChunkHead(bytes, "data", header.Rf64 ? unknown : std::uint32_t(header.AudioLength));
    return bytes;
}

bool ConvertMpegToWave(TWindow owner, const std::string& fileName, bool showMessages, const TRunChoices& choices)
{
    LastLoudness = TLoudness();
    LastMarks = TEnvelopeMarks();
    TFile source = OpenForReading(fileName);
    if (source == NoFile) {
        LastFailure = FileFailure(FailNoRead, FailInputHeld, FailNoOpen);
        if (showMessages)
            ShowError(owner, 4, fileName);
        return false;
    }
    bool result = Convert(owner, source, fileName, showMessages, choices);
    CloseFile(source);
    return result;
}
