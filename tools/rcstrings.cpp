// Build tool of the native converter: turns the STRINGTABLE entries of the
// program's resource script into a C++ table, so that the resource script
// stays the one source of the message catalogue and the genre names.
//   rcstrings Strings.rc output.cpp
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

namespace {
// Parses `   5001, "text"` into id and text (RC escapes: "" \n \t \\ \").
bool ParseEntry(const std::string& line, int& id, std::string& text)
{
    std::string::size_type i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] < '0' || line[i] > '9')
        return false;
    id = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9')
        id = id * 10 + (line[i++] - '0');
    i = line.find('"', i);
    if (i == std::string::npos)
        return false;
    text.clear();
    for (++i; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
                text += '"';
                ++i;
                continue;
            }
            return true;
        }
        if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
            continue;
        }
        text += c;
    }
    return false;
}

std::string CppLiteral(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\' || c < 32 || c > 126) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: rcstrings Strings.rc output.cpp\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::ofstream out(argv[2]);
    if (!in || !out) {
        std::cerr << "rcstrings: cannot open the files\n";
        return 1;
    }
    out << "// Generated from " << argv[1] << " by rcstrings; do not edit.\n"
        << "struct TStringEntry {\n    int id;\n    const char* text;\n};\n"
        << "extern const TStringEntry NativeStringTable[] = {\n";
    int count = 0;
    std::string line, text;
    int id = 0;
    while (std::getline(in, line))
        if (ParseEntry(line, id, text)) {
            out << "    {" << id << ", " << CppLiteral(text) << "},\n";
            ++count;
        }
    out << "};\nextern const int NativeStringCount = " << count << ";\n";
    return out ? 0 : 1;
}
