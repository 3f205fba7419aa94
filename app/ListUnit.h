// ListUnit: a list of files with their labels, as a spreadsheet saves it:
// CSV (quoted fields as RFC 4180 has them, UTF-8 with or without a byte
// order mark, comma or semicolon between fields), a header row naming the
// label fields and a File column, then one row per file.
#pragma once

#include "LabelUnit.h"

#include <string>
#include <vector>

// A list is typed by people: these limits are far above any and keep a
// hostile one from taking the machine's memory.
const std::size_t MaxListBytes = 16u << 20, MaxListColumns = 64;

// Why a list as a whole cannot be taken.
enum TListError {
    ListOk,
    ListOpenQuote,    // a quoted field is not closed (Line says where it opened)
    ListNotText,      // a NUL byte, or bytes that are not UTF-8
    ListNoFileColumn, // no File column, or no header at all
    ListBadColumn,    // a column that names no field, or one named twice (Column)
    ListTooLarge      // more than the list's limits
};

// One row: the file's name as the list gives it, its labels, and the first
// value that cannot be taken, if any (Column names its column).
struct TListRow {
    std::string File;
    int Line = 0;           // the row's line in the list, from 1
    TLabels Labels;
    TLabelError Error = LabelOk;
    std::string Column;
};

struct TList {
    std::vector<TListRow> Rows;
    TListError Error = ListOk;
    int Line = 0;           // where the error lies
    std::string Column;     // the column it names
};

// The rows of a list whose bytes are Text; Today dates "+N".
void ReadList(const std::string& text, const TDateTime& today, TList& list);
// The fields of one CSV record starting at At (moved past it); false at an
// unclosed quote. Separator is ',' or ';'.
bool ReadCsvRecord(const std::string& text, std::size_t& at, char separator, std::vector<std::string>& fields,
                   int& line);
