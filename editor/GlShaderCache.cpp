#include "GlShaderCache.h"

#include "cache/TextureCache.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace GlShaderCache {

namespace {

// Whether `path` is a folder this process may write in, or could be made as
// one by a single mkdir (without making it).
bool folderToBeHad(const std::string& path) {
    struct stat info{};
    if (::stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
    if (errno != ENOENT || path.empty())
        return false;
    const std::size_t slash = path.find_last_of('/', path.size() - 2);
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct statvfs fs{};
    return ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(parent.c_str(), W_OK | X_OK) == 0 && ::statvfs(parent.c_str(), &fs) == 0 &&
           fs.f_bavail > 0 && fs.f_favail > 0;
}

} // namespace

bool usable(const char* cacheHome, const std::string& home) {
    // The GL library makes the cache folder (one level) and its own folder
    // in it, and says so when either cannot be made or is not a folder.
    std::string base;
    if (cacheHome != nullptr)
        base = cacheHome;
    else if (!home.empty())
        base = home + "/.cache";
    else
        return false;
    if (!folderToBeHad(base))
        return false;
    struct stat info{};
    if (::stat(base.c_str(), &info) != 0)
        return true; // made, then its own folder inside: both can be
    const std::string own = base + "/mesa_shader_cache";
    if (!folderToBeHad(own))
        return false;
    // On a full file system its index, mapped into memory, must be there
    // already: pages of a new one that cannot be had end the process.
    struct statvfs fs{};
    return ::stat((own + "/index").c_str(), &info) == 0 ||
           (::statvfs(base.c_str(), &fs) == 0 && fs.f_bavail > 0);
}

void quieten() {
    // A place or a setting the user chose is the user's.
    for (const char* chosen :
         {"MESA_SHADER_CACHE_DISABLE", "MESA_GLSL_CACHE_DISABLE", "MESA_SHADER_CACHE_DIR",
          "MESA_GLSL_CACHE_DIR", "MESA_DISK_CACHE_SINGLE_FILE", "MESA_DISK_CACHE_DATABASE"})
        if (std::getenv(chosen) != nullptr)
            return;
    if (!usable(std::getenv("XDG_CACHE_HOME"), TextureCache::homeFolder()))
        ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
}

} // namespace GlShaderCache
