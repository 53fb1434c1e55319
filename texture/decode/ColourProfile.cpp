#include "decode/ColourProfile.h"

#include "CmsHandles.h"
#include "decode/VectorUnits.h"

#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORBIVUE_BMI __attribute__((target("bmi")))
#endif

namespace ColourProfile {

namespace {

unsigned read16(const std::uint8_t* p) {
    return (unsigned(p[0]) << 8) | p[1];
}

std::uint32_t read32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

// Inflates a zlib stream into `out`, refusing more than the profile cap.
bool inflateBounded(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 0xffffffffu));
    out.clear();
    std::uint8_t chunk[16384];
    int status = Z_OK;
    while (status == Z_OK && out.size() <= kMaxProfileBytes) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && !out.empty() && out.size() <= kMaxProfileBytes;
}

} // namespace

bool fromJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& profile) {
    static const char kTag[] = "ICC_PROFILE"; // with its NUL, 12 bytes
    constexpr std::size_t kPrefix = sizeof kTag + 2;
    profile.clear();
    // The pieces as they stand in the file: sequence number (from 1), count.
    struct Piece {
        const std::uint8_t* bytes;
        std::size_t size;
    };
    std::array<Piece, 256> pieces{};
    unsigned count = 0;
    std::size_t total = 0;

    std::size_t at = 2; // after the start-of-image marker
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            return false;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break; // the profile comes before the image data
        const std::size_t length = read16(data + at + 2);
        if (length < 2 || at + 2 + length > size)
            return false;
        const std::uint8_t* segment = data + at + 4;
        const std::size_t segmentSize = length - 2;
        if (marker == 0xE2 && segmentSize > kPrefix &&
            std::memcmp(segment, kTag, sizeof kTag) == 0) {
            const unsigned sequence = segment[sizeof kTag];
            const unsigned of = segment[sizeof kTag + 1];
            if (sequence == 0 || of == 0 || sequence > of || (count != 0 && of != count) ||
                pieces[sequence].bytes != nullptr)
                return false;
            count = of;
            pieces[sequence] = {segment + kPrefix, segmentSize - kPrefix};
            total += segmentSize - kPrefix;
        }
        at += 2 + length;
    }
    if (count == 0)
        return false;
    profile.reserve(total);
    for (unsigned i = 1; i <= count; ++i) {
        if (pieces[i].bytes == nullptr) {
            profile.clear();
            return false;
        }
        profile.insert(profile.end(), pieces[i].bytes, pieces[i].bytes + pieces[i].size);
    }
    return true;
}

bool fromPng(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& profile) {
    profile.clear();
    const std::uint8_t* iccp = nullptr;
    std::size_t iccpSize = 0;
    // Chunks: length, type, data, checksum; the colour chunks precede IDAT.
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint32_t length = read32(data + at);
        if (length > size - at - 12)
            break;
        const std::uint8_t* type = data + at + 4;
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0)
            break;
        if (std::memcmp(type, "sRGB", 4) == 0)
            return false;
        if (std::memcmp(type, "iCCP", 4) == 0 && iccp == nullptr) {
            iccp = type + 4;
            iccpSize = length;
        }
        at += 12 + static_cast<std::size_t>(length);
    }
    if (iccp == nullptr)
        return false;
    // A profile name of 1 to 79 bytes, its NUL, compression method 0.
    const std::uint8_t* nul = std::find(iccp, iccp + std::min<std::size_t>(iccpSize, 80), 0);
    const std::size_t name = static_cast<std::size_t>(nul - iccp);
    if (name == 0 || name >= std::min<std::size_t>(iccpSize, 80) || name + 2 > iccpSize ||
        iccp[name + 1] != 0)
        return false;
    if (!inflateBounded(iccp + name + 2, iccpSize - name - 2, profile)) {
        profile.clear();
        return false;
    }
    return true;
}

} // namespace ColourProfile

