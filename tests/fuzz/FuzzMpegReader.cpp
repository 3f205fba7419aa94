// Fuzz target: the first-header search, the format record and both tag
// readers (the closing ID3v1.1 tag and the leading ID3v2 tag).
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
    return 0;
}
