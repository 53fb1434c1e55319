#pragma once

#include <string>
#include <vector>

// The files of a stored set: the settings file chosen by the user, and the
// three series list files named after it, which hold the image paths.
namespace SetFile {

// List file n (1 lower, 2 centric, 3 upper) of the settings file `settingsPath`:
// four characters are removed from the last '.' on (fewer where the path ends
// sooner), then n and ".txt" are appended: tower.ini -> tower1.txt,
// my.conf -> myf1.txt, a.b -> a1.txt. A path without any '.' keeps all of it.
std::string listFilePath(const std::string& settingsPath, int n);

// The classic text-to-integer rule: leading white space, an optional sign,
// then decimal digits up to the first other character; no digits give 0.
// Values beyond the int range are held at its ends.
int textToInteger(const std::string& text);

enum class ListResult {
    Ok,
    CannotOpen, // missing, unreadable, or not a regular file
    NotText,    // not valid text in its encoding
};

// Reads a list file: one entry per line, in file order, without line ends.
// Lines end in CR, LF or CR LF; a last line without a line end counts; an
// empty line is an empty entry. A byte-order mark decodes the file by it
// (UTF-8, UTF-16 LE or BE); any other file is read as UTF-8. Entries are UTF-8.
ListResult readList(const std::string& path, std::vector<std::string>& entries);

// The content of a list file: every entry followed by CR LF, UTF-8 without a
// byte-order mark; no entries give an empty file. Entries holding a line
// break cannot be stored (false).
bool listContent(const std::vector<std::string>& entries, std::string& bytes);

// Decodes list file bytes as readList does.
ListResult decodeList(const std::string& bytes, std::vector<std::string>& entries);

// Everything a settings file and its list files store of a set.
struct StoredSet {
    std::vector<std::string> lists[3]; // image paths of the lower, centric, upper series
    bool clockwise[3] = {true, true, true};
    bool counterClockwise[3] = {false, false, false};
    bool skyscraper = false;
    bool zoom = true;
    int speed = 5;
};

struct SaveResult {
    enum Problem {
        None,
        ListPathTooLong, // a list file path the settings file could not hand back whole
        NotAFile,        // something other than a file stands where a list file belongs
        LineBreak,       // an image path holds a line break
        ListNotWritten,  // a list file could not be written
        SettingsNotWritten,
        ListNotReplaced, // a written list file could not be moved into place
    } problem = None;
    std::string path; // the file concerned
    int series = 0;   // 1 to 3 where a list is concerned
};

// Saves a set under `settingsPath` (text and file system path, UTF-8): the
// twelve keys of the settings file, in their order, and the three list files
// named after it. The list files are written under temporary names first and
// moved into place only when the settings file has been written, so a save
// that fails leaves a set saved earlier under that name loadable; one that is
// refused before writing (too long, not a file, line break) changes nothing.
SaveResult save(const std::string& settingsPath, const StoredSet& set);

// The length of a UTF-8 text in UTF-16 units, as the settings file counts.
std::size_t utf16Length(const std::string& text);

} // namespace SetFile
