#pragma once

#include <cstdint>
#include <vector>

// A photo-like JPEG for measurements: a seeded fractal landscape of colour
// with fine noise on top, so that it compresses like a camera picture (about
// 2.6 bits per pixel) rather than like flat test colours.
std::vector<std::uint8_t> makePhotoLikeJpeg(int width, int height, std::uint32_t seed,
                                            int quality = 90);
