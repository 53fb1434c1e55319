#include "PhotoLikeJpeg.h"

#include "TurboJpegHandles.h"

#include <turbojpeg.h>

#include <cmath>

namespace {

std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// Smoothly interpolated lattice noise in 0 .. 1.
float valueNoise(float x, float y, std::uint32_t seed) {
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    const float fx = x - xi, fy = y - yi;
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    auto v = [&](int dx, int dy) {
        return (hash(static_cast<std::uint32_t>(xi + dx), static_cast<std::uint32_t>(yi + dy),
                     seed) &
                0xFFFF) /
               65535.0f;
    };
    const float top = v(0, 0) + (v(1, 0) - v(0, 0)) * sx;
    const float bottom = v(0, 1) + (v(1, 1) - v(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

} // namespace

std::vector<std::uint8_t> makePhotoLikeJpeg(int width, int height, std::uint32_t seed,
                                            int quality) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    const float base = 4.0f / static_cast<float>(width > height ? width : height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float value = 0, amplitude = 0.5f, frequency = base;
            for (int octave = 0; octave < 7; ++octave) {
                value += amplitude * valueNoise(x * frequency, y * frequency, seed + octave);
                amplitude *= 0.55f;
                frequency *= 2.1f;
            }
            const float grain = ((hash(x, y, seed ^ 0x9E3779B9u) & 0xFF) / 255.0f - 0.5f) * 0.12f;
            const float v = value + grain;
            const float sky = static_cast<float>(y) / height;
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            auto clamp = [](float c) {
                return static_cast<std::uint8_t>(c < 0 ? 0 : c > 1 ? 255 : c * 255.0f);
            };
            p[0] = clamp(v * (0.7f + 0.5f * sky));
            p[1] = clamp(v * 0.9f + 0.1f * sky);
            p[2] = clamp(v * (1.1f - 0.5f * sky));
        }
    }
    const TurboJpegHandles::Handle handle(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool made = tjCompress2(handle.get(), rgb.data(), width, width * 3, height, TJPF_RGB,
                                  &out, &size, TJSAMP_420, quality, 0) == 0;
    const TurboJpegHandles::Buffer owned(out);
    return made ? std::vector<std::uint8_t>(out, out + size) : std::vector<std::uint8_t>();
}
