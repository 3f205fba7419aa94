// LoudnessUnit: libmpg123 fed the copier's blocks, libebur128 metering what
// it decodes.
#include "LoudnessUnit.h"

#include "DirectWin32.h"
#include "EnvelopeUnit.h"

#include <ebur128.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// The decoder's calls the meter makes. Natively they are the shared
// library's; on Windows they come from its DLL, loaded only when a run
// measures, so that the program alone does everything else.
#define KORVANE_DECODER_CALLS(X) \
    X(mpg123_init) X(mpg123_new) X(mpg123_delete) X(mpg123_param2) X(mpg123_open_feed) \
    X(mpg123_feed) X(mpg123_read) X(mpg123_getformat) X(mpg123_close)

struct TDecoderCalls {
#define KORVANE_DECODER_FIELD(name) decltype(&::name) name;
    KORVANE_DECODER_CALLS(KORVANE_DECODER_FIELD)
#undef KORVANE_DECODER_FIELD
};

const TDecoderCalls* LoadDecoder()
{
    static TDecoderCalls calls;
    static int state = 0; // 0 not tried, 1 loaded, -1 not available
    if (state == 0) {
        state = -1;
#ifdef _WIN32
        void* library = LoadProgramLibrary(KORVANE_DECODER_DLL);
        bool all = library != nullptr;
#define KORVANE_DECODER_LOAD(name) \
        if (all) { \
            calls.name = reinterpret_cast<decltype(&::name)>(LibraryProcedure(library, #name)); \
            all = calls.name != nullptr; \
        }
        KORVANE_DECODER_CALLS(KORVANE_DECODER_LOAD)
#undef KORVANE_DECODER_LOAD
#else
#define KORVANE_DECODER_LINK(name) calls.name = &::name;
        KORVANE_DECODER_CALLS(KORVANE_DECODER_LINK)
#undef KORVANE_DECODER_LINK
        const bool all = true;
#endif
        if (all && calls.mpg123_init() == MPG123_OK)
            state = 1;
    }
    return state == 1 ? &calls : nullptr;
}

// Momentary and short-term loudness are taken every 100 ms: their maxima are
// the largest once the window (400 ms, 3 s) is full. Each 100 ms step's
// mean square (K-weighted, channels summed) is read once; a window's
// loudness is the mean of its steps', so that the 3 s window costs no
// second pass over its samples.
const int StepsPerSecond = 10, MomentarySteps = 4, ShortTermSteps = 30;

double EnergyLoudness(double energy)
{
    return energy > 0 ? 10 * std::log10(energy) - 0.691 : -HUGE_VAL;
}
} // namespace

struct TMeter {
    const TDecoderCalls* Calls = nullptr;
    mpg123_handle* Decoder = nullptr;
    ebur128_state* State = nullptr;  // null when the stream's loudness is not asked for
    bool Loudness = false;
    TEnvelopeScan* Scan = nullptr;   // the start, end, segue and envelope, when asked for
    long Rate = 0;                   // the first format's; 0 until it is told
    int Channels = 0;
    bool OtherFormat = false;         // the decoder's samples are in a format the meter was not made for
    std::int64_t Samples = 0;          // per channel, metered
    std::int64_t StepLeft = 0;         // samples to the next 100 ms reading
    std::int64_t Steps = 0;
    double StepEnergy[ShortTermSteps] = {}; // the last steps', a ring
    double MaxMomentary = -HUGE_VAL, MaxShortTerm = -HUGE_VAL;
    std::vector<float> Buffer;
};

namespace {
// Samples in the decoder's current format: scanned, and metered in 100 ms
// steps.
void Meter(TMeter& meter, const float* samples, std::int64_t count)
{
    meter.Samples += count;
    if (meter.Scan != nullptr)
        ScanSamples(*meter.Scan, samples, count);
    if (meter.State == nullptr)
        return;
    while (count > 0) {
        const std::int64_t take = count < meter.StepLeft ? count : meter.StepLeft;
        ebur128_add_frames_float(meter.State, samples, std::size_t(take));
        samples += take * meter.Channels;
        count -= take;
        meter.StepLeft -= take;
        if (meter.StepLeft > 0)
            continue;
        meter.StepLeft = meter.Rate / StepsPerSecond;
        double step = -HUGE_VAL;
        ebur128_loudness_window(meter.State, 1000 / StepsPerSecond, &step);
        meter.StepEnergy[meter.Steps % ShortTermSteps] = std::isfinite(step) ? std::pow(10, (step + 0.691) / 10) : 0;
        ++meter.Steps;
        double sum = 0;
        for (int n = 1; n <= ShortTermSteps && n <= meter.Steps; ++n) {
            sum += meter.StepEnergy[(meter.Steps - n) % ShortTermSteps];
            if (n == MomentarySteps && meter.Steps >= MomentarySteps)
                meter.MaxMomentary = std::max(meter.MaxMomentary, EnergyLoudness(sum / MomentarySteps));
        }
        if (meter.Steps >= ShortTermSteps)
            meter.MaxShortTerm = std::max(meter.MaxShortTerm, EnergyLoudness(sum / ShortTermSteps));
    }
}

// The decoder's format has (first) been told: the meter is made for the first;
// samples of any later other one are not metered.
void TakeFormat(TMeter& meter)
{
    long rate = 0;
    int channels = 0, encoding = 0;
    if (meter.Calls->mpg123_getformat(meter.Decoder, &rate, &channels, &encoding) != MPG123_OK ||
        encoding != MPG123_ENC_FLOAT_32 || channels < 1 || channels > 2 || rate < StepsPerSecond) {
        meter.OtherFormat = true;
        return;
    }
    if (meter.Rate == 0) {
        if (meter.Loudness)
            meter.State = ebur128_init(unsigned(channels), unsigned(rate),
                                       EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK |
                                           EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_HISTOGRAM);
        meter.Rate = rate;
        meter.Channels = channels;
        meter.StepLeft = rate / StepsPerSecond;
        if (meter.Scan != nullptr)
            SetEnvelopeFormat(*meter.Scan, channels, rate);
    }
    meter.OtherFormat = (meter.Loudness && meter.State == nullptr) || rate != meter.Rate || channels != meter.Channels;
}
} // namespace

bool DecoderAvailable()
{
    return LoadDecoder() != nullptr;
}

TMeter* OpenMeter(bool loudness, TEnvelopeScan* scan)
{
    const TDecoderCalls* calls = LoadDecoder();
    if (calls == nullptr)
        return nullptr;
    TMeter* meter = new TMeter;
    meter->Calls = calls;
    meter->Loudness = loudness;
    meter->Scan = scan;
    meter->Decoder = calls->mpg123_new(nullptr, nullptr);
    if (meter->Decoder == nullptr) {
        delete meter;
        return nullptr;
    }
    // Float samples; every frame as it is (no gapless trimming, the info
    // frame decoded as the silent frame it is), so that the samples count the
    // frames; damaged stretches of any length searched through; no words on
    // stderr.
    calls->mpg123_param2(meter->Decoder, MPG123_ADD_FLAGS,
                         MPG123_FORCE_FLOAT | MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0.0);
    calls->mpg123_param2(meter->Decoder, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    calls->mpg123_param2(meter->Decoder, MPG123_RESYNC_LIMIT, -1, 0.0);
    calls->mpg123_open_feed(meter->Decoder);
    meter->Buffer.resize(1152 * 2 * 8);
    return meter;
}

void FeedMeter(void* context, const std::uint8_t* data, std::int32_t count)
{
    TMeter& meter = *static_cast<TMeter*>(context);
    if (count <= 0 || meter.Calls->mpg123_feed(meter.Decoder, data, std::size_t(count)) != MPG123_OK)
        return;
    for (;;) {
        std::size_t done = 0;
        const int result = meter.Calls->mpg123_read(meter.Decoder, meter.Buffer.data(),
                                                    meter.Buffer.size() * sizeof(float), &done);
        if (result == MPG123_NEW_FORMAT)
            TakeFormat(meter);
        if (done > 0 && !meter.OtherFormat && meter.Rate != 0)
            Meter(meter, meter.Buffer.data(), std::int64_t(done / sizeof(float)) / meter.Channels);
        // Anything else (more data needed, an error) waits for the next block.
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
            return;
    }
}

bool CloseMeter(TMeter* meter, std::int64_t frames, std::int32_t frameSamples, TLoudness& result)
{
    result = TLoudness();
    result.Samples = meter->Samples;
    const bool any = meter->Samples > 0;
    if (any && meter->State != nullptr) {
        ebur128_state* state = meter->State;
        double value = -HUGE_VAL, peak = 0;
        ebur128_loudness_global(state, &value);
        result.Value[LoudIntegrated] = value;
        for (int channel = 0; channel < meter->Channels; ++channel)
            if (ebur128_true_peak(state, unsigned(channel), &value) == EBUR128_SUCCESS && value > peak)
                peak = value;
        result.Value[LoudTruePeak] = peak > 0 ? 20 * std::log10(peak) : -HUGE_VAL;
        result.Value[LoudMomentary] = meter->MaxMomentary;
        result.Value[LoudShortTerm] = meter->MaxShortTerm;
        // A range needs a short-term block above the absolute gate (-70 LUFS).
        if (meter->MaxShortTerm > -70 && ebur128_loudness_range(state, &value) == EBUR128_SUCCESS)
            result.Value[LoudRange] = value;
        else
            result.Value[LoudRange] = -HUGE_VAL;
        for (int n = 0; n < LoudValueCount; ++n)
            result.Exists[n] = std::isfinite(result.Value[n]);
    }
    if (any) {
        const std::int64_t decodedFrames = frameSamples > 0 ? meter->Samples / frameSamples : frames;
        result.Undecoded = frames > decodedFrames ? frames - decodedFrames : 0;
    }
    if (meter->State != nullptr)
        ebur128_destroy(&meter->State);
    meter->Calls->mpg123_close(meter->Decoder);
    meter->Calls->mpg123_delete(meter->Decoder);
    delete meter;
    return any;
}

std::int16_t LoudnessHundredths(const TLoudness& loudness, TLoudnessValue value)
{
    if (!loudness.Exists[value])
        return 0x7FFF;
    const double hundredths = std::floor(loudness.Value[value] * 100 + 0.5);
    // 0x7FFF says "no value": a value beyond the field's range is held at its ends.
    return std::int16_t(hundredths > 32766 ? 32766 : hundredths < -32768 ? -32768 : hundredths);
}

std::string LoudnessText(const TLoudness& loudness, const std::string& format, const std::string& noValue,
                         const std::string& undecodable)
{
    std::string values[3];
    const TLoudnessValue shown[3] = {LoudIntegrated, LoudRange, LoudTruePeak};
    for (int n = 0; n < 3; ++n) {
        // Tenths from the hundredths bext holds, half away from zero, so that
        // the line and the chunk agree on every platform.
        const int hundredths = LoudnessHundredths(loudness, shown[n]);
        const int rounded = (hundredths < 0 ? -hundredths : hundredths) + 5;
        values[n] = !loudness.Exists[shown[n]] ? noValue
                  : (hundredths < 0 && rounded >= 10 ? "-" : "") + std::to_string(rounded / 100) + "." +
                        std::to_string(rounded / 10 % 10);
    }
    std::string line = FormatText(format, {values[0], values[1], values[2]});
    if (loudness.Undecoded > 0)
        line += FormatText(undecodable, {std::to_string(loudness.Undecoded)});
    return line;
}
