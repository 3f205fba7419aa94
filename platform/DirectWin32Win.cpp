// The Win32 backend of DirectWin32: the real kernel32, user32 and comctl32
// calls. File handles are HANDLE values; INVALID_HANDLE_VALUE becomes 0.
#include "DirectWin32.h"

#include <windows.h>
#include <commctrl.h>
#include <cstdarg>
#include <cstring>

const char PathSeparator = '\\';
const bool PlatformIsWindows = true;

namespace {
int openKeys = 0;

HKEY K(TRegKey key)
{
    return reinterpret_cast<HKEY>(key);
}

HANDLE H(TFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

TFile FromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? NoFile : reinterpret_cast<TFile>(handle);
}

TFile CreateWithDisposition(const std::string& name, DWORD access, DWORD disposition)
{
    return FromHandle(CreateFileA(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::int64_t Seek(TFile file, std::int64_t distance, DWORD method)
{
    LARGE_INTEGER move, result;
    move.QuadPart = distance;
    if (file == NoFile || !SetFilePointerEx(H(file), move, &result, method))
        return -1;
    return result.QuadPart;
}
} // namespace

void InitPlatform()
{
    InitCommonControls();
}

std::string GetProgramPath()
{
    char buffer[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n);
}

void SetNativeArguments(int, char**)
{
}

std::vector<std::string> GetArguments()
{
    // Blanks separate arguments; double quotes group an argument and are removed.
    std::vector<std::string> args;
    const char* p = GetCommandLineA();
    bool first = true;
    while (*p) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p)
            break;
        std::string arg;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"')
                quoted = !quoted;
            else
                arg += *p;
            ++p;
        }
        if (!first)
            args.push_back(arg);
        first = false;
    }
    return args;
}

TFile OpenForReading(const std::string& name)
{
    return CreateWithDisposition(name, GENERIC_READ, OPEN_EXISTING);
}

TFile CreateForWriting(const std::string& name)
{
    return CreateWithDisposition(name, GENERIC_WRITE, CREATE_ALWAYS);
}

TFile CreateNewForWriting(const std::string& name)
{
    return CreateWithDisposition(name, GENERIC_WRITE, CREATE_NEW);
}

bool CloseFile(TFile file)
{
    return file != NoFile && CloseHandle(H(file));
}

std::int32_t ReadBytes(TFile file, void* buffer, std::int32_t count)
{
    DWORD done = 0;
    if (file == NoFile || count < 0 || !ReadFile(H(file), buffer, DWORD(count), &done, nullptr))
        return -1;
    return std::int32_t(done);
}

std::int32_t WriteBytes(TFile file, const void* buffer, std::int32_t count)
{
    DWORD done = 0;
    if (file == NoFile || count < 0 || !WriteFile(H(file), buffer, DWORD(count), &done, nullptr))
        return -1;
    return std::int32_t(done);
}

std::int64_t SeekFile(TFile file, std::int64_t position)
{
    return position < 0 ? -1 : Seek(file, position, FILE_BEGIN);
}

std::int64_t SeekFileEnd(TFile file)
{
    return Seek(file, 0, FILE_END);
}

std::int64_t GetFilePosition(TFile file)
{
    return Seek(file, 0, FILE_CURRENT);
}

std::int64_t GetFileSize(TFile file)
{
    LARGE_INTEGER size;
    if (file == NoFile || !GetFileSizeEx(H(file), &size))
        return -1;
    return size.QuadPart;
}

