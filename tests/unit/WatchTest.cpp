// The output folder and the watch folder of the native converter, run as a
// station runs them: files arriving, writers that pause, signals, restarts.
// Every wait polls for its condition up to a deadline.
#include "TestFiles.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
// Whether Condition comes true before Seconds have passed.
bool Within(double seconds, const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool Exists(const std::string& name)
{
    struct stat info;
    return ::stat(name.c_str(), &info) == 0;
}

// A WAVed MPEG whose data chunk holds Size zero bytes, made sparse: its way
// back takes long enough to be cut off.
void WriteLargeWave(const std::string& name, std::uint32_t size)
{
    WriteFile(name, "RIFF" + Le32(size + 50) + "WAVE" + Chunk("fmt ", Fmt55) + "data" + Le32(size));
    ASSERT_EQ(::truncate(name.c_str(), off_t(ReadFile(name).size()) + size), 0);
}
} // namespace

class Watch : public TempDirTest {
protected:
    std::string in, out;
    pid_t pid = -1;
    void SetUp() override
    {
        TempDirTest::SetUp();
        in = dir + "/in";
        out = dir + "/out";
        ASSERT_EQ(::mkdir(in.c_str(), 0755) | ::mkdir(out.c_str(), 0755), 0);
    }
    void TearDown() override
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        TempDirTest::TearDown();
    }
    // Starts "korvane Args" with its output in the file Log of the folder.
    pid_t Start(const std::vector<std::string>& args, const std::string& log = "log")
    {
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open((dir + "/" + log).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            std::vector<char*> argv = {const_cast<char*>(KORVANE_BINARY)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(KORVANE_BINARY, argv.data());
            ::_exit(127);
        }
        return child;
    }
    void StartWatch(const std::string& more = "--settle=1")
    {
        pid = Start({"--watch=" + in, "--out=" + out, more});
        ASSERT_TRUE(Within(20, [&] { return Log().find("Watching " + in + ", writing to " + out + "\n") != std::string::npos; }))
            << Log();
    }
    std::string Log() { return ReadFile(dir + "/log"); }
    // The exit status once the watcher has ended, -1 when it has not in time.
    int Ended(double seconds)
    {
        int status = 0;
        if (!Within(seconds, [&] { return ::waitpid(pid, &status, WNOHANG) == pid; }))
            return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The bytes a plain run writes beside a copy of Name's bytes.
    std::string Converted(const std::string& bytes, const std::string& name, const std::string& result)
    {
        ::mkdir((dir + "/plain").c_str(), 0755);
        WriteFile(dir + "/plain/" + name, bytes);
        EXPECT_EQ(std::system(("'" KORVANE_BINARY "' /Q '" + dir + "/plain/" + name + "'").c_str()), 0);
        return ReadFile(dir + "/plain/" + result);
    }
};

TEST_F(Watch, OutFolderGetsTheBytesOfAConversionBesideTheInput)
{
    WriteFile(dir + "/song.mp3", FrameRun(48) + Tag("Title", "Artist", "2026", "c", 12));
    const std::string wave = Converted(ReadFile(dir + "/song.mp3"), "song.mp3", "song.wav");
    const std::string back = Converted(wave, "song.wav", "song.mp3");
    WriteFile(dir + "/song.wav", wave);
    ::rename((dir + "/song.mp3").c_str(), (dir + "/x.mp3").c_str());
    EXPECT_EQ(std::system(("cd '" + dir + "' && '" KORVANE_BINARY "' --out=out x.mp3 /Out=out song.wav >/dev/null 2>&1").c_str()),
              256); // /Out= twice: refused
    EXPECT_EQ(std::system(("cd '" + dir + "' && '" KORVANE_BINARY "' --Out=out x.mp3 song.wav >.o 2>&1").c_str()), 0);
    EXPECT_EQ(ReadFile(dir + "/.o"), "Successfull: " + dir + "/x.mp3\nSuccessfull: " + dir + "/song.wav\n");
    EXPECT_EQ(ReadFile(out + "/x.wav"), wave);
    EXPECT_EQ(ReadFile(out + "/song.mp3"), back);
    EXPECT_EQ(Listing(out), (std::set<std::string>{"song.mp3", "x.wav"}));
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out", "plain", "song.wav", "x.mp3"}));
}

TEST_F(Watch, FoldersThatTakeNoFileAndBadSettleTimesAreInvalidOptions)
{
    WriteFile(dir + "/song.mp3", FrameRun(48));
    ASSERT_EQ(::mkdir((dir + "/locked").c_str(), 0555), 0);
    struct Row {
        std::string args, why;
    };
    const bool root = ::geteuid() == 0; // root writes into any folder
    for (const Row& row : std::vector<Row>{
             {"--out=nothere", "no such folder, or it cannot be written"},
             {"/Out=song.mp3", "no such folder, or it cannot be written"},
             {root ? "--out=" : "--out=locked", root ? "no value given" : "no such folder, or it cannot be written"},
             {"--watch=nothere --out=out", "no such folder, or it cannot be written"},
             {"--watch=in", "/Watch= needs /Out= naming another folder"},
             {"--watch=in --out=in/", "/Watch= needs /Out= naming another folder"},
             {"--settle=x --out=out", "not a whole number of seconds from 0 to 3600"},
             {"--out=out --settle=3601", "not a whole number of seconds from 0 to 3600"}}) {
        const std::string command = "cd '" + dir + "' && '" KORVANE_BINARY "' " + row.args + " song.mp3 >.o 2>.e";
        EXPECT_EQ(std::system(command.c_str()), 256) << row.args;
        EXPECT_NE(ReadFile(dir + "/.e").find(" | " + row.why + "\n"), std::string::npos) << row.args << ReadFile(dir + "/.e");
        EXPECT_EQ(ReadFile(dir + "/.e").rfind("Invalid command-line option: ", 0), 0u) << row.args;
        EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "locked", "out", "song.mp3"})) << row.args;
        EXPECT_EQ(Listing(out), std::set<std::string>{}) << row.args;
    }
    // Told by their whole names only: "/Watch" is no /W, "/DeleteSource" no /D.
    EXPECT_EQ(std::system(("cd '" + dir + "' && '" KORVANE_BINARY "' /DeleteSource /Dx song.mp3 >.o 2>.e").c_str()), 256);
    EXPECT_EQ(ReadFile(dir + "/.o"), "Successfull: " + dir + "/song.mp3\n");
    EXPECT_EQ(ReadFile(dir + "/.e"), "Invalid command-line option: /Dx\n");
}

