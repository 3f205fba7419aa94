// Portable helpers of DirectWin32: path and name helpers, the chunk writers
// and the block copier. They reach the operating system only through the
// backend functions declared in DirectWin32.h.
#include "DirectWin32.h"

#include <cstring>
#include <memory>

std::string GetLowerExt(const std::string& name)
{
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

std::string GetPathDir(const std::string& path)
{
    std::string::size_type sep = path.rfind(PathSeparator);
    if (sep == std::string::npos)
        return path;
    return path.substr(0, sep);
}

std::string PlaceInFolder(const std::string& name, const std::string& folder)
{
    if (folder.empty())
        return name;
    const std::string::size_type cut = name.find_last_of(PlatformIsWindows ? "\\/:" : "/");
    const bool ends = folder.back() == PathSeparator || (PlatformIsWindows && folder.back() == '/');
    return folder + (ends ? "" : std::string(1, PathSeparator)) +
           (cut == std::string::npos ? name : name.substr(cut + 1));
}

std::string ExpandFoundName(const std::string& name)
{
    std::string found;
    if (!FindFirstName(name, found))
        return std::string();
    return JoinFoundName(name, found);
}

std::string JoinFoundName(const std::string& name, const std::string& found)
{
    // The folder is everything before the last separator; on Windows a
    // forward slash after the last backslash ("C:\Music\sub/song.mp3") also
    // separates, or the found name would be joined to the wrong folder.
    if (name.find(PathSeparator) != std::string::npos)
        return name.substr(0, name.find_last_of(PlatformIsWindows ? "\\/" : "/")) + PathSeparator + found;
    // A bare name, a drive-relative name ("C:song.mp3") or one written with
    // forward slashes: keep what leads up to the name itself and let the
    // platform make it a full path, so that the conversion can open it.
    const char* leads = PlatformIsWindows ? "/:" : "/";
    std::string::size_type cut = name.find_last_of(leads);
    std::string prefix = cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
    return GetFullName(prefix + found);
}

bool HasWildcard(const std::string& name)
{
    std::string::size_type cut = name.find_last_of(PlatformIsWindows ? "\\/:" : "/");
    return name.find_first_of("*?", cut == std::string::npos ? 0 : cut + 1) != std::string::npos;
}

bool MatchesPattern(const std::string& name, const std::string& pattern)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    std::size_t n = 0, p = 0, length = 0;
    std::size_t starP = std::string::npos, starN = 0; // where the last '*' may take one more character
    while (n < name.size()) {
        DecodeUtf8Char(bytes + n, name.size() - n, true, length);
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || pattern.compare(p, length, name, n, length) == 0)) {
            p += pattern[p] == '?' ? 1 : length;
            n += length;
        } else if (starP != std::string::npos) {
            DecodeUtf8Char(bytes + starN, name.size() - starN, true, length);
            p = starP;
            n = starN += length;
        } else {
            return false;
        }
    }
    return pattern.find_first_not_of('*', p) == std::string::npos;
}

void FilterToBuffer(const std::string& text, char buffer[256])
{
    std::memset(buffer, 0, 256);
    for (std::string::size_type i = 0; i < text.size() && i < 254; ++i)
        buffer[i] = text[i] == '|' ? '\0' : text[i];
}

std::string ReplaceExtension(const std::string& name, const std::string& extension)
{
    // Only a dot in the last path component counts, so that the output stays
    // beside the input and "C:\a.b\song" becomes "C:\a.b\song.wav".
    std::string::size_type lastSep = name.find_last_of("\\/");
    std::string::size_type start = lastSep == std::string::npos ? 0 : lastSep + 1;
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || dot < start)
        return name + "." + extension;
    return name.substr(0, dot + 1) + extension;
}

std::int32_t DecodeUtf8Char(const std::uint8_t* data, std::size_t size, bool surrogates,
                            std::size_t& length)
{
    static const std::uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    const std::uint8_t lead = data[0];
    length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
             : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    std::uint32_t code = length > 1 ? lead & (0x7Fu >> length) : lead;
    for (std::size_t k = 1; k < length; ++k) {
        if (k >= size || (data[k] & 0xC0) != 0x80) {
            length = 0;
            break;
        }
        code = code << 6 | (data[k] & 0x3Fu);
    }
    if (length == 0 || code < least[length] || code > 0x10FFFF ||
        (!surrogates && code >= 0xD800 && code <= 0xDFFF)) {
        length = 1;
        return -1;
    }
    return std::int32_t(code);
}

