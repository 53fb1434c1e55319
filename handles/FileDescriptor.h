#pragma once

#include <dirent.h>
#include <memory>
#include <unistd.h>
#include <utility>

// One open file descriptor, closed when its owner goes. Move-only: a
// descriptor has exactly one owner, and handing it on (std::move) leaves the
// old owner empty. An empty owner holds -1.
class FileDescriptor {
  public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const noexcept { return fd; }
    explicit operator bool() const noexcept { return fd >= 0; }

    // Gives the descriptor up without closing it; the owner is then empty.
    int release() noexcept { return std::exchange(fd, -1); }
    // Closes the descriptor held (if any) and takes `other` instead.
    void reset(int other = -1) noexcept {
        const int old = std::exchange(fd, other);
        if (old >= 0)
            ::close(old);
    }
    // Closes now and tells whether the system closed it without an error (a
    // delayed write error of the file can show only here). The descriptor is
    // gone either way, even after EINTR: it is never closed twice.
    bool close() noexcept {
        const int old = release();
        return old < 0 || ::close(old) == 0;
    }

  private:
    int fd = -1;
};

// An open directory stream, closed with closedir when its owner goes.
struct CloseDirectory {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirectoryStream = std::unique_ptr<DIR, CloseDirectory>;

// A stream over the directory open at `fd`, which it then owns; when the
// stream cannot be made, `fd` is closed and the result is empty.
inline DirectoryStream openDirectory(FileDescriptor fd) {
    DirectoryStream dir(fd ? ::fdopendir(fd.get()) : nullptr);
    if (dir)
        fd.release(); // closed with the stream
    return dir;
}
