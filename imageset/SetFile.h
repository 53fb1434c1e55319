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

} // namespace SetFile
