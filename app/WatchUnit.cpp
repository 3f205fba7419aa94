// WatchUnit: the watch folder's loop, over the platform's folder changes.
#include "WatchUnit.h"

#include "DeclUnit.h"
#include "DirectWin32Watch.h"
#include "OutputFile.h"

#include <algorithm>
#include <cstdio>
#include <map>

const char* const WatchLogName = "korvane-watch.log";

// A file waiting to be taken: its size and write time when last seen, since
// when they have stood still, and whether it has been dealt with already (its
// move to done/ or failed/ failed; it is taken again only when it changes).
struct TSettling {
    std::int64_t Size, WriteTime, Since;
    bool Handled;
};

struct TWatch {
    TWatchPlan Plan;
    std::intptr_t Lock = 0;
    TFolderWatch Changes = NoFolderWatch;
    std::map<std::string, TSettling> Files; // by own name, so taken in name order
    int Converted = 0, Failed = 0;
    std::int64_t NextRescan = 0;
};

namespace {
const int TextAlreadyWatched = 5262, TextWatching = 5265, TextStopped = 5266;
// How soon a file found still open is looked at again (natively its close
// wakes the watch at once).
const int StillOpenLookMs = 250;



bool EndsWith(const std::string& name, const char* end)
{
    std::string lower = name;
    for (char& c : lower)
        c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    const std::string tail = end;
    return lower.size() >= tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
}

// Whether the watch is to end: the program is asked to, or the window that
// owns it has gone.
bool Ending(const TWatch& watch)
{
    return StopRequested() || (watch.Plan.Ending != nullptr && watch.Plan.Ending(watch.Plan.Context));
}

std::string Join(const std::string& folder, const std::string& name)
{
    return PlaceInFolder(name, folder);
}

std::string TwoDigits(int n)
{
    return std::string(1, char('0' + n / 10 % 10)) + char('0' + n % 10);
}

// A line of the watch, with the local time before it: natively on stdout, on
// Windows appended to the log in the watched folder (no box waits there).
void WriteLine(const TWatch& watch, const std::string& text)
{
    const TDateTime now = GetLocalNow();
    const std::string line = std::to_string(now.Year) + "-" + TwoDigits(now.Month) + "-" + TwoDigits(now.Day) + " " +
                             TwoDigits(now.Hour) + ":" + TwoDigits(now.Minute) + ":" + TwoDigits(now.Second) + " " +
                             text;
    if (!PlatformIsWindows) {
        ShowMessageBox(NoWindow, line, ProgramTitle, BoxInformation);
        return;
    }
    TFile log = OpenForAppending(Join(watch.Plan.In, WatchLogName));
    if (log != NoFile) {
        WriteTextBytes(log, line + "\r\n");
        CloseFile(log);
    }
}

// Notes what the folder holds under Name now: a file new or changed starts
// to settle again; one gone, or a folder, is forgotten.
void Note(TWatch& watch, const std::string& name, std::int64_t now)
{
    TFolderEntry entry;
    if (!WatchTakesName(name) || !ReadEntry(Join(watch.Plan.In, name), entry) || entry.Folder) {
        watch.Files.erase(name);
        return;
    }
    auto found = watch.Files.find(name);
    if (found == watch.Files.end() || found->second.Size != entry.Size || found->second.WriteTime != entry.WriteTime)
        watch.Files[name] = {entry.Size, entry.WriteTime, now, false};
}

void Rescan(TWatch& watch, std::int64_t now)
{
    std::vector<TFolderEntry> entries;
    if (!ListFolder(watch.Plan.In, entries))
        return;
    std::map<std::string, TSettling> before;
    before.swap(watch.Files);
    for (const TFolderEntry& entry : entries) {
        if (entry.Folder || !WatchTakesName(entry.Name))
            continue;
        auto found = before.find(entry.Name);
        if (found != before.end() && found->second.Size == entry.Size && found->second.WriteTime == entry.WriteTime)
            watch.Files[entry.Name] = found->second;
        else
            watch.Files[entry.Name] = {entry.Size, entry.WriteTime, now, false};
    }
}

// Writes the failed line into failed/<name>.txt beside the failed file.
bool WriteFailedLine(const std::string& name, const std::string& line)
{
    TFile file = CreateForWriting(name + ".txt");
    if (file == NoFile)
        return false;
    const bool written = WriteTextBytes(file, line + (PlatformIsWindows ? "\r\n" : "\n"));
    return CloseFile(file) && written;
}

// Converts the file Name; its source then moves to done/ or failed/ (or is
// deleted). A conversion cut off by a stop leaves the source where it was,
// to be taken at the next start. False when the source could not be moved.
bool Take(TWatch& watch, const std::string& name)
{
    const std::string source = Join(watch.Plan.In, name);
    const bool converted = watch.Plan.Convert(watch.Plan.Context, source, watch.Plan.Owner);
    if (!converted && Ending(watch))
        return true;
    const std::string line = converted ? StatusSucceeded + source : StatusFailed + source + FailureReason();
    const std::string folder = Join(watch.Plan.In, converted ? "done" : "failed");
    const std::string moved = Join(folder, name);
    bool placed;
    if (converted && watch.Plan.DeleteSource)
        placed = DeleteFileName(source);
    else
        placed = MakeFolder(folder) && MoveFileOver(source, moved) &&
                 (converted || WriteFailedLine(moved, line));
    ++(converted ? watch.Converted : watch.Failed);
    WriteLine(watch, line);
    if (watch.Plan.Counted != nullptr)
        watch.Plan.Counted(watch.Plan.Context, watch.Converted, watch.Failed);
    return placed;
}

// A temporary output left in the output folder by a conversion that a crash
// or power loss cut off.
void RemoveLeftovers(const std::string& folder)
{
    std::vector<TFolderEntry> entries;
    ListFolder(folder, entries);
    for (const TFolderEntry& entry : entries)
        if (!entry.Folder && IsTemporaryOutputName(entry.Name))
            DeleteFileName(Join(folder, entry.Name));
}

// Takes each file that has stood still for the settle time and is no longer
// open; returns how long until the next one might be ready (at most Wait).
int TakeReady(TWatch& watch, int wait)
{
    std::vector<std::string> names;
    for (const auto& file : watch.Files)
        names.push_back(file.first);
    for (const std::string& name : names) {
        if (Ending(watch))
            break;
        std::int64_t now = MonotonicMs();
        Note(watch, name, now);
        auto found = watch.Files.find(name);
        if (found == watch.Files.end() || found->second.Handled)
            continue;
        TSettling& file = found->second;
        const std::int64_t due = file.Since + watch.Plan.SettleMs;
        if (due <= now && FileStillOpen(watch.Changes, Join(watch.Plan.In, name)))
            // Its writer pauses: it settles again once closed, and even without
            // a settle time it is looked at again only after StillOpenLookMs.
            file.Since = now + std::max(0, StillOpenLookMs - watch.Plan.SettleMs);
        else if (due <= now) {
            const bool placed = Take(watch, name);
            file.Handled = !placed;
            if (placed)
                watch.Files.erase(name);
            continue;
        }
        wait = int(std::min<std::int64_t>(wait, file.Since + watch.Plan.SettleMs - now));
    }
    return std::max(wait, 0);
}
} // namespace

