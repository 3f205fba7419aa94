// DirectWin32: the thin helpers over the operating system.
//
// One interface with two backends: DirectWin32Win.cpp makes the real Win32
// calls, DirectWin32Posix.cpp serves the native command-line build (boxes
// become lines on stdout/stderr; windows, progress and pump do nothing).
// DirectWin32.cpp holds the portable helpers built on top of them: path
// helpers, the chunk writers and the block copier.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef std::intptr_t TFile;   // an open file; 0 is none
typedef std::intptr_t TWindow; // a window; 0 is none

const TFile NoFile = 0;
const TWindow NoWindow = 0;

// Window message sent to the owner after each block that CopyFileBytes copies:
// wParam = bytes copied so far, lParam = percentage done.
const unsigned WM_CONVERTPROGRESS = 2049;

// Size of the copier's one block buffer when a window is told of the progress
// after each block, and when none is: 256 KiB still lies in the processor's
// cache when the frame walk reads its headers (a block of 1 MiB no longer
// does, and the wrap of a large file takes about a tenth longer).
const std::int32_t CopyBlockSize = 61440;
const std::int32_t LargeCopyBlockSize = 1 << 18;

// The directory separator of this platform's paths.
extern const char PathSeparator;
// True where the platform has windows, message boxes and a registry.
extern const bool PlatformIsWindows;

// ---- start-up and the program's own identity ----
void InitPlatform();                  // InitCommonControls on Win32
std::string GetProgramPath();         // full path of the running executable
std::vector<std::string> GetArguments(); // command-line arguments, program excluded
void SetNativeArguments(int argc, char** argv);
#ifdef _WIN32
// A DLL that lies beside the program, loaded from there alone (never from the
// search path); null when it is missing or cannot be loaded. It stays loaded.
void* LoadProgramLibrary(const std::string& name);
void* LibraryProcedure(void* library, const char* name);
#endif

// ---- files ----
TFile OpenForReading(const std::string& name);      // existing file, others may read
TFile CreateForWriting(const std::string& name);    // replaces, others may read
TFile CreateNewForWriting(const std::string& name); // fails when the name exists; may be read back
bool CloseFile(TFile file);
std::int32_t ReadBytes(TFile file, void* buffer, std::int32_t count);        // -1 on failure
std::int32_t WriteBytes(TFile file, const void* buffer, std::int32_t count); // -1 on failure
std::int64_t SeekFile(TFile file, std::int64_t position); // new position, -1 on failure
std::int64_t SeekFileEnd(TFile file);                     // new position, -1 on failure
std::int64_t GetFilePosition(TFile file);                 // -1 on failure
std::int64_t GetFileSize(TFile file);                     // -1 on failure
bool IsSameFile(TFile file, const std::string& name);     // name names the open file
// A moment in local time, as a Broadcast WAVE's dates and times give it.
struct TDateTime {
    int Year, Month, Day, Hour, Minute, Second;
};
// When the open file was last written, in local time; false when unknown.
bool GetFileWriteTime(TFile file, TDateTime& local);
TDateTime GetLocalNow();
bool DeleteFileName(const std::string& name);
bool MoveFileOver(const std::string& from, const std::string& to); // replaces "to"
// What the last of the calls that open, create, read, write, close or move a
// file met: FileErrorNone when it worked (a read at the end of a file
// included), else the kind of failure a user can act on. FileErrorRead is a
// read that failed for any other reason.
enum TFileError {
    FileErrorNone,
    FileErrorDenied, // no right to it (or to its folder)
    FileErrorHeld,   // another program holds it
    FileErrorFull,   // the disk or the user's quota is full
    FileErrorRead,
    FileErrorOther,
};
TFileError LastFileError();

// ---- memory ----
// A block that starts on a page boundary (the copier's buffer: the system
// copies into and out of such a block at about twice the speed of one that
// starts a few bytes into a page, where the general allocator puts a large
// block); none when there is no memory for it.
void* AllocatePages(std::int32_t size);
void FreePages(void* block);

// ---- directory search ----
// The own name (no directory) of the first entry a search for Name finds;
// false when nothing is found. Wildcards are honoured.
bool FindFirstName(const std::string& name, std::string& found);
bool FileExists(const std::string& name);
// The own names of the files (not folders) in Pattern's folder that the
// pattern's last component matches (MatchesPattern), in name order; none when
// nothing matches or the folder cannot be read. On Windows letter case does
// not count and "*.*" takes every file; natively a leading dot is matched only
// by a dot, as the shell's own wildcards have it.
std::vector<std::string> ListMatchingFiles(const std::string& pattern);
// A file's full name in a form in which two spellings of one name are equal:
// on Windows its \\?\ form in upper case, natively with the folder resolved.
std::string FileNameKey(const std::string& name);
// Full path of a name relative to the current directory (or drive).
std::string GetFullName(const std::string& name);

// ---- texts ----
std::string FormatText(const std::string& templ, const std::vector<std::string>& args);
std::string LoadText(int id);

// ---- boxes, windows and messages ----
enum TBoxKind { BoxInformation, BoxError };
// A modal box with one OK button; false when it could not be shown.
bool ShowMessageBox(TWindow owner, const std::string& text, const std::string& caption,
                    TBoxKind kind);
