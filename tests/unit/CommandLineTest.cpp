// The native converter as scripts run it: what it prints, its exit status and
// what it leaves in the folder, also on hostile input and failing disks.
#include "KorvaneVersion.h"
#include "TestFiles.h"

#include <sys/wait.h>
#include <unistd.h>

class CommandLine : public TempDirTest {
protected:
    std::string out, err;
    void SetUp() override
    {
        TempDirTest::SetUp();
        // a1.mp3 is what the name a[1].mp3 would match if brackets were wildcards; Y.WAV's data chunk
        // claims more than it holds, so that its way back fails, yet writes over the older Y.mp3.
        for (auto file : {std::make_pair("song.mp3", FrameRun(48)), {"a[1].mp3", FrameRun(48)},
                          {"a1.mp3", ""}, {"song.wav", "old wave"}, {"text.txt", "Some text.\n"}, {"empty.mp3", ""},
                          {"Y.WAV", "RIFF" + Le32(884) + "WAVE" + Chunk("fmt ", Fmt55) + "data" + Le32(5000) +
                                        FrameRun(2)}, {"Y.mp3", "older"}, {"short.mp3", Z(3) + H1}, {"ff.mp3", std::string(1 << 20, '\xFF')}, {".hidden.mp3", FrameRun(48)},
                          {"pcm.mp3", "RIFF" + Le32(36 + 8000) + "WAVEfmt " + Le32(16) +
                                          Hex("01 00 02 00 44 AC 00 00 10 B1 02 00 04 00 10 00") +
                                          "data" + Le32(8000) + Z(8000)}})
            WriteFile(dir + "/" + file.first, file.second);
        ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0755) | ::chmod((dir + "/song.mp3").c_str(), 0644), 0);
    }
    // Runs "prefix korvane args" in the folder; returns the exit status.
    int Run(const std::string& prefix, const std::string& args)
    {
        const std::string command = "cd '" + dir + "' && " + prefix + " '" KORVANE_BINARY "' " + args;
        int status = std::system((command + " >.out 2>.err").c_str());
        out = ReadFile(dir + "/.out");
        err = ReadFile(dir + "/.err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

struct CliRow {
    const char* args;
    std::string out; // "@" in out and err stands for the folder, as $PWD in args does
    int status;
    std::set<std::string> created;
    std::string err = ""; // "%" stands for the usage
};
// What the converter given no file prints on stderr.
const std::string Usage =
    "Usage:\n  Korvane [/?][/Q][/I][/U] FileName01.mp3 FileName02.mp3 ... FileNameXX.mp3\n\n"
    "Command-line options:\n  /? - Shows this box\n  /Q - Quiet mode\n  /I - Install registry entries\n"
    "  /U - Uninstall registry entries\n\nExcept for the /Q option, anything after the other options will be ignored."
    "\n\nWhen there are no command-line parameters given, the GUI will be executed.\n\n"
    "Broadcast WAVE for playout systems:\n  /B - Adds the bext, mext and cart chunks to every WAVed MPEG written\n"
    "  /L - loudness into bext v2; /Trim=dB /Segue=dB /Peaks - cart timers, levl; /Info - chunks\n"
    "  /Title= /Artist= /CutID= /ClientID= /Category= /Classification= /OutCue= /UserDef=\n"
    "  /URL= /TagText= /Start= /End= /Description= /Originator= /Pattern= /List= - labels\n";
void PrintTo(const CliRow& row, std::ostream* os) { *os << row.args; }

// What /Info says of pcm.mp3, a PCM WAV file under an MPEG name.
const std::string PcmInfo =
    "File: @/pcm.mp3\nContainer: RIFF WAVE, 8044 bytes, RIFF size 8036\nFormat: PCM, 44100 Hz, 2 channels, 16 bits\n"
    "Length: 2000 samples, 0.045 s\nChunk: fmt  16 bytes at 12\nfmt FormatTag: 0x0001\nfmt Channels: 2\n"
    "fmt SamplesPerSec: 44100\nfmt AvgBytesPerSec: 176400\nfmt BlockAlign: 4\nfmt BitsPerSample: 16\n"
    "Chunk: data 8000 bytes at 36\n";

class CommandLineRows : public CommandLine, public ::testing::WithParamInterface<CliRow> {};

TEST_P(CommandLineRows, PrintsTheSummary)
{
    std::set<std::string> expected = Listing(dir);
    expected.insert(GetParam().created.begin(), GetParam().created.end());
    EXPECT_EQ(Run("", GetParam().args), GetParam().status);
    std::string text = GetParam().out, errors = GetParam().err;
    for (std::string* lines : {&text, &errors})
        for (std::string::size_type at; (at = lines->find('@')) != std::string::npos;)
            lines->replace(at, 1, dir);
    EXPECT_EQ(out, text);
    if (!errors.empty() && errors.back() == '%')
        errors.replace(errors.size() - 1, 1, Usage);
    EXPECT_EQ(err, errors);
    EXPECT_EQ(Listing(dir), expected);
}

INSTANTIATE_TEST_SUITE_P(Args, CommandLineRows, ::testing::Values(
    // An invalid option is an error line of its own on stderr, even with /Q; options without a file
    // give the usage there.
    CliRow{"/x song.mp3 --bogus", "Successfull: @/song.mp3\n", 1, {"song.wav"}, "Invalid command-line option: /x --bogus\n"},
    CliRow{"nothere.mp3", "File not found: nothere.mp3\n", 1, {}},
    CliRow{"/Q /x", "", 1, {}, "Invalid command-line option: /x\n%"}, CliRow{"/Q", "", 1, {}, "%"},
    CliRow{"/B -q", "", 1, {}, "%"}, CliRow{"/", "", 1, {}, "Invalid command-line option: /\n%"},
    CliRow{"--version song.mp3", "Korvane " KORVANE_VERSION "\n", 0, {}},
    CliRow{"song.mp3 song.mp3", "Successfull: @/song.mp3\nSuccessfull: @/song.mp3\n", 0, {"song.wav"}},
    // Absolute paths are files, not options; only * and ? are wildcards.
    CliRow{"-q \"$PWD/song.mp3\" /q", "", 0, {"song.wav"}},
    CliRow{"'a[1].mp3' 's?ng.*' '.h*'", // a leading dot is matched by a dot only
           "Successfull: @/a[1].mp3\nSuccessfull: @/song.mp3\nSuccessfull: @/.hidden.mp3\n", 0, {"a[1].wav", "song.wav"}},
    CliRow{"sub", "Failed : @/sub | it cannot be opened\n", 1, {}},
    // A pattern: every file it matches in byte order, no folder, no hidden file, and not the song.wav
    // and Y.mp3 the run wrote over older ones (the Windows search is the end-to-end test's; every
    // reason, on both builds, the end-to-end failure table's).
    CliRow{"'*'", "Failed : @/Y.WAV | the audio data ends before the size the file gives (the part there was kept)\nFailed : @/a1.mp3 | the file is empty\nSuccessfull: @/a[1].mp3\n"
                  "Failed : @/empty.mp3 | the file is empty\nFailed : @/ff.mp3 | no MPEG audio found in it\n"
                  "Failed : @/pcm.mp3 | a WAV file of PCM audio, not MPEG audio\n"
                  "Failed : @/short.mp3 | no MPEG audio found in it\nSuccessfull: @/song.mp3\n"
                  "Failed : @/text.txt | no MPEG audio found in it\n", 1, {"a[1].wav", "song.wav"}},
    CliRow{"'*.mp3?' 'a1?.mp3'", "File not found: *.mp3?\nFile not found: a1?.mp3\n", 1, {}}, // ? is one character
    // /Info (not /I) describes every file named and converts none: descriptions on stdout, a blank
    // line between them, and on stderr the files it cannot describe.
    CliRow{"-Info /x song.mp3 'p*.mp3' nothere.wav pcm.mp3", PcmInfo + "\n" + PcmInfo, 1, {},
           "Failed : @/song.mp3 | not a WAV file\nFile not found: nothere.wav\nInvalid command-line option: /x\n"},
    CliRow{"/q --info", "", 1, {}, "%"}, CliRow{"/INFO sub", "", 1, {}, "Failed : @/sub | it cannot be opened\n"}));

TEST_F(CommandLine, HelpAndWindowsOnlyOptionsInBothCasesAndPrefixes)
{
    for (const char* help : {"/?", "-?", "/h", "-H", "--help"}) {
        EXPECT_EQ(Run("", std::string(help) + " song.mp3"), 0) << help;
        EXPECT_EQ(out.rfind("Korvane 1.0 - (c) 2026 the Korvane developers\n\nThis program enables you", 0), 0u);
    }
    for (const char* registry : {"-i", "/I", "/u", "-U"}) {
        EXPECT_EQ(Run("", registry), 1);
        EXPECT_NE(err.find("Windows"), std::string::npos) << registry << err;
    }
    EXPECT_EQ(ReadFile(dir + "/song.wav"), "old wave");
}

// A name right at the limit of a name's length (255 bytes) converts there and back beside leftover
// temporary files: ten of the names an older version used and ten of today's.
TEST_F(CommandLine, ANameAtTheLimitConvertsBesideTenLeftovers)
{
    const std::string stem = std::string(251, 'n');
    WriteFile(dir + "/" + stem + ".mp3", FrameRun(48));
    for (char n = '0'; n <= '9'; ++n)
        for (const char* leftover : {".~k", ".~0"})
            WriteFile(dir + "/" + stem + leftover + n, "left over");
    std::set<std::string> expected = Listing(dir);
    expected.insert(stem + ".wav");
    for (const char* ext : {".mp3", ".wav"}) {
        EXPECT_EQ(Run("", "/Q " + stem + ext), 0) << ext << err;
        EXPECT_EQ(Listing(dir), expected);
    }
    EXPECT_EQ(ReadFile(dir + "/" + stem + ".mp3").substr(0, 48 * 417), FrameRun(48));
}
