#include "cache/EntryFile.h"

#include "ReadWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace EntryFile {

bool directOff(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) == 0;
}

int openDirect(int dirFd, const char* name, int flags, mode_t mode) {
    const int fd = ::openat(dirFd, name, flags | O_DIRECT, mode);
    if (fd >= 0 || errno != EINVAL)
        return fd;
    return ::openat(dirFd, name, flags, mode);
}

bool Source::read(std::uint8_t* out, std::size_t n) {
    if (loaded < 0) {
        loaded = ReadWrite::readUpToAt(fd, head,
                                       std::min(sizeof head, CacheEntry::roundUpToBlock(size)), 0);
        if (loaded < 0 && errno == EINVAL && directOff(fd))
            loaded = ReadWrite::readUpToAt(fd, head, std::min(sizeof head, size), 0);
        error = loaded < 0;
    }
    if (loaded < 0 || position + n > static_cast<std::size_t>(loaded))
        return false;
    std::memcpy(out, head + position, n);
    position += n;
    return true;
}
CacheEntry::Outcome Source::readPixels(PixelBuffer& pixels, std::size_t n, std::size_t room,
                                       std::size_t ahead, std::uint8_t*& level0,
                                       std::uint64_t& trailer) {
    const std::size_t whole = n + sizeof trailer;
    std::uint8_t* buffer = pixels.reserve(
        CacheEntry::roundUpToBlock(std::max(room, ahead + whole)) + CacheEntry::kBlock);
    if (buffer == nullptr)
        return CacheEntry::Outcome::NoMemory;
    level0 = reinterpret_cast<std::uint8_t*>(
        CacheEntry::roundUpToBlock(reinterpret_cast<std::uintptr_t>(buffer)));
    std::uint8_t* to = level0 + ahead;
    ssize_t got = -1;
    if (position % CacheEntry::kBlock == 0)
        got = ReadWrite::readUpToAt(fd, to, CacheEntry::roundUpToBlock(whole), off_t(position));
    if (got < 0 && (position % CacheEntry::kBlock != 0 || errno == EINVAL) && directOff(fd))
        got = ReadWrite::readUpToAt(fd, to, whole, off_t(position));
    error = got < 0;
    if (got != static_cast<ssize_t>(whole))
        return CacheEntry::Outcome::Wrong;
    std::memcpy(&trailer, to + n, sizeof trailer);
    position += whole;
    return CacheEntry::Outcome::Read;
}

} // namespace EntryFile
