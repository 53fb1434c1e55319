#include "SetFile.h"

#include "AtomicFile.h"
#include "IniProfile.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>

namespace SetFile {

std::string listFilePath(const std::string& settingsPath, int n) {
    std::string base = settingsPath;
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos) {
        // Four characters, not bytes: a UTF-8 character may take several.
        std::size_t end = dot;
        for (int characters = 0; characters < 4 && end < base.size(); ++characters) {
            ++end;
            while (end < base.size() && (static_cast<unsigned char>(base[end]) & 0xC0) == 0x80)
                ++end;
        }
        base.erase(dot, end - dot);
    }
    return base + std::to_string(n) + ".txt";
}

int textToInteger(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

namespace {

// Appends code point `c` as UTF-8.
void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool validUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t length;
        std::uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c >> 5) == 6) {
            length = 2;
            code = c & 0x1F;
        } else if ((c >> 4) == 14) {
            length = 3;
            code = c & 0x0F;
        } else if ((c >> 3) == 30) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > s.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d >> 6) != 2)
                return false;
            code = (code << 6) | (d & 0x3F);
        }
        // No overlong forms, no surrogates, nothing beyond U+10FFFF.
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

// UTF-16 in the given byte order to UTF-8; false on a broken surrogate pair.
bool utf16ToUtf8(const std::string& bytes, std::size_t start, bool bigEndian, std::string& out) {
    if ((bytes.size() - start) % 2 != 0)
        return false;
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const unsigned char a = static_cast<unsigned char>(bytes[i]);
        const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = start; i < bytes.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 3 >= bytes.size())
                return false;
            const std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        appendUtf8(out, c);
    }
    return true;
}

} // namespace

ListResult decodeList(const std::string& bytes, std::vector<std::string>& entries) {
    entries.clear();
    std::string text;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = bytes.substr(3);
    } else if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (!utf16ToUtf8(bytes, 2, false, text))
            return ListResult::NotText;
    } else if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        if (!utf16ToUtf8(bytes, 2, true, text))
            return ListResult::NotText;
    } else {
        text = bytes;
    }
    if (!validUtf8(text) || text.find('\0') != std::string::npos)
        return ListResult::NotText;
    // A second byte-order mark after the first is no part of a path either
    // (and a list written back without one must read the same).
    while (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);

    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            entries.push_back(text.substr(start));
            break;
        }
        entries.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return ListResult::Ok;
}

ListResult readList(const std::string& path, std::vector<std::string>& entries) {
    entries.clear();
    std::string bytes;
    if (!AtomicFile::read(path, bytes))
        return ListResult::CannotOpen;
    return decodeList(bytes, entries);
}

bool listContent(const std::vector<std::string>& entries, std::string& bytes) {
    bytes.clear();
    for (const std::string& entry : entries) {
        if (entry.find_first_of("\r\n") != std::string::npos)
            return false;
        bytes += entry;
        bytes += "\r\n";
    }
    return true;
}

std::size_t utf16Length(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80)
            units += (c >> 3) == 30 ? 2 : 1;
    }
    return units;
}

SaveResult save(const std::string& settingsPath, const StoredSet& set) {
    SaveResult result;
    auto problem = [&](SaveResult::Problem p, const std::string& path, int series) {
        result.problem = p;
        result.path = path;
        result.series = series;
        return result;
    };

    std::string listPaths[3];
    for (int n = 0; n < 3; ++n) {
        listPaths[n] = listFilePath(settingsPath, n + 1);
        if (utf16Length(listPaths[n]) > IniProfile::kValueCharacters)
            return problem(SaveResult::ListPathTooLong, listPaths[n], n + 1);
        struct stat info {};
        if (::stat(listPaths[n].c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            return problem(SaveResult::NotAFile, listPaths[n], n + 1);
    }
    std::string contents[3];
    for (int n = 0; n < 3; ++n) {
        if (!listContent(set.lists[n], contents[n]))
            return problem(SaveResult::LineBreak, listPaths[n], n + 1);
    }

    std::string temporaries[3];
    auto discardAll = [&] {
        for (const std::string& t : temporaries)
            AtomicFile::discard(t);
    };
    for (int n = 0; n < 3; ++n) {
        temporaries[n] = AtomicFile::writeTemporary(listPaths[n], contents[n]);
        if (temporaries[n].empty()) {
            discardAll();
            return problem(SaveResult::ListNotWritten, listPaths[n], n + 1);
        }
    }

    const char* sections[3] = {"Lower Series", "Centric Series", "Upper Series"};
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    struct Write {
        const char* section;
        std::string key;
        std::string value;
    };
    std::vector<Write> writes;
    for (int n = 0; n < 3; ++n)
        writes.push_back({sections[n], "ImageList" + std::to_string(n + 1), listPaths[n]});
    for (int n = 0; n < 3; ++n)
        writes.push_back(
            {sections[n], "Clockwise" + std::to_string(n + 1), flag(set.clockwise[n])});
    for (int n = 0; n < 3; ++n)
        writes.push_back(
            {sections[n], "CClockwise" + std::to_string(n + 1), flag(set.counterClockwise[n])});
    writes.push_back({"View Options", "SkyScraperMode", flag(set.skyscraper)});
    writes.push_back({"View Options", "CameraZoom", flag(set.zoom)});
    writes.push_back({"View Options", "Speed", std::to_string(set.speed)});
    for (const Write& w : writes) {
        if (!IniProfile::write(settingsPath, w.section, w.key, w.value)) {
            discardAll();
            return problem(SaveResult::SettingsNotWritten, settingsPath, 0);
        }
    }

    for (int n = 0; n < 3; ++n) {
        const bool moved = AtomicFile::commit(temporaries[n], listPaths[n]);
        temporaries[n].clear();
        if (!moved) {
            discardAll();
            return problem(SaveResult::ListNotReplaced, listPaths[n], n + 1);
        }
    }
    return result;
}

} // namespace SetFile
