#include "TextureCache.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Temporary files start with this; they are left alone for a day in case
// another viewer is still writing them.
constexpr const char* kTemporaryPrefix = ".tmp-";
constexpr std::time_t kStaleTemporarySeconds = 24 * 60 * 60;
// Entries written but not yet flushed and named: each holds an open file.
constexpr std::size_t kMostPending = 256;

// An entry read from an open file.
class FileSource : public CacheEntry::Source {
  public:
    FileSource(int f, std::size_t n) : fd(f), size(n) {}
    bool read(std::uint8_t* out, std::size_t n) override {
        while (n > 0) {
            const ssize_t got = ::read(fd, out, n);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    std::size_t length() const override { return size; }

  private:
    int fd;
    std::size_t size;
};

// Writes every buffer whole; false on any failure (errno tells which).
bool writeAll(int fd, iovec* parts, int count) {
    while (count > 0) {
        const ssize_t done = ::writev(fd, parts, count);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        auto left = static_cast<std::size_t>(done);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<std::uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return true;
}

// Makes every missing folder of an absolute path, 0700 as new cache folders
// should be; true when the path is a folder afterwards.
bool makeFolders(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return false;
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The bytes a file takes on disk.
std::uint64_t onDisk(const struct stat& info) {
    return static_cast<std::uint64_t>(info.st_blocks) * 512u;
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

} // namespace

std::string TextureCache::userFolder() {
    // A relative XDG_CACHE_HOME is to be ignored, as an unset one.
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/orbivue";
    std::string home;
    if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') {
        home = h;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> text(16384);
        if (getpwuid_r(::geteuid(), &entry, text.data(), text.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    return home.empty() ? std::string() : home + "/.cache/orbivue";
}

std::uint64_t TextureCache::parseLimit(const char* setting) {
    if (setting == nullptr || *setting == '\0')
        return kDefaultLimit;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(setting, &end, 10);
    if (errno != 0 || end == setting || setting[0] == '-')
        return kDefaultLimit;
    unsigned shift = 20; // a plain number counts MiB
    switch (*end) {
    case 'K':
    case 'k':
        shift = 10;
        ++end;
        break;
    case 'M':
    case 'm':
        shift = 20;
        ++end;
        break;
    case 'G':
    case 'g':
        shift = 30;
        ++end;
        break;
    case 'T':
    case 't':
        shift = 40;
        ++end;
        break;
    case '\0':
        break;
    default:
        return kDefaultLimit;
    }
    if (*end == 'B' || *end == 'b' || (*end == 'i' && (end[1] == 'B' || end[1] == 'b')))
        end += *end == 'i' ? 2 : 1;
    if (*end != '\0')
        return kDefaultLimit;
    if (value > (~0ull >> shift))
        return ~0ull;
    return static_cast<std::uint64_t>(value) << shift;
}

std::shared_ptr<TextureCache> TextureCache::forUser() {
    const std::uint64_t limit = parseLimit(std::getenv("ORBIVUE_CACHE_SIZE"));
    if (limit == 0)
        return nullptr;
    const std::string path = userFolder();
    return path.empty() ? nullptr : open(path, limit);
}

std::shared_ptr<TextureCache> TextureCache::open(const std::string& path, std::uint64_t limit) {
    if (limit == 0 || path.empty() || path[0] != '/')
        return nullptr;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    const std::string parent = slash == 0 ? "/" : trimmed.substr(0, slash);
    const std::string leaf = trimmed.substr(slash + 1);
    if (leaf.empty() || leaf == "." || leaf == ".." || !makeFolders(parent))
        return nullptr;

    const int parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return nullptr;
    if (::mkdirat(parentFd, leaf.c_str(), 0700) != 0 && errno != EEXIST) {
        ::close(parentFd);
        return nullptr;
    }
    // The cache folder itself is never reached through a link, and must be
    // the user's: another user's folder could hand us their files.
    const int fd =
        ::openat(parentFd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(parentFd);
    if (fd < 0)
        return nullptr;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        ((info.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0)) {
        ::close(fd);
        return nullptr;
    }
    std::shared_ptr<TextureCache> cache;
    try {
        cache.reset(new TextureCache(fd, trimmed, limit));
    } catch (...) { // no thread to be had: no cache
        return nullptr;
    }
    return cache;
}

TextureCache::TextureCache(int folderFd, std::string path, std::uint64_t bound)
    : dirFd(folderFd), folder(std::move(path)), limit(bound) {
    roomBytes = effectiveLimit(0);
    try {
        committer = std::thread([this] { commitLoop(); });
    } catch (...) {
        ::close(dirFd);
        throw;
    }
}

TextureCache::~TextureCache() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    committer.join();
    ::close(dirFd);
}

std::uint64_t TextureCache::effectiveLimit(std::uint64_t current) const {
    // Never more than keeps a tenth of the file system free.
    struct statvfs fs{};
    if (::fstatvfs(dirFd, &fs) != 0)
        return 0;
    const std::uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * unit;
    const std::uint64_t reserve = static_cast<std::uint64_t>(fs.f_blocks) * unit / 10;
    const std::uint64_t allowed = current + free > reserve ? current + free - reserve : 0;
    return std::min(limit, allowed);
}

void TextureCache::remove(const std::string& name) {
    ::unlinkat(dirFd, name.c_str(), 0);
}

bool TextureCache::fetch(const char* path, const struct stat& file, const TextureOptions& options,
                         int maxTextureSize, PixelBuffer& pixels, PixelBuffer& mipmaps,
                         DecodedTexture& result) {
    // Smaller loads after memory ran short are never kept.
    if (path == nullptr || options.halvings != 0 || !S_ISREG(file.st_mode))
        return false;
    const CacheEntry::Key key = CacheEntry::keyFor(path, file, options, maxTextureSize);
    const std::string name = CacheEntry::entryName(key);
    std::string where = name;
    {
        // Written by this process but not yet flushed: read where it is.
        std::lock_guard<std::mutex> lock(mutex);
        if (auto found = unnamed.find(name); found != unnamed.end())
            where = found->second;
    }
    const int fd = ::openat(dirFd, where.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == EACCES) // a link, or what is not ours to read
            remove(where);
        return false;
    }
    struct stat info{};
    bool used = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                (info.st_mode & 077) == 0;
    if (used) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        FileSource source(fd, static_cast<std::size_t>(info.st_size));
        used = CacheEntry::read(source, &key, pixels, mipmaps, result);
    }
    if (used) {
        ::futimens(fd, nullptr); // used now: the last to go when trimming
        ++fetchCount;
    }
    ::close(fd);
    if (!used) {
        remove(where);
        result = DecodedTexture();
    }
    return used;
}

void TextureCache::store(const char* path, const struct stat& before, const TextureOptions& options,
                         int maxTextureSize, const DecodedTexture& decoded) {
    if (path == nullptr || !decoded.ok || decoded.outOfMemory || options.halvings != 0 ||
        decoded.pixels == nullptr)
        return;
    // Only what was decoded from the file as it still is.
    struct stat after{};
    if (::stat(path, &after) != 0 || !CacheEntry::sameFile(before, after))
        return;
    const CacheEntry::Key key = CacheEntry::keyFor(path, before, options, maxTextureSize);
    std::vector<std::uint8_t> head = CacheEntry::header(key, decoded);
    const std::size_t level0 = CacheEntry::pixelBytes(decoded);
    const std::uint64_t total = head.size() + level0 + 8;

    std::string temporary;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!storing || stopping || pending.size() >= kMostPending ||
            storedBytes + total > roomBytes)
            return;
        storedBytes += total;
        temporary = kTemporaryPrefix + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++) + "-" + CacheEntry::entryName(key);
    }
    auto giveBack = [&](bool stopStoring) {
        std::lock_guard<std::mutex> lock(mutex);
        storedBytes -= total;
        if (stopStoring)
            storing = false;
    };
    const int fd = ::openat(dirFd, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        giveBack(errno == ENOSPC || errno == EROFS || errno == EDQUOT || errno == EACCES);
        return;
    }
    std::uint64_t check = CacheEntry::fingerprint(
        decoded.pixels, level0, CacheEntry::fingerprint(head.data(), head.size(), 0));
    iovec parts[3] = {{head.data(), head.size()},
                      {const_cast<std::uint8_t*>(decoded.pixels), level0},
                      {&check, sizeof check}};
    if (::fchmod(fd, 0600) != 0 || !writeAll(fd, parts, 3)) {
        const int error = errno;
        ::close(fd);
        ::unlinkat(dirFd, temporary.c_str(), 0);
        giveBack(error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::string name = CacheEntry::entryName(key);
        pending.push_back({fd, temporary, name});
        unnamed[name] = temporary;
    }
    wake.notify_all();
}

void TextureCache::commit(Pending& p) {
    const bool flushed = ::fdatasync(p.fd) == 0;
    ::close(p.fd);
    const bool named =
        flushed && ::renameat(dirFd, p.temporary.c_str(), dirFd, p.name.c_str()) == 0;
    if (!named)
        ::unlinkat(dirFd, p.temporary.c_str(), 0);
    std::lock_guard<std::mutex> lock(mutex);
    if (auto found = unnamed.find(p.name); found != unnamed.end() && found->second == p.temporary)
        unnamed.erase(found);
    if (named)
        ++storeCount;
}

void TextureCache::commitLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock,
                  [&] { return stopping || ((!pending.empty() || trimWanted) && preloads == 0); });
        if (!pending.empty() && (preloads == 0 || stopping)) {
            Pending p = std::move(pending.front());
            pending.pop_front();
            busy = true;
            lock.unlock();
            commit(p);
            lock.lock();
        } else if (trimWanted && preloads == 0) {
            trimWanted = false;
            busy = true;
            lock.unlock();
            trimNow();
            lock.lock();
        } else {
            break; // stopping, with nothing left to do
        }
        busy = false;
        idle.notify_all();
    }
}

