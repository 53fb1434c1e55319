#pragma once

#include <cstddef>
#include <cstdint>
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
// A file over kMaxListBytes counts as one that cannot be opened.
ListResult readList(const std::string& path, std::vector<std::string>& entries);

// The content of a list file: every entry followed by CR LF, UTF-8 without a
// byte-order mark; no entries give an empty file. Entries holding a line
// break cannot be stored (false).
bool listContent(const std::vector<std::string>& entries, std::string& bytes);

// Decodes list file bytes as readList does.
ListResult decodeList(const std::string& bytes, std::vector<std::string>& entries);

struct SaveResult {
    enum Problem {
        None,
        ListPathTooLong, // a list file path the settings file could not hand back whole
        NotAFile,        // something other than a file stands where a list file belongs
        LineBreak,       // an image path holds a line break
        ListNotWritten,  // a list file could not be written
        SettingsNotWritten,
        ListNotReplaced, // a written list file could not be moved into place
        ReadOnly,        // the settings or a list file is write-protected
        SettingsNotText, // the settings file there is no text file to add keys to
        NameTooLong,     // a file name longer than its file system allows
        SameFile,        // a list file is, through a link, the settings file or another list
        TooLarge,        // the file would grow past what Load accepts
        ForeignLink,     // a link of another user stands at the name (path: the link)
        LinkLoop,        // links at the name never reach a file
        FolderClosed,    // a file must be made in a folder that takes no new files (path: it)
        FolderNotOpened, // the folder a file goes into cannot be opened (path: it)
        OthersFile,      // a file of another user in a sticky folder that the user may not write
        Changed,         // something else stands at the name since it was checked
        PathLineBreak,   // the settings file's path holds a line break
    } problem = None;
    std::string path;       // the file concerned
    int series = 0;         // 1 to 3 where a list is concerned
    std::uint64_t size = 0; // TooLarge: the size it has or would have
    // The reason the system gave, as an errno value (0: none): why the folder
    // cannot be opened (FolderNotOpened), why the file may not be written
    // (FolderClosed: ENOENT when it is not there) or why writing it failed
    // (ListNotWritten, SettingsNotWritten); and, for FolderClosed, why the
    // folder takes no new files.
    int error = 0;
    int folderError = 0;
};

// Everything a settings file and its list files store of a set.
struct StoredSet {
    std::vector<std::string> lists[3]; // image paths of the lower, centric, upper series
    bool clockwise[3] = {true, true, true};
    bool counterClockwise[3] = {false, false, false};
    bool skyscraper = false;
    bool zoom = true;
    int speed = 5;
};

// Size limits: no real settings file or image list comes near them; larger
// files are refused before they are read.
constexpr std::size_t kMaxSettingsBytes = std::size_t(1) << 20; // 1 MiB
constexpr std::size_t kMaxListBytes = std::size_t(64) << 20;    // 64 MiB

// The twelve keys applied to a settings file's text, every other line kept
// byte for byte.
std::string applyKeys(const std::string& text, const std::string listPaths[3],
                      const StoredSet& set);

struct LoadResult {
    enum Problem {
        None,
        SettingsUnreadable, // missing, too large, not a file, not text
        SpeedOutOfRange,    // `text` holds what the file has for it
        SpeedMissing,
        ListUnreadable, // missing, too large, not a file
        ListNotText,
        TooLarge, // a file over its limit (kMaxSettingsBytes, kMaxListBytes)
    } problem = None;
    std::string path;       // the file concerned
    std::string text;       // the speed as the file gives it
    int series = 0;         // 1 to 3 where a list is concerned
    std::uint64_t size = 0; // the size of a file too large
};

// Reads a settings file and its three list files into `set`, all of it or
// nothing: `set` is written only when everything reads. Flags read as on
// only for the value 1; Speed must be 1 to 9. A relative list path counts
// from the settings file's folder, a relative image path from its list
// file's folder.
LoadResult load(const std::string& settingsPath, StoredSet& set);

// Saves a set under `settingsPath` (text and file system path, UTF-8): the
// twelve keys of the settings file, in their order, and the three list files
// named after it. Every file is checked before anything is written: its name
// fits the file system, the four are four different files, and each stays
// within what Load accepts. The list files are written under temporary names first and
// moved into place only when the settings file has been written, which is
// replaced in one step with all twelve keys applied; a save that fails leaves
// a set saved earlier under that name loadable, and one refused before
// writing (too long, not a file, line break, write-protected) changes
// nothing. A settings or list file that is a symbolic link of the user's own
// (or root's) is written through the link, which stays; a link of another
// user, or a loop of links, is refused. In a folder that takes no new files
// (a shared folder whose files are writable) the files that exist are written
// in place instead, which is not a one-step replacement; so is a file of
// another user in a sticky folder (which only they may replace), or it is
// refused when the user may not write it. Every write goes to the file the
// checks approved: a link or other file put at a name after the checks stops
// the save with Changed, before anything is written where that can be seen.
SaveResult save(const std::string& settingsPath, const StoredSet& set);

// The list files a save under `settingsPath` would write over that are not
// the lists the settings file there names now (all existing ones when there
// is no settings file): another set's or the user's own files.
std::vector<std::string> foreignLists(const std::string& settingsPath);

} // namespace SetFile
