// Fuzz target: one input through real files as the chunk walk (with the ds64
// chunk of RF64 files) and INFO reader, /Info's describer, the ID3v2 reader
// and both whole conversions take it (the first-header search, the ID3v1.1
// tag and the tag writer among them), through the frame walk in blocks whose
// size the first byte chooses, and as a list of files and labels and as a name pattern
// with a name to match.
#include "DeclUnit.h"
#include "EnvelopeUnit.h"
#include "FrameWalk.h"
#include "Id3v2Unit.h"
#include "InfoUnit.h"
#include "ListUnit.h"
#include "LoudnessUnit.h"
#include "MpegToWave.h"
#include "PatternUnit.h"
#include "WaveToMpeg.h"

#include <cstdio>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // In memory where the machine has it, so that a busy disk never stalls a run.
    static const std::string folder = [] {
        char memory[] = "/dev/shm/kvfuzzXXXXXX", disk[] = "/tmp/kvfuzzXXXXXX";
        LoadCatalogue();
        return std::string(mkdtemp(memory) ? memory : mkdtemp(disk) ? disk : "/tmp");
    }();
    for (const char* name : {"in.wav", "in.mpg"}) {
        const std::string path = folder + "/" + name;
        if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data, 1, size, file);
            std::fclose(file);
        }
        TFile file = OpenForReading(path);
        std::uint8_t format[WaveFormatBufferSize];
        std::int64_t fact = 0;
        TChunkSpan dataSpan, infoSpan;
        TWaveListInfo info;
        if (ScanWaveFile(file, format, fact, dataSpan, infoSpan) & 16)
            ReadListInfo(file, infoSpan, info);
        ReadId3v2Info(file, info);
        std::string described;
        if (name[3] == 'w')
            DescribeWaveFile(file, path, described);
        CloseFile(file);
        if (name[3] == 'w')
            ConvertWaveToMpeg(NoWindow, path, WriteTagOption, false);
        else
        {
            TRunChoices choices;
            choices.Broadcast = choices.Loudness = size % 2 == 1; // odd sizes as measured Broadcast WAVEs
            // and every fourth size with the timers and the envelope
            choices.Envelope.Trim = choices.Envelope.Segue = choices.Envelope.Peaks = size % 4 == 1;
            choices.Envelope.TrimLevel = -40;
            choices.Envelope.SegueLevel = -30;
            ConvertMpegToWave(NoWindow, path, false, choices);
        }
    }
    static TFrameWalk walk;
    BeginFrameWalk(walk, std::int64_t(size));
    // The decoded samples also go through the envelope scan, its bytes
    // thrown away.
    static TEnvelopeScan scan;
    TEnvelopeChoices envelope;
    envelope.Trim = envelope.Segue = envelope.Peaks = true;
    OpenEnvelopeScan(scan, envelope, [](void*, const std::uint8_t*, std::int32_t) { return true; }, nullptr);
    TMeter* meter = OpenMeter(true, &scan);
    const std::size_t block = size > 0 ? std::size_t(data[0]) * 16 + 1 : 1;
    for (std::size_t at = 0; at < size; at += block) {
        const std::int32_t count = std::int32_t(size - at < block ? size - at : block);
        FeedFrameWalk(walk, data + at, count);
        FeedMeter(meter, data + at, count);
    }
    std::uint32_t samples, bytesPerSecond;
    GetVariableRate(walk, samples, bytesPerSecond);
    // The walk counts the same whatever the blocks it is fed in.
    static TFrameWalk whole;
    BeginFrameWalk(whole, std::int64_t(size));
    FeedFrameWalk(whole, data, std::int32_t(size));
    if (whole.Frames != walk.Frames || whole.FrameBytes != walk.FrameBytes || whole.Variable != walk.Variable ||
        whole.ModeVaries != walk.ModeVaries || whole.Padded != walk.Padded)
        __builtin_trap();
    const std::string text(reinterpret_cast<const char*>(data), size);
    TList list;
    ReadList(text, TDateTime{2026, 12, 31, 0, 0, 0}, list);
    // The pattern up to the first line break, the name after it.
    const std::size_t split = text.find('\n');
    TNamePattern pattern;
    std::vector<std::pair<TLabelField, std::string>> values;
    if (split != std::string::npos && ParseNamePattern(text.substr(0, split), pattern))
        MatchNamePattern(pattern, text.substr(split + 1), values);
    TLoudness loudness;
    CloseMeter(meter, walk.Frames, 1152, loudness);
    TEnvelopeMarks marks;
    CloseEnvelopeScan(scan, loudness.Samples, marks);
    return 0;
}
