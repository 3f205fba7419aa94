// Labels for Broadcast WAVEs: values checked as typed, options told by their
// whole name, patterns and lists read, and the cart and bext bytes they give;
// the native converter's runs with labels, refused ones included.
#include "TestFiles.h"

#include "ListUnit.h"
#include "MpegToWave.h"
#include "OptionUnit.h"
#include "PatternUnit.h"

#include <sys/wait.h>

namespace {
const TDateTime Today = {2026, 12, 20, 15, 4, 5};

struct LabelRow {
    TLabelField field;
    std::string value, stored; // stored empty: refused with error
    TLabelError error;
};

bool NoPath(const std::string&) { return false; }

// The cart body of the Broadcast WAVE at Name.
std::string CartOf(const std::string& name)
{
    const std::string file = ReadFile(name);
    const std::size_t at = file.find("cart");
    if (at == std::string::npos)
        return std::string();
    return file.substr(at + 8, Little32(reinterpret_cast<const std::uint8_t*>(file.data() + at + 4)));
}
} // namespace

TEST(Labels, ValuesAreTakenAsTypedOrRefused)
{
    const LabelRow rows[] = {
        {LabelCategory, std::string(64, 'C'), std::string(64, 'C'), LabelOk},
        {LabelCategory, std::string(65, 'C'), "", LabelTooLong},
        {LabelURL, std::string(1024, 'u'), std::string(1024, 'u'), LabelOk},
        {LabelURL, std::string(1025, 'u'), "", LabelTooLong},
        {LabelDescription, std::string(257, 'd'), "", LabelTooLong},
        {LabelOriginator, std::string(32, 'o'), std::string(32, 'o'), LabelOk},
        {LabelOriginator, std::string(33, 'o'), "", LabelTooLong},
        {LabelTitle, "Caf\xC3\xA9", "", LabelNotAscii},
        {LabelOutCue, "tab\there", "", LabelNotAscii},
        {LabelTagText, "one\\ntwo\\n", "one\r\ntwo\r\n", LabelOk},
        {LabelTagText, std::string(5000, 't'), std::string(5000, 't'), LabelOk},
        {LabelStart, "2024-02-29", "2024-02-2900:00:00", LabelOk},
        {LabelEnd, "2024-02-29", "2024-02-2923:59:59", LabelOk},
        {LabelEnd, "2023-02-29", "", LabelBadDate},
        {LabelEnd, "2026-13-01", "", LabelBadDate},
        {LabelStart, "2026-12-24 06:30:00", "2026-12-2406:30:00", LabelOk},
        {LabelStart, "2026-12-24 24:00:00", "", LabelBadDate},
        {LabelStart, "2026-12-24T06:30:00", "", LabelBadDate},
        {LabelStart, "26-12-24", "", LabelBadDate},
        {LabelEnd, "+14", "2027-01-0323:59:59", LabelOk}, // across the year's end
        {LabelStart, "+0", "2026-12-2000:00:00", LabelOk},
        {LabelEnd, "+", "", LabelBadDate},
        {LabelEnd, "+1x", "", LabelBadDate},
        {LabelEnd, "-3", "", LabelBadDate},
    };
    for (const LabelRow& row : rows) {
        SCOPED_TRACE(LabelNames[row.field] + std::string("=") + row.value.substr(0, 40));
        TLabels labels;
        EXPECT_EQ(SetLabel(labels, row.field, row.value, Today), row.error);
        EXPECT_EQ(labels.Given[row.field], row.error == LabelOk);
        EXPECT_EQ(labels.Text[row.field], row.stored);
    }
}