// A modal window with a text of any length in a scrollable read-only field
// and OK (natively the text on stdout); false when it could not be shown.
bool ShowTextWindow(TWindow owner, const std::string& text);
void SendProgress(TWindow owner, std::int64_t copied, int percent);
// Handles every message pending for the window. False when the program is
// ending (the window has gone, or the quit message came and was put back for
// the message loop): the caller should stop its work.
bool PumpMessages(TWindow window);
bool TopWindowOfClassExists(const std::string& className);
void RunMessageLoop();

// ---- registry ----
typedef std::intptr_t TRegKey; // an open registry key or a root key; 0 is none
const TRegKey NoKey = 0;
const unsigned RegTypeString = 1; // REG_SZ
const unsigned RegTypeDword = 4;  // REG_DWORD, little-endian
extern const TRegKey ClassesRoot;  // HKEY_CLASSES_ROOT
extern const TRegKey CurrentUser;  // HKEY_CURRENT_USER
// An empty Name means a key's default (unnamed) value.
TRegKey OpenRegKey(TRegKey parent, const std::string& name, bool create);
bool CloseRegKey(TRegKey key);
int CountSubKeys(TRegKey key);
int CountValues(TRegKey key);
bool DeleteRegKey(TRegKey parent, const std::string& name);
bool WriteRegValue(TRegKey key, const std::string& name, unsigned type, const void* data,
                   std::uint32_t size);
bool ReadRegValue(TRegKey key, const std::string& name, unsigned& type, void* buffer,
                  std::uint32_t& size);
bool WriteRegString(TRegKey key, const std::string& name, const std::string& text);
std::string ReadRegString(TRegKey key, const std::string& name);
// Keys opened by OpenRegKey and not yet closed: every operation that opens
// keys closes them again, which the tests check with this count.
int OpenRegKeyCount();

#ifdef _WIN32
// ---- names on Windows ----
// Texts are UTF-8 inside the program; the Win32 calls take UTF-16. A lone
// surrogate, which Windows allows in names, travels as its own three-byte
// form, so that every name comes back as it was.
std::wstring WidenText(const std::string& text);
std::string NarrowText(const wchar_t* text, std::size_t length);
// A file name for the wide file calls: made full, then in its \\?\ form
// (\\?\UNC\ for a network path), which lifts the 260-character limit.
std::wstring WideFileName(const std::string& name);
#endif

// ---- portable helpers (DirectWin32.cpp) ----
std::string GetLowerExt(const std::string& name);
std::string GetPathDir(const std::string& path);
std::string ExpandFoundName(const std::string& name);
// Name's own name in Folder (an output folder); Name itself when Folder is empty.
std::string PlaceInFolder(const std::string& name, const std::string& folder);
// The name under which the conversion opens Found, an entry of the folder
// that Name (a name or a pattern) lies in.
std::string JoinFoundName(const std::string& name, const std::string& found);
// Whether the last component of Name holds a wildcard ('*' or '?').
bool HasWildcard(const std::string& name);
// Whether Name matches Pattern: '*' stands for any run of characters, '?' for
// one (a whole UTF-8 sequence), every other byte for itself.
bool MatchesPattern(const std::string& name, const std::string& pattern);
void FilterToBuffer(const std::string& text, char buffer[256]);
std::string ReplaceExtension(const std::string& name, const std::string& extension);
// The character that the UTF-8 sequence at Data (Size bytes at most) stands
// for, and the sequence's length; -1 and length 1 for a byte that starts no
// well-formed sequence. The three-byte forms of UTF-16 surrogates count as
// well-formed only when Surrogates is set: that is how a lone surrogate in a
// Windows name travels.
std::int32_t DecodeUtf8Char(const std::uint8_t* data, std::size_t size, bool surrogates,
                            std::size_t& length);

// The 32-bit little-endian value of four bytes, and four such bytes appended
// to a text of bytes.
std::uint32_t Little32(const std::uint8_t* bytes);
void AppendLong(std::string& bytes, std::uint32_t value);

bool WriteByteValue(TFile file, std::uint8_t value);
bool WriteLongValue(TFile file, std::uint32_t value);
bool WriteChunkHead(TFile file, std::uint32_t id, std::uint32_t size);
bool WriteBlock(TFile file, const void* buffer, std::int32_t count);
bool WriteTextBytes(TFile file, const std::string& text);
bool PadToEven(TFile file);

// Something that reads the copied bytes as they pass (the frame walk of a
// conversion): Context is its own record.
typedef void (*TBlockReader)(void* context, const std::uint8_t* data, std::int32_t count);
// Copies Count bytes from Source's position to Target's position (Count 0: the
// whole source from its start) and returns the number of bytes written. Each
// block written is also handed to Reader, when one is given.
std::int64_t CopyFileBytes(TWindow owner, TFile source, TFile target, std::int64_t count,
                           TBlockReader reader = nullptr, void* context = nullptr);

// A four-character chunk identifier as the 32-bit value whose little-endian
// bytes spell it.
constexpr std::uint32_t FourCC(const char (&id)[5])
{
    return std::uint32_t(std::uint8_t(id[0])) | std::uint32_t(std::uint8_t(id[1])) << 8 |
           std::uint32_t(std::uint8_t(id[2])) << 16 | std::uint32_t(std::uint8_t(id[3])) << 24;
}
