#include "SetFile.h"

#include "AtomicFile.h"
#include "IniProfile.h"
#include "SetPaths.h"
#include "Text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <utility>

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

} // namespace

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

namespace {

// The size of a regular file larger than `limit`; 0 for any other.
std::uint64_t sizeOver(const std::string& path, std::size_t limit) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) <= limit)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

} // namespace

LoadResult load(const std::string& settingsPath, StoredSet& set) {
    LoadResult result;
    auto problem = [&](LoadResult::Problem p, const std::string& path, int series) {
        result.problem = p;
        result.path = path;
        result.series = series;
        return result;
    };
    std::string bytes, text;
    Text::Encoding encoding;
    if ((result.size = sizeOver(settingsPath, kMaxSettingsBytes)) != 0)
        return problem(LoadResult::TooLarge, settingsPath, 0);
    if (!AtomicFile::read(settingsPath, bytes, kMaxSettingsBytes) ||
        !Text::decode(bytes, text, encoding))
        return problem(LoadResult::SettingsUnreadable, settingsPath, 0);
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

    SetPaths::Resolver fromSettings(AtomicFile::folderOf(settingsPath));
    for (int n = 0; n < 3; ++n) {
        const std::string listPath = fromSettings.resolve(value(ImageList + n));
        const ListResult read = readList(listPath, loaded.lists[n]);
        if (read == ListResult::CannotOpen &&
            (result.size = sizeOver(listPath, kMaxListBytes)) != 0)
            return problem(LoadResult::TooLarge, listPath, n + 1);
        if (read == ListResult::CannotOpen)
            return problem(LoadResult::ListUnreadable, listPath, n + 1);
        if (read != ListResult::Ok)
            return problem(LoadResult::ListNotText, listPath, n + 1);
        SetPaths::Resolver fromList(AtomicFile::folderOf(listPath));
        for (std::string& entry : loaded.lists[n])
            entry = fromList.resolve(entry);
    }
    set = loaded;
    return result;
}

