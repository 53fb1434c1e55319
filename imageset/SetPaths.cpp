#include "SetPaths.h"

#include "AtomicFile.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace SetPaths {

namespace {

// The real folder `folder` (relative to the real folder `from`) leads to,
// component by component as opening a path goes: a name must be a folder
// that exists (through links) before ".." may climb back out of it; names
// past the last folder that exists are kept as written. Empty when ".."
// would climb out of a folder that does not exist.
std::string realFolder(const std::string& from, const std::string& folder) {
    std::filesystem::path real = folder.empty() || folder[0] != '/' ? from : "/";
    bool missing = false;
    for (const auto& part : std::filesystem::path(folder)) {
        const std::string step = part.string();
        if (step.empty() || step == "." || step == "/")
            continue;
        if (step == ".." && missing)
            return {};
        if (step == "..") {
            real = real.parent_path(); // real holds no links: its parent is the folder above
            continue;
        }
        std::error_code error;
        const std::filesystem::path next = std::filesystem::canonical(real / step, error);
        missing = missing || error || !std::filesystem::is_directory(next, error);
        real = missing ? real / step : next;
    }
    return real.string();
}

} // namespace

std::string Resolver::resolve(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (name.empty() || name == "." || name == "..") { // the path names a folder itself
        folder = path;
        name.clear();
    }
    auto known = folders.find(folder);
    if (known == folders.end()) {
        if (realBase.empty()) {
            std::error_code error;
            realBase = realFolder(std::filesystem::current_path(error).string(), base);
            if (realBase.empty())
                realBase = std::filesystem::path(base).lexically_normal().string();
        }
        std::string text = realFolder(realBase, folder);
        // A folder on the way that does not exist: the path as written, which
        // no open finds either.
        if (text.empty())
            text = base + "/" + folder;
        while (text.size() > 1 && text.back() == '/')
            text.pop_back();
        known = folders.emplace(folder, text).first;
    }
    if (name.empty())
        return known->second;
    return known->second == "/" ? "/" + name : known->second + "/" + name;
}
Target throughLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) { // the kernel's own limit
        struct stat info{};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return {Target::Ok, current};
        if (info.st_uid != ::geteuid() && info.st_uid != 0)
            return {Target::ForeignLink, current};
        char target[4096];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
            return {Target::LinkLoop, current};
        const std::string next(target, static_cast<std::size_t>(length));
        current = next[0] == '/' ? next : AtomicFile::folderOf(current) + "/" + next;
    }
    return {Target::LinkLoop, path};
}

bool writeProtected(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool nameTooLong(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string::npos ? path.size() : path.size() - slash - 1;
    long most = ::pathconf(AtomicFile::folderOf(path).c_str(), _PC_NAME_MAX);
    if (most <= 0)
        most = 255; // what Linux file systems allow when the folder cannot say
    return name > static_cast<std::size_t>(most);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first{}, second{};
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    // Not both there yet: the same name once links and dots are resolved.
    std::error_code errorA, errorB;
    const auto canonicalA = std::filesystem::weakly_canonical(a, errorA);
    const auto canonicalB = std::filesystem::weakly_canonical(b, errorB);
    return !errorA && !errorB && canonicalA == canonicalB;
}

} // namespace SetPaths
