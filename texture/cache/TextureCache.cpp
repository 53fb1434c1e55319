#include "cache/TextureCache.h"

#include "ReadWrite.h"
#include "cache/EntryFile.h"
#include "cache/PixelPacking.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Temporary files are named .tmp-PID-N-ENTRY by the process that writes
// them. Those of a process that no longer runs are removed at the next trim;
// those of a running one count against the bound, and are removed once a day
// old (the number may since have gone to another process).
constexpr const char* kTemporaryPrefix = ".tmp-";
constexpr std::time_t kStaleTemporarySeconds = 24 * 60 * 60;
// Entries written but not yet flushed and named: each holds an open file.
constexpr std::size_t kMostPending = 256;

constexpr std::size_t kBlock = CacheEntry::kBlock;

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

// The process that wrote a temporary file, by its name; 0 when the name
// does not tell.
pid_t writerOf(const char* name) {
    const char* digits = name + std::strlen(kTemporaryPrefix);
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(digits, &end, 10);
    if (errno != 0 || end == digits || *end != '-' || pid <= 0 || pid != pid_t(pid))
        return 0;
    return static_cast<pid_t>(pid);
}

// Whether a process of that number runs (one of another user's counts).
bool running(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

bool systemProbe(int fd, struct statvfs& state) {
    return ::fstatvfs(fd, &state) == 0;
}

} // namespace