bool WatchTakesName(const std::string& name)
{
    if (name.empty() || name[0] == '.' || name[0] == '~' || name == WatchLogName)
        return false;
    for (const char* end : {".tmp", ".part", ".partial", ".crdownload"})
        if (EndsWith(name, end))
            return false;
    return true;
}

TWatch* BeginWatch(const TWatchPlan& plan, std::string& refusal)
{
    std::string holder;
    const std::intptr_t lock = TakeWatchLock(plan.In, holder);
    if (lock == 0) {
        refusal = ErrorTexts[3] + "/Watch=" + plan.In + ReasonSeparator + FormatText(LoadText(TextAlreadyWatched), {holder});
        return nullptr;
    }
    TWatch* watch = new TWatch();
    watch->Plan = plan;
    watch->Lock = lock;
    watch->Changes = StartFolderWatch(plan.In, plan.Owner);
    if (watch->Changes == NoFolderWatch) {
        refusal = ErrorTexts[3] + "/Watch=" + plan.In;
        ReleaseWatchLock(lock);
        delete watch;
        return nullptr;
    }
    RemoveLeftovers(plan.Out);
    MakeFolder(Join(plan.In, "done"));
    MakeFolder(Join(plan.In, "failed"));
    WriteLine(*watch, FormatText(LoadText(TextWatching), {plan.In, plan.Out}));
    if (plan.Counted != nullptr)
        plan.Counted(plan.Context, 0, 0);
    watch->NextRescan = MonotonicMs();
    return watch;
}

bool StepWatch(TWatch& watch, int waitMs, int& nextMs)
{
    std::int64_t now = MonotonicMs();
    if (now >= watch.NextRescan) {
        Rescan(watch, now);
        watch.NextRescan = now + WatchRescanMs;
    }
    nextMs = TakeReady(watch, int(watch.NextRescan - now));
    std::vector<std::string> changed;
    const TWatchWait event =
        Ending(watch) ? WatchStop : AwaitFolderChange(watch.Changes, std::min(nextMs, waitMs), changed);
    if (event == WatchStop)
        return false;
    if (event == WatchRescan)
        watch.NextRescan = MonotonicMs();
    now = MonotonicMs();
    for (const std::string& name : changed)
        Note(watch, name, now);
    nextMs = event == WatchTimeout ? std::max(nextMs - waitMs, 0) : 0;
    return true;
}

void EndWatch(TWatch* watch)
{
    WriteLine(*watch, FormatText(LoadText(TextStopped), {watch->Plan.In}));
    EndFolderWatch(watch->Changes);
    ReleaseWatchLock(watch->Lock);
    delete watch;
}

bool RunWatch(const TWatchPlan& plan)
{
    std::string refusal;
    TWatch* watch = BeginWatch(plan, refusal);
    if (watch == nullptr) {
        ShowMessageBox(NoWindow, refusal, ProgramTitle, BoxError);
        return false;
    }
    int next = 0;
    while (StepWatch(*watch, WatchRescanMs, next)) {
    }
    EndWatch(watch);
    return true;
}