TEST_F(Watch, ConvertsEachArrivingFileOnceAndMovesItToDoneOrFailed)
{
    const std::string song = FrameRun(48);
    WriteFile(in + "/before.mp3", song); // there before the start
    WriteFile(in + "/.hidden.mp3", song);
    WriteFile(in + "/copy.mp3.part", song);
    ::mkdir((in + "/sub.mp3").c_str(), 0755);
    StartWatch();
    WriteFile(in + "/song.mp3", song);
    WriteFile(in + "/text.mp3", "Some text.\n");
    ASSERT_TRUE(Within(20, [&] { return Exists(in + "/done/before.mp3") && Exists(in + "/done/song.mp3") &&
                                        Exists(in + "/failed/text.mp3.txt"); })) << Log();
    const std::string wave = Converted(song, "song.mp3", "song.wav");
    EXPECT_EQ(ReadFile(out + "/song.wav"), wave);
    EXPECT_EQ(ReadFile(out + "/before.wav"), wave);
    EXPECT_EQ(ReadFile(in + "/failed/text.mp3"), "Some text.\n");
    EXPECT_EQ(ReadFile(in + "/failed/text.mp3.txt"), "Failed : " + in + "/text.mp3 | no MPEG audio found in it\n");
    EXPECT_EQ(Listing(in), (std::set<std::string>{"copy.mp3.part", "done", "failed", "sub.mp3"}));
    EXPECT_EQ(Listing(out), (std::set<std::string>{"before.wav", "song.wav"}));
    // Many arriving while others convert: each noticed at once, not at the next full reading.
    for (int i = 0; i < 200; ++i)
        WriteFile(in + "/many" + std::to_string(i) + ".mp3", song);
    ASSERT_TRUE(Within(20, [&] { return Listing(in + "/done").size() == 202; })) << Listing(in + "/done").size();
    for (int i = 0; i < 200; ++i)
        ::unlink((out + "/many" + std::to_string(i) + ".wav").c_str());
    // A file of a name taken before is taken again.
    WriteFile(in + "/song.mp3", FrameRun(10));
    ASSERT_TRUE(Within(20, [&] { return !Exists(in + "/song.mp3") && ReadFile(out + "/song.wav") != wave; }));
    ::kill(pid, SIGINT);
    EXPECT_EQ(Ended(10), 0);
    // One line each, with the time before it.
    std::vector<std::string> lines;
    std::istringstream log(Log());
    for (std::string line; std::getline(log, line);)
        lines.push_back(line.size() > 20 && line[4] == '-' && line[13] == ':' ? line.substr(20) : "untimed: " + line);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find("/many") != std::string::npos; }),
                lines.end());
    std::sort(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"Watching " + in + ", writing to " + out,
                                               "Failed : " + in + "/text.mp3 | no MPEG audio found in it",
                                               "Successfull: " + in + "/before.mp3", "Successfull: " + in + "/song.mp3",
                                               "Successfull: " + in + "/song.mp3", "Stopped watching " + in}));
}

