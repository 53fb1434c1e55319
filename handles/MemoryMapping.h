#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <utility>

// An anonymous, private mapping of memory, unmapped when its owner goes.
// Move-only: two owners of one mapping would unmap it twice.
class MemoryMapping {
  public:
    MemoryMapping() = default;
    // `size` bytes with their pages taken at once; empty when they cannot be
    // had.
    static MemoryMapping populated(std::size_t size) {
        void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        return memory == MAP_FAILED ? MemoryMapping() : MemoryMapping(memory, size);
    }
    ~MemoryMapping() { reset(); }
    MemoryMapping(const MemoryMapping&) = delete;
    MemoryMapping& operator=(const MemoryMapping&) = delete;
    MemoryMapping(MemoryMapping&& other) noexcept
        : memory(std::exchange(other.memory, nullptr)), length(std::exchange(other.length, 0)) {}
    MemoryMapping& operator=(MemoryMapping&& other) noexcept {
        if (this != &other) {
            reset();
            memory = std::exchange(other.memory, nullptr);
            length = std::exchange(other.length, 0);
        }
        return *this;
    }

    std::uint8_t* data() const { return static_cast<std::uint8_t*>(memory); }
    std::size_t size() const { return length; }
    explicit operator bool() const { return memory != nullptr; }
    void reset() {
        if (memory != nullptr)
            ::munmap(memory, length);
        memory = nullptr;
        length = 0;
    }

  private:
    MemoryMapping(void* m, std::size_t n) : memory(m), length(n) {}
    void* memory = nullptr;
    std::size_t length = 0;
};
