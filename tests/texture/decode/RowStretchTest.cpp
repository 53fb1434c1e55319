// The texture stage's fast paths against their plain versions: every
// stretch kernel the processor has, row by row or whole, against the plain
// loops; the JPEG row decoder against TurboJPEG's whole-picture decode.
#include "TurboJpegHandles.h"
#include "decode/AreaResampler.h"
#include "decode/JpegRows.h"
#include "decode/Mipmaps.h"
#include "decode/TextureDecode.h"

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

std::vector<std::uint8_t> noise(std::size_t bytes, std::uint32_t seed) {
    std::vector<std::uint8_t> v(bytes);
    for (std::uint8_t& b : v) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return v;
}

// What the rows are finished with in the test: each byte inverted, so that a
// row finished twice, or halved before it was finished, shows.
void invert(void*, std::uint8_t* row, int width) {
    for (int i = 0; i < width * 4; ++i)
        row[i] = static_cast<std::uint8_t>(255 - row[i]);
}

struct Stretched {
    std::vector<std::uint8_t> pixels, half;
};

// One stretch of `src` (sw x sh, rows `stride` bytes apart) by `kernel`,
// whole, or row by row through a ring of as few rows as the stretch allows,
// filled `strip` rows at a time.
Stretched stretch(AreaResampler::Kernel kernel, const std::vector<std::uint8_t>& src, int sw,
                  int sh, std::size_t stride, int dw, int dh, bool reverse, bool opaque,
                  bool finish, int strip, int channels = 4) {
    AreaResampler resampler;
    resampler.useKernel(kernel);
    Stretched s;
    s.pixels.assign(static_cast<std::size_t>(dw) * dh * 4, 0);
    s.half.assign(static_cast<std::size_t>(dw / 2) * (dh / 2) * 4, 0);
    std::uint8_t* half = dw % 2 == 0 && dh % 2 == 0 ? s.half.data() : nullptr;
    const AreaResampler::RowFinish rowFinish{finish ? invert : nullptr, nullptr};
    if (strip == 0 && channels == 4) {
        resampler.resample(src.data(), sw, sh, stride, s.pixels.data(), dw, dh, reverse, opaque,
                           half, rowFinish);
        return s;
    }
    resampler.begin(sw, sh, s.pixels.data(), dw, dh, reverse, opaque, half, rowFinish, channels);
    const int held = resampler.rowsReadAtOnce() + strip;
    std::vector<std::uint8_t> ring(stride * held);
    for (int next = 0; next < sh;) {
        const int count = std::min({strip, sh - next, resampler.firstRowKept() + held - next});
        for (int y = next; y < next + count; ++y)
            std::copy_n(src.data() + y * stride, stride, ring.data() + (y % held) * stride);
        next += count;
        resampler.consume(next, [&](int y) { return ring.data() + (y % held) * stride; });
    }
    return s;
}

} // namespace

TEST(Stretch, EveryKernelWholeOrRowByRowGivesThePlainLoopsBytes) {
    using Kernel = AreaResampler::Kernel;
    const struct {
        int sw, sh, dw, dh;
        bool reverse, opaque, finish;
    } cases[] = {
        {4000, 30, 2048, 20, true, true, false}, // the 12 MP photo's ratios
        {1920, 90, 1024, 48, true, false, true}, // with a conversion on each row
        {640, 480, 256, 256, false, true, false},
        {333, 177, 512, 256, true, false, false}, // growing
        {1000, 40, 1601, 30, true, true, false},  // growing, two taps a pixel, a ragged end
        {1000, 3, 16, 2, true, true, true},       // many taps a pixel
        {37, 91, 64, 12, false, false, true},     // growing one way, shrinking the other
        {5, 5, 5, 5, true, true, false},
        {7, 3000, 8, 2048, true, false, false},
        {33, 1, 1, 1, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh);
        // Rows with room after them, which the stretch must not read.
        const std::size_t stride = static_cast<std::size_t>(c.sw) * 4 + 12;
        const std::vector<std::uint8_t> src = noise(stride * c.sh, c.sw * 7 + c.sh);
        const Stretched plain = stretch(Kernel::Plain, src, c.sw, c.sh, stride, c.dw, c.dh,
                                        c.reverse, c.opaque, c.finish, 0);
        if (c.opaque && !c.finish) {
            for (std::size_t i = 3; i < plain.pixels.size(); i += 4)
                ASSERT_EQ(plain.pixels[i], 255);
        }
        // The level below is that of the finished rows.
        if (c.dw % 2 == 0 && c.dh % 2 == 0 && c.dw > 1 && c.dh > 1) {
            std::vector<std::uint8_t> levels(Mipmaps::bytesBelow(c.dw, c.dh, 4));
            Mipmaps::build(plain.pixels.data(), c.dw, c.dh, 4, levels.data());
            ASSERT_TRUE(std::equal(plain.half.begin(), plain.half.end(), levels.begin()));
        }
        for (const Kernel kernel : {Kernel::Plain, Kernel::Sse2, Kernel::Avx2, Kernel::Avx512}) {
            if (!AreaResampler::available(kernel))
                continue;
            for (const int strip : {0, 1, 3, 8}) {
                SCOPED_TRACE(testing::Message()
                             << "kernel " << static_cast<int>(kernel) << ", strip " << strip);
                const Stretched s = stretch(kernel, src, c.sw, c.sh, stride, c.dw, c.dh, c.reverse,
                                            c.opaque, c.finish, strip);
                ASSERT_EQ(s.pixels, plain.pixels);
                ASSERT_EQ(s.half, plain.half);
                // Rows of three bytes a pixel: the same colours, opaque.
                if (c.opaque && strip > 0) {
                    const std::size_t stride3 = static_cast<std::size_t>(c.sw) * 3 + 12;
                    std::vector<std::uint8_t> src3(stride3 * c.sh);
                    for (int y = 0; y < c.sh; ++y)
                        for (int x = 0; x < c.sw * 3; ++x)
                            src3[y * stride3 + x] = src[y * stride + x / 3 * 4 + x % 3];
                    const Stretched three = stretch(kernel, src3, c.sw, c.sh, stride3, c.dw, c.dh,
                                                    c.reverse, c.opaque, c.finish, strip, 3);
                    ASSERT_EQ(three.pixels, plain.pixels);
                    ASSERT_EQ(three.half, plain.half);
                }
            }
        }
    }
}

