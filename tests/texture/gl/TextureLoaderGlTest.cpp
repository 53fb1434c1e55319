#include "GlTestContext.h"
#include "TestImages.h"
#include "decode/Mipmaps.h"
#include "gl/TextureLoader.h"

#include <GL/glu.h>

#include <gtest/gtest.h>

using namespace TestImages;

namespace {

class TextureLoaderGl : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ensureGlContext())
            GTEST_SKIP() << "no display for a GL context";
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        jpeg = dir.file("photo.jpg");
        ASSERT_TRUE(writeJpeg(
            jpeg, quadrants(640, 480, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255})));
    }

    static GLint boundTexture() {
        GLint name = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
        return name;
    }
    static GLint parameter(GLenum name) {
        GLint value = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
        return value;
    }
    static GLint levelSize(int level, GLenum which) {
        GLint value = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, which, &value);
        return value;
    }

    TempDir dir;
    std::string jpeg;
};

} // namespace

TEST_F(TextureLoaderGl, FreshLoaderHasTheDocumentedDefaults) {
    const TextureOptions o = TextureLoader().options();
    EXPECT_TRUE(o.alphaMatch);
    EXPECT_TRUE(o.highQuality);
    EXPECT_FALSE(o.mipMapping);
    EXPECT_EQ(o.textureFilter, FilterNone);
    EXPECT_EQ(o.matchRed + o.matchGreen + o.matchBlue, 0);
}

TEST_F(TextureLoaderGl, AlphaMatchOffKeepsTheOldKey) {
    TextureLoader loader;
    loader.SetAlphaMatch(true, 1, 2, 3);
    loader.SetAlphaMatch(false, 9, 9, 9);
    TextureOptions o = loader.options();
    EXPECT_FALSE(o.alphaMatch);
    EXPECT_EQ(o.matchRed, 1);
    EXPECT_EQ(o.matchBlue, 3);
    loader.SetAlphaMatch(true, 4, 5, 6);
    o = loader.options();
    EXPECT_TRUE(o.alphaMatch);
    EXPECT_EQ(o.matchGreen, 5);
}

