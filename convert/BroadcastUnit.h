// BroadcastUnit: the chunks that make a WAVed MPEG a Broadcast WAVE, as
// playout systems expect it: `bext` (description, originator, origination
// date and time, coding history), `mext` (how the MPEG frames are laid out)
// and `cart` (title, artist, producer, the audio's start and end timers);
// and the title and artist that such chunks carry back into a tag.
#pragma once

#include "DirectWin32.h"
#include "EnvelopeUnit.h"
#include "FrameWalk.h"
#include "LabelUnit.h"
#include "WaveUnit.h"

#include <cstdint>
#include <string>

// What the three chunks say about one conversion. The texts are ASCII
// already, uncut; each field takes as much as its width holds.
struct TBroadcastInfo {
    std::string Title;        // the tag's title, else the source's name without extension
    std::string Artist;       // the tag's artist, may be empty
    std::string Description;  // "Artist - Title", the title alone, or the name
    std::string OriginatorReference;
    TDateTime Origination;    // when the source was last written, local time
    std::uint32_t FirstHeader; // the first frame's header value
    std::int32_t Kbps;        // bit rate for the coding history: the first frame's, or a VBR average
    std::uint32_t SampleCount; // the audio's true samples, the end timer
    std::uint16_t SoundInformation;
    std::uint16_t FrameSize;
    TLabels Labels;           // the station's labels: cart's fields, bext's originator
    bool Measured;            // bext is version 2 with the loudness values below
    std::int16_t Loudness[5]; // LoudnessValue ... MaxShortTermLoudness, hundredths or 0x7FFF
    bool Marked;              // the timers below replace 0 and SampleCount
    TEnvelopeMarks Marks;     // where the audio starts, ends and segues
};

// Starts the record for a conversion of FileName (Source, open) whose first
// frame header is FirstHeader and whose tag texts are Tags: title and artist
// (those Labels give first), a new originator reference, the source's
// last-write time (or now), and the stream's values as the first frame
// gives them.
void BeginBroadcastInfo(TBroadcastInfo& info, const TWaveListInfo& tags, const std::string& fileName,
                        TFile source, std::uint32_t firstHeader, const TLabels& labels = TLabels());
// Takes the frame walk's findings: the true sample count, the average bit
// rate of a VBR stream, and whether every frame has one bit rate, mode and
// padding (mext's SoundInformation and FrameSize).
void DescribeFrames(TBroadcastInfo& info, const TFrameWalk& walk);

// `bext` (version 1, or 2 with the loudness values when Measured), `mext` and
// `cart` (version 0101), heads included, in that order. Their size depends on the first frame header and the labels
// alone, so that
// the chunks can be written before the audio and rewritten, whatever the
// frame walk found, after it.
std::string MakeBroadcastChunks(const TBroadcastInfo& info);
// The coding-history line: A=, F=, B=, M= and T=, ended by CR LF.
std::string CodingHistoryLine(std::uint32_t firstHeader, std::int32_t kbps);
// A reference of 32 characters in the form of EBU R 99, new for every call.
std::string MakeOriginatorReference(const TDateTime& now);
// Up to Width characters of Text in ASCII: every other character (one byte
// of a Windows-1252 text, or one UTF-8 sequence when Utf8 is set) becomes '?'.
std::string AsciiText(const std::string& text, bool utf8, std::size_t width);

// For a WAVed MPEG without LIST/INFO: the title and artist of its `cart`
// chunk, or else the title from its `bext` description, into Info. False when
// neither chunk is there whole (at least its fixed part, within the file).
bool ReadBroadcastTags(TFile file, const TBroadcastSpans& spans, TWaveListInfo& info);
