#include "Mipmaps.h"

#include <algorithm>

namespace Mipmaps {

namespace {

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// Both sides above 1: each output byte is the rounded mean of a 2 x 2 block.
void halve2d(const std::uint8_t* in, int width, int height, int bpp, std::uint8_t* out) {
    const std::size_t row = static_cast<std::size_t>(width) * bpp;
    const int halfWidth = width / 2, halfHeight = height / 2;
    for (int y = 0; y < halfHeight; ++y) {
        const std::uint8_t* top = in + 2 * y * row;
        const std::uint8_t* bottom = top + row;
        std::uint8_t* o = out + static_cast<std::size_t>(y) * halfWidth * bpp;
        for (int x = 0; x < halfWidth; ++x) {
            for (int c = 0; c < bpp; ++c) {
                const int sum = top[c] + top[bpp + c] + bottom[c] + bottom[bpp + c];
                o[c] = static_cast<std::uint8_t>((sum + 2) / 4);
            }
            top += 2 * bpp;
            bottom += 2 * bpp;
            o += bpp;
        }
    }
}

// One side is 1: neighbouring pixel pairs along the other side are averaged.
void halve1d(const std::uint8_t* in, int length, int bpp, std::uint8_t* out) {
    for (int i = 0; i < length / 2; ++i) {
        for (int c = 0; c < bpp; ++c)
            out[c] = static_cast<std::uint8_t>((in[c] + in[bpp + c]) / 2);
        in += 2 * bpp;
        out += bpp;
    }
}

} // namespace

bool buildable(int width, int height) {
    return powerOfTwo(width) && powerOfTwo(height);
}

int levelsBelow(int width, int height) {
    int levels = 0;
    while (width > 1 || height > 1) {
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        ++levels;
    }
    return levels;
}

std::size_t bytesBelow(int width, int height, int bytesPerPixel) {
    std::size_t bytes = 0;
    while (width > 1 || height > 1) {
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        bytes += static_cast<std::size_t>(width) * height * bytesPerPixel;
    }
    return bytes;
}

void build(const std::uint8_t* level0, int width, int height, int bytesPerPixel,
           std::uint8_t* out) {
    const std::uint8_t* in = level0;
    while (width > 1 || height > 1) {
        if (width > 1 && height > 1)
            halve2d(in, width, height, bytesPerPixel, out);
        else
            halve1d(in, std::max(width, height), bytesPerPixel, out);
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        in = out;
        out += static_cast<std::size_t>(width) * height * bytesPerPixel;
    }
}

} // namespace Mipmaps
