// LabelUnit: the labels a station gives its cuts (cut number, category,
// out-cue, air dates ...), which a Broadcast WAVE carries in its `cart` and
// `bext` chunks, and the record of what a run asks of every conversion.
#pragma once

#include "DirectWin32.h"
#include "EnvelopeUnit.h"

#include <cstdint>
#include <string>

// The fields a user may set, in the order of their options' names.
enum TLabelField {
    LabelTitle,
    LabelArtist,
    LabelCutID,
    LabelClientID,
    LabelCategory,
    LabelClassification,
    LabelOutCue,
    LabelUserDef,
    LabelURL,
    LabelTagText,     // CR LF lines; "\n" in a typed value starts a new line
    LabelStart,       // "yyyy-mm-ddhh:mm:ss" once read: cart's StartDate and StartTime
    LabelEnd,         // the same for EndDate and EndTime
    LabelDescription, // bext's Description
    LabelOriginator,  // bext's Originator
    LabelFieldCount
};

// The name of a field as its option, list column and setting spell it
// ("CutID"), and the width of its field in the chunk (0: no limit).
extern const char* const LabelNames[LabelFieldCount];
std::size_t LabelWidth(TLabelField field);
// Whether Name is Other in any letter case (ASCII letters), as the names of
// fields, options and list columns are compared.
bool SameName(const std::string& name, const char* other);
// The field whose name is Name in any letter case; LabelFieldCount if none.
TLabelField FindLabelField(const std::string& name);

// cart's start and end when no date is given: no restriction on airing.
extern const char* const DefaultStart;
extern const char* const DefaultEnd;

// Values given for some fields; the others come from the tag or the file's
// name as they always have.
struct TLabels {
    std::string Text[LabelFieldCount];
    bool Given[LabelFieldCount] = {};
};

// Why a typed value cannot go into its field.
enum TLabelError {
    LabelOk,
    LabelTooLong,     // longer than its field
    LabelNotAscii,    // a character outside printable ASCII
    LabelBadDate,     // no date of the forms allowed, or one that does not exist
    LabelEndBeforeStart,
    LabelErrorCount
};

// Puts Value, as typed, into Field of Labels: checked, a date turned into its
// stored form (relative to Today for "+N"), TagText's "\n" into CR LF.
// Nothing is cut or replaced: a value that does not fit is refused.
TLabelError SetLabel(TLabels& labels, TLabelField field, const std::string& value, const TDateTime& today);
// A cut number to count from: decimal digits, 0 to 4294967295.
bool ReadCutNumber(const std::string& text, std::uint32_t& number);
// Whether the end (given, or the default) lies before the start.
bool LabelsEndBeforeStart(const TLabels& labels);
// Fields of Extra given where Labels has none.
void MergeLabels(TLabels& labels, const TLabels& extra);

// What a run asks of every conversion it makes: made once from the
// arguments, or in desktop mode from the settings kept for the user.
struct TRunChoices {
    bool Broadcast = false; // `bext`, `mext` and `cart` before `data`
    bool Loudness = false;  // measured while copied, into bext version 2 (with Broadcast)
    TEnvelopeChoices Envelope; // start, end and segue timers, peak envelope (with Broadcast)
    TLabels Labels;         // the labels of the file at hand
    // Numbering cuts: the CutID of the next file converted, when set; past
    // the largest number no file takes one.
    bool NumberCuts = false;
    std::uint64_t NextCut = 0;
    // The folder every output is written to; empty: beside its input.
    std::string OutFolder;
};