std::uint32_t Little32(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

void AppendLong(std::string& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes += char(value >> (8 * i));
}

bool WriteByteValue(TFile file, std::uint8_t value)
{
    return WriteBytes(file, &value, 1) == 1;
}

bool WriteLongValue(TFile file, std::uint32_t value)
{
    std::uint8_t bytes[4] = {std::uint8_t(value), std::uint8_t(value >> 8),
                             std::uint8_t(value >> 16), std::uint8_t(value >> 24)};
    return WriteBytes(file, bytes, 4) == 4;
}

bool WriteChunkHead(TFile file, std::uint32_t id, std::uint32_t size)
{
    if (file == NoFile)
        return false;
    std::uint8_t head[8];
    for (int i = 0; i < 4; ++i) {
        head[i] = std::uint8_t(id >> (8 * i));
        head[4 + i] = std::uint8_t(size >> (8 * i));
    }
    return WriteBytes(file, head, 8) == 8;
}

bool WriteBlock(TFile file, const void* buffer, std::int32_t count)
{
    if (file == NoFile)
        return false;
    return WriteBytes(file, buffer, count) == count;
}

bool WriteTextBytes(TFile file, const std::string& text)
{
    if (file == NoFile || text.empty() || text.size() > 0x7FFFFFFF)
        return false;
    std::int32_t count = std::int32_t(text.size());
    return WriteBytes(file, text.data(), count) == count;
}

namespace {
struct TPageFree {
    void operator()(std::uint8_t* block) const
    {
        FreePages(block);
    }
};
} // namespace

bool PadToEven(TFile file)
{
    std::int64_t position = GetFilePosition(file);
    if (position < 0)
        return false;
    return position % 2 == 0 || WriteByteValue(file, 0);
}

// The page size the copier aligns its writes to (that of both systems).
const std::int64_t TargetPage = 4096;

std::int64_t CopyFileBytes(TWindow owner, TFile source, TFile target, std::int64_t count,
                           TBlockReader reader, void* context)
{
    if (count == 0) {
        count = GetFileSize(source);
        if (count <= 0 || SeekFile(source, 0) != 0)
            return 0;
    }
    if (count < 0)
        return 0;
    const std::int64_t total = count;
    // Larger blocks where no window waits for progress between them.
    const std::int32_t largest = owner == NoWindow ? LargeCopyBlockSize : CopyBlockSize;
    const std::int32_t blockSize = total < largest ? std::int32_t(total) : largest;
    std::unique_ptr<std::uint8_t[], TPageFree> buffer(static_cast<std::uint8_t*>(AllocatePages(blockSize)));
    if (!buffer)
        return 0;

    // The first block ends where the target reaches a page boundary, so that
    // every later write fills whole pages: the system writes a block that
    // starts a few bytes into a page (behind a WAVE header) about a tenth
    // slower. Where the source is read from does not matter.
    const std::int64_t at = GetFilePosition(target);
    std::int32_t first = blockSize;
    if (at > 0 && blockSize > TargetPage)
        first = blockSize - std::int32_t(at % TargetPage);
    std::int64_t copied = 0;
    while (copied < total) {
        const std::int32_t size = copied == 0 ? first : blockSize;
        std::int64_t remaining = total - copied;
        std::int32_t want = remaining < size ? std::int32_t(remaining) : size;
        std::int32_t got = ReadBytes(source, buffer.get(), want);
        if (got <= 0)
            break;
        std::int32_t written = WriteBytes(target, buffer.get(), got);
        if (written > 0)
            copied += written;
        if (written != got)
            break;
        if (reader)
            reader(context, buffer.get(), got);
        if (owner != NoWindow) {
            SendProgress(owner, copied, int(double(copied) * 100.0 / double(total)));
            if (!PumpMessages(owner))
                break; // the program is ending: the conversion drops its output
        }
    }
    return copied;
}

bool WriteRegString(TRegKey key, const std::string& name, const std::string& text)
{
    return WriteRegValue(key, name, RegTypeString, text.c_str(), std::uint32_t(text.size() + 1));
}

std::string ReadRegString(TRegKey key, const std::string& name)
{
    char buffer[256] = {0};
    std::uint32_t size = sizeof buffer;
    unsigned type = RegTypeString;
    if (!ReadRegValue(key, name, type, buffer, size))
        return std::string();
    std::string::size_type length = 0;
    while (length < sizeof buffer && buffer[length] != '\0')
        ++length;
    return std::string(buffer, length);
}
