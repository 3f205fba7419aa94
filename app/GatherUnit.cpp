// GatherUnit: the hand-over record between command-line runs.
#include "GatherUnit.h"

#include "DirectWin32.h"

namespace {
const char Tag[] = "KVH1";
const std::size_t TagSize = 4;

std::uint32_t GetLength(const std::string& record, std::size_t at)
{
    return Little32(reinterpret_cast<const std::uint8_t*>(record.data()) + at);
}

// Well-formed UTF-8 (a lone surrogate in its three-byte form included, as
// the program carries Windows names) without a zero byte.
bool IsNameText(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t i = 0, length = 0; i < text.size(); i += length)
        if (DecodeUtf8Char(bytes + i, text.size() - i, true, length) <= 0)
            return false;
    return true;
}
} // namespace

std::string EncodeHandOver(const std::vector<std::string>& args)
{
    std::string record(Tag, TagSize);
    AppendLong(record, std::uint32_t(args.size()));
    for (const std::string& arg : args) {
        if (arg.size() > MaxHandOverArgument || record.size() + 4 + arg.size() > MaxHandOverRecord)
            return std::string();
        AppendLong(record, std::uint32_t(arg.size()));
        record += arg;
    }
    return args.empty() ? std::string() : record;
}

bool DecodeHandOver(const std::string& record, std::vector<std::string>& args)
{
    args.clear();
    std::vector<std::string> found;
    if (record.size() < TagSize + 4 || record.size() > MaxHandOverRecord ||
        record.compare(0, TagSize, Tag) != 0)
        return false;
    const std::uint32_t count = GetLength(record, TagSize);
    std::size_t at = TagSize + 4;
    // Each argument takes at least its length field: a count beyond that is
    // refused before anything is reserved for it.
    if (count == 0 || count > (record.size() - at) / 4)
        return false;
    for (std::uint32_t n = 0; n < count; ++n) {
        if (record.size() - at < 4)
            return false;
        const std::uint32_t length = GetLength(record, at);
        at += 4;
        if (length > MaxHandOverArgument || length > record.size() - at)
            return false;
        found.push_back(record.substr(at, length));
        at += length;
        if (!IsNameText(found.back()))
            return false;
    }
    if (at != record.size())
        return false;
    args.swap(found);
    return true;
}
