// DirectWin32Watch: what the watch folder needs of the operating system.
//
// DirectWin32WatchPosix.cpp serves the native converter (inotify, signals,
// flock), DirectWin32WatchWin.cpp the Windows program (ReadDirectoryChangesW,
// files opened without sharing).
#pragma once

#include "DirectWin32.h"

#include <cstdint>
#include <string>
#include <vector>

// One entry of a folder: its own name, whether it is a folder, and, for a
// file, its size and last-write time (in the platform's own units).
struct TFolderEntry {
    std::string Name;
    bool Folder = false;
    std::int64_t Size = 0;
    std::int64_t WriteTime = 0;
};

// The entries of Folder, "." and ".." left out; false when it cannot be read.
bool ListFolder(const std::string& folder, std::vector<TFolderEntry>& entries);
// The entry Name; false when nothing of that name is there.
bool ReadEntry(const std::string& name, TFolderEntry& entry);
// Makes the folder Name; true also when it is there already.
bool MakeFolder(const std::string& name);
// Opens Name for writing at its end, creating it when it is not there.
TFile OpenForAppending(const std::string& name);
// Milliseconds from some fixed moment, never going back.
std::int64_t MonotonicMs();

// The changes of one folder as they happen.
typedef std::intptr_t TFolderWatch;
const TFolderWatch NoFolderWatch = 0;
enum TWatchWait {
    WatchTimeout, // nothing happened in the time given
    WatchChanged, // Changed holds the own names of entries that changed
    WatchRescan,  // events were lost: the whole folder must be read again
    WatchStop     // the program is asked to end
};
// Starts watching Folder; natively SIGTERM and SIGINT from then on ask the
// watch to stop. Window, on Windows, is the one whose messages are handled
// while waiting (NoWindow: the thread's).
TFolderWatch StartFolderWatch(const std::string& folder, TWindow window);
// Waits up to TimeoutMs for a change, and appends the names that changed.
// On Windows the thread's messages are handled while it waits; a timeout of
// 0 only looks, and handles none.
TWatchWait AwaitFolderChange(TFolderWatch watch, int timeoutMs, std::vector<std::string>& changed);
// Whether the file Name (in the watched folder) is still open:
// natively some local process holds it open (the opens and closes the
// watch has seen), on Windows it cannot be opened without sharing.
bool FileStillOpen(TFolderWatch watch, const std::string& name);
void EndFolderWatch(TFolderWatch watch);
// Whether the program has been asked to end (natively by a signal): the
// copier stops, and the conversion drops its output.
bool StopRequested();
// The owner a native watch gives its conversions: the copier asks
// PumpMessages between blocks only when there is an owner, and natively that
// is where a stop is told. No window stands behind it.
const TWindow NativeWatchOwner = 1;

// One watcher per folder: the lock is held until released or the program
// ends. When another process holds it, none is returned and Holder names that
// process by its id.
std::intptr_t TakeWatchLock(const std::string& folder, std::string& holder);
void ReleaseWatchLock(std::intptr_t lock);
