// ListUnit: lists of files and labels.
#include "ListUnit.h"

#include "DirectWin32.h"

namespace {
bool ValidUtf8(const std::string& text)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        if (data[i] == 0)
            return false;
        std::size_t length = 1;
        if (data[i] >= 0x80 && DecodeUtf8Char(data + i, text.size() - i, false, length) < 0)
            return false;
        i += length;
    }
    return true;
}

// The separator a spreadsheet chose: the one of comma and semicolon that the
// header row holds more of outside quotes.
char FindSeparator(const std::string& text, std::size_t at)
{
    int commas = 0, semicolons = 0;
    bool quoted = false;
    for (; at < text.size() && (quoted || (text[at] != '\n' && text[at] != '\r')); ++at) {
        if (text[at] == '"')
            quoted = !quoted;
        else if (!quoted && text[at] == ',')
            ++commas;
        else if (!quoted && text[at] == ';')
            ++semicolons;
    }
    return semicolons > commas ? ';' : ',';
}

bool BlankRecord(const std::vector<std::string>& fields)
{
    for (const std::string& field : fields)
        if (!field.empty())
            return false;
    return true;
}
} // namespace

bool ReadCsvRecord(const std::string& text, std::size_t& at, char separator, std::vector<std::string>& fields,
                   int& line)
{
    fields.assign(1, std::string());
    const int start = line;
    while (at < text.size()) {
        const char c = text[at++];
        if (c == separator) {
            fields.emplace_back();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && at < text.size() && text[at] == '\n')
                ++at;
            ++line;
            return true;
        } else if (c == '"' && fields.back().empty()) {
            // A quoted field: "" stands for one quote; line breaks belong to it.
            for (;;) {
                if (at >= text.size()) {
                    line = start;
                    return false;
                }
                const char q = text[at++];
                if (q == '"' && at < text.size() && text[at] == '"') {
                    fields.back() += '"';
                    ++at;
                } else if (q == '"') {
                    break;
                } else {
                    line += q == '\n' ? 1 : 0;
                    fields.back() += q;
                }
            }
        } else {
            fields.back() += c;
        }
    }
    ++line;
    return true;
}

void ReadList(const std::string& text, const TDateTime& today, TList& list)
{
    list = TList();
    if (text.size() > MaxListBytes) {
        list.Error = ListTooLarge;
        return;
    }
    if (!ValidUtf8(text)) {
        list.Error = ListNotText;
        return;
    }
    std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const char separator = FindSeparator(text, at);
    std::vector<std::string> fields;
    int line = 1;
    if (!ReadCsvRecord(text, at, separator, fields, line)) {
        list.Error = ListOpenQuote;
        list.Line = line;
        return;
    }
    // The header: each column a field, or File.
    std::vector<int> columns;
    int fileColumn = -1;
    if (fields.size() > MaxListColumns) {
        list.Error = ListTooLarge;
        return;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string name = fields[i];
        const TLabelField field = FindLabelField(name);
        int column = field;
        if (name.empty()) {
            column = -3; // a column without a name, as a trailing separator makes: not read
        } else if (field == LabelFieldCount) {
            column = SameName(name, "File") ? -1 : -2;
        }
        bool twice = false;
        for (std::size_t j = 0; j < i; ++j)
            twice = twice || (columns[j] == column && column != -3);
        if (column == -2 || twice) {
            list.Error = ListBadColumn;
            list.Column = name;
            list.Line = 1;
            return;
        }
        if (column == -1)
            fileColumn = int(i);
        columns.push_back(column);
    }
    if (fileColumn < 0) {
        list.Error = ListNoFileColumn;
        return;
    }
    while (at < text.size()) {
        TListRow row;
        row.Line = line;
        if (!ReadCsvRecord(text, at, separator, fields, line)) {
            list.Error = ListOpenQuote;
            list.Line = line;
            return;
        }
        if (BlankRecord(fields))
            continue;
        for (std::size_t i = 0; i < fields.size() && i < columns.size(); ++i) {
            if (int(i) == fileColumn) {
                row.File = fields[i];
            } else if (columns[i] >= 0 && !fields[i].empty() && row.Error == LabelOk) {
                row.Error = SetLabel(row.Labels, TLabelField(columns[i]), fields[i], today);
                if (row.Error != LabelOk)
                    row.Column = LabelNames[columns[i]];
            }
        }
        if (row.Error == LabelOk && LabelsEndBeforeStart(row.Labels)) {
            row.Error = LabelEndBeforeStart;
            row.Column = row.Labels.Given[LabelEnd] ? "End" : "Start";
        }
        list.Rows.push_back(row);
    }
}
