#include "CmsHandles.h"
#include "SamplePictures.h"
#include "TestImages.h"
#include "TurboJpegHandles.h"
#include "decode/ColourProfile.h"
#include "decode/TextureDecode.h"

#include <lcms2.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace SamplePictures;

namespace {

using Colour = std::array<int, 3>;

// Loads file bytes at their own size (64 x 64 stays 64 x 64).
class PictureColour : public ::testing::Test {
  protected:
    DecodedTexture load(const char* name, const std::vector<std::uint8_t>& bytes) {
        TextureOptions options = viewerTextureOptions();
        options.highQuality = true;
        DecodedTexture d;
        decodeTextureData(name, bytes.data(), bytes.size(), options, 4096, scratch, d);
        return d;
    }
    static Colour texel(const DecodedTexture& d, int x, int row) {
        const std::uint8_t* p = d.pixels + (static_cast<std::size_t>(row) * d.width + x) * 4;
        return {p[0], p[1], p[2]};
    }
    TextureScratch scratch;
};

// Little CMS's own transform from the colours of `profile` to sRGB.
CmsHandles::Transform toSrgb(const std::vector<std::uint8_t>& profile, cmsUInt32Number in,
                             cmsUInt32Number out) {
    const CmsHandles::Profile from(
        cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
    const CmsHandles::Profile to(cmsCreate_sRGBProfile());
    return CmsHandles::Transform(
        cmsCreateTransform(from.get(), in, to.get(), out, INTENT_PERCEPTUAL, 0));
}

int distance(const Colour& a, const Colour& b) {
    int most = 0;
    for (int c = 0; c < 3; ++c)
        most = std::max(most, std::abs(a[c] - b[c]));
    return most;
}

} // namespace

TEST_F(PictureColour, SixteenBitPngsLoadAtTheColoursOfTheirEightBitTwins) {
    // Many tools write 16-bit PNGs without any colour chunk and mean the
    // values as sRGB; gAMA 1/2.2 and sRGB chunks say the same.
    const struct {
        const char* kind;
        int type;
        std::vector<std::uint16_t> pixel;
    } kinds[] = {{"RGB", 2, {128, 64, 200}}, {"grey", 0, {128}}, {"grey-alpha", 4, {128, 255}}};
    const struct {
        const char* name;
        std::vector<PngChunk> chunks;
    } tags[] = {{"no chunk", {}},
                {"gAMA 1/2.2", {{"gAMA", {0, 0, 0xB1, 0x8F}}}},
                {"sRGB", {{"sRGB", {0}}}}};
    for (const auto& kind : kinds) {
        for (const auto& tag : tags) {
            std::vector<std::uint16_t> eight, sixteen;
            for (int i = 0; i < 8 * 8; ++i)
                for (const std::uint16_t v : kind.pixel) {
                    eight.push_back(v);
                    sixteen.push_back(static_cast<std::uint16_t>(v * 257));
                }
            const DecodedTexture a = load("a.png", png(8, 8, kind.type, 8, eight, tag.chunks));
            const Colour twin = texel(a, 3, 3);
            const DecodedTexture b = load("b.png", png(8, 8, kind.type, 16, sixteen, tag.chunks));
            ASSERT_TRUE(a.ok && b.ok) << kind.kind << ", " << tag.name;
            EXPECT_LE(distance(texel(b, 3, 3), twin), 1) << kind.kind << ", " << tag.name;
            EXPECT_EQ(twin[0], 128) << kind.kind << ", " << tag.name;
        }
    }
}

TEST_F(PictureColour, TaggedPhotosShowTheColoursOfTheirProfileInSrgb) {
    const Colour colours[4] = {{200, 30, 30}, {30, 200, 60}, {40, 60, 220}, {128, 128, 128}};
    const TestImages::Picture picture =
        TestImages::quadrants(64, 64, {200, 30, 30}, {30, 200, 60}, {40, 60, 220}, {128, 128, 128});
    const std::vector<std::uint8_t> jpeg = TestImages::jpegBytes(picture, 100);
    const std::vector<std::uint16_t> samples(picture.rgb.begin(), picture.rgb.end());
    const std::vector<std::uint8_t> adobe = iccProfile(Space::AdobeRgb);
    const std::vector<std::uint8_t> p3 = iccProfile(Space::DisplayP3);
    const std::vector<std::uint8_t> proPhoto = iccProfile(Space::ProPhoto);
    const PngChunk gamma18{"gAMA", {0, 0, 0xD9, 0x04}}; // 1/1.8, which the profile overrules
    std::vector<std::uint8_t> srgb(4096);
    {
        const CmsHandles::Profile h(cmsCreate_sRGBProfile());
        cmsUInt32Number size = static_cast<cmsUInt32Number>(srgb.size());
        cmsSaveProfileToMem(h.get(), srgb.data(), &size);
        srgb.resize(size);
    }
    const std::vector<std::uint8_t> damaged(adobe.begin(), adobe.begin() + adobe.size() / 2);

    const struct {
        const char* name;
        std::vector<std::uint8_t> file;
        const std::vector<std::uint8_t>* profile; // null: shown as decoded
    } cases[] = {
        {"Adobe RGB JPEG", withJpegProfile(jpeg, adobe), &adobe},
        {"Display P3 JPEG over three markers", withJpegProfile(jpeg, p3, 3), &p3},
        {"Adobe RGB PNG", png(64, 64, 2, 8, samples, {iccpChunk(adobe)}), &adobe},
        {"Display P3 PNG", png(64, 64, 2, 8, samples, {iccpChunk(p3)}), &p3},
        {"ProPhoto PNG with gAMA", png(64, 64, 2, 8, samples, {gamma18, iccpChunk(proPhoto)}),
         &proPhoto},
        {"sRGB JPEG", withJpegProfile(jpeg, srgb, 2), nullptr},
        {"damaged profile JPEG", withJpegProfile(jpeg, damaged), nullptr},
        {"untagged PNG", png(64, 64, 2, 8, samples), nullptr},
    };
    const int centres[4][2] = {{16, 48}, {48, 48}, {16, 16}, {48, 16}}; // x, row
    Colour decodedJpeg[4];
    const DecodedTexture untaggedJpeg = load("plain.jpg", jpeg);
    ASSERT_TRUE(untaggedJpeg.ok);
    for (int q = 0; q < 4; ++q)
        decodedJpeg[q] = texel(untaggedJpeg, centres[q][0], centres[q][1]);
    for (const auto& c : cases) {
        const bool isPng = c.file[1] == 'P';
        const DecodedTexture d = load(isPng ? "x.png" : "x.jpg", c.file);
        ASSERT_TRUE(d.ok) << c.name;
        CmsHandles::Transform transform;
        if (c.profile != nullptr) {
            transform = toSrgb(*c.profile, TYPE_RGB_8, TYPE_RGB_8);
            ASSERT_NE(transform, nullptr);
        }
        for (int q = 0; q < 4; ++q) {
            const int x = centres[q][0], row = centres[q][1];
            // The decoded colour before any conversion: exact for a PNG.
            const Colour decoded = isPng ? colours[q] : decodedJpeg[q];
            Colour expected = decoded;
            if (transform != nullptr) {
                std::uint8_t in[3], out[3];
                for (int k = 0; k < 3; ++k)
                    in[k] = static_cast<std::uint8_t>(decoded[k]);
                cmsDoTransform(transform.get(), in, out, 1);
                expected = {out[0], out[1], out[2]};
            }
            EXPECT_LE(distance(texel(d, x, row), expected), 2) << c.name << ", quadrant " << q;
        }
        if (transform != nullptr) {
            // The profile matters for the saturated colours: a load that
            // ignored it would be far off.
            std::uint8_t in[3] = {30, 200, 60}, out[3];
            cmsDoTransform(transform.get(), in, out, 1);
            EXPECT_GT(distance({out[0], out[1], out[2]}, {30, 200, 60}), 10) << c.name;
        }
    }
}

// Black-and-white pictures tagged with the grey profile that systems ship
// (linear light) show every level, the shadows too, as Little CMS computes it
// exactly; its transform optimised for eight bits interpolates between 33
// levels and is up to ten steps darker there. JPEGs take the same path.
TEST_F(PictureColour, GreyPicturesShowTheCurveOfTheirGreyProfile) {
    const std::vector<std::uint8_t> grey = greyProfile();
    std::vector<std::uint16_t> levels(256);
    for (int v = 0; v < 256; ++v)
        levels[v] = static_cast<std::uint16_t>(v);
    const DecodedTexture d = load("x.png", png(16, 16, 0, 8, levels, {iccpChunk(grey)}));
    ASSERT_TRUE(d.ok && d.width == 16 && d.height == 16);
    const CmsHandles::Transform exact = toSrgb(grey, TYPE_GRAY_FLT, TYPE_RGB_FLT);
    for (int v = 0; v < 256; ++v) {
        float in = v / 255.0f, out[3];
        cmsDoTransform(exact.get(), &in, out, 1);
        const int level = static_cast<int>(std::lround(out[0] * 255));
        EXPECT_LE(distance(texel(d, v % 16, 15 - v / 16), {level, level, level}), 1) << v;
    }
}

TEST_F(PictureColour, CmykJpegsShowTheirInksThroughTheirProfile) {
    // 10/80/90/0 % ink, inverted as stored.
    const std::uint8_t stored[4] = {229, 51, 25, 255};
    const std::vector<std::uint8_t> plain = cmykJpeg(16, 16, stored);
    const std::vector<std::uint8_t> cmyk = cmykProfile();
    const std::vector<std::uint8_t> rgbProfile = iccProfile(Space::AdobeRgb);
    // Without a usable profile, the plain inversion: each ink times black.
    const Colour inverted = {stored[0] * stored[3] / 255, stored[1] * stored[3] / 255,
                             stored[2] * stored[3] / 255};
    Colour managed;
    {
        const CmsHandles::Transform t = toSrgb(cmyk, TYPE_CMYK_8_REV, TYPE_RGB_8);
        ASSERT_NE(t, nullptr);
        std::uint8_t out[3];
        cmsDoTransform(t.get(), stored, out, 1);
        managed = {out[0], out[1], out[2]};
    }
    ASSERT_GT(distance(managed, inverted), 10);
    const struct {
        const char* name;
        std::vector<std::uint8_t> file;
        Colour expected;
    } cases[] = {
        {"CMYK profile", withJpegProfile(plain, cmyk, 2), managed},
        {"no profile", plain, inverted},
        {"RGB profile", withJpegProfile(plain, rgbProfile), inverted},
    };
    for (const auto& c : cases) {
        const DecodedTexture d = load("x.jpg", c.file);
        ASSERT_TRUE(d.ok) << c.name;
        EXPECT_LE(distance(texel(d, 8, 8), c.expected), 2) << c.name;
    }
}

// A CMYK picture of 65536 inks, each texel its own, through a profile whose
// ink curves rise steeply from paper white before its table: every texel
// shows Little CMS's exact, unoptimised result for the inks it decoded to,
// where its eight-bit optimisation landed up to 28 steps away.
TEST_F(PictureColour, CmykPicturesShowLittleCmsExactColours) {
    constexpr int kSide = 256;
    std::vector<std::uint8_t> stored;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            stored.insert(stored.end(), {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                                         static_cast<std::uint8_t>((x * 7 + y * 3) & 255),
                                         static_cast<std::uint8_t>(255 - ((x ^ y) & 127))});
    const std::vector<std::uint8_t> profile = cmykProfile(9, 0.45);
    const std::vector<std::uint8_t> jpeg = cmykJpeg(kSide, kSide, stored);
    const DecodedTexture d = load("x.jpg", withJpegProfile(jpeg, profile, 1));
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.width, kSide);
    // The inks as decoded, top row first, through the unoptimised transform.
    std::vector<std::uint8_t> inks(stored.size());
    const TurboJpegHandles::Handle decoder(tjInitDecompress());
    ASSERT_EQ(tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), inks.data(), kSide, 0, kSide,
                            TJPF_CMYK, 0),
              0);
    const CmsHandles::Profile from(
        cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
    const CmsHandles::Profile to(cmsCreate_sRGBProfile());
    const CmsHandles::Transform exact(cmsCreateTransform(
        from.get(), TYPE_CMYK_8_REV, to.get(), TYPE_RGB_8, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE));
    std::vector<std::uint8_t> expected(kSide * kSide * 3);
    cmsDoTransform(exact.get(), inks.data(), expected.data(), kSide * kSide);
    int worst = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const std::uint8_t* e = &expected[(static_cast<std::size_t>(y) * kSide + x) * 3];
            worst = std::max(worst, distance(texel(d, x, kSide - 1 - y), {e[0], e[1], e[2]}));
        }
    EXPECT_LE(worst, 1);
}

