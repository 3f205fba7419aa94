// SettingUnit: what the user keeps for the drop target between runs under
// HKCU\Software\Korvane: the Broadcast WAVE labels and the trim and segue
// levels that the labels dialog sets, the watch folder, and the check items'
// switches.
#pragma once

#include "LabelUnit.h"

#include <string>
#include <vector>

// The dialog's fields, in its order.
enum TLabelSetting {
    SettingCategory,
    SettingClientID,
    SettingClassification,
    SettingOutCue,
    SettingUserDef,
    SettingStart,
    SettingEnd,
    SettingNextCut, // "Number cuts from": the CutID of the next file written
    SettingTrimLevel,  // dBFS: AUDs and AUDe where the audio reaches it (empty: not used)
    SettingSegueLevel, // dBFS: SEGs where the audio falls below it for good, SEGe at AUDe
    LabelSettingCount
};

// The names of their values under the settings key ("Category" ... "Start",
// "End", "NextCutID", "TrimLevel", "SegueLevel").
extern const char* const LabelSettingNames[LabelSettingCount];

// The fields as the user typed them. A date such as "+14" stays so, and
// counts from the day of each conversion; an empty field gives nothing.
struct TLabelSettings {
    std::string Text[LabelSettingCount];
};

// The values kept for the user (a missing one is empty), and keeping them.
TLabelSettings LoadLabelSettings();
bool SaveLabelSettings(const TLabelSettings& settings);

// Puts the settings into the labels, cut numbering and levels of Choices,
// dates counted from Today; the CutID is the next cut number, when there is one.
// LabelSettingCount when every value fits; otherwise the first that does not
// (End when the end lies before the start), Error saying why (LabelErrorCount
// for a cut number that is none).
TLabelSetting ApplyLabelSettings(const TLabelSettings& settings, const TDateTime& today,
                                 TRunChoices& choices, TLabelError& error);
// Only the trim and segue levels, into Envelope (its peak envelope stays);
// LabelSettingCount when both fit, else the first refused.
TLabelSetting ApplyLevelSettings(const TLabelSettings& settings, TEnvelopeChoices& envelope);
// The field's name as the dialog shows it and why its value was refused.
std::string LabelSettingErrorText(TLabelSetting setting, TLabelError error);

// The watch folder of the drop target ("Watch folder..."): the watched
// folder, the output folder and the settle time in seconds, as the dialog
// took them (values "WatchIn", "WatchOut", "WatchSettle"). An empty watched
// folder: no watch.
const int WatchSettingCount = 3;
std::vector<std::string> LoadWatchSettings();
bool SaveWatchSettings(const std::vector<std::string>& texts);

// Whether the drop target's WAVed MPEGs are Broadcast WAVEs (`bext`, `mext`
// and `cart` chunks): the menu item's state, kept for the user between runs.
bool LoadBroadcastSetting();
bool SaveBroadcastSetting(bool on);
// Whether they are also measured ("Measure loudness"), kept the same way.
bool LoadLoudnessSetting();
bool SaveLoudnessSetting(bool on);
// Whether they carry a peak envelope ("Peak envelope"), kept the same way.
bool LoadPeaksSetting();
bool SavePeaksSetting(bool on);