TEST_F(TextureLoaderGl, ViewerSettingsGiveABoundTrilinearMipmappedTexture) {
    TextureLoader loader;
    loader.SetAlphaMatch(false, 0, 0, 0);
    loader.SetHighQualityTextures(false);
    loader.SetMipMapping(true);
    loader.SetTextureFilter(FilterTrilinear);
    glTexture t;
    ASSERT_EQ(loader.LoadTextureFromDisk(jpeg.c_str(), &t), 1);
    EXPECT_NE(t.textureId, 0u);
    EXPECT_EQ(boundTexture(), static_cast<GLint>(t.textureId));
    EXPECT_EQ(t.width, 256);
    EXPECT_EQ(t.height, 256);
    EXPECT_EQ(t.imageType, 2);
    EXPECT_EQ(t.bitsPerPixel, 32);
    EXPECT_EQ(t.format, static_cast<GLenum>(GL_RGBA));
    EXPECT_EQ(levelSize(0, GL_TEXTURE_WIDTH), 256);
    EXPECT_EQ(levelSize(0, GL_TEXTURE_HEIGHT), 256);
    EXPECT_EQ(levelSize(8, GL_TEXTURE_WIDTH), 1) << "a full mipmap chain";
    EXPECT_EQ(parameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
    EXPECT_EQ(parameter(GL_TEXTURE_WRAP_S), GL_CLAMP);
    EXPECT_EQ(parameter(GL_TEXTURE_WRAP_T), GL_CLAMP);
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4);

    // The uploaded level 0 is upright: its first row is the picture's bottom.
    std::vector<std::uint8_t> pixels(256 * 256 * 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    EXPECT_GT(pixels[(10 * 256 + 10) * 4 + 2], 240) << "bottom left is blue";
    EXPECT_GT(pixels[(250 * 256 + 10) * 4 + 0], 240) << "top left is red";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(TextureLoaderGl, EachFilterSetsItsSamplingAndMipmaps) {
    const struct {
        eglTexFilterType filter;
        bool mipMapping;
        GLint minFilter, magFilter;
        bool mipmaps;
        GLint alignment;
    } cases[] = {
        {FilterNone, true, GL_NEAREST, GL_NEAREST, false, 1},
        {FilterBilinear, false, GL_LINEAR, GL_LINEAR, false, 4},
        {FilterBilinear, true, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR, true, 4},
        {FilterTrilinear, false, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, true, 4},
        {static_cast<eglTexFilterType>(7), true, GL_NEAREST, GL_NEAREST, false, 1},
    };
    for (const auto& c : cases) {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        TextureLoader loader;
        loader.SetTextureFilter(c.filter);
        loader.SetMipMapping(c.mipMapping);
        glTexture t;
        ASSERT_EQ(loader.LoadTextureFromDisk(jpeg.c_str(), &t), 1);
        const std::string label =
            "filter " + std::to_string(c.filter) + " mipmapping " + std::to_string(c.mipMapping);
        EXPECT_EQ(t.width, 512) << label;
        EXPECT_EQ(parameter(GL_TEXTURE_MIN_FILTER), c.minFilter) << label;
        EXPECT_EQ(parameter(GL_TEXTURE_MAG_FILTER), c.magFilter) << label;
        EXPECT_EQ(levelSize(1, GL_TEXTURE_WIDTH) != 0, c.mipmaps) << label;
        GLint alignment = 0;
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        EXPECT_EQ(alignment, c.alignment) << label;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << label;
    }
}

TEST_F(TextureLoaderGl, FailedLoadCreatesNoTextureAndKeepsTheName) {
    TextureLoader loader;
    glTexture t;
    t.textureId = 4242;
    // Mesa hands out texture names in sequence: a failed load that took a
    // name would show as a gap before the next successful load's name.
    GLuint probe = 0;
    glGenTextures(1, &probe);
    const GLint before = boundTexture();
    ASSERT_TRUE(writeBytes(dir.file("broken.jpg"), std::vector<std::uint8_t>(300, 7)));
    EXPECT_EQ(loader.LoadTextureFromDisk(dir.file("broken.jpg").c_str(), &t), 0);
    EXPECT_EQ(loader.LoadTextureFromDisk(dir.file("missing.tga").c_str(), &t), 0);
    EXPECT_EQ(t.textureId, 4242u);
    EXPECT_EQ(t.imageType, 2);
    EXPECT_EQ(boundTexture(), before);
    glTexture ok;
    ASSERT_EQ(loader.LoadTextureFromDisk(jpeg.c_str(), &ok), 1);
    EXPECT_EQ(ok.textureId, probe + 1);
    glDeleteTextures(1, &probe);
}

TEST_F(TextureLoaderGl, AnUploadGlRefusesLeavesTheCallersTextureBound) {
    GLuint mine = 0;
    glGenTextures(1, &mine);
    glBindTexture(GL_TEXTURE_2D, mine);
    std::uint8_t pixel[4] = {};
    DecodedTexture wide; // wider than any GL takes
    wide.ok = true;
    wide.width = 1 << 20;
    wide.height = 1;
    wide.pixels = pixel;
    glTexture t;
    EXPECT_EQ(uploadDecodedTexture(wide, TextureOptions(), &t), 0);
    EXPECT_EQ(t.textureId, 0u);
    EXPECT_EQ(boundTexture(), static_cast<GLint>(mine));
    glDeleteTextures(1, &mine);
}

TEST_F(TextureLoaderGl, TargaIsScaledToItsTextureSizeWithTightRows) {
    // 101 x 3 pixels of 24 bits: rows of 303 bytes, not a multiple of four.
    std::vector<std::uint8_t> file(18, 0);
    file[2] = 2;
    file[12] = 101;
    file[14] = 3;
    file[16] = 24;
    for (int i = 0; i < 101 * 3; ++i) {
        file.push_back(30); // blue
        file.push_back(20); // green
        file.push_back(10); // red
    }
    ASSERT_TRUE(writeBytes(dir.file("odd.tga"), file));
    TextureLoader loader;
    loader.SetTextureFilter(FilterBilinear);
    glTexture t;
    ASSERT_EQ(loader.LoadTextureFromDisk(dir.file("odd.tga").c_str(), &t), 1);
    EXPECT_EQ(t.width, 128);
    EXPECT_EQ(t.height, 4);
    EXPECT_EQ(t.format, static_cast<GLenum>(GL_RGB));
    EXPECT_EQ(t.bitsPerPixel, 24);
    EXPECT_EQ(levelSize(0, GL_TEXTURE_WIDTH), 128);
    std::vector<std::uint8_t> pixels(128 * 4 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (std::size_t i = 0; i < pixels.size(); i += 3) {
        ASSERT_EQ(pixels[i], 10) << "pixel " << i / 3;
        ASSERT_EQ(pixels[i + 1], 20);
        ASSERT_EQ(pixels[i + 2], 30);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(TextureLoaderGl, TargaAtItsTextureSizeIsUploadedUnscaled) {
    std::vector<std::uint8_t> file(18, 0);
    file[2] = 2;
    file[13] = 1; // 256
    file[15] = 1;
    file[16] = 24;
    file.resize(18 + 256 * 256 * 3, 50);
    ASSERT_TRUE(writeBytes(dir.file("square.tga"), file));
    TextureLoader loader;
    glTexture t;
    ASSERT_EQ(loader.LoadTextureFromDisk(dir.file("square.tga").c_str(), &t), 1);
    EXPECT_EQ(t.width, 256);
    EXPECT_EQ(t.height, 256);
    EXPECT_EQ(levelSize(0, GL_TEXTURE_WIDTH), 256);
    EXPECT_EQ(t.imageType, 0) << "a targa load does not write the file-type code";
}

namespace {

// Every level of the bound texture, read back with tight rows.
std::vector<std::vector<std::uint8_t>> readLevels(GLenum format, int bpp) {
    std::vector<std::vector<std::uint8_t>> levels;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int level = 0;; ++level) {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        if (w == 0 || h == 0)
            break;
        levels.emplace_back(static_cast<std::size_t>(w) * h * bpp);
        glGetTexImage(GL_TEXTURE_2D, level, format, GL_UNSIGNED_BYTE, levels.back().data());
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return levels;
}

} // namespace

TEST_F(TextureLoaderGl, WorkerMipmapsAreByteForByteThoseOfGlu) {
    const struct {
        int w, h;
    } shapes[] = {{16, 16}, {32, 16}, {8, 32}, {1, 32}, {64, 1}, {2, 2}, {1, 1}, {256, 128}};
    std::uint32_t seed = 12345;
    for (const int bpp : {3, 4}) {
        for (const auto& shape : shapes) {
            // Odd colours: every byte from a small generator.
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(shape.w) * shape.h * bpp);
            for (std::uint8_t& b : pixels) {
                seed = seed * 1664525u + 1013904223u;
                b = static_cast<std::uint8_t>(seed >> 24);
            }
            std::vector<std::uint8_t> below(Mipmaps::bytesBelow(shape.w, shape.h, bpp));
            Mipmaps::build(pixels.data(), shape.w, shape.h, bpp, below.data());
            DecodedTexture decoded;
            decoded.ok = true;
            decoded.width = shape.w;
            decoded.height = shape.h;
            decoded.format = bpp == 4 ? PixelFormat::Rgba : PixelFormat::Rgb;
            decoded.bytesPerPixel = bpp;
            decoded.pixels = pixels.data();
            decoded.mipmaps = below.data();
            decoded.mipmapLevels = Mipmaps::levelsBelow(shape.w, shape.h);
            const GLenum format = bpp == 4 ? GL_RGBA : GL_RGB;

            glTexture ours;
            ASSERT_EQ(uploadDecodedTexture(decoded, viewerTextureOptions(), &ours), 1);
            const auto oursLevels = readLevels(format, bpp);

            GLuint glu = 0;
            glGenTextures(1, &glu);
            glBindTexture(GL_TEXTURE_2D, glu);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            gluBuild2DMipmaps(GL_TEXTURE_2D, bpp, shape.w, shape.h, format, GL_UNSIGNED_BYTE,
                              pixels.data());
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            const auto gluLevels = readLevels(format, bpp);

            ASSERT_EQ(oursLevels.size(), gluLevels.size()) << shape.w << "x" << shape.h;
            for (std::size_t level = 0; level < gluLevels.size(); ++level)
                ASSERT_EQ(oursLevels[level], gluLevels[level])
                    << shape.w << "x" << shape.h << " at " << bpp << " bytes, level " << level;
            const GLuint names[] = {ours.textureId, glu};
            glDeleteTextures(2, names);
        }
    }
}
