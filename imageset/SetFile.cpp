#include "SetFile.h"

#include "AtomicFile.h"
#include "IniProfile.h"

#include <filesystem>
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

// UTF-8 (valid or not: bytes that are no character pass as U+FFFD) to UTF-16
// in the given byte order.
std::string utf8ToUtf16(const std::string& text, bool bigEndian) {
    std::string out;
    auto unit = [&](std::uint32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        std::uint32_t code = 0xFFFD;
        if (i + length <= text.size() && validUtf8(text.substr(i, length))) {
            code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
            for (std::size_t k = 1; k < length; ++k)
                code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            i += length;
        } else {
            ++i;
        }
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

// The keys of a settings file, in the order Save Set writes them, with the
// text that stands in for each when the file lacks it.
struct Key {
    const char* section;
    const char* name;
    const char* fallback;
};
const char* const kViewOptions = "View Options";
const Key kKeys[12] = {
    {"Lower Series", "ImageList1", "ImageList1 not found"},
    {"Centric Series", "ImageList2", "ImageList2 not found"},
    {"Upper Series", "ImageList3", "ImageList3 not found"},
    {"Lower Series", "Clockwise1", "Clockwise1 not found"},
    {"Centric Series", "Clockwise2", "Clockwise2 not found"},
    {"Upper Series", "Clockwise3", "Clockwise3 not found"},
    {"Lower Series", "CClockwise1", "CClockwise1 not found"},
    {"Centric Series", "CClockwise2", "CClockwise2 not found"},
    {"Upper Series", "CClockwise3", "CClockwise3 not found"},
    {kViewOptions, "SkyScraperMode", "Settings for SkySkraperMode not found"},
    {kViewOptions, "CameraZoom", "Settings for CameraZoom not found"},
    {kViewOptions, "Speed", "Speed not found"},
};
enum KeyIndex {
    ImageList = 0,
    Clockwise = 3,
    CClockwise = 6,
    SkyScraperMode = 9,
    CameraZoom,
    Speed
};

// A relative path counted from `folder`; an absolute or empty one as it is.
std::string resolvedFrom(const std::string& folder, const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    return (std::filesystem::path(folder) / path).lexically_normal().string();
}

// Where a write to `path` must go so that a symbolic link there stays a link.
std::string throughLinks(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    std::error_code error;
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
    return error ? path : target.string();
}

// A file that exists and that no one may write to: the user protected it.
bool writeProtected(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool decodeSettings(const std::string& bytes, std::string& text, TextEncoding& encoding) {
    text.clear();
    encoding = TextEncoding::Utf8;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        encoding = TextEncoding::Utf16Le;
        return utf16ToUtf8(bytes, 2, false, text);
    }
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        encoding = TextEncoding::Utf16Be;
        return utf16ToUtf8(bytes, 2, true, text);
    }
    text = bytes;
    return true;
}

std::string encodeSettings(const std::string& text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf16Le:
        return "\xFF\xFE" + utf8ToUtf16(text, false);
    case TextEncoding::Utf16Be:
        return "\xFE\xFF" + utf8ToUtf16(text, true);
    default:
        return text;
    }
}

std::string applyKeys(const std::string& text, const std::string listPaths[3],
                      const StoredSet& set) {
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    std::string values[12];
    for (int n = 0; n < 3; ++n) {
        values[ImageList + n] = listPaths[n];
        values[Clockwise + n] = flag(set.clockwise[n]);
        values[CClockwise + n] = flag(set.counterClockwise[n]);
    }
    values[SkyScraperMode] = flag(set.skyscraper);
    values[CameraZoom] = flag(set.zoom);
    values[Speed] = std::to_string(set.speed);
    std::string result = text;
    for (int k = 0; k < 12; ++k)
        result = IniProfile::writeText(result, kKeys[k].section, kKeys[k].name, values[k]);
    return result;
}

