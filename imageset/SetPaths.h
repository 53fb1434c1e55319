#pragma once

#include <string>

// Path and link rules of set files: where a relative path leads, where a
// write through a link goes, and which files a save may not touch.
namespace SetPaths {

// A relative path counted from `folder`; an absolute or empty one as it is.
std::string resolvedFrom(const std::string& folder, const std::string& path);

// Where a write to `path` must go so that a symbolic link there stays a link.
std::string throughLinks(const std::string& path);

// A file that exists and that no one may write to: the user protected it.
bool writeProtected(const std::string& path);

// Whether the last component of the path is longer than its folder's file
// system allows for a name.
bool nameTooLong(const std::string& path);

// Whether two paths name one file: the same device and inode where both
// exist, else the same path once links and dots are resolved.
bool sameFile(const std::string& a, const std::string& b);

} // namespace SetPaths
