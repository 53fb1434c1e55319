#include "IniProfile.h"

#include "AtomicFile.h"
#include "Text.h"

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace IniProfile {

namespace {

struct Line {
    std::string text;   // without its line end
    std::string ending; // "\r\n", "\n", "\r" or "" for a last line without one
};

std::vector<Line> splitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        std::size_t next = end + 1;
        if (text[end] == '\r' && next < text.size() && text[next] == '\n')
            ++next;
        lines.push_back({text.substr(start, end - start), text.substr(end, next - end)});
        start = next;
    }
    return lines;
}

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const std::size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string name;
    std::string value;
};

Parsed parse(const std::string& line) {
    Parsed p;
    const std::string t = trimmed(line);
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return p;
    if (t[0] == '[') {
        const std::size_t close = t.find(']');
        p.kind = Kind::Section;
        p.name = trimmed(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return p;
    }
    const std::size_t equals = t.find('=');
    if (equals == std::string::npos)
        return p;
    p.kind = Kind::Key;
    p.name = trimmed(t.substr(0, equals));
    p.value = trimmed(t.substr(equals + 1));
    if (p.value.size() >= 2 && (p.value[0] == '"' || p.value[0] == '\'') &&
        p.value.back() == p.value[0])
        p.value = p.value.substr(1, p.value.size() - 2);
    return p;
}

// Where a key stands, or where it would go.
struct Place {
    int section = -1;     // line of the section header
    int key = -1;         // line of the key
    int lastContent = -1; // last non-blank line of the section
};

Place locate(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
    Place place;
    bool inside = false;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        const Parsed p = parse(lines[i].text);
        if (p.kind == Kind::Section) {
            if (inside)
                break; // only the first section of that name counts
            if (sameName(p.name, section)) {
                inside = true;
                place.section = place.lastContent = i;
            }
            continue;
        }
        if (!inside)
            continue;
        if (!trimmed(lines[i].text).empty())
            place.lastContent = i;
        if (p.kind == Kind::Key && place.key < 0 && sameName(p.name, key))
            place.key = i;
    }
    return place;
}

std::string lineEndOf(const std::vector<Line>& lines) {
    for (const Line& l : lines)
        if (!l.ending.empty())
            return l.ending;
    return "\n";
}

bool hasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

} // namespace

std::string cutToUtf16Units(const std::string& text, std::size_t units) {
    std::size_t used = 0, i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80         ? 1
                                   : (c >> 5) == 6  ? 2
                                   : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30 ? 4
                                                    : 1;
        const std::size_t cost = length == 4 ? 2 : 1; // a surrogate pair
        if (used + cost > units)
            break;
        used += cost;
        i += length;
    }
    return text.substr(0, std::min(i, text.size()));
}

std::string readText(const std::string& text, const std::string& section, const std::string& key,
                     const std::string& fallback) {
    const std::vector<Line> lines = splitLines(text);
    const Place place = locate(lines, section, key);
    const std::string value = place.key < 0 ? fallback : parse(lines[place.key].text).value;
    return cutToUtf16Units(value, kValueCharacters);
}

std::string read(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& fallback) {
    std::string bytes, text;
    Text::Encoding encoding;
    if (!AtomicFile::read(path, bytes) || !Text::decode(bytes, text, encoding))
        return cutToUtf16Units(fallback, kValueCharacters);
    return readText(text, section, key, fallback);
}

std::string writeText(const std::string& text, const std::string& section, const std::string& key,
                      const std::string& value) {
    std::vector<Line> lines = splitLines(text);
    const std::string end = lineEndOf(lines);
    const Place place = locate(lines, section, key);
    if (place.key >= 0) {
        lines[place.key].text = trimmed(parse(lines[place.key].text).name) + "=" + value;
    } else if (place.section >= 0) {
        Line& before = lines[place.lastContent];
        if (before.ending.empty())
            before.ending = end;
        lines.insert(lines.begin() + place.lastContent + 1, Line{key + "=" + value, end});
    } else {
        if (!lines.empty() && lines.back().ending.empty())
            lines.back().ending = end;
        lines.push_back({"[" + section + "]", end});
        lines.push_back({key + "=" + value, end});
    }
    std::string result;
    for (const Line& l : lines)
        result += l.text + l.ending;
    return result;
}

bool write(const std::string& path, const std::string& section, const std::string& key,
           const std::string& value) {
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return false;
    std::string bytes, text;
    Text::Encoding encoding = Text::Encoding::Utf8;
    if (!AtomicFile::read(path, bytes)) {
        // Only a file that is not there yet may start empty.
        if (::access(path.c_str(), F_OK) == 0)
            return false;
    } else if (!Text::decode(bytes, text, encoding)) {
        return false;
    }
    return AtomicFile::replace(path, Text::encode(writeText(text, section, key, value), encoding));
}

} // namespace IniProfile
