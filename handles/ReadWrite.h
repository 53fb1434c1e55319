#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

// Reads and writes that a signal does not cut short: a call that returns
// EINTR is made again. errno tells the reason of a failure.
namespace ReadWrite {

// One read of at most `size` bytes: the count read, 0 at the end of the
// file, -1 on an error.
inline ssize_t readSome(int fd, void* out, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, out, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

// Calls `step(done)`, one read or write of what is left after the first
// `done` bytes (the bytes it moved, 0 at the end of a file, -1 on an error),
// until `size` bytes are moved, again after EINTR: the bytes moved, fewer
// than `size` only at the end of a file, or -1 on an error.
template <typename Step> ssize_t repeat(std::size_t size, Step step) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t moved = step(done);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0)
            return -1;
        if (moved == 0)
            break;
        done += static_cast<std::size_t>(moved);
    }
    return static_cast<ssize_t>(done);
}

// Reads until `size` bytes or the end of the file: the count read (less than
// `size` only at the end of the file), -1 on an error.
inline ssize_t readUpTo(int fd, void* out, std::size_t size) {
    auto* at = static_cast<std::uint8_t*>(out);
    return repeat(size, [&](std::size_t done) { return ::read(fd, at + done, size - done); });
}

// Writes all `size` bytes; false on any failure.
inline bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* at = static_cast<const std::uint8_t*>(data);
    return repeat(size, [&](std::size_t done) { return ::write(fd, at + done, size - done); }) ==
           static_cast<ssize_t>(size);
}

// Writes every buffer whole, in order (the buffers are advanced as they are
// written); false on any failure.
inline bool writeAll(int fd, iovec* parts, int count) {
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

// Reads until `size` bytes at `offset` or the end of the file: the count
// read, -1 on an error.
inline ssize_t readUpToAt(int fd, void* out, std::size_t size, off_t offset) {
    auto* at = static_cast<std::uint8_t*>(out);
    return repeat(size, [&](std::size_t done) {
        return ::pread(fd, at + done, size - done, offset + off_t(done));
    });
}

// Writes all `size` bytes at `offset`; false on any failure.
inline bool writeAllAt(int fd, const void* data, std::size_t size, off_t offset) {
    const auto* at = static_cast<const std::uint8_t*>(data);
    return repeat(size, [&](std::size_t done) {
               return ::pwrite(fd, at + done, size - done, offset + off_t(done));
           }) == static_cast<ssize_t>(size);
}

} // namespace ReadWrite
