#include "AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

std::function<void(const std::string& path)> beforeWrite;

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads an open file to its end (and closes it): only a regular file, of at
// most `limit` bytes, measured before and while reading.
bool readAll(int fd, std::string& bytes, std::size_t limit) {
    bytes.clear();
    if (fd < 0)
        return false;
    struct stat info{};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<unsigned long long>(info.st_size) <= limit;
    char chunk[65536];
    while (ok) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
        ok = bytes.size() <= limit; // grown since it was measured
    }
    ::close(fd);
    return ok;
}

void announce(const std::string& path) {
    if (beforeWrite)
        beforeWrite(path);
}

// Opened without following a link at the name and without waiting on a FIFO.
constexpr int kNoSurprises = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

} // namespace

Slot& Slot::operator=(Slot&& other) noexcept {
    if (this != &other) {
        if (folder >= 0)
            ::close(folder);
        folder = other.folder;
        other.folder = -1;
        whole = std::move(other.whole);
        name = std::move(other.name);
        found = other.found;
        device = other.device;
        inode = other.inode;
        fileMode = other.fileMode;
        dirMode = other.dirMode;
        fileOwner = other.fileOwner;
        dirOwner = other.dirOwner;
    }
    return *this;
}

Slot::~Slot() {
    if (folder >= 0)
        ::close(folder);
}

bool Slot::open(const std::string& path) {
    *this = Slot();
    whole = path;
    const std::size_t slash = path.find_last_of('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    folder = ::open(folderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat info{};
    if (folder < 0 || ::fstat(folder, &info) != 0)
        return false;
    dirMode = info.st_mode;
    dirOwner = info.st_uid;
    found = ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (found) {
        device = info.st_dev;
        inode = info.st_ino;
        fileMode = info.st_mode;
        fileOwner = info.st_uid;
    }
    return true;
}

bool Slot::regular() const {
    return found && S_ISREG(fileMode);
}

bool Slot::folderTakesFiles() const {
    return ::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

bool Slot::writable() const {
    return regular() && ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) == 0;
}

bool Slot::unchanged() const {
    struct stat info{};
    const bool there = ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!there)
        return !found && errno == ENOENT;
    return found && info.st_dev == device && info.st_ino == inode &&
           (info.st_mode & S_IFMT) == (fileMode & S_IFMT);
}

int Slot::openChecked() const {
    if (!regular())
        return -1;
    announce(whole);
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | kNoSurprises);
    struct stat info{};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == device &&
        info.st_ino == inode)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool Slot::read(std::string& bytes, std::size_t limit) const {
    bytes.clear();
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | kNoSurprises);
    struct stat info{};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || info.st_dev != device || info.st_ino != inode)) {
        ::close(fd);
        return false;
    }
    return readAll(fd, bytes, limit);
}

std::string Slot::writeTemporary(const std::string& bytes) const {
    mode_t mode = fileMode & 07777;
    if (!regular()) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    static std::mt19937 random{std::random_device{}()};
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = ".orbivue-";
        for (int i = 0; i < 6; ++i)
            temporary += letters[random() % (sizeof letters - 1)];
        announce(whole);
        // O_EXCL: a name taken meanwhile, by a link or anything else, is never
        // opened.
        const int fd = ::openat(folder, temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return {};
        const bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
        if (::close(fd) != 0 || !ok) {
            ::unlinkat(folder, temporary.c_str(), 0);
            return {};
        }
        return temporary;
    }
    return {};
}

bool Slot::commit(const std::string& temporary) const {
    announce(whole);
    // A rename replaces whatever is at the name and follows no link; checked
    // once more just before, so that what the user approved is what goes.
    if (!unchanged() || ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        discard(temporary);
        return false;
    }
    return true;
}

void Slot::discard(const std::string& temporary) const {
    if (!temporary.empty())
        ::unlinkat(folder, temporary.c_str(), 0);
}

bool writeOver(int fd, const std::string& bytes) {
    if (fd < 0)
        return false;
    const bool ok = ::ftruncate(fd, 0) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

bool replace(const std::string& target, const std::string& bytes) {
    Slot slot;
    if (!slot.open(target) || (slot.exists() && !slot.regular()))
        return false;
    const std::string temporary = slot.writeTemporary(bytes);
    return !temporary.empty() && slot.commit(temporary);
}

bool read(const std::string& path, std::string& bytes, std::size_t limit) {
    return readAll(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC), bytes,
                   limit);
}

} // namespace AtomicFile
