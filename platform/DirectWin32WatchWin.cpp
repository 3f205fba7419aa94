// The Windows side of the watch folder: ReadDirectoryChangesW, overlapped,
// waited for together with the thread's messages; a file is still open while
// it cannot be opened without sharing; the lock is a file held open without
// write sharing.
#include "DirectWin32Watch.h"

#include <windows.h>

namespace {
bool stopAsked = false;

std::int64_t FileTimeValue(const FILETIME& time)
{
    return std::int64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

TFolderEntry EntryOf(const std::string& name, DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written)
{
    TFolderEntry entry;
    entry.Name = name;
    entry.Folder = (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
    entry.Size = std::int64_t(sizeHigh) << 32 | sizeLow;
    entry.WriteTime = FileTimeValue(written);
    return entry;
}

// A watch: the folder opened for ReadDirectoryChangesW, the event of its one
// read in flight, and the buffer the changes arrive in.
struct TWatchRecord {
    HANDLE Folder;
    HANDLE Event;
    OVERLAPPED Overlapped;
    TWindow Window;
    DWORD Buffer[16384];
};

TWatchRecord* Record(TFolderWatch watch)
{
    return reinterpret_cast<TWatchRecord*>(watch);
}

bool ReadChanges(TWatchRecord& record)
{
    ZeroMemory(&record.Overlapped, sizeof record.Overlapped);
    record.Overlapped.hEvent = record.Event;
    return ReadDirectoryChangesW(record.Folder, record.Buffer, sizeof record.Buffer, FALSE,
                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                     FILE_NOTIFY_CHANGE_LAST_WRITE,
                                 nullptr, &record.Overlapped, nullptr) != FALSE;
}

// Handles the thread's messages; false when the program is to end.
bool Pump(TWindow window)
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return window == NoWindow || IsWindow(reinterpret_cast<HWND>(window)) != FALSE;
}
} // namespace

bool ListFolder(const std::string& folder, std::vector<TFolderEntry>& entries)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(WideFileName(PlaceInFolder("*", folder)).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::string name = NarrowText(found.cFileName, wcslen(found.cFileName));
        if (name != "." && name != "..")
            entries.push_back(
                EntryOf(name, found.dwFileAttributes, found.nFileSizeHigh, found.nFileSizeLow, found.ftLastWriteTime));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool ReadEntry(const std::string& name, TFolderEntry& entry)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WideFileName(name).c_str(), GetFileExInfoStandard, &data))
        return false;
    entry = EntryOf(name.substr(name.find_last_of("\\/") + 1), data.dwFileAttributes, data.nFileSizeHigh,
                    data.nFileSizeLow, data.ftLastWriteTime);
    return true;
}

bool MakeFolder(const std::string& name)
{
    const std::wstring wide = WideFileName(name);
    if (CreateDirectoryW(wide.c_str(), nullptr))
        return true;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

TFile OpenForAppending(const std::string& name)
{
    HANDLE file = CreateFileW(WideFileName(name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? NoFile : reinterpret_cast<TFile>(file);
}

std::int64_t MonotonicMs()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return count.QuadPart / (frequency.QuadPart / 1000 > 0 ? frequency.QuadPart / 1000 : 1);
}

TFolderWatch StartFolderWatch(const std::string& folder, TWindow window)
{
    TWatchRecord* record = new TWatchRecord();
    record->Window = window;
    record->Folder = CreateFileW(WideFileName(folder).c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    record->Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (record->Folder != INVALID_HANDLE_VALUE && record->Event != nullptr && ReadChanges(*record))
        return TFolderWatch(record);
    if (record->Folder != INVALID_HANDLE_VALUE)
        CloseHandle(record->Folder);
    if (record->Event != nullptr)
        CloseHandle(record->Event);
    delete record;
    return NoFolderWatch;
}

TWatchWait AwaitFolderChange(TFolderWatch watch, int timeoutMs, std::vector<std::string>& changed)
{
    TWatchRecord& record = *Record(watch);
    const DWORD until = GetTickCount() + DWORD(timeoutMs < 0 ? 0 : timeoutMs);
    // A look without waiting leaves the messages to the caller's own loop
    // (the drop target looks on a timer).
    const bool look = timeoutMs <= 0;
    for (;;) {
        if (!look && !Pump(record.Window))
            stopAsked = true;
        if (stopAsked)
            return WatchStop;
        const DWORD now = GetTickCount();
        const DWORD left = LONG(until - now) > 0 ? until - now : 0;
        const DWORD woke = look ? WaitForSingleObject(record.Event, 0)
                                : MsgWaitForMultipleObjects(1, &record.Event, FALSE, left, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 + 1)
            continue; // messages: handled at the top
        if (woke != WAIT_OBJECT_0)
            return WatchTimeout;
        DWORD bytes = 0;
        const bool read = GetOverlappedResult(record.Folder, &record.Overlapped, &bytes, FALSE) != FALSE;
        const std::size_t before = changed.size();
        for (const char* at = reinterpret_cast<const char*>(record.Buffer); read && bytes > 0;) {
            const FILE_NOTIFY_INFORMATION* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
            changed.push_back(NarrowText(info->FileName, info->FileNameLength / sizeof(wchar_t)));
            if (info->NextEntryOffset == 0)
                break;
            at += info->NextEntryOffset;
        }
        ResetEvent(record.Event);
        // No bytes: more changed than the buffer holds, and they were lost.
        const bool lost = !read || bytes == 0;
        if (!ReadChanges(record) || lost)
            return WatchRescan;
        return changed.size() > before ? WatchChanged : WatchTimeout;
    }
}

bool FileStillOpen(TFolderWatch, const std::string& name)
{
    HANDLE file = CreateFileW(WideFileName(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return false;
}

void EndFolderWatch(TFolderWatch watch)
{
    if (watch == NoFolderWatch)
        return;
    TWatchRecord* record = Record(watch);
    CancelIo(record->Folder);
    DWORD bytes = 0;
    GetOverlappedResult(record->Folder, &record->Overlapped, &bytes, TRUE);
    CloseHandle(record->Folder);
    CloseHandle(record->Event);
    delete record;
}

bool StopRequested()
{
    return stopAsked;
}

std::intptr_t TakeWatchLock(const std::string& folder, std::string& holder)
{
    const std::wstring name = WideFileName(PlaceInFolder(".korvane-watch.lock", folder));
    HANDLE lock = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (lock == INVALID_HANDLE_VALUE) {
        HANDLE other = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        char text[32] = {};
        DWORD got = 0;
        if (other != INVALID_HANDLE_VALUE) {
            ReadFile(other, text, sizeof text - 1, &got, nullptr);
            CloseHandle(other);
        }
        holder = got > 0 ? text : "?";
        return 0;
    }
    const std::string pid = std::to_string(GetCurrentProcessId());
    DWORD written = 0;
    SetEndOfFile(lock);
    WriteFile(lock, pid.data(), DWORD(pid.size()), &written, nullptr);
    return reinterpret_cast<std::intptr_t>(lock);
}

void ReleaseWatchLock(std::intptr_t lock)
{
    if (lock != 0)
        CloseHandle(reinterpret_cast<HANDLE>(lock));
}
