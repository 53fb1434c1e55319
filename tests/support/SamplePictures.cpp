#include "SamplePictures.h"

#include <lcms2.h>
#include <zlib.h>

#include <algorithm>

namespace SamplePictures {

namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putChunk(std::vector<std::uint8_t>& out, const PngChunk& chunk) {
    put32(out, static_cast<std::uint32_t>(chunk.data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), chunk.type.begin(), chunk.type.end());
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    put32(out, static_cast<std::uint32_t>(
                   crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

std::vector<std::uint8_t> deflated(const std::vector<std::uint8_t>& bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<std::uint8_t> out(size);
    compress(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()));
    out.resize(size);
    return out;
}

} // namespace

std::vector<std::uint8_t> iccProfile(Space space) {
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries;
    cmsToneCurve* curve = nullptr;
    if (space == Space::AdobeRgb) {
        primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
        curve = cmsBuildGamma(nullptr, 563.0 / 256.0);
    } else {
        primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
        const cmsFloat64Number srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    }
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

std::vector<std::uint8_t> withJpegProfile(const std::vector<std::uint8_t>& jpeg,
                                          const std::vector<std::uint8_t>& profile, int pieces) {
    static const char kTag[] = "ICC_PROFILE";
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    const std::size_t each = (profile.size() + pieces - 1) / pieces;
    for (int i = 0; i < pieces; ++i) {
        const std::size_t from = std::min(profile.size(), i * each);
        const std::size_t to = std::min(profile.size(), from + each);
        const std::size_t length = 2 + sizeof kTag + 2 + (to - from);
        out.insert(out.end(), {0xFF, 0xE2, static_cast<std::uint8_t>(length >> 8),
                               static_cast<std::uint8_t>(length)});
        out.insert(out.end(), kTag, kTag + sizeof kTag);
        out.push_back(static_cast<std::uint8_t>(i + 1));
        out.push_back(static_cast<std::uint8_t>(pieces));
        out.insert(out.end(), profile.begin() + from, profile.begin() + to);
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

PngChunk iccpChunk(const std::vector<std::uint8_t>& profile) {
    PngChunk chunk{"iCCP", {'I', 'C', 'C', 0, 0}};
    const std::vector<std::uint8_t> z = deflated(profile);
    chunk.data.insert(chunk.data.end(), z.begin(), z.end());
    return chunk;
}

std::vector<std::uint8_t> png(int width, int height, int colourType, int bitDepth,
                              const std::vector<std::uint16_t>& samples,
                              const std::vector<PngChunk>& chunks) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PngChunk header{"IHDR", {}};
    put32(header.data, static_cast<std::uint32_t>(width));
    put32(header.data, static_cast<std::uint32_t>(height));
    header.data.insert(header.data.end(), {static_cast<std::uint8_t>(bitDepth),
                                           static_cast<std::uint8_t>(colourType), 0, 0, 0});
    putChunk(out, header);
    for (const PngChunk& chunk : chunks)
        putChunk(out, chunk);
    const std::size_t perRow = samples.size() / height;
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        for (std::size_t i = 0; i < perRow; ++i) {
            const std::uint16_t v = samples[y * perRow + i];
            if (bitDepth == 16)
                raw.push_back(static_cast<std::uint8_t>(v >> 8));
            raw.push_back(static_cast<std::uint8_t>(v));
        }
    }
    putChunk(out, {"IDAT", deflated(raw)});
    putChunk(out, {"IEND", {}});
    return out;
}

} // namespace SamplePictures