void TextureCache::preloadStarted() {
    std::lock_guard<std::mutex> lock(mutex);
    ++preloads;
}

void TextureCache::preloadEnded() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        --preloads;
    }
    wake.notify_all();
}

void TextureCache::trim() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        trimWanted = true;
    }
    wake.notify_all();
}

void TextureCache::settle() {
    std::unique_lock<std::mutex> lock(mutex);
    idle.wait(lock, [&] { return pending.empty() && !trimWanted && !busy; });
}

namespace {

struct Found {
    std::time_t used;
    long usedNanoseconds;
    std::uint64_t bytes;
    std::string name;
};

// The entries and temporary files of the folder; links, folders and files of
// other users under an entry's name are removed on the way.
std::vector<Found> listEntries(int dirFd, std::vector<Found>* temporaries) {
    std::vector<Found> entries;
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return entries;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return entries;
    }
    while (const dirent* e = ::readdir(dir)) {
        const bool entry = CacheEntry::isEntryName(e->d_name);
        const bool temporary = startsWith(e->d_name, kTemporaryPrefix);
        if (!entry && !temporary)
            continue;
        struct stat info{};
        if (::fstatat(dirFd, e->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            if (!S_ISDIR(info.st_mode))
                ::unlinkat(dirFd, e->d_name, 0);
            continue;
        }
        Found f{info.st_mtim.tv_sec, info.st_mtim.tv_nsec, onDisk(info), e->d_name};
        if (entry)
            entries.push_back(std::move(f));
        else if (temporaries != nullptr)
            temporaries->push_back(std::move(f));
    }
    ::closedir(dir);
    return entries;
}

} // namespace

