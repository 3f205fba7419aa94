// PatternUnit: labels from file names.
#include "PatternUnit.h"

namespace {
TLabelField CodeField(char code)
{
    switch (code) {
    case 'a':
        return LabelArtist;
    case 't':
        return LabelTitle;
    case 'n':
        return LabelCutID;
    case 'c':
        return LabelClientID;
    case 'g':
        return LabelCategory;
    case 'o':
        return LabelOutCue;
    case 'u':
        return LabelUserDef;
    default:
        return LabelFieldCount;
    }
}
} // namespace

bool ParseNamePattern(const std::string& text, TNamePattern& pattern)
{
    pattern = TNamePattern();
    std::string* literal = &pattern.Lead;
    bool used[LabelFieldCount] = {};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *literal += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        if (text[i] == '%') {
            *literal += '%';
            continue;
        }
        const TLabelField field = CodeField(text[i]);
        if (field == LabelFieldCount || used[field])
            return false;
        // The code before this one needs text to end it.
        if (!pattern.Codes.empty() && pattern.Codes.back().second.empty())
            return false;
        used[field] = true;
        pattern.Codes.emplace_back(field, std::string());
        literal = &pattern.Codes.back().second;
    }
    return !pattern.Codes.empty();
}

bool MatchNamePattern(const TNamePattern& pattern, const std::string& stem,
                      std::vector<std::pair<TLabelField, std::string>>& values)
{
    values.clear();
    if (stem.compare(0, pattern.Lead.size(), pattern.Lead) != 0)
        return false;
    std::size_t at = pattern.Lead.size();
    for (std::size_t i = 0; i < pattern.Codes.size(); ++i) {
        const std::string& ending = pattern.Codes[i].second;
        const bool last = i + 1 == pattern.Codes.size();
        std::size_t end = ending.empty() ? stem.size() : stem.find(ending, at);
        // The last code's ending text closes the name.
        if (last && !ending.empty() && end != std::string::npos)
            end = stem.size() >= at + ending.size() && stem.compare(stem.size() - ending.size(), ending.size(), ending) == 0
                      ? stem.size() - ending.size()
                      : std::string::npos;
        if (end == std::string::npos || end <= at) {
            values.clear();
            return false;
        }
        values.emplace_back(pattern.Codes[i].first, stem.substr(at, end - at));
        at = end + ending.size();
    }
    if (at != stem.size())
        values.clear();
    return at == stem.size();
}
