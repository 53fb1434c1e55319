#pragma once

#include "cache/CacheEntry.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// Entries as files: opened for direct transfers where the file system has
// them, and read from an open file.
namespace EntryFile {

// Opens a file in the folder for direct transfers, past the page cache: the
// pages of a cache the size of this one would cost more to find memory for
// than the transfer itself. Where the file system has none, as usual.
int openDirect(int dirFd, const char* name, int flags, mode_t mode = 0);

// Turns direct transfers on a file off; true when they are off.
bool directOff(int fd);

// An entry read from an open file: its header in one read of its first
// blocks, its pixels (which begin on a block boundary) straight into the
// caller's buffer.
class Source : public CacheEntry::Source {
  public:
    Source(int f, std::size_t n) : fd(f), size(n) {}
    bool read(std::uint8_t* out, std::size_t n) override;
    CacheEntry::Outcome readPixels(PixelBuffer& pixels, std::size_t n, std::size_t room,
                                   std::size_t ahead, std::uint8_t*& level0,
                                   std::uint64_t& trailer) override;
    std::size_t length() const override { return size; }
    bool failed() const override { return error; }

  private:
    int fd;
    std::size_t size;
    alignas(CacheEntry::kBlock) std::uint8_t head[2 * CacheEntry::kBlock];
    ssize_t loaded = -1;
    std::size_t position = 0;
    bool error = false;
};

} // namespace EntryFile
