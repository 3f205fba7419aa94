// The native converter as scripts run it: what it prints, its exit status and
// what it leaves in the folder, also on hostile input and failing disks.
#include "TestFiles.h"

#include <sys/wait.h>
#include <unistd.h>

class CommandLine : public TempDirTest {
protected:
    std::string out, err;
    void SetUp() override
    {
        TempDirTest::SetUp();
        for (auto file : {std::make_pair("song.mp3", Hex("FF FB 90 64") + Z(20000)), {"text.txt", "Some text.\n"},
                          {"empty.mp3", ""}, {"short.mp3", Z(3) + Hex("FF FB 90 64")}, {"ff.mp3", std::string(1 << 20, '\xFF')}})
            WriteFile(dir + "/" + file.first, file.second);
        ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0755) | ::chmod((dir + "/song.mp3").c_str(), 0644), 0);
    }
    // Runs "prefix korvane args" in the folder; returns the exit status.
    int Run(const std::string& prefix, const std::string& args)
    {
        int status = std::system(("cd '" + dir + "' && " + prefix + " '" KORVANE_BINARY "' " + args + " >../out 2>../err").c_str());
        out = ReadFile(root + "/out");
        err = ReadFile(root + "/err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

struct CliRow {
    const char *args, *out; // "@" in out stands for the folder
    int status;
    bool createsWav;
};
void PrintTo(const CliRow& row, std::ostream* os) { *os << row.args; }

class CommandLineRows : public CommandLine, public ::testing::WithParamInterface<CliRow> {};

TEST_P(CommandLineRows, PrintsTheSummary)
{
    std::set<std::string> expected = Listing(dir);
    if (GetParam().createsWav)
        expected.insert("song.wav");
    EXPECT_EQ(Run("", GetParam().args), GetParam().status);
    std::string text = GetParam().out;
    for (std::string::size_type at; (at = text.find('@')) != std::string::npos;)
        text.replace(at, 1, dir);
    EXPECT_EQ(out, text);
    EXPECT_EQ(err, "");
    EXPECT_EQ(Listing(dir), expected);
}

INSTANTIATE_TEST_SUITE_P(Args, CommandLineRows, ::testing::Values(
    CliRow{"/x song.mp3", "Invalid command-line option: /x \n\nSuccessfull: @/song.mp3\n", 1, true},
    CliRow{"nothere.mp3", "File not found: nothere.mp3\n", 1, false}, CliRow{"/Q /x", "", 1, false},
    CliRow{"/", "Invalid command-line option: / \n\n", 1, false},
    CliRow{"song.mp3", "Successfull: @/song.mp3\n", 0, true},
    CliRow{"song.mp3 song.mp3", "Successfull: @/song.mp3\nSuccessfull: @/song.mp3\n", 0, true},
    CliRow{"text.txt", "Failed : @/text.txt\n", 1, false}, CliRow{"empty.mp3", "Failed : @/empty.mp3\n", 1, false},
    CliRow{"short.mp3", "Failed : @/short.mp3\n", 1, false}, CliRow{"ff.mp3", "Failed : @/ff.mp3\n", 1, false},
    CliRow{"sub", "Failed : @/sub\n", 1, false}));

TEST_F(CommandLine, HelpAndWindowsOnlyOptions)
{
    EXPECT_EQ(Run("", "/?"), 0);
    EXPECT_EQ(out.rfind("Korvane 1.0 - (c) 2026 the Korvane developers\n\nThis program enables you", 0), 0u);
    EXPECT_EQ(Run("", "-i"), 1);
    EXPECT_NE(err.find("Windows"), std::string::npos) << err;
}

TEST_F(CommandLine, FailingWritesLeaveTheFolderAsItWas)
{
    // A full disk (writes fail with EFBIG); for root also a folder that user nobody may not write to.
    std::vector<std::string> prefixes = {"sh -c 'ulimit -f 8; trap \"\" XFSZ; exec \"$0\" \"$@\"'"};
    if (::getuid() == 0)
        prefixes.push_back("setpriv --reuid=65534 --regid=65534 --clear-groups");
    WriteFile(dir + "/song.wav", "old wave");
    ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
    const std::set<std::string> before = Listing(dir);
    for (const std::string& prefix : prefixes) {
        EXPECT_EQ(Run(prefix, "song.mp3"), 1) << prefix;
        EXPECT_EQ(out, "Failed : " + dir + "/song.mp3\n");
        EXPECT_EQ(err, "");
        EXPECT_EQ(ReadFile(dir + "/song.wav"), "old wave");
        EXPECT_EQ(Listing(dir), before);
    }
}

TEST_F(CommandLine, OnlyStarAndQuestionMarkAreWildcards)
{
    WriteFile(dir + "/a1.mp3", ReadFile(dir + "/song.mp3"));
    WriteFile(dir + "/a[1].mp3", ReadFile(dir + "/song.mp3"));
    EXPECT_EQ(Run("", "'a[1].mp3' 's?ng.*'"), 0);
    EXPECT_EQ(out, "Successfull: " + dir + "/a[1].mp3\nSuccessfull: " + dir + "/song.mp3\n");
}

TEST_F(CommandLine, AbsolutePathsAreFilesNotOptions)
{
    EXPECT_EQ(Run("", "'" + dir + "/song.mp3' /Q"), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Run("", "'" + dir + "/song.mp3'"), 0);
    EXPECT_EQ(out, "Successfull: " + dir + "/song.mp3\n");
}
