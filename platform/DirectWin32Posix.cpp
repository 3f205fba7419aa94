// The POSIX backend of DirectWin32, for the native command-line converter.
// Files are file descriptors (stored plus one, so that 0 stays "none"); boxes
// become lines on stdout (information) and stderr (errors); windows, progress
// and the message pump do nothing.
#include "DirectWin32.h"
#include "DirectWin32Gather.h"
#include "DirectWin32Watch.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

const char PathSeparator = '/';
const bool PlatformIsWindows = false;

// The string table, generated at build time from the program's resource script.
struct TStringEntry {
    int id;
    const char* text;
};
extern const TStringEntry NativeStringTable[];
extern const int NativeStringCount;

namespace {
std::vector<std::string> nativeArguments;
TFileError lastFileError = FileErrorNone;

// Remembers how a file call ended: Ok, or failed with errno.
bool Remember(bool ok, bool reading = false)
{
    const int e = errno;
    lastFileError = ok ? FileErrorNone
                    : e == EACCES || e == EPERM || e == EROFS ? FileErrorDenied
                    : e == ETXTBSY || e == EBUSY ? FileErrorHeld
                    : e == ENOSPC || e == EDQUOT ? FileErrorFull
                    : reading ? FileErrorRead : FileErrorOther;
    return ok;
}

TFile Opened(int fd)
{
    Remember(fd >= 0);
    return fd < 0 ? NoFile : TFile(fd) + 1;
}

int Fd(TFile file)
{
    return int(file) - 1;
}

std::int64_t WholeTransfer(bool writing, TFile file, void* buffer, std::int32_t count)
{
    if (file == NoFile || count < 0)
        return -1;
    std::int64_t done = 0;
    while (done < count) {
        ssize_t n = writing ? ::write(Fd(file), static_cast<char*>(buffer) + done, size_t(count - done))
                            : ::read(Fd(file), static_cast<char*>(buffer) + done, size_t(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (!Remember(n >= 0, !writing))
            return done > 0 ? done : -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}
} // namespace

void InitPlatform()
{
}

std::string GetProgramPath()
{
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

void SetNativeArguments(int argc, char** argv)
{
    nativeArguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::vector<std::string> GetArguments()
{
    return nativeArguments;
}

TFile OpenForReading(const std::string& name)
{
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        errno = EISDIR;
        fd = -1;
    }
    return Opened(fd);
}

TFile CreateForWriting(const std::string& name)
{
    return Opened(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

TFile CreateNewForWriting(const std::string& name)
{
    return Opened(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

bool CloseFile(TFile file)
{
    return file != NoFile && Remember(::close(Fd(file)) == 0);
}

std::int32_t ReadBytes(TFile file, void* buffer, std::int32_t count)
{
    return std::int32_t(WholeTransfer(false, file, buffer, count));
}

std::int32_t WriteBytes(TFile file, const void* buffer, std::int32_t count)
{
    return std::int32_t(WholeTransfer(true, file, const_cast<void*>(buffer), count));
}

std::int64_t SeekFile(TFile file, std::int64_t position)
{
    if (file == NoFile || position < 0)
        return -1;
    return ::lseek(Fd(file), off_t(position), SEEK_SET);
}

std::int64_t SeekFileEnd(TFile file)
{
    return file == NoFile ? -1 : ::lseek(Fd(file), 0, SEEK_END);
}

std::int64_t GetFilePosition(TFile file)
{
    return file == NoFile ? -1 : ::lseek(Fd(file), 0, SEEK_CUR);
}

std::int64_t GetFileSize(TFile file)
{
    struct stat st;
    if (file == NoFile || ::fstat(Fd(file), &st) != 0)
        return -1;
    return st.st_size;
}

bool IsSameFile(TFile file, const std::string& name)
{
    struct stat a, b;
    if (file == NoFile || ::fstat(Fd(file), &a) != 0 || ::stat(name.c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

namespace {
TDateTime FromTime(std::time_t when, bool& ok)
{
    std::tm t{};
    ok = ::localtime_r(&when, &t) != nullptr;
    return TDateTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}
} // namespace

bool GetFileWriteTime(TFile file, TDateTime& local)
{
    struct stat st;
    bool ok = false;
    if (::fstat(Fd(file), &st) == 0)
        local = FromTime(st.st_mtime, ok);
    return ok;
}

TDateTime GetLocalNow()
{
    bool ok;
    return FromTime(std::time(nullptr), ok);
}

void* AllocatePages(std::int32_t size)
{
    void* block = nullptr;
    const long page = ::sysconf(_SC_PAGESIZE);
    return size > 0 && ::posix_memalign(&block, std::size_t(page > 0 ? page : 4096), std::size_t(size)) == 0
               ? block
               : nullptr;
}

void FreePages(void* block)
{
    std::free(block);
}

bool DeleteFileName(const std::string& name)
{
    return ::unlink(name.c_str()) == 0;
}

bool MoveFileOver(const std::string& from, const std::string& to)
{
    return Remember(::rename(from.c_str(), to.c_str()) == 0);
}

TFileError LastFileError()
{
    return lastFileError;
}

bool FindFirstName(const std::string& name, std::string& found)
{
    if (name.empty())
        return false;
    // Only "*" and "?" are wildcards, as in a Windows directory search:
    // brackets and backslashes are parts of the name.
    std::string pattern;
    for (char c : name) {
        if (c == '[' || c == ']' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    glob_t matches;
    std::memset(&matches, 0, sizeof matches);
    bool ok = ::glob(pattern.c_str(), GLOB_NOSORT, nullptr, &matches) == 0 && matches.gl_pathc > 0;
    if (ok) {
        std::string path = matches.gl_pathv[0];
        std::string::size_type sep = path.rfind('/');
        found = sep == std::string::npos ? path : path.substr(sep + 1);
    }
    ::globfree(&matches);
    return ok;
}

bool FileExists(const std::string& name)
{
    std::string found;
    return FindFirstName(name, found);
}

namespace {
// The folder a name lies in, and its own name.
std::string FolderOf(const std::string& name)
{
    std::string::size_type cut = name.rfind('/');
    return cut == std::string::npos ? "." : cut == 0 ? "/" : name.substr(0, cut);
}

std::string OwnName(const std::string& name)
{
    return name.substr(name.rfind('/') + 1);
}
} // namespace

std::vector<std::string> ListMatchingFiles(const std::string& pattern)
{
    std::vector<std::string> names;
    const std::string folder = FolderOf(pattern), mask = OwnName(pattern);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    struct stat st;
    while (const dirent* entry = ::readdir(dir))
        if ((entry->d_name[0] != '.' || mask.compare(0, 1, ".") == 0) &&
            MatchesPattern(entry->d_name, mask) &&
            ::stat((folder + "/" + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string FileNameKey(const std::string& name)
{
    char* real = ::realpath(FolderOf(name).c_str(), nullptr);
    if (real == nullptr)
        return GetFullName(name);
    std::string key = real;
    std::free(real);
    return (key == "/" ? key : key + "/") + OwnName(name);
}

std::string GetFullName(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    char buffer[PATH_MAX + 1];
    if (::getcwd(buffer, sizeof buffer) == nullptr)
        return name;
    return std::string(buffer) + "/" + name;
}

std::string FormatText(const std::string& templ, const std::vector<std::string>& args)
{
    // The program's templates use only "%s" and "%%"; the output is limited
    // to 1024 bytes like the Win32 formatter's.
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < templ.size() && out.size() < 1024; ++i) {
        if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] == 's') {
            if (next < args.size())
                out += args[next].c_str();
            ++next;
            ++i;
        } else if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += templ[i];
        }
    }
    if (out.size() > 1023)
        out.resize(1023);
    return out;
}

std::string LoadText(int id)
{
    for (int i = 0; i < NativeStringCount; ++i)
        if (NativeStringTable[i].id == id)
            return std::string(NativeStringTable[i].text).substr(0, 1023);
    return std::string();
}

bool ShowMessageBox(TWindow, const std::string& text, const std::string&, TBoxKind kind)
{
    std::FILE* stream = kind == BoxError ? stderr : stdout;
    std::fputs(text.c_str(), stream);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', stream);
    std::fflush(stream);
    return true;
}

bool ShowTextWindow(TWindow owner, const std::string& text)
{
    return ShowMessageBox(owner, text, std::string(), BoxInformation);
}

void SendProgress(TWindow, std::int64_t, int)
{
}

// There are no messages; a watch asked to end by a signal stops the copier.
bool PumpMessages(TWindow)
{
    return !StopRequested();
}

bool TopWindowOfClassExists(const std::string&)
{
    return false;
}

void RunMessageLoop()
{
}

// There is no registry here; the program says so before it would need one.
const TRegKey ClassesRoot = 1;
const TRegKey CurrentUser = 2;

TRegKey OpenRegKey(TRegKey, const std::string&, bool)
{
    return NoKey;
}

bool CloseRegKey(TRegKey)
{
    return false;
}

int OpenRegKeyCount()
{
    return 0;
}

int CountSubKeys(TRegKey)
{
    return 0;
}

int CountValues(TRegKey)
{
    return 0;
}

bool DeleteRegKey(TRegKey, const std::string&)
{
    return false;
}

bool WriteRegValue(TRegKey, const std::string&, unsigned, const void*, std::uint32_t)
{
    return false;
}

bool ReadRegValue(TRegKey, const std::string&, unsigned&, void*, std::uint32_t&)
{
    return false;
}

// The native converter has no gathering: every run converts its own files.
THandOver JoinGathering(const std::string&, TGatherPoint&)
{
    return HandOverNone;
}

void AwaitQuiet(TGatherPoint&, int)
{
}

bool EndGathering(TGatherPoint&, int)
{
    return true;
}

std::intptr_t TakeGatherLock(const std::string&)
{
    return 0;
}

void ReleaseGatherLock(std::intptr_t)
{
}
