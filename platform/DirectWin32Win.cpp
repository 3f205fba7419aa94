// The Win32 backend of DirectWin32: the real kernel32, user32 and comctl32
// calls. File handles are HANDLE values; INVALID_HANDLE_VALUE becomes 0.
#include "DirectWin32.h"

#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>

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

TFileError lastFileError = FileErrorNone;

// Remembers how a file call ended: Ok, or failed with GetLastError's code.
bool Remember(bool ok, bool reading = false)
{
    const DWORD e = ok ? ERROR_SUCCESS : GetLastError();
    lastFileError = ok ? FileErrorNone
                    : e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT ? FileErrorDenied
                    : e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION ? FileErrorHeld
                    : e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL ? FileErrorFull
                    : reading ? FileErrorRead : FileErrorOther;
    return ok;
}

TFile CreateWithDisposition(const std::string& name, DWORD access, DWORD disposition)
{
    HANDLE file = CreateFileW(WideFileName(name).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    Remember(file != INVALID_HANDLE_VALUE);
    return FromHandle(file);
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

std::wstring WidenText(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const std::int32_t decoded = DecodeUtf8Char(bytes + i, text.size() - i, true, length);
        const std::uint32_t code = decoded < 0 ? 0xFFFD : std::uint32_t(decoded);
        if (code >= 0x10000) {
            out += wchar_t(0xD800 + ((code - 0x10000) >> 10));
            out += wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += wchar_t(code);
        }
    }
    return out;
}

std::string NarrowText(const wchar_t* text, std::size_t length)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t code = std::uint16_t(text[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (std::uint16_t(text[++i]) - 0xDC00);
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | code >> 18);
            out += char(0x80 | (code >> 12 & 0x3F));
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    return out;
}

namespace {
// The full form of a wide name; the name itself when it has none.
std::wstring FullWideName(const std::wstring& name)
{
    DWORD need = name.empty() ? 0 : GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (need == 0)
        return name;
    std::wstring full(need, L'\0');
    DWORD n = GetFullPathNameW(name.c_str(), need, &full[0], nullptr);
    if (n == 0 || n >= need)
        return name;
    full.resize(n);
    return full;
}
} // namespace

std::wstring WideFileName(const std::string& name)
{
    std::wstring wide = WidenText(name);
    if (wide.compare(0, 4, L"\\\\?\\") == 0 || wide.compare(0, 4, L"\\\\.\\") == 0)
        return wide;
    std::wstring full = FullWideName(wide);
    if (full.compare(0, 4, L"\\\\.\\") == 0) // a device ("nul", or c:\a\con.mp3) stays a device
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    return full;
}

void InitPlatform()
{
    InitCommonControls();
}

std::string GetProgramPath()
{
    // The path may be longer than MAX_PATH: the buffer grows until it fits.
    for (DWORD size = MAX_PATH + 1; size <= 65536; size *= 2) {
        std::wstring buffer(size, L'\0');
        DWORD n = GetModuleFileNameW(nullptr, &buffer[0], size);
        if (n == 0)
            return std::string();
        if (n < size)
            return NarrowText(buffer.data(), n);
    }
    return std::string();
}

void* LoadProgramLibrary(const std::string& name)
{
    const std::string program = GetProgramPath();
    const std::size_t slash = program.find_last_of('\\');
    if (slash == std::string::npos)
        return nullptr;
    // The full name, and the DLL's own dependencies searched from its folder.
    return LoadLibraryExW(WideFileName(program.substr(0, slash + 1) + name).c_str(), nullptr,
                          LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* LibraryProcedure(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void SetNativeArguments(int, char**)
{
}

std::vector<std::string> GetArguments()
{
    // Blanks separate arguments; double quotes group an argument and are removed.
    // The wide command line holds every name as it was given.
    std::vector<std::string> args;
    const wchar_t* p = GetCommandLineW();
    bool first = true;
    while (*p) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        if (!*p)
            break;
        std::wstring arg;
        bool quoted = false;
        while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
            if (*p == L'"')
                quoted = !quoted;
            else
                arg += *p;
            ++p;
        }
        if (!first)
            args.push_back(NarrowText(arg.data(), arg.size()));
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
    return CreateWithDisposition(name, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
}

bool CloseFile(TFile file)
{
    return file != NoFile && Remember(CloseHandle(H(file)));
}

std::int32_t ReadBytes(TFile file, void* buffer, std::int32_t count)
{
    DWORD done = 0;
    if (file == NoFile || count < 0 || !Remember(ReadFile(H(file), buffer, DWORD(count), &done, nullptr), true))
        return -1;
    return std::int32_t(done);
}

std::int32_t WriteBytes(TFile file, const void* buffer, std::int32_t count)
{
    // A write that takes only part of the bytes (Wine's, when the disk fills)
    // goes on with the rest, so that the failure that follows says why.
    std::int32_t total = 0;
    for (DWORD done = 1; file != NoFile && total < count && done > 0; total += std::int32_t(done))
        if (!Remember(WriteFile(H(file), static_cast<const char*>(buffer) + total, DWORD(count - total), &done,
                                nullptr)))
            return total > 0 ? total : -1;
    return file == NoFile || count < 0 ? -1 : total;
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
    HANDLE other = CreateFileW(WideFileName(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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

namespace {
TDateTime FromSystemTime(const SYSTEMTIME& t)
{
    return TDateTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}
} // namespace

bool GetFileWriteTime(TFile file, TDateTime& local)
{
    FILETIME written, localWritten;
    SYSTEMTIME t;
    if (!GetFileTime(H(file), nullptr, nullptr, &written) ||
        !FileTimeToLocalFileTime(&written, &localWritten) || !FileTimeToSystemTime(&localWritten, &t))
        return false;
    local = FromSystemTime(t);
    return true;
}

TDateTime GetLocalNow()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    return FromSystemTime(t);
}

void* AllocatePages(std::int32_t size)
{
    return size > 0 ? VirtualAlloc(nullptr, SIZE_T(size), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
}

void FreePages(void* block)
{
    if (block)
        VirtualFree(block, 0, MEM_RELEASE);
}

bool DeleteFileName(const std::string& name)
{
    return DeleteFileW(WideFileName(name).c_str()) != 0;
}

bool MoveFileOver(const std::string& from, const std::string& to)
{
    return Remember(MoveFileExW(WideFileName(from).c_str(), WideFileName(to).c_str(),
                                MOVEFILE_REPLACE_EXISTING) != 0);
}

TFileError LastFileError()
{
    return lastFileError;
}

bool FindFirstName(const std::string& name, std::string& found)
{
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(WideFileName(name).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    data.cFileName[MAX_PATH - 1] = L'\0';
    found = NarrowText(data.cFileName, std::wcslen(data.cFileName));
    FindClose(search);
    return true;
}

bool FileExists(const std::string& name)
{
    std::string found;
    return FindFirstName(name, found);
}

namespace {
std::wstring UpperCase(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(&text[0], DWORD(text.size()));
    return text;
}
} // namespace

std::vector<std::string> ListMatchingFiles(const std::string& pattern)
{
    // The directory search also matches the short 8.3 names, so that "*.mp3"
    // finds "song.mp3x" (SONG~1.MP3): only the long names count here.
    const std::wstring wide = WideFileName(pattern);
    const std::wstring mask = UpperCase(wide.substr(wide.find_last_of(L'\\') + 1));
    const std::string narrowMask = NarrowText(mask.data(), mask.size());
    // Sorted as the names compare regardless of case, then as they are stored.
    std::vector<std::pair<std::wstring, std::string>> files;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(wide.c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            data.cFileName[MAX_PATH - 1] = L'\0';
            const std::wstring upper = UpperCase(data.cFileName);
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (mask == L"*.*" || MatchesPattern(NarrowText(upper.data(), upper.size()), narrowMask)))
                files.emplace_back(upper, NarrowText(data.cFileName, std::wcslen(data.cFileName)));
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> names;
    for (const auto& file : files)
        names.push_back(file.second);
    return names;
}

std::string FileNameKey(const std::string& name)
{
    const std::wstring key = UpperCase(WideFileName(name));
    return NarrowText(key.data(), key.size());
}

std::string GetFullName(const std::string& name)
{
    std::wstring wide = WidenText(name), full = FullWideName(wide);
    return full == wide ? name : NarrowText(full.data(), full.size());
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
    return MessageBoxW(window, WidenText(text).c_str(), WidenText(caption).c_str(), type) != 0;
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
const TRegKey CurrentUser = reinterpret_cast<TRegKey>(HKEY_CURRENT_USER);

TRegKey OpenRegKey(TRegKey parent, const std::string& name, bool create)
{
    if (parent == NoKey)
        return NoKey;
    HKEY key = nullptr;
    const std::wstring wide = WidenText(name);
    LONG status = create ? RegCreateKeyExW(K(parent), wide.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr)
                         : RegOpenKeyExW(K(parent), wide.c_str(), 0, KEY_ALL_ACCESS, &key);
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
    return RegDeleteKeyW(K(parent), WidenText(name).c_str()) == ERROR_SUCCESS;
}

// String values are stored in their wide form, so that a program path
// outside the code page is written as it is; other types byte for byte.
bool WriteRegValue(TRegKey key, const std::string& name, unsigned type, const void* data,
                   std::uint32_t size)
{
    if (key == NoKey)
        return false;
    const std::wstring wideName = WidenText(name);
    if (type != REG_SZ)
        return RegSetValueExW(K(key), wideName.c_str(), 0, type, static_cast<const BYTE*>(data),
                              size) == ERROR_SUCCESS;
    const char* text = static_cast<const char*>(data);
    std::size_t length = 0;
    while (length < size && text[length] != '\0')
        ++length;
    const std::wstring wide = WidenText(std::string(text, length));
    return RegSetValueExW(K(key), wideName.c_str(), 0, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                          DWORD((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool ReadRegValue(TRegKey key, const std::string& name, unsigned& type, void* buffer,
                  std::uint32_t& size)
{
    if (key == NoKey)
        return false;
    const std::wstring wideName = WidenText(name);
    DWORD valueType = type, valueSize = 0;
    if (RegQueryValueExW(K(key), wideName.c_str(), nullptr, &valueType, nullptr, &valueSize) !=
        ERROR_SUCCESS)
        return false;
    std::vector<BYTE> value(valueSize + sizeof(wchar_t), 0);
    if (RegQueryValueExW(K(key), wideName.c_str(), nullptr, &valueType, value.data(), &valueSize) !=
        ERROR_SUCCESS)
        return false;
    std::string bytes(reinterpret_cast<const char*>(value.data()), valueSize);
    if (valueType == REG_SZ || valueType == REG_EXPAND_SZ) {
        const wchar_t* wide = reinterpret_cast<const wchar_t*>(value.data());
        bytes = NarrowText(wide, std::wcslen(wide)) + '\0';
    }
    if (bytes.size() > size)
        return false; // as the system says ERROR_MORE_DATA
    std::memcpy(buffer, bytes.data(), bytes.size());
    size = std::uint32_t(bytes.size());
    type = valueType;
    return true;
}
