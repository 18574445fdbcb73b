#include "platform/ProfileText.h"

#include <vector>

namespace ProfileText {
namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

enum class LineKind { Blank, Comment, Section, Entry };

struct Line {
    std::string_view raw; // without its line end
    LineKind kind;
    std::string_view name;  // section name or key, trimmed
    std::string_view value; // raw text after '=' of an entry
    bool hasValue = false;  // a line without '=' names a key that has no value
};

Line parseLine(std::string_view raw) {
    const std::string_view t = trim(raw);
    if (t.empty()) {
        return {raw, LineKind::Blank, {}, {}};
    }
    if (t.front() == ';') {
        return {raw, LineKind::Comment, {}, {}};
    }
    if (t.front() == '[') {
        const size_t close = t.find(']');
        if (close != std::string_view::npos) {
            return {raw, LineKind::Section, trim(t.substr(1, close - 1)), {}};
        }
    }
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return {raw, LineKind::Entry, t, {}, false};
    }
    return {raw, LineKind::Entry, trim(t.substr(0, eq)), t.substr(eq + 1), true};
}

struct Parsed {
    std::string_view bom;
    std::vector<Line> lines;
};

// Calls visit(line) for each line in order until it returns false.
template <class Visit> std::string_view forEachLine(std::string_view text, Visit visit) {
    std::string_view bom;
    if (text.starts_with(Utf8Bom)) {
        bom = text.substr(0, Utf8Bom.size());
        text.remove_prefix(Utf8Bom.size());
    }
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            visit(parseLine(text.substr(pos)));
            break;
        }
        if (!visit(parseLine(text.substr(pos, end - pos)))) {
            break;
        }
        pos = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return bom;
}

Parsed parse(std::string_view text) {
    Parsed parsed;
    parsed.bom = forEachLine(text, [&parsed](const Line& line) {
        parsed.lines.push_back(line);
        return true;
    });
    return parsed;
}

// Index of the header of the first section called name, or lines.size().
size_t findSection(const std::vector<Line>& lines, std::string_view name) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section && sameName(lines[i].name, name)) {
            return i;
        }
    }
    return lines.size();
}

// One past the last line of the section whose header is at index header.
size_t sectionEnd(const std::vector<Line>& lines, size_t header) {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LineKind::Section) {
        ++i;
    }
    return i;
}

constexpr size_t NotFound = static_cast<size_t>(-1);

size_t findKey(const std::vector<Line>& lines, size_t header, size_t end, std::string_view key) {
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind == LineKind::Entry && sameName(lines[i].name, key)) {
            return i;
        }
    }
    return NotFound;
}

std::string_view stripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

bool writable(std::string_view section, std::string_view key, std::string_view value) {
    const auto hasBreak = [](std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; };
    return !section.empty() && !key.empty() && !hasBreak(section) && !hasBreak(key) && !hasBreak(value) &&
           section.find(']') == section.npos && key.find('=') == key.npos && key.front() != ';' && key.front() != '[';
}

} // namespace

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a' || c == '\r' || c == '\n';
}

std::optional<std::string> read(std::string_view text, std::string_view section, std::string_view key) {
    section = trim(section);
    key = trim(key);
    if (section.empty()) {
        return std::nullopt;
    }
    enum class Where { Before, Inside, After } where = Where::Before;
    std::optional<std::string> value;
    forEachLine(text, [&](const Line& line) {
        if (line.kind == LineKind::Section) {
            if (where == Where::Inside) {
                where = Where::After; // only the first section of that name counts
                return false;
            }
            if (sameName(line.name, section)) {
                where = Where::Inside;
            }
        } else if (where == Where::Inside && line.kind == LineKind::Entry && sameName(line.name, key)) {
            // Windows takes the first line of that name even when it has no '=', and then reads
            // nothing: the caller's default, not an empty value, and a later line of that name is hidden.
            if (line.hasValue) {
                value = std::string(stripQuotes(trim(line.value)));
            }
            return false;
        }
        return true;
    });
    return value;
}

std::optional<std::string> write(std::string_view text, std::string_view section, std::string_view key,
                                 std::string_view value) {
    section = trim(section);
    key = trim(key);
    value = trim(value);
    if (!writable(section, key, value)) {
        return std::nullopt;
    }
    const Parsed parsed = parse(text);
    const std::vector<Line>& lines = parsed.lines;
    const std::string newEntry = std::string(key) + "=" + std::string(value);

    std::string out(parsed.bom);
    out.reserve(text.size() + newEntry.size() + section.size() + 8);
    const auto emit = [&out](std::string_view line) {
        out += line;
        out += LineEnd;
    };

    const size_t header = findSection(lines, section);
    if (header == lines.size()) {
        for (const Line& line : lines) {
            emit(line.raw);
        }
        emit("[" + std::string(section) + "]");
        emit(newEntry);
        return out;
    }

    const size_t end = sectionEnd(lines, header);
    const size_t entry = findKey(lines, header, end, key);
    size_t insertAfter = NotFound;
    if (entry == NotFound) {
        insertAfter = header;
        for (size_t i = header + 1; i < end; ++i) {
            if (lines[i].kind != LineKind::Blank) {
                insertAfter = i;
            }
        }
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == entry) {
            emit(std::string(lines[i].name) + "=" + std::string(value));
        } else {
            emit(lines[i].raw);
        }
        if (i == insertAfter) {
            emit(newEntry);
        }
    }
    return out;
}

} // namespace ProfileText
