// The Win32 side of gathering: the lock, the publication of the gathering
// run's window with its key, the receiving window and its quiet wait.
#include "DirectWin32Gather.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <vector>

namespace {
// Marks the program's records among other WM_COPYDATA traffic.
const ULONG_PTR HandOverMark = 0x4B564831;
const wchar_t* const GatherClassName = L"TKORVANE_GATHER";
// How long a run waits for the lock and for the gathering run's answer. A
// gathering run that holds the lock only for moments and takes records even
// while it converts (its window is the conversions' owner, whose copier takes
// messages after each block) answers far sooner; one that hangs is left.
const DWORD LockWaitMs = 60000, AnswerWaitMs = 15000;

// What the publication holds: the receiving window (none once it has ended)
// and the key its records must carry.
struct TPublished {
    std::uint64_t Window;
    std::uint8_t Key[sizeof TGatherPoint::Key];
};

HANDLE H(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The SID of the user this program runs as, in its text form; empty when
// the system does not tell.
std::wstring UserSid()
{
    std::wstring sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size + sizeof(TOKEN_USER));
    wchar_t* text = nullptr;
    if (GetTokenInformation(token, TokenUser, user.data(), DWORD(user.size()), &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

// The lock or the publication of this user in this session's namespace (no
// "Global\" prefix), made or opened so that only this user may use it: a run
// of another user can neither read the key nor hold the lock. Existed tells
// whether it was there before.
HANDLE OpenOwnObject(bool publication, const std::string& group, bool* existed = nullptr)
{
    const std::wstring sid = UserSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sid.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                           (L"D:P(A;;GA;;;" + sid + L")").c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    const std::wstring name = L"Korvane.Gather." + sid + (group.empty() ? L"" : L"." + WidenText(group));
    HANDLE handle = publication ? CreateFileMappingW(INVALID_HANDLE_VALUE, &security, PAGE_READWRITE, 0,
                                                     sizeof(TPublished), (name + L".Window").c_str())
                                : CreateMutexW(&security, FALSE, name.c_str());
    if (existed)
        *existed = GetLastError() == ERROR_ALREADY_EXISTS;
    LocalFree(descriptor);
    return handle;
}

// Reads or writes the publication through a view that lives only for the call.
bool AccessPublished(HANDLE publication, TPublished& published, bool write)
{
    void* view = publication ? MapViewOfFile(publication, write ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0,
                                             sizeof published)
                             : nullptr;
    if (!view)
        return false;
    if (write)
        std::memcpy(view, &published, sizeof published);
    else
        std::memcpy(&published, view, sizeof published);
    return UnmapViewOfFile(view) != 0;
}

// The published window of a gathering run, when it is one.
HWND FindGatherer(TPublished& published, const std::string& group)
{
    bool existed = false;
    HANDLE publication = OpenOwnObject(true, group, &existed);
    const bool read = publication && existed && AccessPublished(publication, published, false);
    if (publication)
        CloseHandle(publication);
    HWND window = read ? reinterpret_cast<HWND>(std::uintptr_t(published.Window)) : nullptr;
    wchar_t className[32] = {};
    if (!window || !GetClassNameW(window, className, 32) || std::wcscmp(className, GatherClassName) != 0)
        return nullptr;
    return window;
}

// The records arrive as WM_COPYDATA; each is copied out while the message is
// handled (the system frees it afterwards). One without the mark, too short
// or too long, or without this run's key is refused unread.
LRESULT CALLBACK GatherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    auto* point = reinterpret_cast<TGatherPoint*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const std::size_t keySize = sizeof point->Key;
    if (!point || !data || data->dwData != HandOverMark || data->cbData < keySize ||
        data->cbData - keySize > MaxHandOverRecord || std::memcmp(data->lpData, point->Key, keySize) != 0)
        return FALSE;
    const char* record = static_cast<const char*>(data->lpData) + keySize;
    if (!point->Taker(point->Context, std::string(record, data->cbData - keySize)))
        return FALSE;
    ++point->Taken;
    return TRUE;
}

// Handles what has come for this thread: the records sent meanwhile.
void TakeMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

bool BeginGathering(TGatherPoint& point)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = GatherWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = GatherClassName;
    RegisterClassW(&windowClass); // a failure shows as the window's
    HWND window = CreateWindowExW(0, GatherClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    HANDLE publication = OpenOwnObject(true, point.Group);
    TPublished published = {std::uint64_t(reinterpret_cast<std::uintptr_t>(window)), {}};
    if (window && publication && RtlGenRandom(point.Key, sizeof point.Key)) {
        std::memcpy(published.Key, point.Key, sizeof point.Key);
        if (AccessPublished(publication, published, true)) {
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&point));
            point.Window = reinterpret_cast<TWindow>(window);
            point.Published = reinterpret_cast<std::intptr_t>(publication);
            return true;
        }
    }
    if (window)
        DestroyWindow(window);
    if (publication)
        CloseHandle(publication);
    return false;
}
} // namespace

