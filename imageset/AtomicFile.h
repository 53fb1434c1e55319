#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Replacing files without ever leaving a half-written one: the new content
// goes to a temporary file in the same folder, which is then renamed over the
// target in one step. A failure at any point leaves the target as it was.
namespace AtomicFile {

// Writes `bytes` to a new temporary file beside `target`; its path, or an
// empty string when it could not be written (nothing is left behind then).
std::string writeTemporary(const std::string& target, const std::string& bytes);

// Moves a temporary file over its target.
bool commit(const std::string& temporary, const std::string& target);

// Removes a temporary file that will not be committed.
void discard(const std::string& temporary);

// writeTemporary and commit in one.
bool replace(const std::string& target, const std::string& bytes);

// Writes `bytes` over an existing file in place, flushed: for a folder that
// takes no new files, where no temporary can be made. Not a one-step
// replacement: a failure midway leaves the file cut short.
bool overwrite(const std::string& target, const std::string& bytes);

// Whether new files can be made in the folder.
bool canCreateIn(const std::string& folder);

// The folder part of a path ("." when it has none).
std::string folderOf(const std::string& path);

// The whole content of a regular file; false when it cannot be opened or
// read, or is larger than `limit` bytes (refused before reading).
bool read(const std::string& path, std::string& bytes, std::size_t limit = SIZE_MAX);

} // namespace AtomicFile