TEST(Labels, OptionsAreToldByTheirWholeName)
{
    const struct {
        const char* arg;
        bool slashPaths;
        TOptionKind kind;
        TLabelField field;
    } rows[] = {
        {"/URL=http://example.org/a", false, OptionLabel, LabelURL},   // not /U
        {"/UserDef=x", false, OptionLabel, LabelUserDef},              // not /U either
        {"/url=http://example.org/a", true, OptionLabel, LabelURL},    // natively too, slashes and all
        {"--cutid=12", true, OptionLabel, LabelCutID},
        {"-Category=COM", false, OptionLabel, LabelCategory},
        {"/Bogus=1", false, OptionUnknownName, LabelFieldCount},       // not /B
        {"/B=1", false, OptionUnknownName, LabelFieldCount},
        {"/PATTERN=%t", false, OptionPattern, LabelFieldCount},
        {"/list=a.csv", true, OptionList, LabelFieldCount},
        {"/tmp/a=b.mp3", true, OptionFile, LabelFieldCount},           // a path with '=' stays a path
        {"/Quiet", false, OptionQuiet, LabelFieldCount},
        {"/Broadcast", false, OptionBroadcast, LabelFieldCount},
        {"/=x", false, OptionInvalid, LabelFieldCount},
        {"/iNFO", false, OptionInfo, LabelFieldCount}, {"--info", true, OptionInfo, LabelFieldCount}, // not /I
        {"/Install", false, OptionInstall, LabelFieldCount}, {"/Infos", false, OptionInstall, LabelFieldCount},
        {"C:\\a=b.mp3", false, OptionFile, LabelFieldCount},
        {"/Trim=-40", false, OptionTrim, LabelFieldCount},             // not /T
        {"--segue=-30", true, OptionSegue, LabelFieldCount},
        {"/PEAKS", false, OptionPeaks, LabelFieldCount},               // by its whole name
        {"--peaks", true, OptionPeaks, LabelFieldCount},
        {"/Peak", false, OptionInvalid, LabelFieldCount},              // no /P
    };
    for (const auto& row : rows) {
        const TOption option = ReadOption(row.arg, row.slashPaths, NoPath);
        EXPECT_EQ(option.Kind, row.kind) << row.arg;
        EXPECT_EQ(option.Field, row.field) << row.arg;
    }
}

TEST(Labels, RunSetupRefusesWhatCannotBeTaken)
{
    const struct {
        std::vector<std::string> args;
        std::vector<TOptionError> errors;
    } rows[] = {
        {{"/Category=COM", "/End=+14", "/CutID=#1001", "a.mp3"}, {}},
        {{"/Bogus=1", "/Title=a", "/title=b"}, {OptionNoSuchName, OptionTwice}},
        {{"/CutID=#", "/CutID=#12a"}, {OptionBadCutNumber, OptionTwice}},
        {{"/CutID=#4294967296"}, {OptionBadCutNumber}},
        {{"/Pattern=%a%t"}, {OptionBadPattern}},
        {{"/List="}, {OptionEmptyValue}},
        {{"/Start=2026-12-31", "/End=2026-12-01"}, {OptionLabelRefused}}, // the end, blamed
        {{"/End=1850-01-01"}, {OptionLabelRefused}},                      // before "no restriction" starts
    };
    for (const auto& row : rows) {
        TRunSetup setup;
        std::vector<TOptionRefusal> refusals;
        ReadRunSetup(row.args, Today, false, NoPath, setup, refusals);
        std::vector<TOptionError> errors;
        for (const TOptionRefusal& refusal : refusals)
            errors.push_back(refusal.Error);
        EXPECT_EQ(errors, row.errors) << row.args[0];
        EXPECT_TRUE(setup.Named && setup.Choices.Broadcast);
    }
    TRunSetup setup;
    std::vector<TOptionRefusal> refusals;
    ReadRunSetup({"/CutID=#1001", "/B"}, Today, false, NoPath, setup, refusals);
    EXPECT_TRUE(setup.Choices.NumberCuts && setup.Choices.NextCut == 1001 && !setup.Choices.Labels.Given[LabelCutID]);
}

TEST(Labels, PatternsTakeFieldsFromNames)
{
    const struct {
        const char *pattern, *stem;
        bool parses, fits;
        std::vector<std::pair<TLabelField, std::string>> values;
    } rows[] = {
        {"%n - %a - %t", "1234 - Acme Tyres - Winter Sale", true, true,
         {{LabelCutID, "1234"}, {LabelArtist, "Acme Tyres"}, {LabelTitle, "Winter Sale"}}},
        {"%n - %a - %t", "1234 - Acme Tyres", true, false, {}},
        {"%n - %a - %t", "1234 -  - Sale", true, false, {}}, // an empty value does not fit
        {"Spot %n (%c) %g_%o_%u", "Spot 7 (Acme) COM_bye_x", true, true,
         {{LabelCutID, "7"}, {LabelClientID, "Acme"}, {LabelCategory, "COM"}, {LabelOutCue, "bye"}, {LabelUserDef, "x"}}},
        {"Spot %n", "spot 7", true, false, {}},              // the lead counts letter for letter
        {"%t [100%%]", "Song [100%]", true, true, {{LabelTitle, "Song"}}},
        {"%t [100%%]", "Song [100%] extra", true, false, {}}, // the last ending text closes the name
        {"%a%t", "", false, false, {}},
        {"%a - %a", "", false, false, {}},
        {"%x", "", false, false, {}},
        {"ends with %", "", false, false, {}},
        {"no codes", "", false, false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " / " + row.stem);
        TNamePattern pattern;
        ASSERT_EQ(ParseNamePattern(row.pattern, pattern), row.parses);
        std::vector<std::pair<TLabelField, std::string>> values;
        if (row.parses)
            EXPECT_EQ(MatchNamePattern(pattern, row.stem, values), row.fits);
        EXPECT_EQ(values, row.values);
    }
}