TEST_F(Watch, AFileIsTakenOnlyWhenItStandsStillAndNoOneHoldsItOpen)
{
    StartWatch();
    // Written in pieces, each by a new open, faster than the settle time.
    for (int piece = 0; piece < 8; ++piece) {
        std::ofstream(in + "/pieces.mp3", std::ios::binary | std::ios::app) << FrameRun(6);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(Exists(in + "/pieces.mp3") && !Exists(out + "/pieces.wav")) << piece;
    }
    // Held open, with pauses longer than the settle time.
    const int fd = ::open((in + "/held.mp3").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string part = FrameRun(24);
    for (int pause = 0; pause < 2; ++pause) {
        ASSERT_EQ(::write(fd, part.data(), part.size()), ssize_t(part.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1800));
        ASSERT_TRUE(Exists(in + "/held.mp3") && !Exists(out + "/held.wav")) << pause;
    }
    ::close(fd);
    ASSERT_TRUE(Within(20, [&] { return Exists(in + "/done/held.mp3") && Exists(in + "/done/pieces.mp3"); })) << Log();
    EXPECT_EQ(ReadFile(out + "/pieces.wav"), Converted(FrameRun(48), "pieces.mp3", "pieces.wav"));
    EXPECT_EQ(ReadFile(out + "/held.wav"), Converted(FrameRun(48), "held.mp3", "held.wav"));
}

TEST_F(Watch, AFileHeldOpenWithoutASettleTimeIsWaitedForWithoutSpinning)
{
    StartWatch("--settle=0");
    const int fd = ::open((in + "/held.mp3").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string part = FrameRun(24);
    ASSERT_EQ(::write(fd, part.data(), part.size()), ssize_t(part.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    // The watcher's processor time so far, in clock ticks: user and system.
    std::istringstream stat(ReadFile("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        ticks += i >= 14 ? std::stol(field) : 0;
    EXPECT_LT(ticks, ::sysconf(_SC_CLK_TCK) / 2) << "a file held open for 2 s, no busy loop";
    EXPECT_FALSE(Exists(out + "/held.wav"));
    ::close(fd);
    ASSERT_TRUE(Within(20, [&] { return Exists(in + "/done/held.mp3"); })) << Log();
}

TEST_F(Watch, AStopInMidConversionLeavesNoHalfFileAndTheSourceInPlace)
{
    WriteLargeWave(in + "/big.wav", 2000000000u);
    StartWatch("--settle=0");
    ASSERT_TRUE(Within(20, [&] { return Exists(out + "/big.~00"); })) << Log();
    ::kill(pid, SIGTERM);
    EXPECT_EQ(Ended(10), 0);
    EXPECT_EQ(Listing(out), std::set<std::string>{});
    EXPECT_TRUE(Exists(out + "/big.~00") == false);
    EXPECT_EQ(Listing(in), (std::set<std::string>{"big.wav", "done", "failed"}));
    EXPECT_NE(Log().find("Stopped watching " + in + "\n"), std::string::npos);
    EXPECT_EQ(Log().find("big.wav"), std::string::npos); // no line: it was not converted
}

TEST_F(Watch, AfterAKillTheRestartRemovesTheTemporaryFileAndTakesTheSource)
{
    WriteLargeWave(in + "/big.wav", 2000000000u);
    StartWatch("--settle=0");
    ASSERT_TRUE(Within(20, [&] { return Exists(out + "/big.~00"); })) << Log();
    ::kill(pid, SIGKILL);
    EXPECT_EQ(Ended(10), 128 + SIGKILL);
    EXPECT_TRUE(Exists(out + "/big.~00") && Exists(in + "/big.wav"));
    // The same name, now small, as the source that was cut off.
    const std::string wave = Converted(FrameRun(48), "big.mp3", "big.wav");
    WriteFile(in + "/big.wav", wave);
    StartWatch();
    ASSERT_TRUE(Within(20, [&] { return Exists(in + "/done/big.wav"); })) << Log();
    EXPECT_EQ(Listing(out), (std::set<std::string>{"big.mp3"}));
    EXPECT_FALSE(Exists(out + "/big.~00"));
    EXPECT_TRUE(ReadFile(out + "/big.mp3") == Converted(wave, "big.wav", "big.mp3"));
}

TEST_F(Watch, ASecondWatcherOfTheFolderIsRefusedNamingTheFirst)
{
    StartWatch();
    const pid_t second = Start({"--watch=" + in, "--out=" + dir}, "log2");
    int status = 0;
    ASSERT_TRUE(Within(20, [&] { return ::waitpid(second, &status, WNOHANG) == second; }));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(dir + "/log2"), "Invalid command-line option: /Watch=" + in +
                                           " | the folder is watched already, by process " + std::to_string(pid) + "\n");
    // Deleted once converted, when asked.
    ::kill(pid, SIGTERM);
    EXPECT_EQ(Ended(10), 0);
    StartWatch("/DeleteSource");
    WriteFile(in + "/song.mp3", FrameRun(48));
    ASSERT_TRUE(Within(20, [&] { return Exists(out + "/song.wav") && !Exists(in + "/song.mp3"); })) << Log();
    EXPECT_EQ(Listing(in), (std::set<std::string>{"done", "failed"}));
}
