#include "SamplePictures.h"

#include "CmsHandles.h"
#include "TurboJpegHandles.h"

#include <lcms2.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>

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

std::vector<std::uint8_t> saved(const CmsHandles::Profile& profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile.get(), nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile.get(), bytes.data(), &size);
    return bytes;
}

// Inks to Lab: each ink lets through a share of each primary's linear
// light, and its dots grow on paper.
int sampleInks(const cmsUInt16Number in[], cmsUInt16Number out[], void* toLab) {
    static const double passes[4][3] = {
        {0.12, 0.85, 0.97}, {0.95, 0.20, 0.70}, {0.97, 0.92, 0.10}, {0.06, 0.06, 0.07}};
    double rgb[3] = {1, 1, 1};
    for (int ink = 0; ink < 4; ++ink) {
        const double amount = std::pow(in[ink] / 65535.0, 0.8);
        for (int c = 0; c < 3; ++c)
            rgb[c] *= 1 - amount * (1 - passes[ink][c]);
    }
    cmsCIELab lab;
    cmsDoTransform(static_cast<cmsHTRANSFORM>(toLab), rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return 1;
}

} // namespace

std::vector<std::uint8_t> cmykProfile(int gridPoints, double inkCurve) {
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    const CmsHandles::ToneCurve linear(cmsBuildGamma(nullptr, 1.0));
    cmsToneCurve* curves[3] = {linear.get(), linear.get(), linear.get()};
    const CmsHandles::Profile light(cmsCreateRGBProfile(&d65, &primaries, curves));
    const CmsHandles::Profile lab(cmsCreateLab4Profile(nullptr));
    const CmsHandles::Transform toLab(cmsCreateTransform(
        light.get(), TYPE_RGB_DBL, lab.get(), TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
    cmsStage* table =
        cmsStageAllocCLut16bit(nullptr, static_cast<cmsUInt32Number>(gridPoints), 4, 3, nullptr);
    cmsStageSampleCLut16bit(table, sampleInks, toLab.get(), 0);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    // As the format stores it: curves, table, curves.
    const CmsHandles::ToneCurve ink(cmsBuildGamma(nullptr, inkCurve));
    cmsToneCurve* inks[4] = {ink.get(), ink.get(), ink.get(), ink.get()};
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, inks));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));

    const CmsHandles::Profile profile(cmsCreateProfilePlaceholder(nullptr));
    cmsSetProfileVersion(profile.get(), 4.3);
    cmsSetDeviceClass(profile.get(), cmsSigOutputClass);
    cmsSetColorSpace(profile.get(), cmsSigCmykData);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsWriteTag(profile.get(), cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    return saved(profile);
}

std::vector<std::uint8_t> greyProfile() {
    const CmsHandles::ToneCurve linear(cmsBuildGamma(nullptr, 1.0));
    return saved(CmsHandles::Profile(cmsCreateGrayProfile(cmsD50_xyY(), linear.get())));
}

std::vector<std::uint8_t> cmykJpeg(int width, int height, const std::uint8_t (&stored)[4]) {
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), stored, stored + 4);
    return cmykJpeg(width, height, pixels);
}

std::vector<std::uint8_t> cmykJpeg(int width, int height, const std::vector<std::uint8_t>& pixels) {
    const TurboJpegHandles::Handle handle(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(handle.get(), pixels.data(), width, 0, height, TJPF_CMYK, &out, &size, TJSAMP_444,
                100, 0);
    const TurboJpegHandles::Buffer owned(out);
    return std::vector<std::uint8_t>(out, out + size);
}

std::vector<std::uint8_t> iccProfile(Space space) {
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    const cmsCIExyY d50 = {0.3457, 0.3585, 1.0};
    cmsCIExyYTRIPLE primaries;
    CmsHandles::ToneCurve curve;
    if (space == Space::AdobeRgb) {
        primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
        curve.reset(cmsBuildGamma(nullptr, 563.0 / 256.0));
    } else if (space == Space::LinearSrgb) {
        primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
        curve.reset(cmsBuildGamma(nullptr, 1.0));
    } else if (space == Space::ProPhoto) {
        primaries = {{0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}};
        curve.reset(cmsBuildGamma(nullptr, 1.8));
    } else {
        primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
        const cmsFloat64Number srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        curve.reset(cmsBuildParametricToneCurve(nullptr, 4, srgbCurve));
    }
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    return saved(CmsHandles::Profile(
        cmsCreateRGBProfile(space == Space::ProPhoto ? &d50 : &d65, &primaries, curves)));
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
                              const std::vector<PngChunk>& chunks, bool interlaced) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PngChunk header{"IHDR", {}};
    put32(header.data, static_cast<std::uint32_t>(width));
    put32(header.data, static_cast<std::uint32_t>(height));
    header.data.insert(header.data.end(),
                       {static_cast<std::uint8_t>(bitDepth), static_cast<std::uint8_t>(colourType),
                        0, 0, static_cast<std::uint8_t>(interlaced ? 1 : 0)});
    putChunk(out, header);
    for (const PngChunk& chunk : chunks)
        putChunk(out, chunk);
    const std::size_t channels = samples.size() / height / width;
    // The seven passes of Adam7 (first column, first row, steps), or one.
    const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    const int whole[1][4] = {{0, 0, 1, 1}};
    const int(*chosen)[4] = interlaced ? passes : whole;
    std::vector<std::uint8_t> raw;
    for (int k = 0; k < (interlaced ? 7 : 1); ++k) {
        const int* pass = chosen[k];
        if (pass[0] >= width)
            continue;
        for (int y = pass[1]; y < height; y += pass[3]) {
            raw.push_back(0); // no filter
            for (int x = pass[0]; x < width; x += pass[2])
                for (std::size_t c = 0; c < channels; ++c) {
                    const std::uint16_t v =
                        samples[(static_cast<std::size_t>(y) * width + x) * channels + c];
                    if (bitDepth == 16)
                        raw.push_back(static_cast<std::uint8_t>(v >> 8));
                    raw.push_back(static_cast<std::uint8_t>(v));
                }
        }
    }
    putChunk(out, {"IDAT", deflated(raw)});
    putChunk(out, {"IEND", {}});
    return out;
}

} // namespace SamplePictures
