#pragma once

#include <cstddef>
#include <cstdint>

// Mipmap levels built on the CPU, so that the thread that owns the GL
// context only has to upload them. Each level halves the one above it with a
// 2 x 2 box average; once one side has reached 1 pixel, the other side is
// halved alone by averaging pixel pairs, down to 1 x 1. The rounding is the
// one GLU's mipmap builder uses, so the levels are byte for byte the same.
namespace Mipmaps {

// True for sizes whose levels are built here: both sides powers of two.
// Other sizes are rescaled by GLU before it halves them, and stay with it.
bool buildable(int width, int height);

// Levels below level 0 down to 1 x 1 (0 for a 1 x 1 texture).
int levelsBelow(int width, int height);

// Bytes that levels 1 .. levelsBelow take, one after the other, rows packed
// tightly at `bytesPerPixel` (3 or 4) bytes per pixel.
std::size_t bytesBelow(int width, int height, int bytesPerPixel);

// One row of the level below a level whose sides are both above 1: the
// rounded means of the 2 x 2 blocks of two neighbouring rows of `width`
// pixels (the upper one of the two in the level's row order first).
void halveRows(const std::uint8_t* top, const std::uint8_t* bottom, int width, int bytesPerPixel,
               std::uint8_t* out);

// Writes levels 1 .. levelsBelow of the `width` x `height` level 0 to `out`
// (bytesBelow bytes). Only for buildable sizes.
void build(const std::uint8_t* level0, int width, int height, int bytesPerPixel, std::uint8_t* out);

} // namespace Mipmaps