TEST(Labels, ListsAreReadAsSpreadsheetsWriteThem)
{
    TList list;
    ReadList("\xEF\xBB\xBF" "File;CutID;OutCue;End\r\n"
             "\"a;b.mp3\";1;\"says \"\"thanks\"\"\r\nand bye\";2026-12-31\r\n"
             "\r\n"
             ";;;\r\n"
             "c.mp3;2;;2026-02-30\r\n"
             "d.mp3;3;x", Today, list);
    ASSERT_EQ(list.Error, ListOk);
    ASSERT_EQ(list.Rows.size(), 3u);
    EXPECT_EQ(list.Rows[0].File, "a;b.mp3");
    EXPECT_EQ(list.Rows[0].Error, LabelNotAscii); // the CR LF within the quotes is no printable ASCII
    EXPECT_EQ(list.Rows[0].Column, "OutCue");
    EXPECT_EQ(list.Rows[1].Line, 6);
    EXPECT_EQ(list.Rows[1].Error, LabelBadDate);
    EXPECT_EQ(list.Rows[1].Column, "End");
    EXPECT_EQ(list.Rows[2].Labels.Text[LabelOutCue], "x");
    EXPECT_EQ(list.Rows[2].Error, LabelOk);

    ReadList("File,Category,ClientID,\na.mp3,\"COM, spots\",Acme,\n", Today, list); // an unnamed last column
    ASSERT_EQ(list.Rows.size(), 1u);
    EXPECT_EQ(list.Rows[0].Labels.Text[LabelCategory], "COM, spots");
    EXPECT_EQ(list.Rows[0].Labels.Text[LabelClientID], "Acme");
}

TEST(Labels, HostileListsAreRefusedWhole)
{
    std::string columns = "File";
    for (int i = 0; i < 1000; ++i)
        columns += ",Category";
    const struct {
        std::string text;
        TListError error;
        int line;
        std::string column;
    } rows[] = {
        {"File,Title\na.mp3,\"never closed\nb.mp3,x\n", ListOpenQuote, 2, ""},
        {std::string("File\na.mp3\0x\n", 12), ListNotText, 0, ""},
        {"File\n\xC3(.mp3\n", ListNotText, 0, ""},
        {"Title,Category\nx,y\n", ListNoFileColumn, 0, ""},
        {"", ListNoFileColumn, 0, ""},
        {"File,Colour\n", ListBadColumn, 1, "Colour"},
        {"File,Title,title\n", ListBadColumn, 1, "title"},
        {"File,file\n", ListBadColumn, 1, "file"},
        {columns + "\n", ListTooLarge, 0, ""},
        {std::string(MaxListBytes + 1, 'x'), ListTooLarge, 0, ""},
    };
    for (const auto& row : rows) {
        TList list;
        ReadList(row.text, Today, list);
        EXPECT_EQ(list.Error, row.error) << row.text.substr(0, 30);
        EXPECT_EQ(list.Line, row.line) << row.text.substr(0, 30);
        EXPECT_EQ(list.Column, row.column);
    }
    // A line of 10 MB is read, and its value refused as too long.
    TList list;
    ReadList("File,Title\na.mp3," + std::string(10 << 20, 'x') + "\n", Today, list);
    ASSERT_EQ(list.Rows.size(), 1u);
    EXPECT_EQ(list.Rows[0].Error, LabelTooLong);
}

class LabelFile : public TempDirTest {};

