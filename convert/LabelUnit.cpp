// LabelUnit: the labels of a cut, checked as they are given.
#include "LabelUnit.h"

#include <cstdio>

const char* const LabelNames[LabelFieldCount] = {
    "Title",  "Artist",  "CutID", "ClientID", "Category", "Classification", "OutCue",
    "UserDef", "URL",    "TagText", "Start",  "End",      "Description",    "Originator"};

const char* const DefaultStart = "1900-01-0100:00:00";
const char* const DefaultEnd = "9999-12-3123:59:59";

std::size_t LabelWidth(TLabelField field)
{
    switch (field) {
    case LabelURL:
        return 1024;
    case LabelTagText:
        return 0; // cart's tag text has no fixed width
    case LabelDescription:
        return 256;
    case LabelOriginator:
        return 32;
    case LabelStart:
    case LabelEnd:
        return 18;
    default:
        return 64;
    }
}

bool SameName(const std::string& name, const char* other)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    std::size_t i = 0;
    for (; i < name.size() && other[i] != '\0'; ++i)
        if (lower(name[i]) != lower(other[i]))
            return false;
    return i == name.size() && other[i] == '\0';
}

namespace {
bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

// Exactly Count decimal digits of Text at Offset.
bool ReadDigits(const std::string& text, std::size_t offset, std::size_t count, int& value)
{
    if (offset + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = offset; i < offset + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Today plus Days, as a date.
TDateTime AddDays(TDateTime date, long days)
{
    for (; days > 0; --days) {
        if (++date.Day > DaysInMonth(date.Year, date.Month)) {
            date.Day = 1;
            if (++date.Month > 12) {
                date.Month = 1;
                ++date.Year;
            }
        }
    }
    return date;
}

// "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss" or "+days" as "yyyy-mm-ddhh:mm:ss"; a
// date alone starts the day (Start) or ends it (End).
bool ReadDate(const std::string& value, bool end, const TDateTime& today, std::string& stored)
{
    TDateTime t = {0, 0, 0, end ? 23 : 0, end ? 59 : 0, end ? 59 : 0};
    if (!value.empty() && value[0] == '+') {
        if (value.size() < 2 || value.size() > 6)
            return false;
        int days = 0;
        if (!ReadDigits(value, 1, value.size() - 1, days))
            return false;
        const TDateTime base = {today.Year, today.Month, today.Day, 0, 0, 0};
        const TDateTime date = AddDays(base, days);
        t.Year = date.Year;
        t.Month = date.Month;
        t.Day = date.Day;
    } else {
        if (value.size() != 10 && value.size() != 19)
            return false;
        if (!ReadDigits(value, 0, 4, t.Year) || value[4] != '-' || !ReadDigits(value, 5, 2, t.Month) ||
            value[7] != '-' || !ReadDigits(value, 8, 2, t.Day))
            return false;
        if (value.size() == 19 &&
            (value[10] != ' ' || !ReadDigits(value, 11, 2, t.Hour) || value[13] != ':' ||
             !ReadDigits(value, 14, 2, t.Minute) || value[16] != ':' || !ReadDigits(value, 17, 2, t.Second)))
            return false;
    }
    if (t.Year < 1 || t.Year > 9999 || t.Month < 1 || t.Month > 12 || t.Day < 1 ||
        t.Day > DaysInMonth(t.Year, t.Month) || t.Hour > 23 || t.Minute > 59 || t.Second > 59)
        return false;
    char text[24];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second);
    stored = text;
    return true;
}
} // namespace

TLabelField FindLabelField(const std::string& name)
{
    for (int i = 0; i < LabelFieldCount; ++i)
        if (SameName(name, LabelNames[i]))
            return TLabelField(i);
    return LabelFieldCount;
}

TLabelError SetLabel(TLabels& labels, TLabelField field, const std::string& value, const TDateTime& today)
{
    std::string stored;
    if (field == LabelStart || field == LabelEnd) {
        if (!ReadDate(value, field == LabelEnd, today, stored))
            return LabelBadDate;
    } else {
        for (char c : value)
            if (c < 0x20 || c > 0x7E)
                return LabelNotAscii;
        stored = value;
        if (field == LabelTagText)
            for (std::size_t at = 0; (at = stored.find("\\n", at)) != std::string::npos; at += 2)
                stored.replace(at, 2, "\r\n");
        if (LabelWidth(field) > 0 && stored.size() > LabelWidth(field))
            return LabelTooLong;
    }
    labels.Text[field] = stored;
    labels.Given[field] = true;
    return LabelOk;
}

bool ReadCutNumber(const std::string& text, std::uint32_t& number)
{
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + std::uint64_t(c - '0');
    }
    number = std::uint32_t(value);
    return value <= 0xFFFFFFFFu;
}

bool LabelsEndBeforeStart(const TLabels& labels)
{
    // The stored form sorts as the time it stands for; a date not given is
    // cart's "no restriction".
    const std::string start = labels.Given[LabelStart] ? labels.Text[LabelStart] : DefaultStart;
    const std::string end = labels.Given[LabelEnd] ? labels.Text[LabelEnd] : DefaultEnd;
    return end < start;
}

void MergeLabels(TLabels& labels, const TLabels& extra)
{
    for (int i = 0; i < LabelFieldCount; ++i)
        if (!labels.Given[i] && extra.Given[i]) {
            labels.Text[i] = extra.Text[i];
            labels.Given[i] = true;
        }
}
