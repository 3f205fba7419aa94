// The POSIX side of the watch folder: inotify tells the folder's changes and
// every open and close of its files, a pipe written by the signal handler
// wakes the wait, and flock keeps a second watcher away.
#include "DirectWin32Watch.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t stopAsked = 0;
int wakePipe[2] = {-1, -1};

void OnStopSignal(int)
{
    stopAsked = 1;
    const int saved = errno;
    const char byte = 1;
    if (::write(wakePipe[1], &byte, 1) < 0) {
        // the pipe is full: the wait wakes anyway
    }
    errno = saved;
}

void CatchStopSignals()
{
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        wakePipe[0] = wakePipe[1] = -1;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// A watch: the inotify descriptor, how many opens of each file have not been
// closed yet (opens made before the watch started are not seen), and the
// names of changes read while asking about an open file, for the next wait.
struct TWatchRecord {
    int Fd;
    std::map<std::string, int> Opens;
    std::vector<std::string> Pending;
    bool Lost;
};

TWatchRecord* Record(TFolderWatch watch)
{
    return reinterpret_cast<TWatchRecord*>(watch);
}

// Reads every event waiting; false when events were lost.
bool TakeEvents(TWatchRecord& record, std::vector<std::string>& changed)
{
    alignas(inotify_event) char buffer[16384];
    bool complete = true;
    for (;;) {
        const ssize_t got = ::read(record.Fd, buffer, sizeof buffer);
        if (got <= 0)
            return complete;
        for (ssize_t at = 0; at < got;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                record.Opens.clear();
                complete = false;
            }
            if (event->len == 0 || (event->mask & IN_ISDIR))
                continue;
            const std::string name(event->name);
            int& opens = record.Opens[name];
            if (event->mask & IN_OPEN)
                ++opens;
            if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && opens > 0)
                --opens;
            if (event->mask & (IN_MOVED_FROM | IN_DELETE))
                opens = 0;
            if (opens == 0)
                record.Opens.erase(name);
            changed.push_back(name);
        }
    }
}
} // namespace

bool ListFolder(const std::string& folder, std::vector<TFolderEntry>& entries)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    while (const dirent* found = ::readdir(dir)) {
        const std::string name = found->d_name;
        TFolderEntry entry;
        if (name != "." && name != ".." && ReadEntry(folder + "/" + name, entry)) {
            entry.Name = name;
            entries.push_back(entry);
        }
    }
    ::closedir(dir);
    return true;
}

bool ReadEntry(const std::string& name, TFolderEntry& entry)
{
    struct stat info;
    if (::lstat(name.c_str(), &info) != 0)
        return false;
    entry.Name = name.substr(name.rfind('/') + 1);
    // Links are never taken: what they point at may change under them.
    entry.Folder = !S_ISREG(info.st_mode);
    entry.Size = info.st_size;
    entry.WriteTime = std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

bool MakeFolder(const std::string& name)
{
    struct stat info;
    return ::mkdir(name.c_str(), 0777) == 0 || (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

TFile OpenForAppending(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    return fd < 0 ? NoFile : TFile(fd) + 1;
}

std::int64_t MonotonicMs()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

TFolderWatch StartFolderWatch(const std::string& folder, TWindow)
{
    CatchStopSignals();
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return NoFolderWatch;
    const std::uint32_t mask = IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE |
                               IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
    if (::inotify_add_watch(fd, folder.c_str(), mask) < 0) {
        ::close(fd);
        return NoFolderWatch;
    }
    return TFolderWatch(new TWatchRecord{fd, {}, {}, false});
}

TWatchWait AwaitFolderChange(TFolderWatch watch, int timeoutMs, std::vector<std::string>& changed)
{
    TWatchRecord& record = *Record(watch);
    pollfd waits[2] = {{record.Fd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    const bool pending = !record.Pending.empty() || record.Lost;
    if (!stopAsked && !pending &&
        ::poll(waits, wakePipe[0] < 0 ? 1 : 2, timeoutMs < 0 ? 0 : timeoutMs) <= 0 && !stopAsked)
        return WatchTimeout;
    if (stopAsked)
        return WatchStop;
    const std::size_t before = changed.size();
    changed.insert(changed.end(), record.Pending.begin(), record.Pending.end());
    record.Pending.clear();
    const bool lost = record.Lost;
    record.Lost = false;
    if (!TakeEvents(record, changed) || lost)
        return WatchRescan;
    return changed.size() > before ? WatchChanged : WatchTimeout;
}

bool FileStillOpen(TFolderWatch watch, const std::string& name)
{
    TWatchRecord& record = *Record(watch);
    record.Lost = !TakeEvents(record, record.Pending) || record.Lost;
    return record.Opens.count(name.substr(name.rfind('/') + 1)) > 0;
}

void EndFolderWatch(TFolderWatch watch)
{
    if (watch == NoFolderWatch)
        return;
    ::close(Record(watch)->Fd);
    delete Record(watch);
}

bool StopRequested()
{
    return stopAsked != 0;
}

std::intptr_t TakeWatchLock(const std::string& folder, std::string& holder)
{
    const int fd = ::open((folder + "/.korvane-watch.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[32] = {};
        holder = ::read(fd, text, sizeof text - 1) > 0 ? text : "?";
        ::close(fd);
        return 0;
    }
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size())) {
        // the lock holds without the id in it
    }
    return std::intptr_t(fd) + 1;
}

void ReleaseWatchLock(std::intptr_t lock)
{
    if (lock != 0)
        ::close(int(lock - 1));
}
