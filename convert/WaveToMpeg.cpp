// WAVed MPEG back to MPEG audio: exactly the `data` body, then the tag.
#include "WaveToMpeg.h"

#include "BroadcastUnit.h"
#include "DeclUnit.h"
#include "MP3Unit.h"
#include "OutputFile.h"
#include "SniffUnit.h"
#include "WaveUnit.h"

namespace {
// The output extension for a `fmt ` record; empty when it is no MPEG format.
std::string MpegExtension(const std::uint8_t format[WaveFormatBufferSize])
{
    unsigned tag = format[0] | format[1] << 8;
    unsigned layer = format[18] | format[19] << 8;
    if (tag == 0x55)
        return "mp3";
    if (tag != 0x50)
        return std::string();
    return layer == 1 ? "mp1" : layer == 2 ? "mp2" : layer == 4 ? "mp3" : "mpa";
}

// Scans Source, the WAVed MPEG FileName: the name of the MPEG file it turns
// into, with the extension its `fmt ` chunk calls for; empty when it holds no
// MPEG audio to copy.
std::string ScanForOutput(TFile source, const std::string& fileName, const std::string& outFolder, int& scan,
                          TChunkSpan& dataSpan, TChunkSpan& infoSpan, TBroadcastSpans* broadcast = nullptr)
{
    std::uint8_t format[WaveFormatBufferSize];
    std::int64_t factValue = 0;
    scan = ScanWaveFile(source, format, factValue, dataSpan, infoSpan, broadcast);
    std::string extension = MpegExtension(format);
    // Without a `data` chunk there is nothing to copy: refuse rather than
    // copy the whole file.
    if (scan < 1 || (scan & 15) == 0 || extension.empty() || dataSpan.Size == 0)
        return std::string();
    return PlaceInFolder(ReplaceExtension(fileName, extension), outFolder);
}

bool Convert(TWindow owner, TFile source, const std::string& fileName, int options,
             bool showMessages, const std::string& outFolder)
{
    int scan = 0;
    TChunkSpan dataSpan, infoSpan;
    TBroadcastSpans broadcast;
    const std::string outputName = ScanForOutput(source, fileName, outFolder, scan, dataSpan, infoSpan, &broadcast);
    if (outputName.empty()) {
        LastFailure = SniffFile(source, true);
        if (showMessages)
            ShowError(owner, 1, fileName);
        return false;
    }
    TOutputFile output;
    if (!BeginOutput(output, outputName, source, owner, showMessages))
        return false;
    if (SeekFile(source, dataSpan.Position) != dataSpan.Position) {
        LastFailure = FailReadStopped;
        AbandonOutput(output);
        return false;
    }
    std::int64_t copied = CopyFileBytes(owner, source, output.File, dataSpan.Size);
    if (copied != dataSpan.Size) {
        // A `data` size that claims more than the file holds: the output
        // keeps the bytes that were there, without a tag, and the conversion
        // counts as failed. Any other short copy is a failed write.
        LastFailure = WriteFailure();
        std::int64_t held = GetFileSize(source) - dataSpan.Position;
        if (copied == held && held < dataSpan.Size) {
            LastFailure = FailDataCut;
            CommitOutput(output, owner, showMessages);
        } else {
            AbandonOutput(output);
        }
        return false;
    }
    // The tag comes from LIST/INFO; a Broadcast WAVE without it gives the
    // title and artist of its `cart` chunk, or the title of its `bext` one.
    TWaveListInfo info;
    bool tagged = false;
    if (options & WriteTagOption) {
        if (scan & 16)
            ReadListInfo(source, infoSpan, info);
        tagged = (scan & 16) || ReadBroadcastTags(source, broadcast, info);
    }
    if (tagged && !WriteId3Tag(output.File, info)) {
        LastFailure = WriteFailure();
        AbandonOutput(output);
        return false;
    }
    return CommitOutput(output, owner, showMessages);
}
} // namespace

bool ConvertWaveToMpeg(TWindow owner, const std::string& fileName, int options, bool showMessages,
                       const std::string& outFolder)
{
    TFile source = OpenForReading(fileName);
    if (source == NoFile) {
        LastFailure = FileFailure(FailNoRead, FailInputHeld, FailNoOpen);
        if (showMessages)
            ShowError(owner, 4, fileName);
        return false;
    }
    bool result = Convert(owner, source, fileName, options, showMessages, outFolder);
    CloseFile(source);
    return result;
}

std::string WaveToMpegName(const std::string& fileName, const std::string& outFolder)
{
    TFile source = OpenForReading(fileName);
    if (source == NoFile)
        return std::string();
    int scan = 0;
    TChunkSpan dataSpan, infoSpan;
    std::string outputName = ScanForOutput(source, fileName, outFolder, scan, dataSpan, infoSpan);
    CloseFile(source);
    return outputName;
}