void TextureCache::trimNow() {
    std::vector<Found> temporaries;
    std::vector<Found> entries = listEntries(dirFd, &temporaries);
    // A temporary file this old was left by a viewer that did not finish.
    const std::time_t now = std::time(nullptr);
    for (const Found& t : temporaries)
        if (now - t.used > kStaleTemporarySeconds)
            remove(t.name);

    std::sort(entries.begin(), entries.end(), [](const Found& a, const Found& b) {
        return a.used != b.used ? a.used < b.used : a.usedNanoseconds < b.usedNanoseconds;
    });
    std::uint64_t total = 0;
    for (const Found& e : entries)
        total += e.bytes;
    const std::uint64_t bound = effectiveLimit(total);
    for (const Found& e : entries) {
        if (total <= bound)
            break;
        remove(e.name);
        total -= e.bytes;
    }
    const std::uint64_t room = effectiveLimit(0);
    std::lock_guard<std::mutex> lock(mutex);
    storedBytes = 0;
    roomBytes = room;
    storing = true;
}

std::uint64_t TextureCache::sizeOnDisk() {
    std::vector<Found> temporaries;
    std::uint64_t total = 0;
    for (const Found& e : listEntries(dirFd, &temporaries))
        total += e.bytes;
    for (const Found& t : temporaries)
        total += t.bytes;
    return total;
}