TEST_F(PictureColour, SixteenBitPngsWithAProfileConvertFromTheirSixteenBits) {
    // Linear light: these shadows lie between the steps of eight bits. Rows
    // read in order are converted one by one, interlaced ones once whole.
    const std::vector<std::uint8_t> linear = iccProfile(Space::LinearSrgb);
    const std::uint16_t levels[8] = {30, 60, 100, 150, 200, 400, 3000, 20000};
    std::vector<std::uint16_t> samples;
    for (const std::uint16_t v : levels)
        for (int i = 0; i < 8 * 8; ++i)
            samples.insert(samples.end(), {v, v, static_cast<std::uint16_t>(v / 2)});
    const CmsHandles::Transform t = toSrgb(linear, TYPE_RGB_16, TYPE_RGB_8);
    ASSERT_NE(t, nullptr);
    for (const bool interlaced : {false, true}) {
        const DecodedTexture d =
            load("x.png", png(8, 64, 2, 16, samples, {iccpChunk(linear)}, interlaced));
        ASSERT_TRUE(d.ok) << interlaced;
        for (int k = 0; k < 8; ++k) {
            std::uint8_t out[3];
            cmsDoTransform(t.get(), &samples[k * 8 * 8 * 3], out, 1);
            for (const int x : {0, 4, 7})
                EXPECT_LE(distance(texel(d, x, 63 - 8 * k - 4), {out[0], out[1], out[2]}), 1)
                    << levels[k] << (interlaced ? ", interlaced" : "");
        }
    }
}

