// DeclUnit: the message catalogue. At start-up the program's texts are
// loaded into named text slots; they are only read after that.
#pragma once

#include "DirectWin32.h"
#include "LabelUnit.h"
#include "SniffUnit.h"

#include <string>

extern std::string ProgramTitle;
extern std::string CreditText;
extern std::string ProgramDir;
extern std::string HomepageAddress;
extern std::string MailAddress;
extern std::string AboutCaption;
extern std::string AboutText;
extern std::string UsageText;
extern std::string InstalledText;
extern std::string UninstalledText;
extern std::string OpenDialogTitle;
extern std::string ConvertedText;
extern std::string OpenDialogFilter;
extern std::string VerbCaption;
extern std::string ErrorTexts[14]; // message n (1 to 13) is string 5020 + n
extern std::string FailureTexts[FailureCount]; // the reason of failure n is string 5040 + n

// The two status words of the summary lines.
extern const char* const StatusFailed;
extern const char* const StatusSucceeded;
// What stands between a failed file's full name and the reason on its line:
// " | " ('|' is never part of a Windows file name, and no reason holds it, so
// the name is everything before the line's last " | ").
extern const char* const ReasonSeparator;
// The separator and the reason of the last conversion's failure (LastFailure).
std::string FailureReason();
// Why a value cannot go into its label field, as the option's, the list's and
// the labels dialog's messages say it.
std::string LabelErrorText(TLabelError error, TLabelField field);

// Unscrambles the title and credit text, then loads every catalogue text.
void LoadCatalogue();
// Releases the text slots in the reverse order of loading.
void ReleaseCatalogue();
// The one error box: message N followed by Extra, captioned with the title.
void ShowError(TWindow owner, int n, const std::string& extra);