namespace {

// Red, green, blue and a byte that the conversion leaves alone; or grey in
// the first byte of four, for grey profiles.
constexpr cmsUInt32Number kRgbx = TYPE_RGBA_8;
constexpr cmsUInt32Number kGreyx =
    COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

// Colours spanning the cube: nine levels of each channel, black and white
// included (729 colours); for grey every level.
std::vector<std::uint8_t> sampleColours(bool grey) {
    std::vector<std::uint8_t> colours;
    if (grey) {
        for (int v = 0; v < 256; ++v)
            colours.insert(colours.end(), {std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), 255});
        return colours;
    }
    for (int r = 0; r <= 256; r += 32)
        for (int g = 0; g <= 256; g += 32)
            for (int b = 0; b <= 256; b += 32)
                colours.insert(colours.end(),
                               {std::uint8_t(std::min(r, 255)), std::uint8_t(std::min(g, 255)),
                                std::uint8_t(std::min(b, 255)), 255});
    return colours;
}

// True when no colour channel of `a` and `b` differs by more than one step.
bool withinAStep(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if (i % 4 != 3 && std::abs(int(a[i]) - int(b[i])) > 1)
            return false;
    return true;
}

using Matrix = std::array<double, 9>; // row by row

Matrix colourants(cmsHPROFILE profile, bool& ok) {
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                     cmsSigBlueColorantTag};
    Matrix m{};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
        if (xyz == nullptr) {
            ok = false;
            return m;
        }
        m[0 + c] = xyz->X;
        m[3 + c] = xyz->Y;
        m[6 + c] = xyz->Z;
    }
    return m;
}

