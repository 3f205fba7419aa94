// OptionUnit: options told apart, and the run's choices read from them.
#include "OptionUnit.h"

namespace {
bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The named options that are no label field.
TOptionKind NamedKind(const std::string& name, TLabelField& field)
{
    field = FindLabelField(name);
    if (field != LabelFieldCount)
        return OptionLabel;
    if (SameName(name, "Pattern"))
        return OptionPattern;
    if (SameName(name, "List"))
        return OptionList;
    if (SameName(name, "Out"))
        return OptionOut;
    if (SameName(name, "Watch"))
        return OptionWatch;
    if (SameName(name, "Settle"))
        return OptionSettle;
    if (SameName(name, "Trim"))
        return OptionTrim;
    if (SameName(name, "Segue"))
        return OptionSegue;
    return OptionUnknownName;
}
} // namespace

TOption ReadOption(const std::string& arg, bool slashPaths, bool (*pathExists)(const std::string&))
{
    TOption option;
    if (arg.empty() || (arg[0] != '-' && arg[0] != '/'))
        return option;
    // "/Name=value", "-Name=value", and natively "--name=value".
    const std::size_t nameStart = slashPaths && arg.compare(0, 2, "--") == 0 ? 2 : 1;
    const std::size_t equals = arg.find('=');
    if (equals != std::string::npos && equals > nameStart) {
        std::string name = arg.substr(nameStart, equals - nameStart);
        bool letters = true;
        for (char c : name)
            letters = letters && IsLetter(c);
        if (letters) {
            option.Name = name;
            option.Value = arg.substr(equals + 1);
            option.Kind = NamedKind(name, option.Field);
            return option;
        }
    }
    if (arg[0] == '/' && slashPaths && arg.size() > 1 &&
        (arg.find('/', 1) != std::string::npos || pathExists(arg)))
        return option;
    const std::string whole = arg.substr(nameStart);
    if (SameName(whole, "DeleteSource"))
        option.Kind = OptionDeleteSource;
    else if (SameName(whole, "Peaks"))
        option.Kind = OptionPeaks;
    else if (SameName(whole, "Info"))
        option.Kind = OptionInfo;
    else if (slashPaths && arg == "--help")
        option.Kind = OptionHelp;
    else if (slashPaths && arg == "--version")
        option.Kind = OptionVersion;
    else if (slashPaths && arg == "--loudness")
        option.Kind = OptionLoudness;
    else
        switch (arg.size() > 1 ? Lower(arg[1]) : '\0') {
        case '?':
        case 'h':
            option.Kind = OptionHelp;
            break;
        case 'i':
            option.Kind = OptionInstall;
            break;
        case 'u':
            option.Kind = OptionUninstall;
            break;
        case 'q':
            option.Kind = OptionQuiet;
            break;
        case 'b':
            option.Kind = OptionBroadcast;
            break;
        case 'l':
            option.Kind = OptionLoudness;
            break;
        default:
            option.Kind = OptionInvalid;
        }
    return option;
}