TEST(ColourKernels, EveryKernelGivesThePlainKernelsBytesAndKeepsTheFourthByte) {
    if (!ColourConverter::available(ColourConverter::Kernel::BitFields))
        GTEST_SKIP() << "this processor has no BMI1";
    // Colours across the cube with a fourth byte of their own; odd counts
    // end on the single pixel after the pairs.
    std::vector<std::uint8_t> colours;
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 7)
                colours.insert(colours.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b),
                                               std::uint8_t(r ^ g ^ b)});
    for (const Space space : {Space::AdobeRgb, Space::DisplayP3, Space::ProPhoto}) {
        const std::vector<std::uint8_t> profile = iccProfile(space);
        for (const std::size_t count :
             {std::size_t(1), std::size_t(2), std::size_t(3), colours.size() / 4}) {
            std::vector<std::uint8_t> kernel[2];
            for (const auto k :
                 {ColourConverter::Kernel::Plain, ColourConverter::Kernel::BitFields}) {
                ColourConverter converter;
                converter.useKernel(k);
                std::vector<std::uint8_t>& pixels = kernel[k == ColourConverter::Kernel::BitFields];
                pixels.assign(colours.begin(), colours.begin() + count * 4);
                converter.toSrgb(profile.data(), profile.size(), PixelKind::Rgb, pixels.data(),
                                 count);
            }
            EXPECT_EQ(kernel[0], kernel[1]) << int(space) << ", " << count << " pixels";
            if (count < 4)
                continue;
            std::size_t changed = 0;
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_EQ(kernel[1][i * 4 + 3], colours[i * 4 + 3]) << "pixel " << i;
                changed += std::memcmp(&kernel[1][i * 4], &colours[i * 4], 3) != 0;
            }
            EXPECT_GT(changed, count / 2) << int(space); // the profile was applied
        }
    }
}