bool invert(const Matrix& m, Matrix& out) {
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (std::abs(det) < 1e-12)
        return false;
    out = {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det,
           (m[1] * m[5] - m[2] * m[4]) / det, (m[5] * m[6] - m[3] * m[8]) / det,
           (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
           (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det,
           (m[0] * m[4] - m[1] * m[3]) / det};
    return true;
}

} // namespace

// How the pixels of one profile are brought to sRGB. Photographs are
// converted with perceptual rendering, as Little CMS computes it; the usual
// camera and phone profiles (three tone curves and a matrix) take a path of
// tables and a matrix several times faster, used only where it agrees with
// Little CMS within a step on colours across the whole cube.
struct ColourConverter::Conversion {
    enum class Kind { GreyTable, MatrixShaper, Transform } kind = Kind::Transform;
    // For Kind::Transform: Little CMS's transform as built, unoptimised. Its
    // eight-bit optimisation interpolates between a few grid points and lands
    // up to 30 steps away on CMYK profiles of coarse tables; the exact one is
    // kept, and each colour a picture has is converted once (below).
    CmsHandles::Transform exact;
    cmsUInt32Number format = 0;
    std::array<std::uint8_t, 256 * 3> greyTable{}; // grey level to red, green, blue

    // The colours converted so far, by their four bytes, in slots chosen by
    // a hash; a colour that finds its slot taken by another is converted
    // again. Pictures at the texture size repeat their colours (the area
    // average makes them smooth): the exact transform then runs for a
    // fraction of the pixels.
    struct Known {
        std::uint32_t colour = 0;
        std::uint32_t rgb = 0;  // red, green, blue in the low three bytes
        std::uint32_t miss = 0; // while a slice is converted: its index among the misses
        std::uint8_t state = 0; // 0 empty, 1 converted, 2 being converted
    };
    static constexpr int kMemoBits = 16;
    std::vector<Known> memo;
    std::vector<std::uint8_t> misses;       // four bytes each, converted in place
    std::vector<std::uint32_t> missColours; // their colours as they were
    std::vector<std::uint32_t> pending;     // each pixel's miss index, or kConverted
    static constexpr std::uint32_t kConverted = 0xFFFFFFFFu;

    // The three output channels side by side in one 64-bit word, 21 bits
    // each: what each level of each input channel adds to them (its linear
    // light through the matrix into linear sRGB), in sixteenths of a step of
    // the encoding table and offset so that no lane ever goes below zero;
    // and the sRGB encoding of each step, clamped to black and white.
    static constexpr int kSteps = 8191; // encoding steps per unit of linear light
    static constexpr int kFraction = 16;
    static constexpr int kLaneBits = 21;
    static constexpr int kShift = 4; // log2 of kFraction
    static constexpr int kIndexBits = kLaneBits - kShift;
    bool bitFields = false; // which kernel the lookups take: set by the converter
    std::array<std::uint64_t, 3 * 256> contribution{}; // [input channel][level]
    std::vector<std::uint8_t> encode;
    // The same for sixteen-bit levels, made when a picture has them: the
    // tone curves and the matrix and offsets they are made from.
    std::vector<std::uint64_t> contribution16; // [input channel][level]
    std::array<CmsHandles::ToneCurve, 3> curves;
    Matrix matrix{};
    double base[3][3] = {}; // [input channel][output lane]
    bool sixteenTried = false;
    void apply(std::uint8_t* pixels, std::size_t count) {
        switch (kind) {
        case Kind::GreyTable:
            for (std::size_t i = 0; i < count; ++i) {
                std::uint8_t* p = pixels + i * 4;
                const std::uint8_t* rgb = &greyTable[p[0] * 3u];
                p[0] = rgb[0];
                p[1] = rgb[1];
                p[2] = rgb[2];
            }
            break;
        case Kind::MatrixShaper:
            applyMatrixShaper(pixels, count);
            break;
        case Kind::Transform:
            applyExact(pixels, count);
            break;
        }
    }

    // Little CMS's exact result for every pixel, each colour converted once
    // per slice (and kept for the slices after it, where its slot allows).
    // The fourth byte of each pixel is left as it is.
    void applyExact(std::uint8_t* pixels, std::size_t count) {
        constexpr std::size_t kSlice = 16384;
        if (memo.empty())
            memo.resize(std::size_t(1) << kMemoBits);
        auto slotOf = [](std::uint32_t colour) {
            return (colour * 2654435761u) >> (32 - kMemoBits);
        };
        for (std::size_t start = 0; start < count; start += kSlice) {
            const std::size_t n = std::min(kSlice, count - start);
            std::uint8_t* slice = pixels + start * 4;
            misses.clear();
            pending.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                std::uint32_t colour;
                std::memcpy(&colour, slice + i * 4, 4);
                Known& k = memo[slotOf(colour)];
                if (k.state != 0 && k.colour == colour) {
                    pending[i] = k.state == 1 ? kConverted : k.miss;
                    if (k.state == 1)
                        put(slice + i * 4, k.rgb);
                    continue;
                }
                k = {colour, 0, static_cast<std::uint32_t>(misses.size() / 4), 2};
                pending[i] = k.miss;
                misses.insert(misses.end(), slice + i * 4, slice + i * 4 + 4);
            }
            const std::size_t missed = misses.size() / 4;
            missColours.resize(missed);
            for (std::size_t m = 0; m < missed; ++m)
                std::memcpy(&missColours[m], misses.data() + m * 4, 4);
            if (missed > 0)
                cmsDoTransform(exact.get(), misses.data(), misses.data(),
                               static_cast<cmsUInt32Number>(missed));
            for (std::size_t i = 0; i < n; ++i)
                if (pending[i] != kConverted)
                    std::memcpy(slice + i * 4, misses.data() + pending[i] * 4, 3);
            for (std::size_t m = 0; m < missed; ++m) {
                Known& k = memo[slotOf(missColours[m])];
                if (k.colour == missColours[m]) {
                    k.rgb = misses[m * 4] | (misses[m * 4 + 1] << 8) |
                            (std::uint32_t(misses[m * 4 + 2]) << 16);
                    k.state = 1;
                }
            }
        }
    }
    static void put(std::uint8_t* pixel, std::uint32_t rgb) {
        pixel[0] = static_cast<std::uint8_t>(rgb);
        pixel[1] = static_cast<std::uint8_t>(rgb >> 8);
        pixel[2] = static_cast<std::uint8_t>(rgb >> 16);
    }

    // The three contributions of a pixel added at once; each lane then
    // indexes the encoding table, and the three levels are written in place
    // of red, green and blue. The fourth byte of each pixel is kept.
    void applyMatrixShaper(std::uint8_t* pixels, std::size_t count) const {
        if (bitFields)
            matrixShaperBitFields(contribution.data(), encode.data(), pixels, count);
        else
            matrixShaperPlain(contribution.data(), encode.data(), pixels, count);
    }
    static void matrixShaperPlain(const std::uint64_t* tr, const std::uint8_t* out,
                                  std::uint8_t* pixels, std::size_t count) {
        const std::uint64_t* tg = tr + 256;
        const std::uint64_t* tb = tg + 256;
        constexpr std::uint64_t index = (std::uint64_t(1) << kIndexBits) - 1;
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* p = pixels + i * 4;
            const std::uint64_t sum = tr[p[0]] + tg[p[1]] + tb[p[2]];
            p[0] = out[(sum >> kShift) & index];
            p[1] = out[(sum >> (kLaneBits + kShift)) & index];
            p[2] = out[sum >> (2 * kLaneBits + kShift)];
        }
    }
