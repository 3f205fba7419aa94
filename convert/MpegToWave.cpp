// MPEG audio to WAVed MPEG: "RIFF", "WAVE", `fmt `, `fact`, `data` holding
// the frames byte for byte, a pad byte to an even offset, then LIST/INFO.
#include "MpegToWave.h"

#include "BroadcastUnit.h"
#include "DeclUnit.h"
#include "FrameWalk.h"
#include "Id3v2Unit.h"
#include "MP3Unit.h"
#include "OutputFile.h"
#include "SniffUnit.h"
#include "WaveUnit.h"

namespace {
void WalkBlock(void* walk, const std::uint8_t* data, std::int32_t count)
{
    FeedFrameWalk(*static_cast<TFrameWalk*>(walk), data, count);
}

// What the header of one WAVed MPEG says, and where its audio lies in the source.
struct TWaveHeader {
    TMpegWaveFormat Format;
    std::uint32_t FactValue;
    std::int64_t AudioStart;
    std::uint32_t AudioLength;
    TWaveListInfo Info;
    bool Broadcast;           // `bext`, `mext` and `cart` stand between `fact` and `data`
    TBroadcastInfo BroadcastInfo;
};

// Everything after the output file was created: the chunks, the audio copy,
// the LIST/INFO chunk and the RIFF size. True only when every write worked.
bool WriteWaveFile(TWindow owner, TFile source, TFile output, TWaveHeader& header)
{
    std::uint8_t record[MpegWaveFormatMaxSize];
    int recordSize = SerializeMpegWaveFormat(header.Format, record);
    if (SeekFile(source, header.AudioStart) != header.AudioStart)
        return false;
    // The broadcast chunks are written first as the first frame describes the
    // stream, and again, of the same size, once the frames have been counted.
    const std::int64_t broadcastAt = 20 + recordSize + 12;
    std::string broadcast = header.Broadcast ? MakeBroadcastChunks(header.BroadcastInfo) : std::string();
    bool ok = WriteChunkHead(output, FourCC("RIFF"), 0) && WriteLongValue(output, FourCC("WAVE")) &&
              WriteChunkHead(output, FourCC("fmt "), std::uint32_t(recordSize)) &&
              WriteBlock(output, record, recordSize) && WriteChunkHead(output, FourCC("fact"), 4) &&
              WriteLongValue(output, header.FactValue) &&
              (broadcast.empty() || WriteBlock(output, broadcast.data(), std::int32_t(broadcast.size()))) &&
              WriteChunkHead(output, FourCC("data"), header.AudioLength);
    // The frames are counted as they pass, so that a stream whose frames differ
    // in bit rate gets its true length and byte rate instead of the first
    // frame's.
    TFrameWalk walk;
    BeginFrameWalk(walk, header.AudioLength);
    if (!ok || CopyFileBytes(owner, source, output, header.AudioLength, WalkBlock, &walk) !=
                   header.AudioLength)
        return false;
    header.Info.Text[ISFT] = ProgramTitle;
    header.Info.Text[ICOP] = CreditText;
    if (!PadToEven(output) || !WriteListInfo(output, header.Info))
        return false;
    std::int64_t size = GetFileSize(output);
    if (size < 8 || size - 8 > 0xFFFFFFFF)
        return false;
    std::uint32_t samples, bytesPerSecond;
    if (GetVariableRate(walk, samples, bytesPerSecond)) {
        // nAvgBytesPerSec, 8 bytes into the record at 20, and the fact value behind the record
        const std::int64_t rateAt = 20 + 8, factAt = 20 + recordSize + 8;
        if (SeekFile(output, rateAt) != rateAt || !WriteLongValue(output, bytesPerSecond) ||
            SeekFile(output, factAt) != factAt || !WriteLongValue(output, samples))
            return false;
    }
    if (header.Broadcast) {
        DescribeFrames(header.BroadcastInfo, walk);
        broadcast = MakeBroadcastChunks(header.BroadcastInfo);
        if (SeekFile(output, broadcastAt) != broadcastAt ||
            !WriteBlock(output, broadcast.data(), std::int32_t(broadcast.size())))
            return false;
    }
    return SeekFile(output, 0) == 0 && WriteChunkHead(output, FourCC("RIFF"), std::uint32_t(size - 8));
}

bool Convert(TWindow owner, TFile source, const std::string& fileName, bool showMessages,
             bool broadcast)
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
    // The audio must be there (the first header may lie inside the trailing
    // tag) and its size must fit the 32-bit sizes as a reader takes them:
    // signed, so under 2 GiB.
    if (audioStart < 0 || size < 0 || length <= 0) {
        LastFailure = SniffFile(source);
        if (showMessages)
            ShowError(owner, 1, fileName);
        return false;
    }
    const std::string outputName = ReplaceExtension(fileName, "wav");
    if (length > 0x7FFFFFFF) {
        LastFailure = FailTooLarge;
        if (showMessages)
            ShowError(owner, 5, outputName);
        return false;
    }
    TOutputFile output;
    if (!BeginOutput(output, outputName, source, owner, showMessages))
        return false;
    // Whole seconds at the first frame's byte rate, times the sample rate;
    // the frame walk replaces it for a VBR stream.
    header.FactValue = std::uint32_t(length / format.nAvgBytesPerSec) * format.nSamplesPerSec;
    header.AudioStart = audioStart;
    header.AudioLength = std::uint32_t(length);
    header.Broadcast = broadcast;
    std::uint8_t first4[4];
    if (broadcast) {
        // The first frame's header value, as the frame walk will take it.
        if (SeekFile(source, audioStart) != audioStart || ReadBytes(source, first4, 4) != 4) {
            LastFailure = FailReadStopped;
            AbandonOutput(output);
            return false;
        }
        BeginBroadcastInfo(header.BroadcastInfo, info, fileName, source,
                           std::uint32_t(first4[0]) | std::uint32_t(first4[1]) << 8 |
                               std::uint32_t(first4[2]) << 16 | std::uint32_t(first4[3]) << 24);
    }
    if (!WriteWaveFile(owner, source, output.File, header)) {
        LastFailure = FileFailure(FailWrite, FailWrite, FailWrite);
        AbandonOutput(output);
        return false;
    }
    return CommitOutput(output, owner, showMessages);
}
} // namespace

bool ConvertMpegToWave(TWindow owner, const std::string& fileName, bool showMessages, bool broadcast)
{
    TFile source = OpenForReading(fileName);
    if (source == NoFile) {
        LastFailure = FileFailure(FailNoRead, FailInputHeld, FailNoOpen);
        if (showMessages)
            ShowError(owner, 4, fileName);
        return false;
    }
    bool result = Convert(owner, source, fileName, showMessages, broadcast);
    CloseFile(source);
    return result;
}
