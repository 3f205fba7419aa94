// Helpers of the unit tests: a private folder per test and whole-file I/O.
#pragma once

#include "DeclUnit.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <sstream>
#include <sys/stat.h>

inline std::string Z(std::size_t count) { return std::string(count, '\0'); }
inline std::string Le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
inline void WriteFile(const std::string& name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }

inline std::string Chunk(const std::string& id, const std::string& body) { return id + Le32(std::uint32_t(body.size())) + body + Z(body.size() % 2); }
inline std::string Item(const std::string& id, const std::string& text) { return Chunk(id, text + '\0'); }

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

// Each test works in root/d; root also takes what the converter prints.
class TempDirTest : public ::testing::Test {
protected:
    std::string root, dir;
    void SetUp() override
    {
        char templ[] = "/tmp/korvane-test-XXXXXX", real[PATH_MAX];
        ASSERT_TRUE(::mkdtemp(templ) && ::realpath(templ, real));
        root = real;
        dir = root + "/d";
        ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
        LoadCatalogue();
    }
    void TearDown() override { EXPECT_TRUE(root.empty() || std::system(("rm -rf '" + root + "'").c_str()) == 0); }
};
