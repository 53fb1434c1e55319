#pragma once

#include <cstddef>
#include <string>

// Reading and writing one key of one section of an INI-layout file, the way
// the settings file of a set is kept: "[Section]" lines open sections, "key=value"
// lines give keys. Texts are UTF-8.
//
// Conventions, where files written by hand differ:
// - section and key names match without regard to ASCII letter case, and
//   the first matching section and, in it, the first matching key count;
// - spaces and tabs around names and values are ignored, and a value in
//   matching single or double quotes loses the quotes;
// - lines starting with ';' or '#' are comments, lines without '=' carry no
//   key, and lines before the first section belong to none;
// - CR LF, LF and CR line ends are all read; a write keeps every other line
//   byte for byte and uses the file's own line end for lines it adds (LF in
//   a new file).
namespace IniProfile {

// A value arrives in a buffer of 260 characters with its terminating null:
// at most 259 characters (UTF-16 units, never splitting a character).
constexpr std::size_t kValueCharacters = 259;

// The value of the key, or `fallback` when the file, the section or the key
// is missing. A key present with an empty value gives the empty text.
std::string read(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& fallback);

// Writes the key: replaces its value where it stands, or else appends it at
// the end of its section, or else appends the section at the end of the file,
// creating the file when needed. The file is replaced in one step, so a
// failed write leaves it as it was. False when it could not be written, or
// when a name or the value holds a line break.
bool write(const std::string& path, const std::string& section, const std::string& key,
           const std::string& value);

// The same on a file's content held in memory.
std::string readText(const std::string& text, const std::string& section, const std::string& key,
                     const std::string& fallback);
std::string writeText(const std::string& text, const std::string& section, const std::string& key,
                      const std::string& value);

// The first `units` UTF-16 units of a UTF-8 text, without splitting a character.
std::string cutToUtf16Units(const std::string& text, std::size_t units);

} // namespace IniProfile
