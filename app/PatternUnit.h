// PatternUnit: labels taken from a file's name by a pattern such as
// "%n - %a - %t", which gives "1234 - Acme Tyres - Winter Sale" the cut
// number 1234, the artist "Acme Tyres" and the title "Winter Sale".
#pragma once

#include "LabelUnit.h"

#include <string>
#include <utility>
#include <vector>

// A pattern read: the text the name starts with, then each code's field with
// the text that ends it (empty only for the last code, which runs to the end).
struct TNamePattern {
    std::string Lead;
    std::vector<std::pair<TLabelField, std::string>> Codes;
};

// Reads Text: %a artist, %t title, %n cut id, %c client id, %g category,
// %o out-cue, %u user def, %% a percent sign. False when a code is unknown,
// given twice, or not followed by text that ends it (two codes in a row), or
// when there is no code at all.
bool ParseNamePattern(const std::string& text, TNamePattern& pattern);
// The values Stem (a name without its folder and extension) gives the fields;
// false when it does not fit: its lead or an ending text is missing, a value
// is empty, or text is left after the last ending text.
bool MatchNamePattern(const TNamePattern& pattern, const std::string& stem,
                      std::vector<std::pair<TLabelField, std::string>>& values);
