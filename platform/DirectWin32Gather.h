// DirectWin32, gathering part: how the command-line runs of one user in one
// session find the run that gathers their files, and hand it their records.
//
// A named lock (a mutex of this session whose name holds the user's SID)
// orders the runs. Under it a run looks for the gathering run's published
// window; when there is one it sends its record there (WM_COPYDATA) and
// learns whether it was taken; when there is none it makes its own window,
// publishes it, and gathers. The gathering run ends under the same lock, so
// a run that comes while it ends either still reaches it or finds nothing
// and gathers itself. The publication lives in a named file mapping that
// only this user can open, together with a random key that every record
// must carry: nothing another user sends is taken. A run that dies leaves
// nothing behind: its handles close, its window goes, and a lock it held is
// abandoned, which the next run takes as its own. A gathering run that does
// not answer (one that hangs, or runs elevated, which Windows keeps from
// receiving the records of normal runs) leaves each run to carry on alone.
//
// The native build has no gathering: JoinGathering makes no window there.
#pragma once

#include "DirectWin32.h"

#include <cstdint>
#include <string>

// The longest record a gathering run takes: far beyond what one command line
// can hold, even with every name made full.
const std::uint32_t MaxHandOverRecord = 1 << 20;

// Takes a record handed over (Context is the taker's own): true when taken,
// false when refused.
typedef bool (*THandOverTaker)(void* context, const std::string& record);

enum THandOver {
    HandOverNone,    // no gathering run took it: see TGatherPoint::Window
    HandOverTaken,   // the gathering run took the record
    HandOverRefused, // the gathering run refused it
};

// The gathering run's end of the exchange.
struct TGatherPoint {
    std::string Group;            // runs gather only with runs of the same group
    THandOverTaker Taker = nullptr;
    void* Context = nullptr;
    TWindow Window = NoWindow;    // the receiving window; none when not gathering
    std::intptr_t Lock = 0;      // the lock's handle
    std::intptr_t Published = 0; // the publication's handle
    int Taken = 0;               // records taken so far
    std::uint8_t Key[16] = {};
};

// Under the lock: hands Record to the gathering run when there is one that
// answers. Otherwise makes this run the gathering run (HandOverNone with
// Point.Window set): from now on records reach Point.Taker whenever this
// thread takes its messages. HandOverNone without a window: the system gave
// no lock, window or publication, or a gathering run does not answer; the
// run carries on alone.
THandOver JoinGathering(const std::string& record, TGatherPoint& point);
// Takes the records that arrive until QuietMs milliseconds pass without one.
void AwaitQuiet(TGatherPoint& point, int quietMs);
// Ends the gathering under the lock, unless more records than Handled have
// been taken by then (false: the caller handles them and asks again).
bool EndGathering(TGatherPoint& point, int handled);

// The lock, taken and released as the runs take it (a run that ends without
// releasing it abandons it). Zero when the system gives none.
std::intptr_t TakeGatherLock(const std::string& group = std::string());
void ReleaseGatherLock(std::intptr_t lock);