#if defined(ORBIVUE_BMI)
    // The same with each lane's index taken out in one instruction, two
    // pixels a step read in one load: a third faster than the shifts and
    // masks, which are bound by the processor's loads and stores.
    ORBIVUE_BMI static void matrixShaperBitFields(const std::uint64_t* tr, const std::uint8_t* out,
                                                  std::uint8_t* pixels, std::size_t count) {
        const std::uint64_t* tg = tr + 256;
        const std::uint64_t* tb = tg + 256;
        std::size_t i = 0;
        for (; i + 2 <= count; i += 2) {
            std::uint8_t* p = pixels + i * 4;
            std::uint64_t two;
            std::memcpy(&two, p, 8);
            const std::uint64_t a =
                tr[two & 255] + tg[(two >> 8) & 255] + tb[_bextr_u64(two, 16, 8)];
            const std::uint64_t b = tr[_bextr_u64(two, 32, 8)] + tg[_bextr_u64(two, 40, 8)] +
                                    tb[_bextr_u64(two, 48, 8)];
            p[0] = out[_bextr_u64(a, kShift, kIndexBits)];
            p[1] = out[_bextr_u64(a, kLaneBits + kShift, kIndexBits)];
            p[2] = out[a >> (2 * kLaneBits + kShift)];
            p[4] = out[_bextr_u64(b, kShift, kIndexBits)];
            p[5] = out[_bextr_u64(b, kLaneBits + kShift, kIndexBits)];
            p[6] = out[b >> (2 * kLaneBits + kShift)];
        }
        if (i < count)
            matrixShaperPlain(tr, out, pixels + i * 4, 1);
    }
#else
    static void matrixShaperBitFields(const std::uint64_t* tr, const std::uint8_t* out,
                                      std::uint8_t* pixels, std::size_t count) {
        matrixShaperPlain(tr, out, pixels, count);
    }