ListResult decodeList(const std::string& bytes, std::vector<std::string>& entries) {
    entries.clear();
    std::string text;
    Text::Encoding encoding;
    if (!Text::decode(bytes, text, encoding) || !Text::validUtf8(text))
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

namespace {

SaveResult::Problem linkProblem(const SetPaths::Target& target) {
    return target.outcome == SetPaths::Target::ForeignLink ? SaveResult::ForeignLink
                                                           : SaveResult::LinkLoop;
}

} // namespace

SaveResult save(const std::string& settingsPath, const StoredSet& set) {
    SaveResult result;
    auto problem = [&](SaveResult::Problem p, const std::string& path, int series) {
        result.problem = p;
        result.path = path;
        result.series = series;
        return result;
    };
    // The settings file names its lists in lines of their own: a line break in
    // the folder or the name would split those lines.
    if (settingsPath.find_first_of("\r\n") != std::string::npos)
        return problem(SaveResult::PathLineBreak, settingsPath, 0);
    std::string listPaths[3];
    // Where each file goes (through the user's own links), checked: lists
    // 0 to 2, the settings file 3.
    AtomicFile::Slot slots[4];
    auto openSlot = [&](const std::string& path, int n) {
        const SetPaths::Target target = SetPaths::throughLinks(path);
        if (target.outcome != SetPaths::Target::Ok)
            return problem(linkProblem(target), target.path, n < 3 ? n + 1 : 0);
        if (!slots[n].open(target.path)) {
            result.error = slots[n].openError();
            return problem(SaveResult::FolderNotOpened, AtomicFile::folderOf(target.path),
                           n < 3 ? n + 1 : 0);
        }
        return result;
    };
    for (int n = 0; n < 3; ++n) {
        listPaths[n] = listFilePath(settingsPath, n + 1);
        if (Text::utf16Length(listPaths[n]) > IniProfile::kValueCharacters)
            return problem(SaveResult::ListPathTooLong, listPaths[n], n + 1);
        if (openSlot(listPaths[n], n).problem != SaveResult::None)
            return result;
        if (slots[n].exists() && !slots[n].regular())
            return problem(SaveResult::NotAFile, listPaths[n], n + 1);
        if (SetPaths::writeProtected(slots[n].path()))
            return problem(SaveResult::ReadOnly, listPaths[n], n + 1);
    }
    std::string contents[3];
    for (int n = 0; n < 3; ++n) {
        if (!listContent(set.lists[n], contents[n]))
            return problem(SaveResult::LineBreak, listPaths[n], n + 1);
        if (contents[n].size() > kMaxListBytes) {
            result.size = contents[n].size();
            return problem(SaveResult::TooLarge, listPaths[n], n + 1);
        }
    }

    // The settings file's new content: the twelve keys applied to what it
    // holds now, in its own encoding.
    if (openSlot(settingsPath, 3).problem != SaveResult::None)
        return result;
    AtomicFile::Slot& settings = slots[3];
    const std::string& settingsTarget = settings.path();
    if (SetPaths::writeProtected(settingsTarget))
        return problem(SaveResult::ReadOnly, settingsPath, 0);
    if (SetPaths::nameTooLong(settingsTarget))
        return problem(SaveResult::NameTooLong, settingsPath, 0);
    for (int n = 0; n < 3; ++n) {
        if (SetPaths::nameTooLong(slots[n].path()))
            return problem(SaveResult::NameTooLong, listPaths[n], n + 1);
        // Written one after another, a list that is the settings file or
        // another list through a link would overwrite what was just written.
        for (int other = 0; other < n; ++other)
            if (SetPaths::sameFile(slots[n].path(), slots[other].path()))
                return problem(SaveResult::SameFile, listPaths[n], n + 1);
        if (SetPaths::sameFile(slots[n].path(), settingsTarget))
            return problem(SaveResult::SameFile, listPaths[n], n + 1);
    }
    std::string bytes, text;
    Text::Encoding encoding = Text::Encoding::Utf8;
    if (settings.exists()) {
        if ((result.size = sizeOver(settingsTarget, kMaxSettingsBytes)) != 0)
            return problem(SaveResult::TooLarge, settingsPath, 0);
        if (!settings.regular() || !settings.read(bytes, kMaxSettingsBytes) ||
            !Text::decode(bytes, text, encoding))
            return problem(SaveResult::SettingsNotText, settingsPath, 0);
    }
    const std::string settingsBytes = Text::encode(applyKeys(text, listPaths, set), encoding);
    if (settingsBytes.size() > kMaxSettingsBytes) {
        result.size = settingsBytes.size();
        return problem(SaveResult::TooLarge, settingsPath, 0);
    }

    // A file that cannot be replaced in one step is written in place: in a
    // folder that takes no new files (shared, its files writable), and in a
    // sticky folder (like /tmp) for a file of another user, which only they
    // may rename over. A file that cannot be written there either is refused
    // before anything is written.
    bool inPlace[4];
    for (int n = 0; n <= 3; ++n) {
        const AtomicFile::Slot& slot = slots[n];
        const uid_t user = ::geteuid();
        const bool othersFile = (slot.folderMode() & S_ISVTX) != 0 && slot.exists() && user != 0 &&
                                slot.owner() != user && slot.folderOwner() != user;
        const int folderRefusal = slot.folderRefusal();
        inPlace[n] = othersFile || folderRefusal != 0;
        const std::string& named = n < 3 ? listPaths[n] : settingsPath;
        if (!inPlace[n])
            continue;
        if (const int refusal = slot.writeRefusal(); refusal != 0) {
            if (othersFile)
                return problem(SaveResult::OthersFile, named, n < 3 ? n + 1 : 0);
            result.error = refusal;
            result.folderError = folderRefusal;
            return problem(SaveResult::FolderClosed, AtomicFile::folderOf(slot.path()),
                           n < 3 ? n + 1 : 0);
        }
    }

    // The files written in place are opened first, each checked to be the
    // file approved above; then the files to be replaced are checked again.
    // Whatever was put at a name since makes the save stop and name it,
    // before anything is written.
    FileDescriptor descriptors[4];
    auto closeAll = [&] {
        for (FileDescriptor& fd : descriptors)
            fd.reset();
    };
    for (int n = 0; n <= 3; ++n) {
        if (inPlace[n] ? bool(descriptors[n] = slots[n].openChecked()) : slots[n].unchanged())
            continue;
        closeAll();
        return problem(SaveResult::Changed, n < 3 ? listPaths[n] : settingsPath, n < 3 ? n + 1 : 0);
    }

    std::string temporaries[3];
    auto discardAll = [&] {
        closeAll();
        for (int n = 0; n < 3; ++n)
            slots[n].discard(std::exchange(temporaries[n], std::string()));
    };
    for (int n = 0; n < 3; ++n) {
        if (inPlace[n])
            continue;
        temporaries[n] = slots[n].writeTemporary(contents[n]);
        if (temporaries[n].empty()) {
            const int cause = errno;
            discardAll();
            result.error = cause;
            return problem(SaveResult::ListNotWritten, listPaths[n], n + 1);
        }
    }
    // Checked once more with the new lists ready, before the settings file is
    // written; each rename checks its name again just before it.
    for (int n = 0; n <= 3; ++n) {
        if (inPlace[n] || slots[n].unchanged())
            continue;
        discardAll();
        return problem(SaveResult::Changed, n < 3 ? listPaths[n] : settingsPath, n < 3 ? n + 1 : 0);
    }
    bool settingsWritten = false;
    if (inPlace[3]) {
        settingsWritten = AtomicFile::writeOver(std::move(descriptors[3]), settingsBytes);
    } else {
        const std::string temporary = settings.writeTemporary(settingsBytes);
        if (!temporary.empty() && !settings.unchanged()) {
            settings.discard(temporary);
            discardAll();
            return problem(SaveResult::Changed, settingsPath, 0);
        }
        settingsWritten = !temporary.empty() && settings.commit(temporary);
    }
    if (!settingsWritten) {
        result.error = errno;
        const bool changed = !inPlace[3] && !settings.unchanged();
        discardAll();
        return problem(changed ? SaveResult::Changed : SaveResult::SettingsNotWritten, settingsPath,
                       0);
    }
    for (int n = 0; n < 3; ++n) {
        const bool moved = inPlace[n]
                               ? AtomicFile::writeOver(std::move(descriptors[n]), contents[n])
                               : slots[n].commit(std::exchange(temporaries[n], {}));
        if (!moved) {
            const bool changed = !inPlace[n] && !slots[n].unchanged();
            discardAll();
            return problem(changed ? SaveResult::Changed : SaveResult::ListNotReplaced,
                           listPaths[n], n + 1);
        }
    }
    return result;
}

std::vector<std::string> foreignLists(const std::string& settingsPath) {
    std::vector<std::string> foreign;
    std::string bytes, text;
    Text::Encoding encoding;
    const bool named = AtomicFile::read(settingsPath, bytes, kMaxSettingsBytes) &&
                       Text::decode(bytes, text, encoding);
    SetPaths::Resolver fromSettings(AtomicFile::folderOf(settingsPath));
    for (int n = 0; n < 3; ++n) {
        const std::string list = listFilePath(settingsPath, n + 1);
        struct stat info{};
        if (::lstat(list.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
            continue; // nothing there, or what the save refuses anyway
        const std::string own =
            named ? fromSettings.resolve(IniProfile::readText(text, kKeys[ImageList + n].section,
                                                              kKeys[ImageList + n].name, ""))
                  : std::string();
        if (own.empty() || !SetPaths::sameFile(own, list))
            foreign.push_back(list);
    }
    return foreign;
}

} // namespace SetFile