TEST_F(LabelFile, CartHoldsEveryFieldAtItsPlace)
{
    WriteFile(dir + "/spot.mp3", FrameRun(10) + Tag("Tag Title", "Tag Artist", "", "", 0));
    TRunChoices choices;
    choices.Broadcast = true;
    const std::pair<TLabelField, const char*> given[] = {
        {LabelArtist, "Acme Tyres"}, {LabelCutID, "1234"}, {LabelClientID, "Acme"}, {LabelCategory, "COM"},
        {LabelClassification, "Spot"}, {LabelOutCue, "at Acme"}, {LabelUserDef, "u"}, {LabelURL, "http://x/y"},
        {LabelTagText, "one\\ntwo"}, {LabelStart, "2026-12-24 06:00:00"}, {LabelEnd, "+14"},
        {LabelOriginator, "Radio One"}};
    for (const auto& g : given)
        ASSERT_EQ(SetLabel(choices.Labels, g.first, g.second, Today), LabelOk);
    ASSERT_TRUE(ConvertMpegToWave(NoWindow, dir + "/spot.mp3", false, choices));
    const std::string cart = CartOf(dir + "/spot.wav");
    ASSERT_EQ(cart.size(), 2048u + 8); // "one\r\ntwo" and one zero to an even size
    const auto at = [&](std::size_t offset, std::size_t width) { return cart.substr(offset, width); };
    const auto field = [](const std::string& text, std::size_t width) { return text + Z(width - text.size()); };
    EXPECT_EQ(at(0, 4), "0101");
    EXPECT_EQ(at(4, 64), field("Tag Title", 64)); // the tag's title where no label gives one
    EXPECT_EQ(at(68, 64), field("Acme Tyres", 64));
    EXPECT_EQ(at(132, 64), field("1234", 64));
    EXPECT_EQ(at(196, 64), field("Acme", 64));
    EXPECT_EQ(at(260, 64), field("COM", 64));
    EXPECT_EQ(at(324, 64), field("Spot", 64));
    EXPECT_EQ(at(388, 64), field("at Acme", 64));
    EXPECT_EQ(at(452, 36), "2026-12-2406:00:002027-01-0323:59:59");
    EXPECT_EQ(at(488, 64), field("Korvane", 64));
    EXPECT_EQ(at(616, 64), field("u", 64));
    EXPECT_EQ(at(1024, 1024), field("http://x/y", 1024));
    EXPECT_EQ(at(2048, 8), std::string("one\r\ntwo", 8));
    const std::string file = ReadFile(dir + "/spot.wav");
    const std::size_t bext = file.find("bext") + 8;
    EXPECT_EQ(file.substr(bext, 32), field("Acme Tyres - Tag Title", 32));
    EXPECT_EQ(file.substr(bext + 256, 32), field("Radio One", 32));
}