// Three-byte rows of seeded random sizes, rows exactly as long as their
// pixels, so that a kernel reading past a row's end or mishandling a ragged
// one shows (under the sanitizers too): every kernel against the plain loops.
TEST(Stretch, EveryKernelGivesThePlainLoopsBytesOnThreeByteRowsOfAnySize) {
    using Kernel = AreaResampler::Kernel;
    std::uint32_t seed = 12345;
    auto next = [&](int below) {
        seed = seed * 1664525u + 1013904223u;
        return 1 + static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(below));
    };
    for (int i = 0; i < 200; ++i) {
        const int dw = next(600), dh = next(5), sh = next(6);
        const int sw = i % 2 == 0 ? next(400) : dw * (40 + next(260)) / 100 + 1;
        SCOPED_TRACE(testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
        const std::vector<std::uint8_t> src = noise(static_cast<std::size_t>(sw) * 3 * sh, i);
        const Stretched plain =
            stretch(Kernel::Plain, src, sw, sh, sw * 3, dw, dh, true, true, false, 1, 3);
        for (const Kernel kernel : {Kernel::Sse2, Kernel::Avx2, Kernel::Avx512}) {
            if (!AreaResampler::available(kernel))
                continue;
            ASSERT_EQ(stretch(kernel, src, sw, sh, sw * 3, dw, dh, true, true, false, 1, 3).pixels,
                      plain.pixels)
                << "kernel " << static_cast<int>(kernel);
        }
    }
}

namespace {

// Every decoded row kept, in one picture.
struct WholePicture final : JpegRows::Target {
    std::vector<std::uint8_t> pixels;
    int width = 0, given = 0;
    int room(int) override { return 3; }
    std::uint8_t* row(int y) override { return pixels.data() + std::size_t(y) * width * 4; }
    void decoded(int rows) override { given = rows; }
};

std::vector<std::uint8_t> compressed(int w, int h, int subsampling, int flags) {
    const TurboJpegHandles::Handle handle(tjInitCompress());
    const std::vector<std::uint8_t> pixels = noise(std::size_t(w) * h * 3, w + h);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(handle.get(), pixels.data(), w, 0, h, TJPF_RGB, &out, &size, subsampling, 85,
                flags);
    std::vector<std::uint8_t> jpeg(out, out + size);
    tjFree(out);
    return jpeg;
}

} // namespace