void ReadRunSetup(const std::vector<std::string>& args, const TDateTime& today, bool slashPaths,
                  bool (*pathExists)(const std::string&), TRunSetup& setup,
                  std::vector<TOptionRefusal>& refusals)
{
    setup = TRunSetup();
    std::vector<std::string> seen;
    for (const std::string& arg : args) {
        const TOption option = ReadOption(arg, slashPaths, pathExists);
        if (option.Kind == OptionBroadcast)
            setup.Choices.Broadcast = true;
        // Loudness goes into bext: /L makes the run a /B run.
        if (option.Kind == OptionLoudness)
            setup.Choices.Broadcast = setup.Choices.Loudness = true;
        if (option.Kind == OptionDeleteSource)
            setup.DeleteSource = true;
        // The timers and the envelope go into the broadcast chunks, as the
        // labels do.
        if (option.Kind == OptionPeaks)
            setup.Named = setup.Choices.Envelope.Peaks = true;
        setup.Info = setup.Info || option.Kind == OptionInfo;
        if (option.Kind < OptionLabel || option.Kind == OptionDeleteSource || option.Kind == OptionPeaks)
            continue;
        // The folders and the settle time are no labels: they leave the
        // run's WAVed MPEGs as they are.
        const bool place = option.Kind == OptionOut || option.Kind == OptionWatch || option.Kind == OptionSettle;
        setup.Named = setup.Named || !place;
        TOptionRefusal refusal = {arg, OptionOk, LabelOk};
        std::string key;
        for (char c : option.Name)
            key += Lower(c);
        bool twice = false;
        for (const std::string& name : seen)
            twice = twice || name == key;
        seen.push_back(key);
        if (option.Kind == OptionUnknownName) {
            refusal.Error = OptionNoSuchName;
        } else if (twice) {
            refusal.Error = OptionTwice;
        } else if (option.Kind == OptionPattern) {
            setup.HasPattern = true;
            if (!ParseNamePattern(option.Value, setup.Pattern))
                refusal.Error = OptionBadPattern;
        } else if (option.Kind == OptionOut || option.Kind == OptionWatch) {
            (option.Kind == OptionOut ? setup.Choices.OutFolder : setup.Watch) = option.Value;
            if (option.Value.empty())
                refusal.Error = OptionEmptyValue;
        } else if (option.Kind == OptionSettle) {
            int seconds = 0;
            bool digits = !option.Value.empty() && option.Value.size() <= 4;
            for (std::size_t i = 0; i < option.Value.size() && digits; ++i) {
                digits = option.Value[i] >= '0' && option.Value[i] <= '9';
                seconds = seconds * 10 + (option.Value[i] - '0');
            }
            if (!digits || seconds > MaxSettleSeconds)
                refusal.Error = OptionBadSeconds;
            setup.SettleSeconds = seconds;
        } else if (option.Kind == OptionTrim || option.Kind == OptionSegue) {
            TEnvelopeChoices& envelope = setup.Choices.Envelope;
            const bool trim = option.Kind == OptionTrim;
            (trim ? envelope.Trim : envelope.Segue) = true;
            if (!ReadLevel(option.Value, trim ? envelope.TrimLevel : envelope.SegueLevel))
                refusal.Error = OptionBadLevel;
        } else if (option.Kind == OptionList) {
            setup.List = option.Value;
            if (option.Value.empty())
                refusal.Error = OptionEmptyValue;
        } else if (option.Field == LabelCutID && !option.Value.empty() && option.Value[0] == '#') {
            // "#1001": the run's files are numbered from 1001 on.
            std::uint32_t number = 0;
            if (!ReadCutNumber(option.Value.substr(1), number))
                refusal.Error = OptionBadCutNumber;
            setup.Choices.NumberCuts = true;
            setup.Choices.NextCut = number;
        } else {
            refusal.LabelError = SetLabel(setup.Choices.Labels, option.Field, option.Value, today);
            if (refusal.LabelError != LabelOk)
                refusal.Error = OptionLabelRefused;
        }
        if (refusal.Error != OptionOk)
            refusals.push_back(refusal);
    }
    // Labels make Broadcast WAVEs; an end before the start is refused with
    // the /End= option that sets it (or /Start= when only that was given).
    if (setup.Named)
        setup.Choices.Broadcast = true;
    if (LabelsEndBeforeStart(setup.Choices.Labels))
        for (const std::string& arg : args) {
            const TOption option = ReadOption(arg, slashPaths, pathExists);
            const TLabelField blamed = setup.Choices.Labels.Given[LabelEnd] ? LabelEnd : LabelStart;
            if (option.Kind == OptionLabel && option.Field == blamed)
                refusals.push_back({arg, OptionLabelRefused, LabelEndBeforeStart});
        }
}
