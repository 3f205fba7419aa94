// Fuzz target: the first-header search, the format record, both tag readers
// (the closing ID3v1.1 tag and the leading ID3v2 tag) and the frame walk, fed
// in blocks whose size the first byte chooses.
#include "FrameWalk.h"
#include "FuzzFile.h"
#include "Id3v2Unit.h"
#include "MP3Unit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string path = WriteFuzzFile("search.mp3", data, size);
    TFile file = OpenForReading(path);
    TMpegHeader header;
    TMpegWaveFormat format;
    FindFirstMpegHeader(file, header);
    MakeMpegWaveFormat(header, format);
    std::uint8_t record[MpegWaveFormatMaxSize];
    SerializeMpegWaveFormat(format, record);
    TWaveListInfo info;
    ReadId3Info(file, info);
    ReadId3v2Info(file, info);
    CloseFile(file);
    static TFrameWalk walk;
    BeginFrameWalk(walk, std::int64_t(size));
    const std::size_t block = size > 0 ? std::size_t(data[0]) * 16 + 1 : 1;
    for (std::size_t at = 0; at < size; at += block)
        FeedFrameWalk(walk, data + at, std::int32_t(size - at < block ? size - at : block));
    std::uint32_t samples, bytesPerSecond;
    GetVariableRate(walk, samples, bytesPerSecond);
    return 0;
}