TEST(JpegRows, RowsAreTurboJpegsPixelsAndDamageEndsAsTurboJpegEnds) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> jpeg;
    } files[] = {
        {"4:2:0", compressed(333, 250, TJSAMP_420, 0)},
        {"4:4:4", compressed(64, 48, TJSAMP_444, 0)},
        {"grey", compressed(101, 77, TJSAMP_GRAY, 0)},
        {"progressive", compressed(160, 120, TJSAMP_422, TJFLAG_PROGRESSIVE)},
        {"truncated",
         [] {
             std::vector<std::uint8_t> j = compressed(200, 150, TJSAMP_420, 0);
             j.resize(j.size() / 2);
             return j;
         }()},
        {"garbage after the header",
         [] {
             std::vector<std::uint8_t> j = compressed(120, 90, TJSAMP_420, 0);
             const std::vector<std::uint8_t> n = noise(j.size() - 700, 5);
             std::copy(n.begin(), n.end(), j.begin() + 700);
             return j;
         }()},
        {"a header only", std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0, 16}},
    };
    const TurboJpegHandles::Handle turbo(tjInitDecompress());
    JpegRows decoder; // one for all, as the loader keeps one
    for (const auto& f : files) {
        for (const tjscalingfactor scale : {tjscalingfactor{1, 1}, {1, 2}, {1, 8}}) {
            SCOPED_TRACE(testing::Message() << f.name << " at 1/" << scale.denom);
            int w = 0, h = 0, sub = 0, space = 0;
            const bool header = tjDecompressHeader3(turbo.get(), f.jpeg.data(), f.jpeg.size(), &w,
                                                    &h, &sub, &space) == 0;
            w = header ? TJSCALED(w, scale) : 1;
            h = header ? TJSCALED(h, scale) : 1;
            std::vector<std::uint8_t> expected(std::size_t(w) * h * 4);
            const bool turboOk =
                header && (tjDecompress2(turbo.get(), f.jpeg.data(), f.jpeg.size(), expected.data(),
                                         w, 0, h, TJPF_RGBX, 0) == 0 ||
                           tjGetErrorCode(turbo.get()) == TJERR_WARNING);
            WholePicture rows;
            rows.width = w;
            rows.pixels.assign(expected.size(), 0);
            const JpegRows::Result result =
                decoder.decode(f.jpeg.data(), f.jpeg.size(), scale.num, scale.denom,
                               JpegRows::Pixels::Rgbx, w, h, rows);
            ASSERT_EQ(result == JpegRows::Result::Ok, turboOk);
            if (turboOk) {
                EXPECT_EQ(rows.given, h);
                ASSERT_EQ(rows.pixels, expected);
            }
        }
    }
}

// A JPEG's texture and its levels, decoded row by row with the stretch
// taking each strip, are those of TurboJPEG's whole picture stretched and
// halved afterwards, with a colour key too.
TEST(JpegRows, ATextureMadeRowByRowIsThatOfTheWholePicture) {
    const struct {
        int w, h, subsampling, halvings;
        bool key;
    } cases[] = {{1200, 900, TJSAMP_420, 0, false},
                 {3000, 200, TJSAMP_444, 0, true},
                 {2000, 1500, TJSAMP_420, 2, false},
                 {90, 1700, TJSAMP_GRAY, 0, false}};
    const TurboJpegHandles::Handle turbo(tjInitDecompress());
    TextureScratch scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " halved " << c.halvings);
        const std::vector<std::uint8_t> jpeg = compressed(c.w, c.h, c.subsampling, 0);
        TextureOptions options = viewerTextureOptions();
        options.halvings = c.halvings;
        options.alphaMatch = c.key;
        DecodedTexture made;
        decodeTextureData("a.jpg", jpeg.data(), jpeg.size(), options, 16384, scratch, made);
        ASSERT_TRUE(made.ok);
        ASSERT_NE(made.mipmaps, nullptr);
        // The reference: the scale the decoder picks, the whole picture, then
        // each step after it.
        int w = c.w, h = c.h;
        for (const tjscalingfactor s : {tjscalingfactor{1, 8}, {1, 4}, {1, 2}, {1, 1}}) {
            if (TJSCALED(c.w, s) >= made.width && TJSCALED(c.h, s) >= made.height) {
                w = TJSCALED(c.w, s);
                h = TJSCALED(c.h, s);
                break;
            }
        }
        std::vector<std::uint8_t> whole(std::size_t(w) * h * 4);
        ASSERT_EQ(tjDecompress2(turbo.get(), jpeg.data(), jpeg.size(), whole.data(), w, 0, h,
                                TJPF_RGBX, 0),
                  0);
        std::vector<std::uint8_t> texture(std::size_t(made.width) * made.height * 4);
        AreaResampler().resample(whole.data(), w, h, std::size_t(w) * 4, texture.data(), made.width,
                                 made.height);
        for (std::size_t i = 0; i < texture.size(); i += 4) {
            const bool keyed = c.key && texture[i] == options.matchRed &&
                               texture[i + 1] == options.matchGreen &&
                               texture[i + 2] == options.matchBlue;
            texture[i + 3] = keyed ? 0 : 255;
        }
        std::vector<std::uint8_t> levels(Mipmaps::bytesBelow(made.width, made.height, 4));
        Mipmaps::build(texture.data(), made.width, made.height, 4, levels.data());
        ASSERT_TRUE(std::equal(texture.begin(), texture.end(), made.pixels));
        ASSERT_TRUE(std::equal(levels.begin(), levels.end(), made.mipmaps));
    }
}
