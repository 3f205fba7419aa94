// Helpers of the unit tests: a private folder per test, whole-file I/O and
// the byte pieces of MPEG audio and RIFF files.
#pragma once

#include "DeclUnit.h"
#include "MP3Unit.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <vector>

inline std::string Z(std::size_t count) { return std::string(count, '\0'); }
inline std::string Le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
inline std::string Le16(std::uint16_t v) { return {char(v), char(v >> 8)}; }
// A fixed-width text field: Text cut to Width, NUL-filled.
inline std::string Field(const std::string& text, std::size_t width)
{
    return text.substr(0, width) + Z(width - text.substr(0, width).size());
}

inline std::string Chunk(const std::string& id, const std::string& body)
{
    return id + Le32(std::uint32_t(body.size())) + body + Z(body.size() % 2);
}
inline std::string Item(const std::string& id, const std::string& text) { return Chunk(id, text + '\0'); }

// The chunks of a RIFF file in order, as (id, body).
inline std::vector<std::pair<std::string, std::string>> Chunks(const std::string& file)
{
    std::vector<std::pair<std::string, std::string>> chunks;
    for (std::size_t p = 12; p + 8 <= file.size();) {
        const std::uint32_t size = std::uint32_t(std::uint8_t(file[p + 4])) | std::uint8_t(file[p + 5]) << 8 |
                                   std::uint8_t(file[p + 6]) << 16 | std::uint32_t(std::uint8_t(file[p + 7])) << 24;
        chunks.emplace_back(file.substr(p, 4), file.substr(p + 8, size));
        p += 8 + size + size % 2;
    }
    return chunks;
}

inline void WriteFile(const std::string& name, const std::string& bytes)
{
    std::ofstream(name, std::ios::binary) << bytes;
}
inline std::string ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string Hex(const char* text)
{
    std::istringstream in(text);
    std::string out;
    for (unsigned byte; in >> std::hex >> byte;)
        out += char(byte);
    return out;
}

const std::string H1 = Hex("FF FB 90 64"); // MPEG-1 layer 3, 128 kbit/s, 44.1 kHz, joint stereo
const std::string H2 = Hex("FF FD A4 04"); // MPEG-1 layer 2, 192 kbit/s, 48 kHz, stereo
// Count frames of 417 bytes, each H1 and zeros: a stream of one bit rate.
inline std::string FrameRun(int count)
{
    std::string frames;
    for (int i = 0; i < count; ++i)
        frames += H1 + Z(413);
    return frames;
}
// A frame header as the little-endian value of its 4 bytes; Make(3, 1, 9, 0, 0) is H1.
inline std::uint32_t Make(int versionId, int layerId, int bitrateIndex, int rateIndex, int padding, int last = 0x64)
{
    return 0xE1FFu | std::uint32_t(layerId << 9 | versionId << 11 | padding << 17 | rateIndex << 18) |
           std::uint32_t(bitrateIndex << 20) | std::uint32_t(last) << 24;
}
// One frame: the header and zeros up to the frame's true length.
inline std::string Frame(std::uint32_t value)
{
    TMpegHeader header;
    DecodeMpegHeader(value, header);
    return Le32(value) + Z(std::size_t(MpegFrameBytes(header) - 4));
}
// The format records that describe H1 and H2.
const std::string Fmt55 = Hex("55 00 02 00 44 AC 00 00 80 3E 00 00 01 00 00 00 0C 00 "
                              "01 00 02 00 00 00 A1 01 01 00 71 05");
const std::string Fmt50 = Hex("50 00 02 00 80 BB 00 00 C0 5D 00 00 40 02 10 00 16 00 02 00 "
                              "00 DC 05 00 01 00 04 00 00 00 18 00 00 00 00 00 00 00 00 00");

inline std::set<std::string> Listing(const std::string& dir)
{
    std::set<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    while (dirent* e = d ? ::readdir(d) : nullptr)
        if (e->d_name[0] != '.')
            names.insert(e->d_name);
    return d && ::closedir(d) == 0 ? names : std::set<std::string>{"(no folder)"};
}

// An ID3v1.1 tag; every field is filled up with zero bytes.
inline std::string Tag(const std::string& title, const std::string& artist, const std::string& year,
                       const std::string& comment, int genre)
{
    std::string tag = "TAG" + Z(125);
    tag.replace(3, title.size(), title).replace(33, artist.size(), artist).replace(93, year.size(), year);
    tag.replace(97, comment.size(), comment)[127] = char(genre);
    return tag;
}

// Each test works in a folder of its own, mode 0755; Listing leaves out names with a leading dot.
class TempDirTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char templ[] = "/tmp/korvane-test-XXXXXX", real[PATH_MAX];
        ASSERT_TRUE(::mkdtemp(templ) && ::realpath(templ, real) && ::chmod(real, 0755) == 0);
        dir = real;
        LoadCatalogue();
    }
    void TearDown() override { EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0); }
};