std::intptr_t TakeGatherLock(const std::string& group)
{
    HANDLE lock = OpenOwnObject(false, group);
    if (!lock)
        return 0;
    // A lock whose holder died is abandoned: it comes to this run as its own.
    const DWORD waited = WaitForSingleObject(lock, LockWaitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return reinterpret_cast<std::intptr_t>(lock);
    CloseHandle(lock);
    return 0;
}

void ReleaseGatherLock(std::intptr_t lock)
{
    ReleaseMutex(H(lock));
    CloseHandle(H(lock));
}

THandOver JoinGathering(const std::string& record, TGatherPoint& point)
{
    const std::intptr_t lock = TakeGatherLock(point.Group);
    if (!lock)
        return HandOverNone;
    TPublished published = {};
    if (HWND gatherer = FindGatherer(published, point.Group)) {
        std::string sent(reinterpret_cast<const char*>(published.Key), sizeof published.Key);
        sent += record;
        COPYDATASTRUCT data = {HandOverMark, DWORD(sent.size()), &sent[0]};
        DWORD_PTR answer = 0;
        const bool answered = SendMessageTimeoutW(gatherer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                                  SMTO_ABORTIFHUNG, AnswerWaitMs, &answer) != 0;
        // A gathering run that has died meanwhile leaves no window: this run
        // takes its place. One that lives and does not answer is left alone.
        if (answered || IsWindow(gatherer)) {
            ReleaseGatherLock(lock);
            return !answered ? HandOverNone : answer == TRUE ? HandOverTaken : HandOverRefused;
        }
    }
    if (!BeginGathering(point)) {
        ReleaseGatherLock(lock);
        return HandOverNone;
    }
    // The lock stays open for the end of the gathering, but free meanwhile.
    ReleaseMutex(H(lock));
    point.Lock = lock;
    return HandOverNone;
}

void AwaitQuiet(TGatherPoint& point, int quietMs)
{
    DWORD since = GetTickCount();
    for (int seen = point.Taken;;) {
        TakeMessages();
        if (point.Taken != seen) {
            seen = point.Taken;
            since = GetTickCount();
        }
        const DWORD waited = GetTickCount() - since;
        if (waited >= DWORD(quietMs))
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(quietMs) - waited, QS_ALLINPUT);
    }
}

bool EndGathering(TGatherPoint& point, int handled)
{
    // The runs that hold the lock wait for this window's answer: their
    // records are taken while this run waits for the lock in turn.
    HANDLE lock = H(point.Lock);
    const DWORD begun = GetTickCount();
    bool held = false;
    for (DWORD waited = 0; !held && waited < LockWaitMs; waited = GetTickCount() - begun) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &lock, FALSE, LockWaitMs - waited, QS_ALLINPUT);
        held = woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0;
        TakeMessages();
        if (woke == WAIT_FAILED)
            break;
    }
    if (point.Taken > handled) {
        if (held)
            ReleaseMutex(lock);
        return false;
    }
    // No record can come now: the window is withdrawn before the lock is
    // free, so the next run finds nothing and gathers itself.
    TPublished none = {};
    AccessPublished(H(point.Published), none, true);
    DestroyWindow(reinterpret_cast<HWND>(point.Window));
    CloseHandle(H(point.Published));
    if (held)
        ReleaseMutex(lock);
    CloseHandle(lock);
    point.Window = NoWindow;
    point.Lock = point.Published = 0;
    return true;
}