#endif

    // The sixteen-bit tables of the matrix path, checked on the sample
    // colours against the eight-bit path; false when they cannot be had.
    bool buildSixteenBit() {
        if (sixteenTried)
            return !contribution16.empty();
        sixteenTried = true;
        if (kind != Kind::MatrixShaper)
            return false;
        std::vector<std::uint64_t> table(3 * 65536);
        std::uint64_t most[3][3] = {}; // [in][lane]
        for (int in = 0; in < 3; ++in)
            for (int v = 0; v < 65536; ++v) {
                const double light =
                    cmsEvalToneCurve16(curves[in].get(), static_cast<cmsUInt16Number>(v)) / 65535.0;
                for (int o = 0; o < 3; ++o) {
                    const double units = matrix[o * 3 + in] * light + base[in][o];
                    const long long value =
                        std::llround(units * kSteps * kFraction) + (in == 0 ? kFraction / 2 : 0);
                    if (value < 0 || value >= (1LL << kLaneBits))
                        return false;
                    table[in * 65536 + v] |= std::uint64_t(value) << (o * kLaneBits);
                    most[in][o] = std::max(most[in][o], std::uint64_t(value));
                }
            }
        for (int o = 0; o < 3; ++o)
            if ((most[0][o] + most[1][o] + most[2][o]) / kFraction >= encode.size())
                return false;
        contribution16 = std::move(table);
        std::vector<std::uint8_t> eight = sampleColours(false);
        std::vector<std::uint8_t> sixteen(eight.size() * 2);
        for (std::size_t i = 0; i < eight.size(); ++i)
            sixteen[i * 2] = sixteen[i * 2 + 1] = eight[i];
        applyMatrixShaper(eight.data(), eight.size() / 4);
        applySixteenBit(sixteen.data(), sixteen.data(), eight.size() / 4);
        if (!withinAStep(
                eight, std::vector<std::uint8_t>(sixteen.begin(), sixteen.begin() + eight.size())))
            contribution16.clear();
        return !contribution16.empty();
    }

    // Red, green, blue and alpha of sixteen bits, most significant byte
    // first, to eight-bit sRGB and the alpha's high byte: pixel i moves from
    // byte 8i of `in` to byte 4i of `into` (which may be `in`, or lie before
    // it), after it has been read.
    void applySixteenBit(const std::uint8_t* in, std::uint8_t* into, std::size_t count) const {
        const std::uint64_t* tr = contribution16.data();
        const std::uint8_t* out = encode.data();
        constexpr std::uint64_t lane = (std::uint64_t(1) << kLaneBits) - 1;
        constexpr int shift = 4; // log2 of kFraction
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = in + i * 8;
            const std::uint64_t sum = tr[(p[0] << 8) | p[1]] + tr[65536 + ((p[2] << 8) | p[3])] +
                                      tr[131072 + ((p[4] << 8) | p[5])];
            const std::uint8_t alpha = p[6];
            std::uint8_t* q = into + i * 4;
            q[0] = out[(sum & lane) >> shift];
            q[1] = out[((sum >> kLaneBits) & lane) >> shift];
            q[2] = out[(sum >> (2 * kLaneBits)) >> shift];
            q[3] = alpha;
        }
    }

    // The table and matrix path for a profile of three tone curves and a
    // matrix; false for any other.
    bool buildMatrixShaper(cmsHPROFILE source, cmsHPROFILE srgb) {
        if (!cmsIsMatrixShaper(source) || !cmsIsMatrixShaper(srgb))
            return false;
        bool ok = true;
        const Matrix from = colourants(source, ok);
        const Matrix to = colourants(srgb, ok);
        Matrix toInverse{};
        if (!ok || !invert(to, toInverse))
            return false;
        // linear source light to linear sRGB
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                for (int k = 0; k < 3; ++k)
                    matrix[row * 3 + col] += toInverse[row * 3 + k] * from[k * 3 + col];
        const cmsTagSignature tags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        // added[in][level][out]: linear sRGB light that an input level adds.
        std::vector<double> added(3 * 256 * 3);
        double lowest[3][3] = {}; // [in][out], at most 0
        for (int in = 0; in < 3; ++in) {
            const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(source, tags[in]));
            if (curve == nullptr || !(curves[in] = CmsHandles::ToneCurve(cmsDupToneCurve(curve))))
                return false;
            for (int v = 0; v < 256; ++v) {
                const double light = cmsEvalToneCurveFloat(curve, static_cast<float>(v / 255.0));
                for (int o = 0; o < 3; ++o) {
                    const double a = matrix[o * 3 + in] * light;
                    added[(in * 256 + v) * 3 + o] = a;
                    lowest[in][o] = std::min(lowest[in][o], a);
                }
            }
        }
        // One offset for all lanes, so that one encoding table serves them.
        double offset = 0;
        for (int o = 0; o < 3; ++o)
            offset = std::max(offset, -(lowest[0][o] + lowest[1][o] + lowest[2][o]));
        std::uint64_t highest[3] = {}; // per lane, the largest sum
        for (int o = 0; o < 3; ++o) {
            std::uint64_t most[3] = {};
            for (int in = 0; in < 3; ++in) {
                // Red's entries carry the rest of the offset and the rounding.
                base[in][o] = in == 0 ? offset + lowest[1][o] + lowest[2][o] : -lowest[in][o];
                for (int v = 0; v < 256; ++v) {
                    const double units = added[(in * 256 + v) * 3 + o] + base[in][o];
                    const auto value = static_cast<std::uint64_t>(
                        std::llround(units * kSteps * kFraction) + (in == 0 ? kFraction / 2 : 0));
                    if (value >= (std::uint64_t(1) << kLaneBits))
                        return false;
                    contribution[in * 256 + v] |= value << (o * kLaneBits);
                    most[in] = std::max(most[in], value);
                }
            }
            highest[o] = most[0] + most[1] + most[2];
            if (highest[o] >= (std::uint64_t(1) << kLaneBits))
                return false; // too wide a gamut for the lanes
        }
        const auto* srgbCurve = static_cast<const cmsToneCurve*>(cmsReadTag(srgb, cmsSigRedTRCTag));
        if (srgbCurve == nullptr)
            return false;
        // Each step of the table encodes to the level whose rounding range
        // holds its light: level k starts where the curve gives k - 1/2.
        // 255 evaluations of the curve instead of one per step.
        encode.resize(std::max({highest[0], highest[1], highest[2]}) / kFraction + 1);
        std::size_t step = 0;
        for (int level = 0; level < 256; ++level) {
            const double next =
                level == 255
                    ? 2.0
                    : cmsEvalToneCurveFloat(srgbCurve, static_cast<float>((level + 0.5) / 255));
            // Steps whose light lies below where the next level starts.
            while (step < encode.size() && double(step) / kSteps - offset < next)
                encode[step++] = static_cast<std::uint8_t>(level);
        }
        while (step < encode.size())
            encode[step++] = 255;
        kind = Kind::MatrixShaper;
        return true;
    }

    // Whether the profile describes pixels of this kind, by the colour
    // space its header states (read from the bytes: Little CMS hands any
    // value of a damaged header on as its enumeration).
    static bool fits(const std::uint8_t* bytes, std::size_t size, PixelKind kind) {
        if (size < 20)
            return false;
        const std::uint32_t space = ColourProfile::read32(bytes + 16);
        switch (kind) {
        case PixelKind::Grey:
            return space == cmsSigGrayData;
        case PixelKind::Cmyk:
            return space == cmsSigCmykData;
        case PixelKind::Rgb:
            break;
        }
        return space == cmsSigRgbData;
    }

    // The conversion of one profile to sRGB, or null when there is nothing
    // to convert; `usable` tells whether the profile could be used for the
    // picture at all.
    static std::unique_ptr<Conversion> make(const std::uint8_t* bytes, std::size_t size,
                                            PixelKind kind, cmsHPROFILE srgb, bool& usable) {
        usable = false;
        CmsHandles::Profile source(
            cmsOpenProfileFromMem(bytes, static_cast<cmsUInt32Number>(size)));
        if (!source)
            return nullptr;
        // CMYK as such JPEGs store it: inverted, 255 for no ink.
        const cmsUInt32Number format = kind == PixelKind::Grey   ? kGreyx
                                       : kind == PixelKind::Cmyk ? TYPE_CMYK_8_REV
                                                                 : kRgbx;
        // Little CMS's exact result, unoptimised: cheap to build, and all
        // that is needed to judge the faster paths. No one-pixel cache,
        // which only costs time on pictures.
        CmsHandles::Transform exact;
        if (srgb != nullptr && fits(bytes, size, kind))
            exact.reset(cmsCreateTransform(source.get(), format, srgb, kRgbx, INTENT_PERCEPTUAL,
                                           cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE));
        auto conversion = exact ? std::make_unique<Conversion>() : nullptr;
        usable = conversion != nullptr;
        if (conversion && kind != PixelKind::Cmyk) {
            const bool grey = kind == PixelKind::Grey;
            const std::vector<std::uint8_t> in = sampleColours(grey);
            std::vector<std::uint8_t> expected(in.size());
            cmsDoTransform(exact.get(), in.data(), expected.data(),
                           static_cast<cmsUInt32Number>(in.size() / 4));
            if (withinAStep(in, expected)) {
                conversion.reset(); // sRGB under another name
            } else if (grey) {
                std::uint8_t levels[256 * 4];
                for (int v = 0; v < 256; ++v)
                    levels[v * 4] = static_cast<std::uint8_t>(v);
                cmsDoTransform(exact.get(), levels, levels, 256);
                for (int v = 0; v < 256; ++v)
                    std::copy(levels + v * 4, levels + v * 4 + 3, &conversion->greyTable[v * 3]);
                conversion->kind = Kind::GreyTable;
            } else if (conversion->buildMatrixShaper(source.get(), srgb)) {
                std::vector<std::uint8_t> fast = in;
                conversion->apply(fast.data(), fast.size() / 4);
                if (!withinAStep(fast, expected))
                    conversion->kind = Kind::Transform;
            }
        }
        if (conversion && conversion->kind == Kind::Transform) {
            conversion->exact = std::move(exact);
            conversion->format = format;
        }
        return conversion;
    }
};

