// DeclUnit: the message catalogue. At start-up the program's texts are
// loaded into named text slots; they are only read after that.
#pragma once

#include "DirectWin32.h"

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

// The two status words of the summary lines.
extern const char* const StatusFailed;
extern const char* const StatusSucceeded;

// Unscrambles the title and credit text, then loads every catalogue text.
void LoadCatalogue();
// Releases the text slots in the reverse order of loading.
void ReleaseCatalogue();
// The one error box: message N followed by Extra, captioned with the title.
void ShowError(TWindow owner, int n, const std::string& extra);
