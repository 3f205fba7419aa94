// WatchUnit: the watch folder. Each file that arrives in the watched folder
// is converted once, when it is complete, into the output folder; then it
// moves to done/ (or is deleted), or to failed/ with a .txt of its failed
// line. The folders are the whole state: what is still in the watched folder
// is taken at the next start, and a temporary output a crash left behind is
// removed then.
#pragma once

#include "DirectWin32.h"

#include <cstdint>
#include <string>

struct TWatchPlan {
    std::string In, Out;     // full names
    int SettleMs = 2000;     // how long a file's size and time must stand still
    bool DeleteSource = false;
    TWindow Owner = NoWindow; // the conversions' owner; its messages are handled while waiting
    // Converts the file Name into Out with the run's choices; LastFailure
    // says why when it fails.
    bool (*Convert)(void* context, const std::string& name, TWindow owner) = nullptr;
    void* Context = nullptr;
    // Told after each file, with the counts so far (the tray's tip).
    void (*Counted)(void* context, int converted, int failed) = nullptr;
    // Whether the owner is ending (the drop target's window has gone): the
    // watch then stops, and a conversion cut off leaves its source in place.
    bool (*Ending)(void* context) = nullptr;
};
// A watch under way.
struct TWatch;

// How often the whole folder is read again, as a net for shares whose
// changes send no events.
const int WatchRescanMs = 30000;
// The log of the Windows program, in the watched folder.
extern const char* const WatchLogName;

// Whether a file of this own name is ever taken: names that copying programs
// give files in progress (".x", "~x", "x.tmp", "x.part", "x.partial",
// "x.crdownload") and the watch's own log are not.
bool WatchTakesName(const std::string& name);
// Starts watching: takes the folder from other watchers, follows its
// changes, removes a temporary output a crash left behind and writes the
// first line. None when it cannot start, Refusal then saying why (another
// watcher holds the folder, or its changes cannot be followed).
TWatch* BeginWatch(const TWatchPlan& plan, std::string& refusal);
// One round: reads the whole folder again when that is due, takes each file
// that is ready, then waits up to WaitMs for changes (0: only looks, and
// leaves the thread's messages to its own loop). NextMs tells how soon the
// next round has work. False once the watch is to end.
bool StepWatch(TWatch& watch, int waitMs, int& nextMs);
// Writes the last line and lets the folder go.
void EndWatch(TWatch* watch);
// Watches until the program is asked to end. False, with the reason shown,
// when the watch cannot start (another watcher holds the folder, or its
// changes cannot be followed).
bool RunWatch(const TWatchPlan& plan);