ColourConverter::Known::Known() = default;
ColourConverter::Known::Known(Known&&) noexcept = default;
ColourConverter::Known& ColourConverter::Known::operator=(Known&&) noexcept = default;
ColourConverter::Known::~Known() = default;

ColourConverter::ColourConverter()
    : kernel(available(Kernel::BitFields) ? Kernel::BitFields : Kernel::Plain) {}

bool ColourConverter::available(Kernel k) {
    return k == Kernel::Plain || VectorUnits::hasBmi();
}

void ColourConverter::useKernel(Kernel k) {
    if (available(k))
        kernel = k;
}

ColourConverter::~ColourConverter() = default;

void ColourConverter::CloseProfile::operator()(void* profile) const noexcept {
    CmsHandles::CloseProfile()(profile);
}

ColourConverter::Known& ColourConverter::remember(const std::uint8_t* profile,
                                                  std::size_t profileSize, PixelKind kind) {
    auto same = [&](const Known& k) {
        return k.kind == kind && k.profile.size() == profileSize &&
               std::memcmp(k.profile.data(), profile, profileSize) == 0;
    };
    auto found = std::find_if(known.begin(), known.end(), same);
    if (found == known.end()) {
        if (known.size() == kRemembered)
            known.erase(known.begin());
        Known k;
        k.profile.assign(profile, profile + profileSize);
        k.kind = kind;
        if (!srgb)
            srgb.reset(cmsCreate_sRGBProfile());
        k.conversion = Conversion::make(profile, profileSize, kind, srgb.get(), k.usable);
        known.push_back(std::move(k));
    } else {
        std::rotate(found, found + 1, known.end());
    }
    return known.back();
}