class LabelRuns : public TempDirTest {
protected:
    std::string out, err;
    int Run(const std::string& args)
    {
        const int status = std::system(("cd '" + dir + "' && '" KORVANE_BINARY "' " + args + " >.out 2>.err").c_str());
        out = ReadFile(dir + "/.out");
        err = ReadFile(dir + "/.err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(LabelRuns, RefusedLabelsConvertNothing)
{
    WriteFile(dir + "/a.mp3", FrameRun(10));
    const struct {
        const char *args, *err;
    } rows[] = {
        {"/Bogus=1 a.mp3", "/Bogus=1 | no such option"},
        {"/Q /Category=" "0123456789012345678901234567890123456789012345678901234567890123456789 a.mp3",
         "/Category=0123456789012345678901234567890123456789012345678901234567890123456789 | longer than its field's 64 characters"},
        {"'/Title=Caf\xC3\xA9' a.mp3", "/Title=Caf\xC3\xA9 | a character outside printable ASCII"},
        {"/End=2026-02-30 a.mp3", "/End=2026-02-30 | not a date (yyyy-mm-dd, yyyy-mm-dd hh:mm:ss, or +days from today)"},
        {"/Start=2026-12-31 /End=2026-12-01 a.mp3", "/End=2026-12-01 | the end lies before the start"},
        {"'/Pattern=%a%t' a.mp3", "/Pattern=%a%t | not a pattern: each of %a %t %n %c %g %o %u at most once, each followed by the text that ends it"},
        {"/List=missing.csv a.mp3", "/List=missing.csv | the list cannot be read"},
        {"/CutID=#x a.mp3", "/CutID=#x | not a cut number (/CutID=#1001 numbers the files from 1001 on)"},
        {"/Peaks /Trim=-40dB a.mp3", "/Trim=-40dB | not a level in dBFS from -96 to 0, such as -40"},
        {"--segue=12 a.mp3", "--segue=12 | not a level in dBFS from -96 to 0, such as -40"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Run(row.args), 1) << row.args;
        EXPECT_EQ(err, "Invalid command-line option: " + std::string(row.err) + "\n") << row.args;
        EXPECT_EQ(out, "");
        EXPECT_EQ(Listing(dir), std::set<std::string>{"a.mp3"});
    }
}

TEST_F(LabelRuns, PatternListAndNumbersGiveEachFileItsLabels)
{
    for (const char* name : {"1 - A - T.mp3", "2 - B - U.mp3", "odd.mp3", "x.mp3"})
        WriteFile(dir + "/" + name, FrameRun(10));
    EXPECT_EQ(Run("/CutID=#1001 '/Pattern=%n - %a - %t' '*.mp3'"), 1);
    EXPECT_EQ(out, "Successfull: " + dir + "/1 - A - T.mp3\nSuccessfull: " + dir + "/2 - B - U.mp3\nFailed : " + dir +
                       "/odd.mp3 | its name does not fit the pattern\nFailed : " + dir +
                       "/x.mp3 | its name does not fit the pattern\n");
    // The option's numbers win over the name's; only files written take one.
    EXPECT_EQ(CartOf(dir + "/1 - A - T.wav").substr(68, 68), "A" + Z(63) + "1001");
    EXPECT_EQ(CartOf(dir + "/2 - B - U.wav").substr(68, 68), "B" + Z(63) + "1002");
    EXPECT_EQ(Listing(dir).count("odd.wav"), 0u);
    // Past the largest number no file is numbered from 0 again.
    EXPECT_EQ(Run("/Q /CutID=#4294967295 x.mp3 odd.mp3"), 1);
    EXPECT_EQ(CartOf(dir + "/x.wav").substr(132, 11), "4294967295" + Z(1));
    EXPECT_EQ(Run("/CutID=#4294967295 x.mp3 odd.mp3"), 1);
    EXPECT_EQ(out.substr(out.find('\n') + 1), "Failed : " + dir + "/odd.mp3 | the Broadcast WAVE labels give a value "
                                               "that cannot be written: CutID: not a number from 0 to 4294967295\n");
    ::unlink((dir + "/x.wav").c_str());

    ::mkdir((dir + "/in").c_str(), 0755);
    WriteFile(dir + "/in/list.csv", "File,Category,End\nx.mp3,NEWS,2026-01-01\nodd.mp3,COM,2031-01-01\n"
                                    "../odd.mp3,COM,\ngone.mp3,COM,\n");
    WriteFile(dir + "/in/x.mp3", FrameRun(10));
    WriteFile(dir + "/in/odd.mp3", FrameRun(10));
    EXPECT_EQ(Run("/Start=2030-01-01 /Title=Fixed /List=in/list.csv"), 1); // a list alone names files
    EXPECT_EQ(err, "");
    EXPECT_EQ(out, "Failed : " + dir + "/in/x.mp3 | the list gives a label that cannot be written: row 2, column End: "
                   "the end lies before the start\nSuccessfull: " + dir + "/in/odd.mp3\nFailed : " + dir +
                   "/in/../odd.mp3 | the list names a file outside its folder\nFile not found: " + dir + "/in/gone.mp3\n");
    EXPECT_EQ(CartOf(dir + "/in/odd.wav").substr(0, 68), "0101Fixed" + Z(59));
    EXPECT_EQ(CartOf(dir + "/in/odd.wav").substr(260, 4), std::string("COM\0", 4));
    EXPECT_EQ(Listing(dir + "/in"), (std::set<std::string>{"list.csv", "odd.mp3", "odd.wav", "x.mp3"}));
    // A file named on the command line takes its row's labels, and the list does not convert it again.
    ::unlink((dir + "/in/odd.wav").c_str());
    EXPECT_EQ(Run("in/odd.mp3 /Title=Named /List=in/list.csv"), 1);
    EXPECT_EQ(out, "Successfull: in/odd.mp3\nSuccessfull: " + dir + "/in/x.mp3\nFailed : " + dir +
                       "/in/../odd.mp3 | the list names a file outside its folder\nFile not found: " + dir +
                       "/in/gone.mp3\n");
    EXPECT_EQ(CartOf(dir + "/in/odd.wav").substr(260, 4), std::string("COM\0", 4));
}
