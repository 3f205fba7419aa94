// MP3Unit: the MPEG audio frame header, the WAVE format record that describes
// an MPEG stream, and the ID3v1.1 tag with its genre names.
#pragma once

#include "DirectWin32.h"
#include "WaveUnit.h"

#include <cstdint>
#include <string>

// One decoded frame header; all zero stands for "no header found".
struct TMpegHeader {
    std::int32_t Version;       // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5, 0 reserved
    std::int32_t Layer;         // 1, 2 or 3; 0 reserved
    std::int32_t Bitrate;       // kbit/s; 0 for free format, index 15 or reserved
    std::int32_t SampleRate;    // Hz; 0 for index 3 or a reserved version
    std::int32_t ChannelMode;   // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    std::int32_t ModeExtension; // (Layer - 1) * 4 + the mode-extension bits
    bool PaddingBit;
    bool Protection;            // true when a CRC follows the header
    bool PrivateBit;
    bool CopyrightBit;
    bool OriginalBit;
    std::int32_t Emphasis;
    std::int32_t FrameLength;   // bytes, padding included; 0 when SampleRate is 0
    std::uint32_t Value;        // the four header bytes as read, little-endian
};

// The body of the `fmt ` chunk: the WAVEFORMATEX head followed by the
// MPEG1WAVEFORMAT (tag 0x50) or MPEGLAYER3WAVEFORMAT (tag 0x55) fields.
struct TMpegWaveFormat {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
    // tag 0x50
    std::uint16_t fwHeadLayer;
    std::uint32_t dwHeadBitrate;
    std::uint16_t fwHeadMode;
    std::uint16_t fwHeadModeExt;
    std::uint16_t wHeadEmphasis;
    std::uint16_t fwHeadFlags;
    std::uint32_t dwPTSLow;
    std::uint32_t dwPTSHigh;
    // tag 0x55
    std::uint16_t wID;
    std::uint32_t fdwFlags;
    std::uint16_t nBlockSize;
    std::uint16_t nFramesPerBlock;
    std::uint16_t nCodecDelay;
};

const int MpegWaveFormatMaxSize = 40;

// The 128-byte ID3v1.1 tag at the end of an MPEG audio file.
struct TId3Tag {
    std::uint8_t Bytes[128];
};

std::string TrimText(const std::string& text);
bool IsMpegHeader(std::uint32_t value);
void DecodeMpegHeader(std::uint32_t value, TMpegHeader& header);
// The bytes and the samples of the frame a header starts, as the MPEG
// standards count them (which FrameLength does not for MPEG-2 and 2.5
// layers I and II, nor for a padded layer I frame).
std::int32_t MpegFrameBytes(const TMpegHeader& header);
std::int32_t MpegFrameSamples(const TMpegHeader& header);
// True when Value is a usable header of the same MPEG version, layer and
// sample rate as First: the next frame of First's stream.
bool IsNextMpegHeader(std::uint32_t first, std::uint32_t value);
// Searches from offset 0 (or from the end of a leading ID3v2 tag) for the
// first usable header that the next frame's header confirms, standing right
// where its frame ends (or whose frame ends exactly where the audio ends,
// before a closing ID3v1.1 tag). A lone false sync inside other data is
// passed over. On success the file is positioned at the header.
void FindFirstMpegHeader(TFile file, TMpegHeader& header);
void MakeMpegWaveFormat(const TMpegHeader& header, TMpegWaveFormat& format);
// The record as written into the file (18 + cbSize bytes); returns that size.
int SerializeMpegWaveFormat(const TMpegWaveFormat& format, std::uint8_t out[MpegWaveFormatMaxSize]);
std::string GetId3GenreName(std::uint8_t index);
bool ReadId3Tag(TFile file, TId3Tag& tag);
bool ReadId3Info(TFile file, TWaveListInfo& info);

// Copies the first min(length, Width) bytes of Text to Place; no terminator.
void CopyToTagField(const std::string& text, std::uint8_t* place, int width);
// Writes an ID3v1.1 tag built from Info over the tag that ends the file, or
// behind the file's end when it has none (or cannot be read); true when all
// 128 bytes were written.
bool WriteId3Tag(TFile file, const TWaveListInfo& info);