LoadResult load(const std::string& settingsPath, StoredSet& set) {
    LoadResult result;
    auto problem = [&](LoadResult::Problem p, const std::string& path, int series) {
        result.problem = p;
        result.path = path;
        result.series = series;
        return result;
    };
    std::string bytes, text;
    TextEncoding encoding;
    if (!AtomicFile::read(settingsPath, bytes, kMaxSettingsBytes) ||
        !decodeSettings(bytes, text, encoding))
        return problem(LoadResult::SettingsUnreadable, settingsPath, 0);
    // A UTF-8 byte-order mark is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    auto value = [&](int k) {
        return IniProfile::cutToUtf16Units(
            IniProfile::readText(text, kKeys[k].section, kKeys[k].name, kKeys[k].fallback),
            IniProfile::kValueCharacters);
    };
    auto on = [&](int k) { return textToInteger(value(k)) == 1; };

    StoredSet loaded;
    for (int n = 0; n < 3; ++n) {
        loaded.clockwise[n] = on(Clockwise + n);
        loaded.counterClockwise[n] = on(CClockwise + n);
    }
    loaded.skyscraper = on(SkyScraperMode);
    loaded.zoom = on(CameraZoom);
    // The file's own text for the speed, or nothing when it lacks the key.
    const char kAbsent[] = "\x01";
    const std::string speed =
        IniProfile::readText(text, kKeys[Speed].section, kKeys[Speed].name, kAbsent);
    if (speed == kAbsent)
        return problem(LoadResult::SpeedMissing, settingsPath, 0);
    loaded.speed = textToInteger(value(Speed));
    if (loaded.speed < 1 || loaded.speed > 9) {
        result.text = speed;
        return problem(LoadResult::SpeedOutOfRange, settingsPath, 0);
    }

    const std::string settingsFolder = AtomicFile::folderOf(settingsPath);
    for (int n = 0; n < 3; ++n) {
        const std::string listPath = resolvedFrom(settingsFolder, value(ImageList + n));
        const ListResult read = readList(listPath, loaded.lists[n]);
        if (read == ListResult::CannotOpen)
            return problem(LoadResult::ListUnreadable, listPath, n + 1);
        if (read != ListResult::Ok)
            return problem(LoadResult::ListNotText, listPath, n + 1);
        const std::string listFolder = AtomicFile::folderOf(listPath);
        for (std::string& entry : loaded.lists[n])
            entry = resolvedFrom(listFolder, entry);
    }
    set = loaded;
    return result;
}

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
    if (!AtomicFile::read(path, bytes, kMaxListBytes))
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
    std::string listPaths[3], listTargets[3];
    for (int n = 0; n < 3; ++n) {
        listPaths[n] = listFilePath(settingsPath, n + 1);
        if (utf16Length(listPaths[n]) > IniProfile::kValueCharacters)
            return problem(SaveResult::ListPathTooLong, listPaths[n], n + 1);
        listTargets[n] = throughLinks(listPaths[n]);
        struct stat info {};
        if (::stat(listTargets[n].c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            return problem(SaveResult::NotAFile, listPaths[n], n + 1);
        if (writeProtected(listTargets[n]))
            return problem(SaveResult::ReadOnly, listPaths[n], n + 1);
    }
    std::string contents[3];
    for (int n = 0; n < 3; ++n) {
        if (!listContent(set.lists[n], contents[n]))
            return problem(SaveResult::LineBreak, listPaths[n], n + 1);
    }

    // The settings file's new content: the twelve keys applied to what it
    // holds now, in its own encoding.
    const std::string settingsTarget = throughLinks(settingsPath);
    if (writeProtected(settingsTarget))
        return problem(SaveResult::ReadOnly, settingsPath, 0);
    std::string bytes, text;
    TextEncoding encoding = TextEncoding::Utf8;
    struct stat info {};
    if (::stat(settingsTarget.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || !AtomicFile::read(settingsTarget, bytes, kMaxSettingsBytes) ||
            !decodeSettings(bytes, text, encoding))
            return problem(SaveResult::SettingsNotText, settingsPath, 0);
    }
    const std::string settingsBytes = encodeSettings(applyKeys(text, listPaths, set), encoding);

    std::string temporaries[3];
    auto discardAll = [&] {
        for (const std::string& t : temporaries)
            AtomicFile::discard(t);
    };
    for (int n = 0; n < 3; ++n) {
        temporaries[n] = AtomicFile::writeTemporary(listTargets[n], contents[n]);
        if (temporaries[n].empty()) {
            discardAll();
            return problem(SaveResult::ListNotWritten, listPaths[n], n + 1);
        }
    }
    if (!AtomicFile::replace(settingsTarget, settingsBytes)) {
        discardAll();
        return problem(SaveResult::SettingsNotWritten, settingsPath, 0);
    }
    for (int n = 0; n < 3; ++n) {
        const bool moved = AtomicFile::commit(temporaries[n], listTargets[n]);
        temporaries[n].clear();
        if (!moved) {
            discardAll();
            return problem(SaveResult::ListNotReplaced, listPaths[n], n + 1);
        }
    }
    return result;
}

} // namespace SetFile
