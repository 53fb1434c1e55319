#include "AtomicFile.h"

#include "ReadWrite.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// Reads an open file to its end: only a regular file, of at most `limit`
// bytes, measured before and while reading.
bool readAll(const FileDescriptor& fd, std::string& bytes, std::size_t limit) {
    bytes.clear();
    if (!fd)
        return false;
    struct stat info{};
    bool ok = ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<unsigned long long>(info.st_size) <= limit;
    char chunk[65536];
    while (ok) {
        const ssize_t n = ReadWrite::readSome(fd.get(), chunk, sizeof chunk);
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
        ok = bytes.size() <= limit; // grown since it was measured
    }
    return ok;
}

bool writeAll(int fd, const std::string& bytes) {
    return ReadWrite::writeAll(fd, bytes.data(), bytes.size());
}

// The process's file mode creation mask, read without changing it: umask()
// tells it only by setting it, and a file another thread made meanwhile
// would get the wrong mode. -1 when the system does not say.
int creationMask() {
    const FileDescriptor fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    std::string status;
    if (!readAll(fd, status, 1 << 20))
        return -1;
    const std::size_t at = status.find("\nUmask:");
    if (at == std::string::npos)
        return -1;
    const char* digits = status.c_str() + at + 7;
    char* end = nullptr;
    const long mask = std::strtol(digits, &end, 8);
    return end != digits && mask >= 0 && mask <= 0777 ? static_cast<int>(mask) : -1;
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
        folder = std::move(other.folder);
        folderError = other.folderError;
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

Slot::~Slot() = default;

bool Slot::open(const std::string& path) {
    *this = Slot();
    whole = path;
    const std::size_t slash = path.find_last_of('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    folder.reset(::open(folderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat info{};
    if (!folder || ::fstat(folder.get(), &info) != 0) {
        folderError = errno;
        return false;
    }
    dirMode = info.st_mode;
    dirOwner = info.st_uid;
    found = ::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
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

int Slot::folderRefusal() const {
    return ::faccessat(folder.get(), ".", W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int Slot::writeRefusal() const {
    if (!found)
        return ENOENT;
    if (!regular())
        return EISDIR; // only a regular file is written over
    return ::faccessat(folder.get(), name.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

bool Slot::unchanged() const {
    struct stat info{};
    const bool there = ::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!there)
        return !found && errno == ENOENT;
    return found && info.st_dev == device && info.st_ino == inode &&
           (info.st_mode & S_IFMT) == (fileMode & S_IFMT);
}

FileDescriptor Slot::openChecked() const {
    if (!regular())
        return {};
    announce(whole);
    FileDescriptor fd(::openat(folder.get(), name.c_str(), O_WRONLY | kNoSurprises));
    struct stat info{};
    if (fd && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == device &&
        info.st_ino == inode)
        return fd;
    return {};
}

bool Slot::read(std::string& bytes, std::size_t limit) const {
    bytes.clear();
    const FileDescriptor fd(::openat(folder.get(), name.c_str(), O_RDONLY | kNoSurprises));
    struct stat info{};
    if (fd && (::fstat(fd.get(), &info) != 0 || info.st_dev != device || info.st_ino != inode))
        return false;
    return readAll(fd, bytes, limit);
}

std::string Slot::writeTemporary(const std::string& bytes) const {
    // A new file gets what the mask leaves of 0666. Without the mask, the
    // file is made 0666 and the kernel applies it.
    const int mask = regular() ? 0 : creationMask();
    const bool kernelMasks = mask < 0;
    const mode_t mode = regular() ? fileMode & 07777 : 0666 & ~static_cast<mode_t>(mask);
    static std::mt19937 random{std::random_device{}()};
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = ".orbivue-";
        for (int i = 0; i < 6; ++i)
            temporary += letters[random() % (sizeof letters - 1)];
        announce(whole);
        // O_EXCL: a name taken meanwhile, by a link or anything else, is never
        // opened.
        FileDescriptor fd(::openat(folder.get(), temporary.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                   kernelMasks ? 0666 : 0600));
        if (!fd && errno == EEXIST)
            continue;
        if (!fd)
            return {};
        const bool ok = (kernelMasks || ::fchmod(fd.get(), mode) == 0) &&
                        writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
        if (!fd.close() || !ok) {
            const int cause = errno; // the reason, not the removal's
            ::unlinkat(folder.get(), temporary.c_str(), 0);
            errno = cause;
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
    if (!unchanged() ||
        ::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) != 0) {
        const int cause = errno;
        discard(temporary);
        errno = cause;
        return false;
    }
    return true;
}

void Slot::discard(const std::string& temporary) const {
    if (!temporary.empty())
        ::unlinkat(folder.get(), temporary.c_str(), 0);
}

bool writeOver(FileDescriptor fd, const std::string& bytes) {
    if (!fd)
        return false;
    const bool ok =
        ::ftruncate(fd.get(), 0) == 0 && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    return fd.close() && ok;
}

bool replace(const std::string& target, const std::string& bytes) {
    Slot slot;
    if (!slot.open(target) || (slot.exists() && !slot.regular()))
        return false;
    const std::string temporary = slot.writeTemporary(bytes);
    return !temporary.empty() && slot.commit(temporary);
}

bool read(const std::string& path, std::string& bytes, std::size_t limit) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return readAll(fd, bytes, limit);
}

} // namespace AtomicFile
