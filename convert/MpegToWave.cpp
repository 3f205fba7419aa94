// MPEG audio to WAVed MPEG: "RIFF", "WAVE", `fmt `, `fact`, `data` holding
// the frames byte for byte, a pad byte to an even offset, then LIST/INFO.
#include "MpegToWave.h"

#include "DeclUnit.h"
#include "FrameWalk.h"
#include "Id3v2Unit.h"
#include "MP3Unit.h"
#include "OutputFile.h"
#include "WaveUnit.h"

namespace {
void WalkBlock(void* walk, const std::uint8_t* data, std::int32_t count)
{
    FeedFrameWalk(*static_cast<TFrameWalk*>(walk), data, count);
}

// Everything after the output file was created: the chunks, the audio copy,
// the LIST/INFO chunk and the RIFF size. True only when every write worked.
bool WriteWaveFile(TWindow owner, TFile source, TFile output, const TMpegWaveFormat& format,
                   std::int64_t audioStart, std::uint32_t audioLength, std::uint32_t factValue,
                   TWaveListInfo& info)
{
    std::uint8_t record[MpegWaveFormatMaxSize];
    int recordSize = SerializeMpegWaveFormat(format, record);
    if (SeekFile(source, audioStart) != audioStart)
        return false;
    bool ok = WriteChunkHead(output, FourCC("RIFF"), 0) && WriteLongValue(output, FourCC("WAVE")) &&
              WriteChunkHead(output, FourCC("fmt "), std::uint32_t(recordSize)) &&
              WriteBlock(output, record, recordSize) && WriteChunkHead(output, FourCC("fact"), 4) &&
              WriteLongValue(output, factValue) &&
              WriteChunkHead(output, FourCC("data"), audioLength);
    // The frames are counted as they pass, so that a stream whose frames differ
    // in bit rate gets its true length and byte rate instead of the first
    // frame's.
    TFrameWalk walk;
    BeginFrameWalk(walk, audioLength);
    if (!ok || CopyFileBytes(owner, source, output, audioLength, WalkBlock, &walk) != audioLength)
        return false;
    info.Text[ISFT] = ProgramTitle;
    info.Text[ICOP] = CreditText;
    if (!PadToEven(output) || !WriteListInfo(output, info))
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
    return SeekFile(output, 0) == 0 && WriteChunkHead(output, FourCC("RIFF"), std::uint32_t(size - 8));
}

bool Convert(TWindow owner, TFile source, const std::string& fileName, bool showMessages)
{
    TMpegHeader header;
    TMpegWaveFormat format;
    FindFirstMpegHeader(source, header);
    MakeMpegWaveFormat(header, format);
    if (format.wFormatTag == 0) {
        if (showMessages)
            ShowError(owner, 1, fileName);
        return false;
    }
    const std::int64_t audioStart = GetFilePosition(source);
    const std::int64_t size = GetFileSize(source);
    std::int64_t length = size - audioStart;
    TWaveListInfo info;
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
        if (showMessages)
            ShowError(owner, 1, fileName);
        return false;
    }
    const std::string outputName = ReplaceExtension(fileName, "wav");
    if (length > 0x7FFFFFFF) {
        if (showMessages)
            ShowError(owner, 5, outputName);
        return false;
    }
    TOutputFile output;
    if (!BeginOutput(output, outputName, source, owner, showMessages))
        return false;
    // Whole seconds at the first frame's byte rate, times the sample rate;
    // the frame walk replaces it for a VBR stream.
    std::uint32_t factValue = std::uint32_t(length / format.nAvgBytesPerSec) * format.nSamplesPerSec;
    if (!WriteWaveFile(owner, source, output.File, format, audioStart, std::uint32_t(length),
                       factValue, info)) {
        AbandonOutput(output);
        return false;
    }
    return CommitOutput(output, owner, showMessages);
}
} // namespace

bool ConvertMpegToWave(TWindow owner, const std::string& fileName, bool showMessages)
{
    TFile source = OpenForReading(fileName);
    if (source == NoFile) {
        if (showMessages)
            ShowError(owner, 4, fileName);
        return false;
    }
    bool result = Convert(owner, source, fileName, showMessages);
    CloseFile(source);
    return result;
}
