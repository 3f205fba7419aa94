// LabelRunUnit: labels for each file of a run, and the words of refusals.
#include "LabelRunUnit.h"

#include "DeclUnit.h"

namespace {
// The catalogue's texts of refused options and list values, each group in
// the order of its codes.
const int TextNoSuchOption = 5200, TextTooLong = 5205, TextNotAscii = 5206, TextListPlace = 5209,
          TextListErrors = 5211, TextNotNumber = 5220, TextBadSeconds = 5260, TextBadLevel = 5280;
} // namespace

std::string LabelErrorText(TLabelError error, TLabelField field)
{
    if (error == LabelTooLong)
        return FormatText(LoadText(TextTooLong), {std::to_string(LabelWidth(field))});
    return LoadText(TextNotAscii + int(error) - int(LabelNotAscii));
}

std::string RefusalText(const TOptionRefusal& refusal, TLabelField field)
{
    if (refusal.Error == OptionLabelRefused)
        return LabelErrorText(refusal.LabelError, field);
    if (refusal.Error == OptionBadLevel)
        return LoadText(TextBadLevel);
    if (refusal.Error >= OptionBadSeconds)
        return LoadText(TextBadSeconds + int(refusal.Error) - int(OptionBadSeconds));
    return LoadText(TextNoSuchOption + int(refusal.Error) - int(OptionNoSuchName));
}

std::string ListErrorText(const TList& list)
{
    return FormatText(LoadText(TextListErrors + int(list.Error) - int(ListOpenQuote)),
                      {list.Error == ListBadColumn ? list.Column : std::to_string(list.Line)});
}

bool ReadListFile(const std::string& name, const TDateTime& today, TList& list)
{
    TFile file = OpenForReading(name);
    if (file == NoFile)
        return false;
    // One byte more than a list may hold tells a larger one.
    const std::int64_t size = GetFileSize(file);
    std::string text(std::size_t(size < 0 ? 0 : size > std::int64_t(MaxListBytes) ? MaxListBytes + 1 : size), '\0');
    const bool ok = size >= 0 && (text.empty() || ReadBytes(file, &text[0], std::int32_t(text.size())) ==
                                                      std::int32_t(text.size()));
    CloseFile(file);
    if (ok)
        ReadList(text, today, list);
    return ok;
}

bool LeavesFolder(const std::string& file)
{
    if (!file.empty() && (file[0] == '/' || file[0] == '\\' || file.find(':') != std::string::npos))
        return true;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= file.size(); ++i)
        if (i == file.size() || file[i] == '/' || file[i] == '\\') {
            if (i - start == 2 && file.compare(start, 2, "..") == 0)
                return true;
            start = i + 1;
        }
    return false;
}

bool FileChoices(const TRunSetup& setup, const TDateTime& today, const std::string& name, const TListRow* row,
                 TRunChoices& choices)
{
    if (!setup.Named || GetLowerExt(name) == "wav")
        return true;
    if (choices.NumberCuts) {
        if (choices.NextCut > 0xFFFFFFFFu) {
            // The numbers have run past the largest: no file is numbered again from 0.
            LastFailure = FailLabelSetting;
            LastFailureDetail = std::string(LabelNames[LabelCutID]) + ": " + LoadText(TextNotNumber);
            return false;
        }
        choices.Labels.Text[LabelCutID] = std::to_string(choices.NextCut);
        choices.Labels.Given[LabelCutID] = true;
    }
    if (row != nullptr) {
        TLabels merged = choices.Labels;
        MergeLabels(merged, row->Labels);
        const bool endBeforeStart = row->Error == LabelOk && LabelsEndBeforeStart(merged);
        if (row->Error != LabelOk || endBeforeStart) {
            const TLabelError error = endBeforeStart ? LabelEndBeforeStart : row->Error;
            const TLabelField field = endBeforeStart ? LabelEnd : FindLabelField(row->Column);
            LastFailure = FailListValue;
            LastFailureDetail = FormatText(LoadText(TextListPlace), {std::to_string(row->Line), LabelNames[field]}) +
                                LabelErrorText(error, field);
            return false;
        }
        choices.Labels = merged;
    }
    if (setup.HasPattern) {
        std::string stem = name.substr(name.find_last_of(PathSeparator) + 1);
        stem = stem.substr(0, stem.rfind('.'));
        std::vector<std::pair<TLabelField, std::string>> values;
        if (!MatchNamePattern(setup.Pattern, stem, values)) {
            LastFailure = FailNameNoFit;
            return false;
        }
        TLabels fromName;
        for (const auto& value : values) {
            const TLabelError error = SetLabel(fromName, value.first, value.second, today);
            if (error != LabelOk) {
                LastFailure = FailNameValue;
                LastFailureDetail = std::string(LabelNames[value.first]) + ": " + LabelErrorText(error, value.first);
                return false;
            }
        }
        MergeLabels(choices.Labels, fromName);
    }
    return true;
}
