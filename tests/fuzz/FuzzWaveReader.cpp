// Fuzz target: the RIFF chunk walk and the INFO reader on hostile files.
#include "FuzzFile.h"
#include "WaveUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string path = WriteFuzzFile("scan.wav", data, size);
    TFile file = OpenForReading(path);
    std::uint8_t format[WaveFormatBufferSize];
    std::int32_t fact = 0;
    TChunkSpan dataSpan, infoSpan;
    int scan = ScanWaveFile(file, format, fact, dataSpan, infoSpan);
    TWaveListInfo info;
    if (scan & 16)
        ReadListInfo(file, infoSpan, info);
    CloseFile(file);
    return 0;
}