bool IsSameFile(TFile file, const std::string& name)
{
    HANDLE other = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    bool same = file != NoFile && GetFileInformationByHandle(H(file), &a) &&
                GetFileInformationByHandle(other, &b) &&
                a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

bool DeleteFileName(const std::string& name)
{
    return DeleteFileA(name.c_str()) != 0;
}

bool MoveFileOver(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FindFirstName(const std::string& name, std::string& found)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(name.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    data.cFileName[MAX_PATH - 1] = '\0';
    found = data.cFileName;
    FindClose(search);
    return true;
}

bool FileExists(const std::string& name)
{
    std::string found;
    return FindFirstName(name, found);
}

std::string GetFullName(const std::string& name)
{
    char buffer[1024];
    DWORD n = GetFullPathNameA(name.c_str(), sizeof buffer, buffer, nullptr);
    if (n == 0 || n >= sizeof buffer)
        return name;
    return std::string(buffer, n);
}

std::string FormatText(const std::string& templ, const std::vector<std::string>& args)
{
    char buffer[1024];
    std::memset(buffer, 0, sizeof buffer);
    std::vector<const char*> list;
    for (const std::string& arg : args)
        list.push_back(arg.c_str());
    list.push_back(nullptr);
    // wvsprintfA takes its arguments as a va_list, which on Windows is a
    // plain pointer to the argument slots: an array of text pointers.
    int n = wvsprintfA(buffer, templ.c_str(), reinterpret_cast<va_list>(list.data()));
    if (n < 1)
        return std::string();
    buffer[sizeof buffer - 1] = '\0';
    return std::string(buffer);
}

std::string LoadText(int id)
{
    char buffer[1024];
    int n = LoadStringA(GetModuleHandleA(nullptr), UINT(id), buffer, sizeof buffer);
    if (n < 1)
        return std::string();
    return std::string(buffer, std::strlen(buffer));
}

bool ShowMessageBox(TWindow owner, const std::string& text, const std::string& caption,
                    TBoxKind kind)
{
    // A box for a window that has gone is not shown: nobody waits for it.
    HWND window = reinterpret_cast<HWND>(owner);
    if (window && !IsWindow(window))
        return false;
    UINT type = MB_OK | (kind == BoxError ? MB_ICONERROR : MB_ICONINFORMATION);
    return MessageBoxA(window, text.c_str(), caption.c_str(), type) != 0;
}

void SendProgress(TWindow owner, std::int64_t copied, int percent)
{
    SendMessageA(reinterpret_cast<HWND>(owner), WM_CONVERTPROGRESS, WPARAM(copied), LPARAM(percent));
}

bool PumpMessages(TWindow window)
{
    HWND hwnd = reinterpret_cast<HWND>(window);
    MSG msg;
    while (PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Put it back: the message loop must still see it and end.
            PostQuitMessage(int(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return IsWindow(hwnd) != FALSE;
}

bool TopWindowOfClassExists(const std::string& className)
{
    return FindWindowA(className.c_str(), nullptr) != nullptr;
}

void RunMessageLoop()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

const TRegKey ClassesRoot = reinterpret_cast<TRegKey>(HKEY_CLASSES_ROOT);

TRegKey OpenRegKey(TRegKey parent, const std::string& name, bool create)
{
    if (parent == NoKey)
        return NoKey;
    HKEY key = nullptr;
    LONG status = create ? RegCreateKeyExA(K(parent), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr)
                         : RegOpenKeyExA(K(parent), name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS)
        return NoKey;
    ++openKeys;
    return reinterpret_cast<TRegKey>(key);
}

bool CloseRegKey(TRegKey key)
{
    if (key == NoKey || RegCloseKey(K(key)) != ERROR_SUCCESS)
        return false;
    --openKeys;
    return true;
}

int OpenRegKeyCount()
{
    return openKeys;
}

int CountSubKeys(TRegKey key)
{
    DWORD count = 0;
    if (key == NoKey || RegQueryInfoKeyA(K(key), nullptr, nullptr, nullptr, &count, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr) != ERROR_SUCCESS)
        return 0;
    return int(count);
}

int CountValues(TRegKey key)
{
    DWORD count = 0;
    if (key == NoKey || RegQueryInfoKeyA(K(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, &count, nullptr, nullptr, nullptr,
                                         nullptr) != ERROR_SUCCESS)
        return 0;
    return int(count);
}

bool DeleteRegKey(TRegKey parent, const std::string& name)
{
    return RegDeleteKeyA(K(parent), name.c_str()) == ERROR_SUCCESS;
}

bool WriteRegValue(TRegKey key, const std::string& name, unsigned type, const void* data,
                   std::uint32_t size)
{
    return key != NoKey &&
           RegSetValueExA(K(key), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) ==
               ERROR_SUCCESS;
}

bool ReadRegValue(TRegKey key, const std::string& name, unsigned& type, void* buffer,
                  std::uint32_t& size)
{
    DWORD valueType = type, valueSize = size;
    if (key == NoKey || RegQueryValueExA(K(key), name.c_str(), nullptr, &valueType,
                                         static_cast<BYTE*>(buffer), &valueSize) != ERROR_SUCCESS)
        return false;
    size = valueSize;
    type = valueType;
    return true;
}