std::string TextureCache::homeFolder() {
    if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/')
        return h;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> text(16384);
    if (getpwuid_r(::geteuid(), &entry, text.data(), text.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

std::string TextureCache::userFolder() {
    // A relative XDG_CACHE_HOME is to be ignored, as an unset one.
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/orbivue";
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.cache/orbivue";
}

namespace {

// The bytes a setting such as "2G", "0.5 GiB", "750000k" or "300" (MiB)
// means; false when it is none. Units are binary in any spelling and case;
// a decimal part may follow a point or a comma; a size too large to count
// is the largest there is.
bool readSize(const char* setting, std::uint64_t& bytes) {
    const char* at = setting;
    auto skipBlanks = [&] {
        while (*at == ' ' || *at == '\t')
            ++at;
    };
    skipBlanks();
    std::uint64_t whole = 0;
    bool saturated = false, digits = false;
    for (; *at >= '0' && *at <= '9'; ++at, digits = true) {
        const unsigned digit = static_cast<unsigned>(*at - '0');
        saturated = saturated || whole > (~0ull - digit) / 10;
        whole = saturated ? ~0ull : whole * 10 + digit;
    }
    // Up to nine decimals count; more say nothing a cache size needs.
    std::uint64_t fraction = 0, scale = 1;
    if ((*at == '.' || *at == ',') && at[1] >= '0' && at[1] <= '9') {
        for (++at; *at >= '0' && *at <= '9'; ++at, digits = true)
            if (scale < 1000000000) {
                fraction = fraction * 10 + static_cast<unsigned>(*at - '0');
                scale *= 10;
            }
    }
    if (!digits)
        return false;
    skipBlanks();
    unsigned shift = 20; // a plain number counts MiB
    const char unit = *at >= 'a' && *at <= 'z' ? static_cast<char>(*at - 'a' + 'A') : *at;
    if (unit == 'B') {
        shift = 0;
        ++at;
    } else if (const char* units = "KMGT"; unit != '\0' && std::strchr(units, unit) != nullptr) {
        shift = 10 * static_cast<unsigned>(std::strchr(units, unit) - units + 1);
        ++at;
        if (*at == 'i' || *at == 'I')
            ++at;
        if (*at == 'B' || *at == 'b')
            ++at;
    }
    skipBlanks();
    if (*at != '\0')
        return false;
    if (saturated || whole > (~0ull >> shift)) {
        bytes = ~0ull;
        return true;
    }
    bytes = (whole << shift) +
            static_cast<std::uint64_t>((static_cast<unsigned __int128>(fraction) << shift) / scale);
    return true;
}

} // namespace

std::uint64_t TextureCache::parseLimit(const char* setting, std::string* complaint) {
    // Unset, or set to nothing (as `ORBIVUE_CACHE_SIZE= orbivue` does): the
    // default, without a word.
    if (setting == nullptr || setting[std::strspn(setting, " \t")] == '\0')
        return kDefaultLimit;
    std::uint64_t bytes = 0;
    if (readSize(setting, bytes))
        return bytes;
    if (complaint != nullptr)
        *complaint = std::string("orbivue: ORBIVUE_CACHE_SIZE=\"") + setting +
                     "\" is not a size (such as 500M, 1.5G or 0 for none); the texture cache "
                     "keeps at most its default of 2 GiB";
    return kDefaultLimit;
}

std::shared_ptr<TextureCache> TextureCache::forUser() {
    const std::uint64_t limit = parseLimit(std::getenv("ORBIVUE_CACHE_SIZE"));
    if (limit == 0)
        return nullptr;
    const std::string path = userFolder();
    return path.empty() ? nullptr : open(path, limit);
}

std::shared_ptr<TextureCache> TextureCache::open(const std::string& path, std::uint64_t limit,
                                                 RoomProbe probe, std::size_t staging) {
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

    const FileDescriptor parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd || (::mkdirat(parentFd.get(), leaf.c_str(), 0700) != 0 && errno != EEXIST))
        return nullptr;
    // The cache folder itself is never reached through a link, and must be
    // the user's: another user's folder could hand us their files.
    FileDescriptor fd(
        ::openat(parentFd.get(), leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return nullptr;
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        ((info.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0))
        return nullptr;
    std::shared_ptr<TextureCache> cache;
    try {
        cache.reset(new TextureCache(std::move(fd), trimmed, limit,
                                     probe ? std::move(probe) : RoomProbe(systemProbe), staging));
    } catch (...) { // no thread to be had: no cache
        return nullptr;
    }
    return cache;
}

TextureCache::TextureCache(FileDescriptor folderFd, std::string path, std::uint64_t bound,
                           RoomProbe room, std::size_t stagingBytes)
    : dirFd(std::move(folderFd)), folder(std::move(path)), limit(bound), probe(std::move(room)),
      staging(stagingBytes) {
    roomBytes = effectiveLimit(0);
    try {
        committer = std::thread([this] { commitLoop(); });
    } catch (...) {
        dirFd.reset();
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
}

std::uint64_t TextureCache::effectiveLimit(std::uint64_t current) const {
    // Never more than keeps a tenth of the file system free.
    struct statvfs fs{};
    if (!probe(dirFd.get(), fs))
        return 0;
    const std::uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * unit;
    const std::uint64_t reserve = static_cast<std::uint64_t>(fs.f_blocks) * unit / 10;
    const std::uint64_t allowed = current + free > reserve ? current + free - reserve : 0;
    return std::min(limit, allowed);
}

bool TextureCache::roomFor(int fd, std::uint64_t bytes) const {
    // The entry's blocks are taken first and the file system looked at
    // after: of two writers that both take theirs, neither can miss the
    // other's, so together they never go below the tenth kept free.
    int taken = 0;
    while ((taken = ::fallocate(fd, 0, 0, static_cast<off_t>(bytes)) == 0 ? 0 : errno) == EINTR) {
    }
    if (taken != 0 && taken != EOPNOTSUPP && taken != ENOSYS)
        return false;
    struct statvfs fs{};
    if (!probe(fd, fs))
        return false;
    const std::uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * unit;
    const std::uint64_t reserve = static_cast<std::uint64_t>(fs.f_blocks) * unit / 10;
    // Where nothing could be taken ahead, the entry must still fit.
    return taken == 0 ? free >= reserve : free >= reserve + bytes;
}

void TextureCache::remove(const std::string& name) {
    ::unlinkat(dirFd.get(), name.c_str(), 0);
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
    const FileDescriptor fd(EntryFile::openDirect(dirFd.get(), where.c_str(),
                                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ELOOP || errno == EACCES) // a link, or what is not ours to read
            remove(where);
        return false;
    }
    struct stat info{};
    CacheEntry::Outcome outcome = CacheEntry::Outcome::Wrong;
    if (::fstat(fd.get(), &info) != 0) {
        outcome = CacheEntry::Outcome::Unreadable;
    } else if (S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0) {
        EntryFile::Source source(fd.get(), static_cast<std::size_t>(info.st_size));
        outcome = CacheEntry::read(source, &key, pixels, mipmaps, result);
    }
    if (outcome == CacheEntry::Outcome::Read) {
        ::futimens(fd.get(), nullptr); // used now: the last to go when trimming
        ++fetchCount;
    }
    // Only an entry that is itself wrong goes; one this reader could not
    // take (memory ran short, the disk failed) is kept for the next start.
    if (outcome == CacheEntry::Outcome::Wrong)
        remove(where);
    if (outcome != CacheEntry::Outcome::Read)
        result = DecodedTexture();
    return outcome == CacheEntry::Outcome::Read;
}

void TextureCache::store(const char* path, const struct stat& before, const TextureOptions& options,
                         int maxTextureSize, const DecodedTexture& decoded) {
    if (path == nullptr || !decoded.ok || decoded.outOfMemory || options.halvings != 0 ||
        decoded.halvings != 0 || decoded.pixels == nullptr)
        return;
    // Only what was decoded from the file as it still is.
    struct stat after{};
    if (::stat(path, &after) != 0 || !CacheEntry::sameFile(before, after))
        return;
    const CacheEntry::Key key = CacheEntry::keyFor(path, before, options, maxTextureSize);
    std::vector<std::uint8_t> head = CacheEntry::header(key, decoded);
    const std::size_t level0 = CacheEntry::pixelBytes(decoded);
    // The most the entry takes: opaque pixels are kept in a quarter less.
    std::size_t length = head.size() + level0 + 8;

    Stage* stage = nullptr;
    std::vector<Stage> unused;
    std::string temporary;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!storing || stopping || pending.size() + staged.size() >= kMostPending ||
            storedBytes + length > roomBytes)
            return;
        stage = takeStage(CacheEntry::roundUpToBlock(length), unused);
        if (stage == nullptr) {
            // The writing has not kept up: this one is left for the next start.
            ++dropCount;
            return;
        }
        storedBytes += length;
        temporary = kTemporaryPrefix + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++) + "-" + CacheEntry::entryName(key);
    }
    unused.clear(); // unmapped outside the lock
    // The entry is copied out whole, so that the decoder's buffers go on at
    // once; the cache's thread writes it.
    if (!stage->memory) {
        stage->memory = MemoryMapping::populated(stage->capacity);
        if (!stage->memory) {
            std::lock_guard<std::mutex> lock(mutex);
            storedBytes -= length;
            stage->capacity = 0; // taken off at the next release
            stage->busy = false;
            return;
        }
    }
    std::uint8_t* pixels = stage->memory.data() + head.size();
    std::size_t kept = level0;
    std::uint64_t check = 0;
    if (const std::vector<std::uint8_t> opaque = CacheEntry::header(key, decoded, true);
        decoded.bytesPerPixel == 4 &&
        PixelPacking::packOpaque(decoded.pixels, level0 / 4, pixels,
                                 PixelPacking::fingerprint(opaque.data(), opaque.size(), 0),
                                 check)) {
        kept = level0 / 4 * 3;
        head = opaque;
    } else {
        std::memcpy(pixels, decoded.pixels, level0);
        check = PixelPacking::fingerprint(pixels, kept,
                                          PixelPacking::fingerprint(head.data(), head.size(), 0));
    }
    std::memcpy(stage->memory.data(), head.data(), head.size());
    std::memcpy(pixels + kept, &check, sizeof check);
    {
        std::lock_guard<std::mutex> lock(mutex);
        storedBytes -= level0 - kept;
        length -= level0 - kept;
        staged.push_back({stage, length, std::move(temporary), CacheEntry::entryName(key)});
    }
    wake.notify_all();
}

TextureCache::Stage* TextureCache::takeStage(std::size_t bytes, std::vector<Stage>& unused) {
    // A free stage large enough; else a new one, in room that free stages
    // too small give up (their memory goes to `unused`, to be unmapped).
    std::size_t taken = 0;
    for (Stage& s : stages) {
        if (!s.busy && s.capacity >= bytes) {
            s.busy = true;
            return &s;
        }
        taken += s.capacity;
    }
    for (auto s = stages.begin(); s != stages.end() && taken + bytes > staging;) {
        if (s->busy) {
            ++s;
            continue;
        }
        taken -= s->capacity;
        unused.push_back(std::move(*s));
        s = stages.erase(s);
    }
    // One entry larger than the whole area is still taken, alone.
    if (taken > 0 && taken + bytes > staging)
        return nullptr;
    Stage& made = stages.emplace_back();
    made.capacity = bytes;
    made.busy = true;
    return &made;
}

void TextureCache::write(const Staged& entry) {
    auto giveBack = [&](bool stopStoring) {
        std::lock_guard<std::mutex> lock(mutex);
        storedBytes -= entry.length;
        if (stopStoring)
            storing = false;
    };
    FileDescriptor fd(EntryFile::openDirect(dirFd.get(), entry.temporary.c_str(),
                                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                            0600));
    if (!fd) {
        giveBack(errno == ENOSPC || errno == EROFS || errno == EDQUOT || errno == EACCES);
        return;
    }
    auto fail = [&](bool stopStoring) {
        fd.reset();
        ::unlinkat(dirFd.get(), entry.temporary.c_str(), 0);
        giveBack(stopStoring);
    };
    if (!roomFor(fd.get(), entry.length)) {
        fail(true); // full for now: nothing more is written until the next trim
        return;
    }
    // The whole blocks straight from the stage, the last part through the
    // page cache (direct transfers are of whole blocks only).
    const std::uint8_t* bytes = entry.stage->memory.data();
    const std::size_t whole = entry.length / kBlock * kBlock;
    const int out = fd.get();
    bool written = ::fchmod(out, 0600) == 0;
    if (written && whole > 0 && !ReadWrite::writeAllAt(out, bytes, whole, 0))
        written = errno == EINVAL && EntryFile::directOff(out) &&
                  ReadWrite::writeAllAt(out, bytes, whole, 0);
    written = written && (whole == entry.length || EntryFile::directOff(out)) &&
              ReadWrite::writeAllAt(out, bytes + whole, entry.length - whole, off_t(whole));
    if (!written) {
        const int error = errno;
        fail(error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    pending.push_back({std::move(fd), entry.temporary, entry.name});
    unnamed[entry.name] = entry.temporary;
}

void TextureCache::commit(Pending& p) {
    const bool flushed = ::fdatasync(p.fd.get()) == 0;
    p.fd.reset();
    const bool named =
        flushed && ::renameat(dirFd.get(), p.temporary.c_str(), dirFd.get(), p.name.c_str()) == 0;
    if (!named)
        ::unlinkat(dirFd.get(), p.temporary.c_str(), 0);
    std::lock_guard<std::mutex> lock(mutex);
    if (auto found = unnamed.find(p.name); found != unnamed.end() && found->second == p.temporary)
        unnamed.erase(found);
    if (named)
        ++storeCount;
}

bool TextureCache::stagesIdle() const {
    for (const Stage& s : stages)
        if (!s.busy)
            return true;
    return false;
}

void TextureCache::commitLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [&] {
            return stopping || !staged.empty() ||
                   ((!pending.empty() || trimWanted || stagesIdle()) && preloads == 0);
        });
        busy = true;
        if (!staged.empty()) {
            // Written at once, during a preload too: the stage is wanted back.
            const Staged entry = std::move(staged.front());
            staged.pop_front();
            lock.unlock();
            write(entry);
            lock.lock();
            entry.stage->busy = false;
        } else if (stagesIdle() && (preloads == 0 || stopping)) {
            // Everything is written: the stages' memory goes back, before
            // the entries are flushed and named.
            std::vector<Stage> unused;
            for (auto s = stages.begin(); s != stages.end();) {
                if (s->busy) {
                    ++s;
                    continue;
                }
                unused.push_back(std::move(*s));
                s = stages.erase(s);
            }
            lock.unlock();
            unused.clear(); // unmapped outside the lock
            lock.lock();
        } else if (!pending.empty() && (preloads == 0 || stopping)) {
            Pending p = std::move(pending.front());
            pending.pop_front();
            lock.unlock();
            commit(p);
            lock.lock();
        } else if (trimWanted && preloads == 0) {
            trimWanted = false;
            lock.unlock();
            trimNow();
            lock.lock();
        } else {
            busy = false;
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
    idle.wait(lock, [&] {
        return staged.empty() && pending.empty() && !trimWanted && !busy &&
               (preloads > 0 || !stagesIdle());
    });
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
    const DirectoryStream dir =
        openDirectory(FileDescriptor(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!dir)
        return entries;
    while (const dirent* e = ::readdir(dir.get())) {
        const bool entry = CacheEntry::isEntryName(e->d_name);
        const bool temporary = startsWith(e->d_name, kTemporaryPrefix);
        if (!entry && !temporary)
            continue;
        struct stat info{};
        if (::fstatat(dirFd, e->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // The cache writes its files 0600: one that others may read is not
        // one of its own, whatever its name.
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
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
    return entries;
}

} // namespace

void TextureCache::trimNow() {
    std::vector<Found> temporaries;
    std::vector<Found> entries = listEntries(dirFd.get(), &temporaries);
    std::uint64_t total = 0;
    const std::time_t now = std::time(nullptr);
    const pid_t self = ::getpid();
    for (const Found& t : temporaries) {
        // This process's own are being written or wait for their name.
        const pid_t writer = writerOf(t.name.c_str());
        const bool abandoned = writer != self && (writer == 0 || !running(writer));
        if (abandoned || (writer != self && now - t.used > kStaleTemporarySeconds))
            remove(t.name);
        else
            total += t.bytes;
    }

    std::sort(entries.begin(), entries.end(), [](const Found& a, const Found& b) {
        return a.used != b.used ? a.used < b.used : a.usedNanoseconds < b.usedNanoseconds;
    });
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
    for (const Found& e : listEntries(dirFd.get(), &temporaries))
        total += e.bytes;
    for (const Found& t : temporaries)
        total += t.bytes;
    return total;
}
