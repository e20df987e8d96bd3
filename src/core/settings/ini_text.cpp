#include "core/settings/ini_text.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace pdt {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

enum class LineKind { kOther, kSection, kKey };

struct Line {
    size_t begin = 0;       // first byte of the line
    size_t contentEnd = 0;  // end of the line's text, before its line end
    size_t end = 0;         // first byte after the line end
    LineKind kind = LineKind::kOther;
    std::string_view name;  // section name or key, trimmed
    size_t valueBegin = 0;  // for a key: first byte after "="
};

// First byte of the line's text: after the UTF-8 byte order mark on line one.
size_t ContentStart(std::string_view text, const Line& line) {
    if (line.begin == 0 && text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        return std::min(kUtf8Mark.size(), line.contentEnd);
    }
    return line.begin;
}

bool IsBlank(std::string_view text, const Line& line) {
    const size_t start = ContentStart(text, line);
    return Trim(text.substr(start, line.contentEnd - start)).empty();
}

void Classify(std::string_view text, Line& line) {
    const size_t start = ContentStart(text, line);
    const std::string_view content = text.substr(start, line.contentEnd - start);
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() == ';') return;
    if (trimmed.front() == '[') {
        const size_t close = trimmed.find(']');
        if (close == std::string_view::npos) return;
        line.kind = LineKind::kSection;
        line.name = Trim(trimmed.substr(1, close - 1));
        return;
    }
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view key = Trim(content.substr(0, equals));
    if (key.empty()) return;
    line.kind = LineKind::kKey;
    line.name = key;
    line.valueBegin = start + equals + 1;
}

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        Line line;
        line.begin = begin;
        const size_t newline = text.find('\n', begin);
        line.end = newline == std::string_view::npos ? text.size() : newline + 1;
        line.contentEnd = newline == std::string_view::npos ? text.size() : newline;
        if (line.contentEnd > begin && text[line.contentEnd - 1] == '\r' &&
            newline != std::string_view::npos) {
            --line.contentEnd;
        }
        Classify(text, line);
        lines.push_back(line);
        begin = line.end;
    }
    return lines;
}

// Where a key of a section stands, or would be added.
struct Location {
    std::optional<size_t> section;  // header line of the first section of the name
    std::optional<size_t> key;      // line of the first key of the name in it
    size_t lastEntry = 0;           // last key line of the section (or its header)
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location location;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == LineKind::kSection) {
            if (location.section) break;  // the first section of the name has ended
            if (SameName(line.name, section)) location.section = location.lastEntry = i;
        } else if (line.kind == LineKind::kKey && location.section) {
            location.lastEntry = i;
            if (SameName(line.name, key)) {
                location.key = i;
                break;
            }
        }
    }
    return location;
}

bool HasBlankEdges(std::string_view name) {
    return Trim(name).size() != name.size();
}

void CheckNames(std::string_view section, std::string_view key, std::string_view value) {
    const auto breaksLine = [](std::string_view text) {
        return text.find_first_of("\r\n") != std::string_view::npos;
    };
    if (section.empty() || HasBlankEdges(section) || breaksLine(section) ||
        section.find(']') != std::string_view::npos) {
        throw std::invalid_argument("INI section name cannot be stored: \"" + std::string(section) +
                                    "\"");
    }
    if (key.empty() || HasBlankEdges(key) || breaksLine(key) ||
        key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';') {
        throw std::invalid_argument("INI key cannot be stored: \"" + std::string(key) + "\"");
    }
    if (breaksLine(value)) throw std::invalid_argument("INI value cannot hold a line break");
}

}  // namespace

IniText::IniText(std::string text, std::string newLineEnd)
    : text_(std::move(text)), newLineEnd_(std::move(newLineEnd)) {}

std::optional<std::string> IniText::Get(std::string_view section, std::string_view key) const {
    const std::vector<Line> lines = SplitLines(text_);
    const Location location = Locate(lines, section, key);
    if (!location.key) return std::nullopt;
    const Line& line = lines[*location.key];
    const std::string_view value =
        std::string_view(text_).substr(line.valueBegin, line.contentEnd - line.valueBegin);
    return std::string(Unquote(Trim(value)));
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
    CheckNames(section, key, value);
    const std::vector<Line> lines = SplitLines(text_);
    const Location location = Locate(lines, section, key);
    const std::string lineEnd = LineEnd();

    if (location.key) {
        // Keep the key as spelled and the blanks after "="; replace the rest.
        const Line& line = lines[*location.key];
        size_t valueStart = line.valueBegin;
        while (valueStart < line.contentEnd &&
               (text_[valueStart] == ' ' || text_[valueStart] == '\t'))
            ++valueStart;
        text_.replace(valueStart, line.contentEnd - valueStart, value);
        return;
    }

    std::string entry = std::string(key) + "=" + std::string(value) + lineEnd;
    if (location.section) {
        const Line& after = lines[location.lastEntry];
        if (after.end == after.contentEnd) entry.insert(0, lineEnd);  // last line had no end
        text_.insert(after.end, entry);
        return;
    }

    const bool lastLineBlank = lines.empty() || IsBlank(text_, lines.back());
    if (!text_.empty() && text_.back() != '\n') text_ += lineEnd;
    if (!lastLineBlank) text_ += lineEnd;  // an empty line between the sections
    text_ += "[" + std::string(section) + "]" + lineEnd + entry;
}

std::string IniText::LineEnd() const {
    const size_t newline = text_.find('\n');
    if (newline == std::string::npos) return newLineEnd_;
    return newline > 0 && text_[newline - 1] == '\r' ? "\r\n" : "\n";
}

}  // namespace pdt
