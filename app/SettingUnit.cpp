// SettingUnit: the drop target's labels, kept for the user and checked as
// the command line checks its options.
#include "SettingUnit.h"

#include "DeclUnit.h"
#include "LabelRunUnit.h"

const char* const LabelSettingNames[LabelSettingCount] = {
    "Category", "ClientID", "Classification", "OutCue", "UserDef", "Start", "End", "NextCutID", "TrimLevel",
    "SegueLevel"};

namespace {
const char* const SettingsKeyName = "Software\\Korvane";
// The dialog's name of the cut number field, and why a value is no number;
// the names of the level fields, in their order.
const int TextNumberTitle = 5221, TextNotNumber = 5220, TextLevelTitles = 5290;

// The label field each setting but the cut number fills.
const TLabelField SettingFields[SettingNextCut] = {LabelCategory, LabelClientID, LabelClassification,
                                                   LabelOutCue,   LabelUserDef,  LabelStart,
                                                   LabelEnd};

} // namespace

namespace {
const char* const WatchSettingNames[WatchSettingCount] = {"WatchIn", "WatchOut", "WatchSettle"};

// String values of the settings key, by their names (a missing one: empty).
void LoadTexts(const char* const* names, int count, std::string* texts)
{
    TRegKey key = OpenRegKey(CurrentUser, SettingsKeyName, false);
    if (key == NoKey)
        return;
    for (int i = 0; i < count; ++i)
        texts[i] = ReadRegString(key, names[i]);
    CloseRegKey(key);
}

bool SaveTexts(const char* const* names, int count, const std::string* texts)
{
    TRegKey key = OpenRegKey(CurrentUser, SettingsKeyName, true);
    if (key == NoKey)
        return false;
    bool ok = true;
    for (int i = 0; i < count; ++i)
        ok = WriteRegString(key, names[i], texts[i]) && ok;
    return CloseRegKey(key) && ok;
}
} // namespace

TLabelSettings LoadLabelSettings()
{
    TLabelSettings settings;
    LoadTexts(LabelSettingNames, LabelSettingCount, settings.Text);
    return settings;
}

bool SaveLabelSettings(const TLabelSettings& settings)
{
    return SaveTexts(LabelSettingNames, LabelSettingCount, settings.Text);
}

std::vector<std::string> LoadWatchSettings()
{
    std::vector<std::string> texts(WatchSettingCount);
    LoadTexts(WatchSettingNames, WatchSettingCount, texts.data());
    return texts;
}

bool SaveWatchSettings(const std::vector<std::string>& texts)
{
    return texts.size() == std::size_t(WatchSettingCount) &&
           SaveTexts(WatchSettingNames, WatchSettingCount, texts.data());
}

TLabelSetting ApplyLabelSettings(const TLabelSettings& settings, const TDateTime& today,
                                 TRunChoices& choices, TLabelError& error)
{
    choices.Labels = TLabels();
    choices.NumberCuts = false;
    choices.NextCut = 0;
    for (int i = 0; i < SettingNextCut; ++i) {
        if (settings.Text[i].empty())
            continue;
        error = SetLabel(choices.Labels, SettingFields[i], settings.Text[i], today);
        if (error != LabelOk)
            return TLabelSetting(i);
    }
    if (!settings.Text[SettingNextCut].empty()) {
        std::uint32_t next = 0;
        if (!ReadCutNumber(settings.Text[SettingNextCut], next)) {
            error = LabelErrorCount;
            return SettingNextCut;
        }
        choices.NumberCuts = true;
        choices.NextCut = next;
        choices.Labels.Text[LabelCutID] = std::to_string(choices.NextCut);
        choices.Labels.Given[LabelCutID] = true;
    }
    const TLabelSetting level = ApplyLevelSettings(settings, choices.Envelope);
    if (level != LabelSettingCount) {
        error = LabelErrorCount;
        return level;
    }
    error = LabelsEndBeforeStart(choices.Labels) ? LabelEndBeforeStart : LabelOk;
    return error == LabelOk ? LabelSettingCount : SettingEnd;
}

TLabelSetting ApplyLevelSettings(const TLabelSettings& settings, TEnvelopeChoices& envelope)
{
    const std::string& trim = settings.Text[SettingTrimLevel];
    const std::string& segue = settings.Text[SettingSegueLevel];
    // A level refused is not used: an empty field is no level either.
    envelope.Trim = ReadLevel(trim, envelope.TrimLevel);
    envelope.Segue = ReadLevel(segue, envelope.SegueLevel);
    if (!envelope.Trim && !trim.empty())
        return SettingTrimLevel;
    return !envelope.Segue && !segue.empty() ? SettingSegueLevel : LabelSettingCount;
}

std::string LabelSettingErrorText(TLabelSetting setting, TLabelError error)
{
    if (setting == SettingNextCut)
        return LoadText(TextNumberTitle) + ": " + LoadText(TextNotNumber);
    if (setting >= SettingTrimLevel)
        return LoadText(TextLevelTitles + setting - SettingTrimLevel) + ": " +
               RefusalText({std::string(), OptionBadLevel, LabelOk}, LabelTitle);
    return std::string(LabelSettingNames[setting]) + ": " + LabelErrorText(error, SettingFields[setting]);
}

namespace {
// The check items' switches, kept for the user between runs.
const char* const BroadcastValueName = "BroadcastWave";
const char* const LoudnessValueName = "MeasureLoudness";
const char* const PeaksValueName = "PeakEnvelope";

// A check item's state, a DWORD value of the settings key (none: off).
bool LoadSwitch(const char* valueName)
{
    TRegKey key = OpenRegKey(CurrentUser, SettingsKeyName, false);
    if (key == NoKey)
        return false;
    std::uint32_t value = 0, size = sizeof value;
    unsigned type = 0;
    bool on = ReadRegValue(key, valueName, type, &value, size) && type == RegTypeDword &&
              size == sizeof value && value != 0;
    CloseRegKey(key);
    return on;
}

bool SaveSwitch(const char* valueName, bool on)
{
    TRegKey key = OpenRegKey(CurrentUser, SettingsKeyName, true);
    if (key == NoKey)
        return false;
    const std::uint32_t value = on ? 1 : 0;
    bool ok = WriteRegValue(key, valueName, RegTypeDword, &value, sizeof value);
    return CloseRegKey(key) && ok;
}
} // namespace

bool LoadBroadcastSetting()
{
    return LoadSwitch(BroadcastValueName);
}

bool SaveBroadcastSetting(bool on)
{
    return SaveSwitch(BroadcastValueName, on);
}

bool LoadLoudnessSetting()
{
    return LoadSwitch(LoudnessValueName);
}

bool SaveLoudnessSetting(bool on)
{
    return SaveSwitch(LoudnessValueName, on);
}

bool LoadPeaksSetting()
{
    return LoadSwitch(PeaksValueName);
}

bool SavePeaksSetting(bool on)
{
    return SaveSwitch(PeaksValueName, on);
}
