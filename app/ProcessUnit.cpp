// ProcessUnit: command-line processing and the conversion dispatch.
#include "ProcessUnit.h"

#include "DeclUnit.h"
#include "GatherUnit.h"
#include "InfoUnit.h"
#include "LabelRunUnit.h"
#include "KorvaneVersion.h"
#include "MpegToWave.h"
#include "OutputFile.h"
#include "WatchUnit.h"
#include "DirectWin32Watch.h"
#include "WaveToMpeg.h"

#include <algorithm>
#include <map>
#include <set>

namespace {
bool PathExists(const std::string& name)
{
    return FileExists(name);
}

// Why a list cannot be read.
const int TextListUnreadable = 5210;
// The watch dialog's fields by their names (watched folder, output folder,
// settle time), and why one folder cannot be both.
const int TextWatchFields = 5268, TextSameFolder = 5271;
// The measured values on a summary line, a value that does not exist, frames not decoded.
const int TextLoudness = 5240, TextNoValue = 5241, TextUndecoded = 5242;
// A file whose audio never reaches the trim level.
const int TextNeverReached = 5281;

TOption ReadArgument(const std::string& arg)
{
    return ReadOption(arg, PathSeparator == '/', PathExists);
}

bool IsOption(const std::string& arg)
{
    return ReadArgument(arg).Kind != OptionFile;
}

bool NamesFiles(const std::string& arg)
{
    const TOptionKind kind = ReadArgument(arg).Kind;
    return kind == OptionFile || kind == OptionList;
}

bool RegistrationOption(bool install, bool quiet)
{
    // The native build has no registry: it says so rather than report a
    // registry failure.
    if (!PlatformIsWindows) {
        ShowMessageBox(NoWindow, "The /I and /U options exist only in the Windows program.",
                       ProgramTitle, BoxError);
        return false;
    }
    bool ok = install ? InstallShellVerb() : UninstallShellVerb();
    if (!quiet) {
        if (ok)
            ShowMessageBox(NoWindow, install ? InstalledText : UninstalledText, ProgramTitle,
                           BoxInformation);
        else
            ShowError(NoWindow, install ? 9 : 10, std::string());
    }
    return ok;
}

// The file lines of one summary, each with whether its file converted.
typedef std::vector<std::pair<std::string, bool>> TSummary;

// The box lists every line, or, past the limit, the failed and not-found lines
// and one closing line that counts the others. The native converter prints
// every line.
std::string SummaryText(const TSummary& summary)
{
    std::string lines, problems;
    int converted = 0, problemCount = 0;
    for (const auto& line : summary) {
        lines += line.first + "\n";
        if (line.second)
            ++converted;
        else if (++problemCount <= SummaryLineLimit)
            problems += line.first + "\n";
    }
    if (!PlatformIsWindows || summary.size() <= std::size_t(SummaryLineLimit))
        return lines;
    std::string closing = std::to_string(converted) + (problemCount > 0 ? " other" : "") +
                          (converted == 1 ? " file converted" : " files converted");
    if (problemCount > SummaryLineLimit)
        closing += ", " + std::to_string(problemCount - SummaryLineLimit) + " more failed or not found";
    return problems + closing + "\n";
}

// The name a conversion of Name has written. A WAVed MPEG whose `data` chunk
// claims more than the file holds keeps what it copied although it fails, so
// its output counts whatever the result.
std::string WrittenName(const std::string& name, bool converted, const std::string& outFolder)
{
    if (GetLowerExt(name) == "wav")
        return WaveToMpegName(name, outFolder);
    return converted ? PlaceInFolder(ReplaceExtension(name, "wav"), outFolder) : std::string();
}

// What one run keeps while it walks its arguments.
struct TCommandRun {
    bool Quiet = false, AllWell = true;
    bool Gathering = false; // a file named twice is converted once
    TWindow Owner = NoWindow; // the conversions' owner
    std::string InvalidText;
    TRunSetup Setup;         // /B, the labels, the pattern
    TList List;              // the rows of /List=, and the folder its names start from
    std::string ListDir;
    std::map<std::string, std::size_t> RowByKey; // each row's file by FileNameKey, made once
    TDateTime Today;         // for dates such as "+14" that a name or list gives
    // The files this run has converted and written, by FileNameKey: a pattern
    // never takes one of them as input, so that "*.*" does not turn the new
    // song.wav back into song.mp3 over the original.
    std::set<std::string> Converted, Written;
};

std::string JoinListName(const TCommandRun& run, const std::string& file)
{
    return run.ListDir + PathSeparator + file;
}

// Converts Name with the run's choices and those of its row, its name and
// the next cut number.
bool ConvertChosen(TCommandRun& run, const std::string& name, const TListRow* row, TWindow owner, TRunChoices& choices)
{
    const bool converted = FileChoices(run.Setup, run.Today, name, row, choices) && ConvertFile(owner, name, false, choices);
    // Only the files written take a number, so that the numbers run on.
    if (converted && choices.NumberCuts && GetLowerExt(name) != "wav")
        ++run.Setup.Choices.NextCut;
    return converted;
}

// A watched file, converted as a file named on the command line is.
bool ConvertWatched(void* context, const std::string& name, TWindow owner)
{
    TCommandRun& run = *static_cast<TCommandRun*>(context);
    TRunChoices choices = run.Setup.Choices;
    return ConvertChosen(run, name, nullptr, owner, choices);
}

// Converts Name, found for an argument or a list's row, unless the run has
// taken or written it already, and gives it its line.
void ConvertNamed(TCommandRun& run, TSummary& summary, const std::string& name, bool pattern, const TListRow* row)
{
    const std::string key = FileNameKey(name);
    if ((pattern && run.Written.count(key) > 0) ||
        ((pattern || run.Gathering || row != nullptr) && run.Converted.count(key) > 0))
        return;
    // A file named on the command line takes the labels of its row too.
    const auto listed = run.RowByKey.find(key);
    if (row == nullptr && listed != run.RowByKey.end())
        row = &run.List.Rows[listed->second];
    TRunChoices choices = run.Setup.Choices;
    const bool converted = ConvertChosen(run, name, row, run.Owner, choices);
    std::string line = converted ? StatusSucceeded + name : StatusFailed + name + FailureReason();
    // A file measured says what was found after its name.
    if (converted && choices.Loudness && LastLoudness.Samples > 0)
        line += ReasonSeparator + LoudnessText(LastLoudness, LoadText(TextLoudness), LoadText(TextNoValue),
                                               LoadText(TextUndecoded));
    if (converted && choices.Broadcast && choices.Envelope.Trim && !LastMarks.Reached)
        line += ReasonSeparator + FormatText(LoadText(TextNeverReached), {LevelText(choices.Envelope.TrimLevel)});
    summary.emplace_back(line, converted);
    run.AllWell = run.AllWell && converted;
    run.Converted.insert(key);
    const std::string written = WrittenName(name, converted, choices.OutFolder);
    if (!written.empty())
        run.Written.insert(FileNameKey(written));
}

// A row of the list: its file, named from the list's folder, converted with
// the row's labels. A name that leads out of that folder is refused.
void ConvertListRow(TCommandRun& run, TSummary& summary, const TListRow& row)
{
    const std::string joined = JoinListName(run, row.File);
    if (LeavesFolder(row.File)) {
        LastFailure = FailListOutside;
        LastFailureDetail.clear();
        summary.emplace_back(StatusFailed + joined + FailureReason(), false);
        run.AllWell = false;
        return;
    }
    const std::string name = row.File.empty() || HasWildcard(row.File) ? std::string() : ExpandFoundName(joined);
    if (name.empty()) {
        summary.emplace_back(ErrorTexts[6] + joined, false);
        run.AllWell = false;
        return;
    }
    ConvertNamed(run, summary, name, false, &row);
}

// The files a file argument names: each file a pattern matches, in name
// order, or the file named as found; none when nothing is found.
std::vector<std::string> ArgumentNames(const std::string& arg)
{
    std::vector<std::string> names;
    if (HasWildcard(arg)) {
        for (const std::string& found : ListMatchingFiles(arg))
            names.push_back(JoinFoundName(arg, found));
    } else if (!ExpandFoundName(arg).empty()) {
        names.push_back(ExpandFoundName(arg));
    }
    return names;
}

// One argument: an option acts at once, a file (or each file a pattern
// matches, all listed before the first of them converts) is converted and
// gets its line. False when an option has ended the run.
bool HandleArgument(TCommandRun& run, TSummary& summary, const std::string& arg)
{
    const TOption option = ReadArgument(arg);
    switch (option.Kind) {
    case OptionFile:
        break;
    case OptionVersion:
        ShowMessageBox(NoWindow, ProgramTitle + " " KORVANE_VERSION, ProgramTitle, BoxInformation);
        return false;
    case OptionHelp:
        return !ShowMessageBox(NoWindow, AboutText + UsageText, AboutCaption, BoxInformation);
    case OptionInstall:
    case OptionUninstall:
        run.AllWell = RegistrationOption(option.Kind == OptionInstall, run.Quiet) && run.AllWell;
        return false;
    case OptionQuiet:
        run.Quiet = true;
        return true;
    case OptionInvalid:
        run.InvalidText += arg + " ";
        run.AllWell = false;
        return true;
    case OptionList:
        // The list's files, at the place of the option, as if named here.
        for (const TListRow& row : run.List.Rows)
            ConvertListRow(run, summary, row);
        return true;
    default:
        return true; // taken before the first file (ReadRunSetup)
    }
    const bool pattern = HasWildcard(arg);
    const std::vector<std::string> names = ArgumentNames(arg);
    if (names.empty()) {
        summary.emplace_back(ErrorTexts[6] + arg, false);
        run.AllWell = false;
    }
    for (const std::string& name : names)
        ConvertNamed(run, summary, name, pattern, nullptr);
    return true;
}

void ShowSummary(const TCommandRun& run, const TSummary& summary)
{
    std::string text = SummaryText(summary);
    if (!run.InvalidText.empty() && PlatformIsWindows)
        text = ErrorTexts[3] + run.InvalidText + "\n\n" + text;
    else if (!run.InvalidText.empty()) // natively an error line of its own, whatever /Q says
        ShowMessageBox(NoWindow, ErrorTexts[3] + run.InvalidText.substr(0, run.InvalidText.size() - 1),
                       ProgramTitle, BoxError);
    if (!run.Quiet && !text.empty())
        ShowMessageBox(NoWindow, text, ProgramTitle, BoxInformation);
}

bool RunAlone(const std::vector<std::string>& args, TCommandRun& run)
{
    TSummary summary;
    for (const std::string& arg : args)
        if (!HandleArgument(run, summary, arg))
            return run.AllWell;
    ShowSummary(run, summary);
    // The native converter given options and no file (nor a list of files)
    // says how it is used.
    if (!PlatformIsWindows && std::none_of(args.begin(), args.end(), NamesFiles)) {
        ShowMessageBox(NoWindow, UsageText.substr(UsageText.find_first_not_of('\n')), ProgramTitle, BoxError);
        return false;
    }
    return run.AllWell;
}

// How long a gathering run waits after the last record for the next one.
// Explorer starts one run per chosen file, one after another, and each run
// starts in a fraction of this.
const int GatherQuietMs = 1000;

// Whether a run gathers: it would show a summary box (no /Q), names files,
// and has no option that ends it (/?, /I, /U).
bool GathersFiles(const std::vector<std::string>& args)
{
    bool files = false;
    for (const std::string& arg : args) {
        const TOptionKind kind = ReadArgument(arg).Kind;
        if (kind == OptionFile)
            files = true;
        else if (kind != OptionBroadcast && kind != OptionLoudness && kind != OptionInvalid)
            return false; // it ends early, is quiet, or has labels of its own
    }
    return files;
}

// The arguments of one run in a gathering round, with their lines; the box
// lists the runs in the order of their first names, so that the files chosen
// in Explorer, whose runs come in any order, are listed by name.
struct TGroup {
    std::string Key;
    std::vector<std::string> Args;
    TSummary Summary;
};

TGroup MakeGroup(const std::vector<std::string>& args)
{
    TGroup group = {std::string(), args, TSummary()};
    for (const std::string& arg : args)
        if (!IsOption(arg) && group.Key.empty())
            group.Key = FileNameKey(arg);
    return group;
}

bool ByFirstName(const TGroup& a, const TGroup& b)
{
    return a.Key < b.Key;
}

// The gathering window's taker: the arguments of a record that decodes and
// that would itself gather (no other run's option acts here).
bool TakeHandOver(void* context, const std::string& record)
{
    std::vector<std::string> args;
    if (!DecodeHandOver(record, args) || !GathersFiles(args))
        return false;
    static_cast<std::vector<std::vector<std::string>>*>(context)->push_back(args);
    return true;
}

// A run that would show a summary box hands its arguments, the files made
// full (a pattern still a pattern), to the gathering run of this user and
// session and ends without a box, or becomes that run: it takes what others
// hand it until none has come for a while, converts everything, also what
// comes while it converts, and shows one box.
bool GatherRuns(const std::vector<std::string>& args, TCommandRun& run)
{
    std::vector<std::string> full;
    for (const std::string& arg : args)
        full.push_back(IsOption(arg) ? arg : GetFullName(arg));
    std::vector<std::vector<std::string>> arrived;
    TGatherPoint point;
    // Runs with /B gather among themselves: their files become Broadcast WAVEs;
    // runs with /L among themselves again.
    point.Group = run.Setup.Choices.Loudness ? "BL" : run.Setup.Choices.Broadcast ? "B" : "";
    point.Taker = TakeHandOver;
    point.Context = &arrived;
    const std::string record = EncodeHandOver(full);
    const THandOver handOver = record.empty() ? HandOverNone : JoinGathering(record, point);
    if (handOver == HandOverTaken)
        return true;
    TSummary summary;
    // Refused (or no gathering at all): the run converts its files itself.
    if (handOver == HandOverRefused || point.Window == NoWindow)
        return RunAlone(args, run);
    AwaitQuiet(point, GatherQuietMs);
    run.Gathering = true;
    run.Owner = point.Window; // its copier takes the records that come meanwhile
    std::vector<TGroup> groups = {MakeGroup(args)};
    std::size_t done = 0, handled = 0;
    do {
        for (; handled < arrived.size(); ++handled)
            groups.push_back(MakeGroup(arrived[handled]));
        std::stable_sort(groups.begin() + std::ptrdiff_t(done), groups.end(), ByFirstName);
        for (; done < groups.size(); ++done)
            for (const std::string& arg : groups[done].Args)
                HandleArgument(run, groups[done].Summary, arg);
    } while (!EndGathering(point, int(handled)));
    std::stable_sort(groups.begin(), groups.end(), ByFirstName);
    for (const TGroup& group : groups)
        summary.insert(summary.end(), group.Summary.begin(), group.Summary.end());
    ShowSummary(run, summary);
    return run.AllWell;
}

// A folder's name in the form in which two spellings of it are equal.
std::string FolderKey(const std::string& folder)
{
    return FileNameKey(PlaceInFolder(".", GetFullName(folder)));
}

// The output and watch folders must be folders that take files: a run that
// cannot write where it was told converts nothing. Both are kept as full
// names; a watch needs an output folder of its own, or its outputs would
// arrive as new files.
void CheckFolders(const std::vector<std::string>& args, TRunSetup& setup, std::vector<TOptionRefusal>& refusals)
{
    if (!refusals.empty())
        return;
    for (const std::string& arg : args) {
        const TOptionKind kind = ReadArgument(arg).Kind;
        std::string& folder = kind == OptionOut ? setup.Choices.OutFolder : setup.Watch;
        if (kind != OptionOut && kind != OptionWatch)
            continue;
        folder = GetFullName(folder);
        if (!FolderTakesOutput(folder))
            refusals.push_back({arg, OptionBadFolder, LabelOk});
        else if (kind == OptionWatch && (setup.Choices.OutFolder.empty() ||
                                         FolderKey(setup.Choices.OutFolder) == FolderKey(folder)))
            refusals.push_back({arg, OptionWatchNeedsOut, LabelOk});
    }
}

// Reads the run's options before any file converts, and its list. A named
// option that cannot be taken ends the run: a mistyped label would put a
// wrong cut number or date on air. Its box names each such option and why.
bool ReadSetup(const std::vector<std::string>& args, TCommandRun& run)
{
    run.Today = GetLocalNow();
    std::vector<TOptionRefusal> refusals;
    ReadRunSetup(args, run.Today, PathSeparator == '/', PathExists, run.Setup, refusals);
    CheckFolders(args, run.Setup, refusals);
    std::string text;
    for (const TOptionRefusal& refusal : refusals) {
        const std::string why = RefusalText(refusal, ReadArgument(refusal.Arg).Field);
        text += ErrorTexts[3] + refusal.Arg + ReasonSeparator + why + "\n";
    }
    if (refusals.empty() && !run.Setup.List.empty()) {
        std::string why;
        if (!ReadListFile(run.Setup.List, run.Today, run.List))
            why = LoadText(TextListUnreadable);
        else if (run.List.Error != ListOk)
            why = ListErrorText(run.List);
        if (!why.empty())
            text += ErrorTexts[3] + "/List=" + run.Setup.List + ReasonSeparator + why + "\n";
        run.ListDir = GetPathDir(GetFullName(run.Setup.List));
        // The last row of a name counts, as it did when rows were looked up one by one.
        for (std::size_t i = 0; i < run.List.Rows.size(); ++i)
            run.RowByKey[FileNameKey(JoinListName(run, run.List.Rows[i].File))] = i;
    }
    if (text.empty())
        return true;
    // Natively the words go to stderr even in a quiet run; a quiet Windows
    // run shows no box and tells only by its exit status.
    bool quiet = false;
    for (const std::string& arg : args)
        quiet = quiet || ReadArgument(arg).Kind == OptionQuiet;
    if (!quiet || !PlatformIsWindows)
        ShowMessageBox(NoWindow, text, ProgramTitle, BoxError);
    return false;
}

// /Info: what one file's chunks say, or the line that tells why nothing can
// be said (false): it cannot be opened, or it is no WAV file.
bool DescribeNamed(const std::string& name, std::string& text)
{
    TFile file = OpenForReading(name);
    const TFailure failure = FileFailure(FailNoRead, FailInputHeld, FailNoOpen);
    const bool described = file != NoFile && DescribeWaveFile(file, name, text);
    if (file != NoFile)
        CloseFile(file);
    if (!described)
        text = StatusFailed + name + ReasonSeparator + FailureTexts[file != NoFile ? FailNotWave : failure] + "\n";
    return described;
}

// /Info: every file an argument names is described, none converted.
// Natively each description goes to stdout, a blank line between them, and
// the line of a file that has none to stderr; on Windows all are in one window.
bool DescribeFiles(const std::vector<std::string>& args)
{
    bool allWell = true, printed = false;
    std::string shown, invalid;
    const auto show = [&](const std::string& text, bool described) {
        allWell = allWell && described;
        if (PlatformIsWindows)
            shown += (shown.empty() ? "" : "\n") + text;
        else
            ShowMessageBox(NoWindow, (printed && described ? "\n" : "") + text, ProgramTitle,
                           described ? BoxInformation : BoxError);
        printed = printed || described;
    };
    for (const std::string& arg : args) {
        const TOptionKind kind = ReadArgument(arg).Kind;
        if (kind == OptionInvalid)
            invalid += arg + " ";
        const std::vector<std::string> names = kind == OptionFile ? ArgumentNames(arg) : std::vector<std::string>();
        if (kind == OptionFile && names.empty())
            show(ErrorTexts[6] + arg + "\n", false);
        for (const std::string& name : names) {
            std::string text;
            const bool described = DescribeNamed(name, text);
            show(text, described);
        }
    }
    if (!invalid.empty()) {
        allWell = false;
        if (PlatformIsWindows)
            shown = ErrorTexts[3] + invalid + "\n\n" + shown;
        else
            ShowMessageBox(NoWindow, ErrorTexts[3] + invalid.substr(0, invalid.size() - 1), ProgramTitle, BoxError);
    }
    if (!shown.empty())
        ShowTextWindow(NoWindow, shown);
    if (!PlatformIsWindows && std::none_of(args.begin(), args.end(), NamesFiles)) {
        ShowMessageBox(NoWindow, UsageText.substr(UsageText.find_first_not_of('\n')), ProgramTitle, BoxError);
        return false;
    }
    return allWell;
}

// Watches the /Watch= folder with the run's choices until the program is
// asked to end; the files named besides are not converted.
bool WatchFolder(TCommandRun& run)
{
    TWatchPlan plan;
    plan.In = run.Setup.Watch;
    plan.Out = run.Setup.Choices.OutFolder;
    plan.SettleMs = run.Setup.SettleSeconds * 1000;
    plan.DeleteSource = run.Setup.DeleteSource;
    plan.Owner = PlatformIsWindows ? NoWindow : NativeWatchOwner;
    plan.Convert = ConvertWatched;
    plan.Context = &run;
    return RunWatch(plan);
}
} // namespace

