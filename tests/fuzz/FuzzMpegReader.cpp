// Fuzz target: the first-header search, the format record and the tag reader.
#include "FuzzFile.h"
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
    CloseFile(file);
    return 0;
}
