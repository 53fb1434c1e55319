#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// How a PixelBuffer's memory goes back: unmapped when it is a mapping of its
// own (`mapped` bytes long), otherwise to the heap.
struct PixelBufferFree {
    std::size_t mapped = 0;
    void operator()(std::uint8_t* memory) const noexcept;
};

// A byte buffer that only grows and is reused from one load to the next.
// Freshly allocated memory is expensive to touch the first time, so the
// large decode and texture buffers live as long as their owner.
class PixelBuffer {
  public:
    // A buffer of at least `size` bytes with unspecified contents, or null
    // when that much memory cannot be had.
    std::uint8_t* reserve(std::size_t size);

    std::uint8_t* data() { return storage.get(); }
    std::size_t capacity() const { return allocated; }

    // Gives the memory back (for owners that go idle).
    void release();

  private:
    using Storage = std::unique_ptr<std::uint8_t, PixelBufferFree>;
    Storage storage;
    std::size_t allocated = 0;
};