bool ColourConverter::usable(const std::uint8_t* profile, std::size_t profileSize, PixelKind kind) {
    if (profile == nullptr || profileSize == 0 || profileSize > ColourProfile::kMaxProfileBytes)
        return false;
    return remember(profile, profileSize, kind).usable;
}

bool ColourConverter::convertsSixteenBits(const std::uint8_t* profile, std::size_t profileSize) {
    if (!usable(profile, profileSize, PixelKind::Rgb))
        return false;
    Conversion* conversion = known.back().conversion.get();
    return conversion != nullptr && conversion->buildSixteenBit();
}

void ColourConverter::toSrgbFromSixteenBits(const std::uint8_t* profile, std::size_t profileSize,
                                            const std::uint8_t* in, std::uint8_t* out,
                                            std::size_t count) {
    if (convertsSixteenBits(profile, profileSize))
        known.back().conversion->applySixteenBit(in, out, count);
}

void ColourConverter::toSrgb(const std::uint8_t* profile, std::size_t profileSize, PixelKind kind,
                             std::uint8_t* pixels, std::size_t count) {
    if (count == 0 || !usable(profile, profileSize, kind))
        return;
    if (Conversion* conversion = known.back().conversion.get()) {
        conversion->bitFields = kernel == Kernel::BitFields;
        conversion->apply(pixels, count);
    }
}
