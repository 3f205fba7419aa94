// OptionUnit: how an argument reads as an option. The one-letter options
// count by their second character ("/Quiet" is /Q); options with a value,
// "/Name=value", count only by their whole name, in any letter case, so that
// "/URL=..." is never /U and "/Bogus=1" never /B. The few whole-name options
// without a value ("/DeleteSource", "/Peaks", "/Info") are never read by their
// second letter: "/Info" is no /I.
#pragma once

#include "LabelUnit.h"

#include <string>
#include <vector>

enum TOptionKind {
    OptionFile,       // no option: a file or a pattern
    OptionHelp,       // /?, /H; natively also --help
    OptionVersion,    // natively --version
    OptionInstall,    // /I
    OptionUninstall,  // /U
    OptionQuiet,      // /Q
    OptionBroadcast,  // /B
    OptionLoudness,   // /L; natively also --loudness
    OptionInfo,       // /Info (whole name; natively also --info): describe the files, convert none
    OptionInvalid,    // any other one-letter option, or "/" alone
    OptionLabel,      // /Title=, /CutID= ... (Field says which)
    OptionPattern,    // /Pattern=: labels from the file's name
    OptionList,       // /List=: a list of files with their labels
    OptionOut,        // /Out=: the folder every output goes to
    OptionWatch,      // /Watch=: the folder watched for files to convert
    OptionSettle,     // /Settle=: seconds a watched file must stand still
    OptionDeleteSource, // /DeleteSource: a watched file converted is deleted
    OptionTrim,       // /Trim=: the audio's start and end where it reaches a level
    OptionSegue,      // /Segue=: the segue where the level falls below another
    OptionPeaks,      // /Peaks: a peak envelope (levl) after the audio
    OptionUnknownName // "/Name=value" whose name is none of the above
};

struct TOption {
    TOptionKind Kind = OptionFile;
    TLabelField Field = LabelFieldCount; // of OptionLabel
    std::string Name;                    // the name as typed, before '='
    std::string Value;                   // after the first '='
};

// How Arg reads. Where '/' also starts absolute paths (SlashPaths, the native
// build), "/Name=value" is an option only when Name is all letters, and a
// one-letter option only when Arg holds no further '/' and names no entry
// (PathExists, asked only then).
TOption ReadOption(const std::string& arg, bool slashPaths, bool (*pathExists)(const std::string&));

// Why a named option is refused.
enum TOptionError {
    OptionOk,
    OptionNoSuchName,    // an unknown name
    OptionTwice,         // the same name given twice
    OptionBadCutNumber,  // /CutID=# without a number
    OptionBadPattern,    // a pattern that cannot be matched
    OptionEmptyValue,    // /List= with nothing
    OptionLabelRefused,  // SetLabel refused its value (LabelError says why)
    OptionBadSeconds,    // /Settle= not a whole number of seconds in range
    OptionBadFolder,     // /Out= or /Watch=: no folder that takes files (ProcessUnit tells)
    OptionAlreadyWatched,// another watcher holds the folder
    OptionWatchNeedsOut, // /Watch= without an /Out= of another folder
    OptionBadLevel       // /Trim= or /Segue= not a level in dBFS
};

struct TOptionRefusal {
    std::string Arg;
    TOptionError Error;
    TLabelError LabelError;
};

#include "PatternUnit.h"

// What the arguments ask of the whole run, read before any file converts.
struct TRunSetup {
    TRunChoices Choices;   // /B, the labels the options give, cut numbering
    bool Named = false;    // some "/Name=value" option: labels for this run alone
    bool HasPattern = false;
    TNamePattern Pattern;
    std::string List;      // the /List= file as typed; empty when none
    // Watching: the folder (empty when the run does not watch), how long a
    // file must stand still before it is taken, and whether a converted file
    // is deleted rather than moved to done/.
    std::string Watch;
    int SettleSeconds = 2;
    bool DeleteSource = false;
    bool Info = false;     // /Info: every file named is described instead
};

// The longest settle time /Settle= takes, in seconds.
const int MaxSettleSeconds = 3600;

// Reads every option of Args into Setup; Refusals gets each named option that
// cannot be taken (a run with any converts nothing). Today dates "/End=+14".
void ReadRunSetup(const std::vector<std::string>& args, const TDateTime& today, bool slashPaths,
                  bool (*pathExists)(const std::string&), TRunSetup& setup,
                  std::vector<TOptionRefusal>& refusals);
