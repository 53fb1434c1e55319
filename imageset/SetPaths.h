#pragma once

#include <string>
#include <unordered_map>
#include <utility>

// Path and link rules of set files: where a relative path leads, where a
// write through a link goes, and which files a save may not touch.
namespace SetPaths {

// Resolves relative paths against one folder as opening them would: ".."
// climbs from the real folder, through links, not from the text of the path,
// and only out of a folder that exists: "nothere/../a.txt" leads nowhere
// when there is no "nothere", and stays as written. The folders met are
// resolved once each.
class Resolver {
  public:
    explicit Resolver(std::string folder) : base(std::move(folder)) {}
    // A relative path counted from the folder; an absolute or empty one as it
    // is. The last component is kept as written (a link stays a link).
    std::string resolve(const std::string& path);

  private:
    std::string base, realBase;
    std::unordered_map<std::string, std::string> folders; // as written -> real
};

// Where a write to `path` must go so that a symbolic link there stays a
// link. Links are followed only when they belong to the user who saves or to
// root: one that another user planted (in a shared folder, say) could point
// at any file of ours. A dangling link leads to the file it names, which the
// write creates.
struct Target {
    enum Outcome {
        Ok,
        ForeignLink, // `path` is a link of another user
        LinkLoop,    // links that never reach a file
    } outcome = Ok;
    std::string path; // where to write; with a problem, the link concerned
};
Target throughLinks(const std::string& path);

// A file that exists and that no one may write to: the user protected it.
bool writeProtected(const std::string& path);

// Whether the last component of the path is longer than its folder's file
// system allows for a name.
bool nameTooLong(const std::string& path);

// Whether two paths name one file: the same device and inode where both
// exist, else the same path once links and dots are resolved.
bool sameFile(const std::string& a, const std::string& b);

} // namespace SetPaths
