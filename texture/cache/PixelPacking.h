#pragma once

#include <cstddef>
#include <cstdint>

// The pixel work of the texture cache's entries, kept apart from their file
// format: the fingerprint that guards an entry, and the packing of opaque
// four-byte pixels to three bytes and their widening back. Each runs sixteen
// pixels a step with byte shuffles where the CPU has them (SSSE3, asked at
// run time) and word by word elsewhere, with the same result.
namespace PixelPacking {

// A 64-bit fingerprint of `size` bytes, continuing from `seed`: any change
// of a single 8-byte word changes it, and other damage does with a chance of
// one in 2^64 of going unseen. It runs at several bytes per cycle, so that
// checking a texture costs a small part of reading it.
std::uint64_t fingerprint(const std::uint8_t* data, std::size_t size, std::uint64_t seed);

// Copies `count` four-byte pixels to `out` as three bytes each, and sets
// `check` to the fingerprint of what it wrote, from `seed`; false, with
// `out` partly written, when one's alpha is not 255.
bool packOpaque(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out,
                std::uint64_t seed, std::uint64_t& check);

// Widens `count` three-byte pixels at `from` to four with alpha 255 at `to`,
// front to back, and returns the fingerprint of the three-byte ones from
// `seed`. `from` may lie inside the wider pixels, at least `count` bytes
// after `to`.
std::uint64_t widenOpaque(const std::uint8_t* from, std::size_t count, std::uint8_t* to,
                          std::uint64_t seed);

} // namespace PixelPacking