int CheckWatchSettings(const std::vector<std::string>& texts, TRunSetup& setup, std::string& why)
{
    const TOptionKind kinds[] = {OptionWatch, OptionOut, OptionSettle};
    const std::vector<std::string> args = {"/Watch=" + texts[0], "/Out=" + texts[1], "/Settle=" + texts[2]};
    std::vector<TOptionRefusal> refusals;
    ReadRunSetup(args, GetLocalNow(), PathSeparator == '/', PathExists, setup, refusals);
    CheckFolders(args, setup, refusals);
    if (refusals.empty())
        return -1;
    // A watch into its own folder: the output folder is the one to change.
    const TOptionRefusal& refusal = refusals[0];
    const bool same = refusal.Error == OptionWatchNeedsOut;
    int field = 0;
    while (field < 2 && kinds[field] != ReadArgument(refusal.Arg).Kind)
        ++field;
    field = same ? 1 : field;
    why = LoadText(TextWatchFields + field) + ": " +
          (same ? LoadText(TextSameFolder) : RefusalText(refusal, LabelTitle));
    return field;
}

bool ProcessCommandLine()
{
    const std::vector<std::string> args = GetArguments();
    TCommandRun run;
    if (!ReadSetup(args, run))
        return false;
    if (run.Setup.Info)
        return DescribeFiles(args);
    if (!run.Setup.Watch.empty())
        return WatchFolder(run);
    // Runs with labels convert alone: their labels are theirs.
    return !run.Setup.Named && GathersFiles(args) ? GatherRuns(args, run) : RunAlone(args, run);
}

bool ConvertFile(TWindow owner, const std::string& fileName, bool showMessages, const TRunChoices& choices)
{
    LastFailure = FailNone;
    LastFailureDetail.clear();
    LastLoudness = TLoudness(); // the way back measures nothing
    LastMarks = TEnvelopeMarks();
    if (GetLowerExt(fileName) == "wav")
        return ConvertWaveToMpeg(owner, fileName, WriteTagOption, showMessages, choices.OutFolder);
    return ConvertMpegToWave(owner, fileName, showMessages, choices);
}

std::string FailureListText(const std::vector<std::string>& lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < std::size_t(SummaryLineLimit); ++i)
        text += lines[i] + "\n";
    if (lines.size() > std::size_t(SummaryLineLimit))
        text += std::to_string(lines.size() - SummaryLineLimit) + " more failed\n";
    return text;
}
