// Fuzz target: both whole conversions on one input, through real files.
#include "DeclUnit.h"
#include "FuzzFile.h"
#include "MpegToWave.h"
#include "WaveToMpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool loaded = (LoadCatalogue(), true);
    (void)loaded;
    const char* outputs[] = {"in.mp1", "in.mp2", "in.mp3", "in.mpa", "in.wav"};
    std::string wave = WriteFuzzFile("in.wav", data, size);
    ConvertWaveToMpeg(NoWindow, wave, WriteTagOption, false);
    std::string mpeg = WriteFuzzFile("in.mpg", data, size);
    ConvertMpegToWave(NoWindow, mpeg, false);
    for (const char* name : outputs)
        unlink((FuzzFolder() + "/" + name).c_str());
    return 0;
}
