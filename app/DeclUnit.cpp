// DeclUnit: the message catalogue and the error box.
#include "DeclUnit.h"

std::string ProgramTitle;
std::string CreditText;
std::string ProgramDir;
std::string HomepageAddress;
std::string MailAddress;
std::string AboutCaption;
std::string AboutText;
std::string UsageText;
std::string InstalledText;
std::string UninstalledText;
std::string OpenDialogTitle;
std::string ConvertedText;
std::string OpenDialogFilter;
std::string VerbCaption;
std::string ErrorTexts[14];
std::string FailureTexts[FailureCount];

const char* const StatusFailed = "Failed : ";
const char* const StatusSucceeded = "Successfull: ";
const char* const ReasonSeparator = " | ";

namespace {
// The title and the credit text are kept scrambled in the program file: each
// byte is combined with ScrambleKey by exclusive-or. The final zero is plain.
const unsigned char ScrambleKey = 0xA7;
char ScrambledTitle[] = {
    '\xEC', '\xC8', '\xD5', '\xD1', '\xC6', '\xC9', '\xC2', '\0'}; // "Korvane"
char ScrambledCredit[] = { // " 1.0 - (c) 2026 the Korvane developers"
    '\x87', '\x96', '\x89', '\x97', '\x87', '\x8A', '\x87', '\x8F', '\xC4', '\x8E',
    '\x87', '\x95', '\x97', '\x95', '\x91', '\x87', '\xD3', '\xCF', '\xC2', '\x87',
    '\xEC', '\xC8', '\xD5', '\xD1', '\xC6', '\xC9', '\xC2', '\x87', '\xC3', '\xC2',
    '\xD1', '\xC2', '\xCB', '\xC8', '\xD7', '\xC2', '\xD5', '\xD4', '\0'};
bool unscrambled = false;

void Unscramble(char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        text[i] = char(static_cast<unsigned char>(text[i]) ^ ScrambleKey);
}
} // namespace

void LoadCatalogue()
{
    if (!unscrambled) {
        Unscramble(ScrambledTitle, sizeof ScrambledTitle - 1);
        Unscramble(ScrambledCredit, sizeof ScrambledCredit - 1);
        unscrambled = true;
    }
    ProgramTitle = ScrambledTitle;
    CreditText = ProgramTitle + ScrambledCredit;
    HomepageAddress = LoadText(5001);
    MailAddress = LoadText(5002);
    AboutCaption = LoadText(5003) + ProgramTitle;
    AboutText = FormatText(LoadText(5004), {CreditText, HomepageAddress, MailAddress});
    // The usage, then how /B makes Broadcast WAVEs and the labels they carry.
    UsageText = LoadText(5005) + LoadText(5040) + LoadText(5216);
    InstalledText = LoadText(5006);
    UninstalledText = LoadText(5007);
    OpenDialogTitle = LoadText(5010);
    ConvertedText = LoadText(5011);
    OpenDialogFilter = LoadText(5012);
    VerbCaption = LoadText(5015);
    for (int n = 1; n <= 13; ++n)
        ErrorTexts[n] = LoadText(5020 + n);
    for (int n = 1; n < FailureCount; ++n)
        FailureTexts[n] = LoadText(5040 + n);
}

void ReleaseCatalogue()
{
    for (int n = FailureCount - 1; n >= 1; --n)
        std::string().swap(FailureTexts[n]);
    for (int n = 13; n >= 1; --n)
        std::string().swap(ErrorTexts[n]);
    std::string* slots[] = {&VerbCaption, &OpenDialogFilter, &ConvertedText, &OpenDialogTitle,
                            &UninstalledText, &InstalledText, &UsageText, &AboutText,
                            &AboutCaption, &MailAddress, &HomepageAddress, &CreditText,
                            &ProgramTitle, &ProgramDir};
    for (std::string* slot : slots)
        std::string().swap(*slot);
}

void ShowError(TWindow owner, int n, const std::string& extra)
{
    const std::string& text = n >= 1 && n <= 13 ? ErrorTexts[n] : ErrorTexts[13];
    ShowMessageBox(owner, text + extra, ProgramTitle, BoxError);
}

std::string FailureReason()
{
    // A failure that set no reason of its own is a write that failed.
    const TFailure failure = LastFailure > FailNone && LastFailure < FailureCount ? LastFailure : FailWrite;
    return ReasonSeparator + FailureTexts[failure] + LastFailureDetail;
}
