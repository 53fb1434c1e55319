#include "decode/TextureDecode.h"
#include "FileDescriptor.h"
#include "TestImages.h"
#include "decode/AreaResampler.h"
#include "decode/Mipmaps.h"

#include <QImage>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestImages;

namespace {

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

// Pixel (x, row) of a decoded texture; row 0 is the bottom row.
struct Texel {
    int r, g, b, a;
};
Texel texel(const DecodedTexture& d, int x, int row) {
    const std::uint8_t* p = d.pixels + (static_cast<std::size_t>(row) * d.width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

::testing::AssertionResult near(Texel t, Rgb c, int tolerance) {
    if (std::abs(t.r - c.r) <= tolerance && std::abs(t.g - c.g) <= tolerance &&
        std::abs(t.b - c.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got (" << t.r << ", " << t.g << ", " << t.b << ") expected (" << int(c.r) << ", "
           << int(c.g) << ", " << int(c.b) << ")";
}

class TextureDecode : public ::testing::Test {
  protected:
    DecodedTexture load(const std::string& path, const TextureOptions& options,
                        int maxSize = 16384) {
        DecodedTexture d;
        decodeTexture(path.c_str(), options, maxSize, scratch, d);
        return d;
    }
    TempDir dir;
    TextureScratch scratch;
};

// The four quadrants must land upright and not mirrored, bottom row first.
void expectQuadrants(const DecodedTexture& d, int tolerance) {
    const int w = d.width, h = d.height;
    EXPECT_TRUE(near(texel(d, w / 4, h / 4), kBlue, tolerance)) << "bottom left";
    EXPECT_TRUE(near(texel(d, 3 * w / 4, h / 4), kWhite, tolerance)) << "bottom right";
    EXPECT_TRUE(near(texel(d, w / 4, 3 * h / 4), kRed, tolerance)) << "top left";
    EXPECT_TRUE(near(texel(d, 3 * w / 4, 3 * h / 4), kGreen, tolerance)) << "top right";
    EXPECT_TRUE(near(texel(d, 0, 0), kBlue, tolerance)) << "first byte is the bottom left";
}

} // namespace

TEST_F(TextureDecode, JpegIsUprightBottomRowFirstAtTheTextureSize) {
    const std::string path = dir.file("quad.JPG");
    ASSERT_TRUE(writeJpeg(path, quadrants(640, 480, kRed, kGreen, kBlue, kWhite)));
    const DecodedTexture d = load(path, viewerTextureOptions());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.imageType, 2);
    EXPECT_EQ(d.width, 256);
    EXPECT_EQ(d.height, 256);
    EXPECT_EQ(d.format, PixelFormat::Rgba);
    EXPECT_EQ(d.bitsPerPixel, 32);
    expectQuadrants(d, 12);
    EXPECT_EQ(texel(d, 10, 10).a, 255);

    TextureOptions high = viewerTextureOptions();
    high.highQuality = true;
    const DecodedTexture full = load(path, high);
    ASSERT_TRUE(full.ok);
    EXPECT_EQ(full.width, 512);
    EXPECT_EQ(full.height, 512);
    expectQuadrants(full, 12);
}

TEST_F(TextureDecode, ReducedScaleJpegDecodeWhenTheTextureIsSmall) {
    // With a maximum texture size of 1024 a 4000 x 3000 photo needs only a
    // 512 x 512 texture, which the quarter-scale decode covers.
    const std::string path = dir.file("big.jpg");
    ASSERT_TRUE(writeJpeg(path, quadrants(4000, 3000, kRed, kGreen, kBlue, kWhite), 80));
    const DecodedTexture d = load(path, viewerTextureOptions(), 1024);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 512);
    EXPECT_EQ(d.height, 512);
    expectQuadrants(d, 12);
}

TEST_F(TextureDecode, BmpAndPngThroughTheImageReader) {
    const Picture picture = quadrants(200, 100, kRed, kGreen, kBlue, kWhite);
    for (const char* format : {"bmp", "png", "ico"}) {
        const std::string path = dir.file(std::string("quad.") + format);
        ASSERT_TRUE(writeWithQt(path, picture, format)) << format;
        const DecodedTexture d = load(path, viewerTextureOptions());
        ASSERT_TRUE(d.ok) << format;
        // 200 x 100 -> 256 x 128, halved to 128 x 64.
        EXPECT_EQ(d.width, 128) << format;
        EXPECT_EQ(d.height, 64) << format;
        expectQuadrants(d, 0);
    }
    EXPECT_EQ(load(dir.file("quad.bmp"), viewerTextureOptions()).imageType, 1);
    EXPECT_EQ(load(dir.file("quad.png"), viewerTextureOptions()).imageType, 0);
    EXPECT_EQ(load(dir.file("quad.ico"), viewerTextureOptions()).imageType, 6);
}

TEST_F(TextureDecode, ColourKeyMakesExactlyTheKeyTransparent) {
    const Rgb black{0, 0, 0}, nearlyBlack{0, 0, 1}, other{10, 20, 30};
    const std::string path = dir.file("key.bmp");
    ASSERT_TRUE(writeWithQt(path, quadrants(128, 128, black, nearlyBlack, kWhite, other), "bmp"));
    TextureOptions o = viewerTextureOptions();
    o.highQuality = true;
    o.alphaMatch = true; // key (0, 0, 0)
    DecodedTexture d = load(path, o);
    ASSERT_TRUE(d.ok);
    const Texel keyed = texel(d, 32, 96), kept = texel(d, 96, 96);
    EXPECT_EQ(keyed.a, 0);
    EXPECT_EQ(keyed.r + keyed.g + keyed.b, 0) << "a keyed pixel keeps its colour bytes";
    EXPECT_EQ(kept.a, 255);
    EXPECT_EQ(kept.b, 1);
    EXPECT_EQ(texel(d, 96, 32).a, 255);

    o.matchRed = 10;
    o.matchGreen = 20;
    o.matchBlue = 30;
    d = load(path, o);
    EXPECT_EQ(texel(d, 96, 32).a, 0);
    EXPECT_EQ(texel(d, 32, 96).a, 255);

    o.alphaMatch = false;
    d = load(path, o);
    for (int row : {32, 96})
        for (int x : {32, 96})
            EXPECT_EQ(texel(d, x, row).a, 255);
}

TEST_F(TextureDecode, TransparentPixelsAreDrawnOverBlack) {
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(QColor(255, 255, 255, 0));
    const std::string path = dir.file("clear.png");
    ASSERT_TRUE(image.save(QString::fromStdString(path), "png"));
    TextureOptions o = viewerTextureOptions();
    o.alphaMatch = true;
    const DecodedTexture d = load(path, o);
    ASSERT_TRUE(d.ok);
    const Texel t = texel(d, 4, 4);
    EXPECT_EQ(t.r + t.g + t.b, 0);
    EXPECT_EQ(t.a, 0);
}

TEST_F(TextureDecode, UnreadableFilesFailButKeepTheirImageType) {
    const TextureOptions o = viewerTextureOptions();
    DecodedTexture d = load(dir.file("missing.jpg"), o);
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(d.imageTypeKnown);
    EXPECT_EQ(d.imageType, 2);

    ASSERT_TRUE(writeBytes(dir.file("empty.jpg"), {}));
    EXPECT_FALSE(load(dir.file("empty.jpg"), o).ok);
    ASSERT_TRUE(writeBytes(dir.file("garbage.jpg"), std::vector<std::uint8_t>(5000, 0x5A)));
    EXPECT_FALSE(load(dir.file("garbage.jpg"), o).ok);
    ASSERT_TRUE(writeBytes(dir.file("header-only.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0, 16}));
    EXPECT_FALSE(load(dir.file("header-only.jpg"), o).ok);
    std::filesystem::create_directory(dir.path / "folder.jpg");
    EXPECT_FALSE(load(dir.file("folder.jpg"), o).ok);
    // A pipe named like a picture must not make the load wait for a writer.
    ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
    EXPECT_FALSE(load(dir.file("pipe.jpg"), o).ok);
    ASSERT_TRUE(writeBytes(dir.file("vector.emf"), std::vector<std::uint8_t>(100, 1)));
    d = load(dir.file("vector.emf"), o);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.imageType, 7);
}

TEST_F(TextureDecode, PictureWithAWrongExtensionIsDecodedByItsContent) {
    const std::string path = dir.file("really-a-jpeg.bmp");
    ASSERT_TRUE(writeJpeg(path, quadrants(64, 64, kRed, kGreen, kBlue, kWhite)));
    const DecodedTexture d = load(path, viewerTextureOptions());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.imageType, 1);
    expectQuadrants(d, 12);
}

TEST_F(TextureDecode, ForgedJpegSizeIsRefusedBeforeDecoding) {
    // A JPEG whose frame header claims 65500 x 65500 pixels (16 GiB decoded).
    std::vector<std::uint8_t> bytes = jpegBytes(solid(16, 16, kRed));
    ASSERT_FALSE(bytes.empty());
    for (std::size_t i = 2; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = 0xFF;
            bytes[i + 6] = 0xDC;
            bytes[i + 7] = 0xFF;
            bytes[i + 8] = 0xDC;
            break;
        }
    }
    ASSERT_TRUE(writeBytes(dir.file("forged.jpg"), bytes));
    EXPECT_FALSE(load(dir.file("forged.jpg"), viewerTextureOptions()).ok);
    // Refused from the header: not a byte of the claimed size was reserved.
    EXPECT_EQ(scratch.decoded.capacity(), 0u);
}

TEST_F(TextureDecode, TargaHeaderValuesAndScalingNeed) {
    auto tga = [](int w, int h, int depth) {
        std::vector<std::uint8_t> b = targaHeader(2, w, h, depth);
        b.resize(18 + static_cast<std::size_t>(w) * h * (depth / 8), 7);
        return b;
    };
    TextureOptions o = viewerTextureOptions();
    o.highQuality = true;
    ASSERT_TRUE(writeBytes(dir.file("square.Tga"), tga(256, 256, 24)));
    DecodedTexture d = load(dir.file("square.Tga"), o);
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.targa);
    EXPECT_FALSE(d.imageTypeKnown);
    EXPECT_EQ(d.format, PixelFormat::Rgb);
    EXPECT_EQ(d.bitsPerPixel, 24);

    ASSERT_TRUE(writeBytes(dir.file("wide.tga"), tga(128, 100, 32)));
    d = load(dir.file("wide.tga"), o);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 128);
    EXPECT_EQ(d.height, 128);
    EXPECT_EQ(d.format, PixelFormat::Rgba);

    // A refused targa still reports the header it read.
    std::vector<std::uint8_t> grey = tga(4, 4, 24);
    grey[2] = 3;
    ASSERT_TRUE(writeBytes(dir.file("grey.tga"), grey));
    d = load(dir.file("grey.tga"), o);
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(d.headerKnown);
    EXPECT_EQ(d.width, 4);
    EXPECT_FALSE(load(dir.file("absent.tga"), o).headerKnown);
}

TEST(AreaResample, SolidColoursStayExactAtAnyRatio) {
    AreaResampler resampler;
    const struct {
        int sw, sh, dw, dh;
    } sizes[] = {
        {1000, 750, 512, 512}, {7, 3, 16, 16}, {640, 480, 256, 256}, {5, 5, 5, 5}, {33, 1, 1, 1}};
    for (const auto& s : sizes) {
        std::vector<std::uint8_t> src(static_cast<std::size_t>(s.sw) * s.sh * 4);
        for (std::size_t i = 0; i < src.size(); i += 4) {
            src[i] = 201;
            src[i + 1] = 3;
            src[i + 2] = 77;
            src[i + 3] = 255;
        }
        std::vector<std::uint8_t> dst(static_cast<std::size_t>(s.dw) * s.dh * 4, 0);
        resampler.resample(src.data(), s.sw, s.sh, static_cast<std::size_t>(s.sw) * 4, dst.data(),
                           s.dw, s.dh);
        for (std::size_t i = 0; i < dst.size(); i += 4) {
            ASSERT_EQ(dst[i], 201) << s.sw << "x" << s.sh << " at " << i;
            ASSERT_EQ(dst[i + 1], 3);
            ASSERT_EQ(dst[i + 2], 77);
        }
    }
}

TEST(AreaResample, ShrinkingAveragesAndFlipsRows) {
    // 4 x 2 -> 2 x 1: each output pixel is the mean of a 2 x 2 block.
    const std::uint8_t src[] = {0,   0, 0, 0, 255, 0, 0, 0, 10, 10, 10, 0, 20, 20, 20, 0,
                                100, 0, 0, 0, 1,   0, 0, 0, 30, 30, 30, 0, 40, 40, 40, 0};
    std::uint8_t dst[8] = {};
    AreaResampler resampler;
    resampler.resample(src, 4, 2, 16, dst, 2, 1);
    EXPECT_EQ(dst[0], 89); // (0 + 255 + 100 + 1) / 4
    EXPECT_EQ(dst[4], 25); // (10 + 20 + 30 + 40) / 4
    // 1 x 2 -> 1 x 2: identity except that the rows come out bottom first.
    const std::uint8_t column[] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t flipped[8] = {};
    resampler.resample(column, 1, 2, 4, flipped, 1, 2);
    EXPECT_EQ(flipped[0], 5);
    EXPECT_EQ(flipped[4], 1);
}

namespace {

// A run-length targa of w x h pixels of one colour, in packets of 128.
void writeSolidRleTarga(const std::string& path, int w, int h, Rgb colour) {
    std::vector<std::uint8_t> file = targaHeader(10, w, h, 32);
    const std::uint8_t packet[] = {255, colour.b, colour.g, colour.r, 255};
    std::size_t pixels = static_cast<std::size_t>(w) * h;
    file.reserve(18 + (pixels / 128 + 1) * sizeof packet);
    for (; pixels >= 128; pixels -= 128)
        file.insert(file.end(), packet, packet + sizeof packet);
    if (pixels > 0) {
        const std::uint8_t last[] = {static_cast<std::uint8_t>(127 + pixels), colour.b, colour.g,
                                     colour.r, 255};
        file.insert(file.end(), last, last + sizeof last);
    }
    ASSERT_TRUE(writeBytes(path, file));
}

// Runs `body` in a child process; its exit status, or -signal when a signal
// ended it.
template <typename Body> int inChild(Body body) {
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

TEST_F(TextureDecode, HugeTargaFilesAreRefusedOrScaledNeverFatal) {
    // 25000 x 25000 decodes to 2.5 GB: refused from its header. 16384 x 16384
    // is exactly at the cap: it loads at the viewer's 8192 x 8192, its own
    // colour down to the last mipmap level.
    writeSolidRleTarga(dir.file("huge.tga"), 25000, 25000, {10, 20, 30});
    writeSolidRleTarga(dir.file("large.tga"), 16384, 16384, {200, 100, 50});
    EXPECT_EQ(inChild([&] {
                  return static_cast<int>(load(dir.file("huge.tga"), viewerTextureOptions()).ok);
              }),
              0);
    EXPECT_EQ(inChild([&] {
                  const DecodedTexture d = load(dir.file("large.tga"), viewerTextureOptions());
                  if (!d.ok || d.width != 8192 || d.height != 8192 || d.mipmaps == nullptr)
                      return 2;
                  const std::uint8_t* smallest = d.mipmaps + Mipmaps::bytesBelow(8192, 8192, 4) - 4;
                  const bool own = d.pixels[0] == 200 && d.pixels[1] == 100 && d.pixels[2] == 50 &&
                                   smallest[0] == 200 && smallest[1] == 100 && smallest[2] == 50;
                  return own ? 1 : 3;
              }),
              1);
}

TEST_F(TextureDecode, EveryTargaOriginGivesTheTextureOfTheBottomLeftOne) {
    // 100 x 60 pixels of 24 bits (scaled to 128 x 64), every row and every
    // column different, stored from each corner (descriptor bits 4 and 5).
    TextureOptions o = viewerTextureOptions();
    o.highQuality = true;
    for (const int type : {2, 10}) {
        std::vector<std::uint8_t> reference;
        for (const int descriptor : {0x00, 0x10, 0x20, 0x30}) {
            std::vector<std::uint8_t> file = targaHeader(type, 100, 60, 24, descriptor);
            for (int i = 0; i < 60; ++i) {
                const int y = descriptor & 0x20 ? 59 - i : i;
                for (int j = 0; j < 100; ++j) {
                    const int x = descriptor & 0x10 ? 99 - j : j;
                    if (type == 10)
                        file.push_back(0); // raw packet of one pixel
                    file.insert(file.end(), {static_cast<std::uint8_t>(x * 2),
                                             static_cast<std::uint8_t>(y * 4), 77});
                }
            }
            ASSERT_TRUE(writeBytes(dir.file("corner.tga"), file));
            const DecodedTexture d = load(dir.file("corner.tga"), o);
            ASSERT_TRUE(d.ok);
            const std::vector<std::uint8_t> pixels(d.pixels, d.pixels + 128 * 64 * 3);
            if (descriptor == 0) {
                reference = pixels;
                EXPECT_LT(pixels[1], pixels[128 * 63 * 3 + 1]) << "green grows upwards";
                EXPECT_LT(pixels[2], pixels[127 * 3 + 2]) << "blue grows to the right";
            }
            EXPECT_EQ(pixels, reference) << "type " << type << ", descriptor " << descriptor;
        }
    }
}

TEST_F(TextureDecode, DamagedPicturesFailWithoutAWordOnTheTerminal) {
    const Picture picture = quadrants(64, 48, kRed, kGreen, kBlue, kWhite);
    ASSERT_TRUE(writeWithQt(dir.file("good.png"), picture, "PNG"));
    std::vector<std::uint8_t> jpeg = jpegBytes(picture);
    // A Huffman table that claims more codes than it can hold.
    for (std::size_t i = 0; i + 20 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC4) {
            std::fill(jpeg.begin() + i + 5, jpeg.begin() + i + 21, 0xFF);
            break;
        }
    }
    std::vector<std::uint8_t> png = readBytes(dir.file("good.png"));
    for (std::size_t i = png.size() / 2; i < png.size() - 12; ++i)
        png[i] ^= 0x5A; // the compressed pixel data and its checksums
    // A GIF header of 4 x 4 pixels with a colour table, then an image whose
    // code size is out of range and whose data ends early.
    const std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 4,   0,   4,    0,   0x80,
                                           0,   0,   0,   0,   0,   255, 255, 255, 0x2C, 0,   0,
                                           0,   0,   4,   0,   4,   0,   0,   30,  2,    0xFF};
    ASSERT_TRUE(writeBytes(dir.file("bad.jpg"), jpeg));
    ASSERT_TRUE(writeBytes(dir.file("bad.png"), png));
    ASSERT_TRUE(writeBytes(dir.file("bad.gif"), gif));

    // stderr goes to a file while the pictures load.
    std::fflush(stderr);
    const FileDescriptor saved(dup(2));
    const std::string log = dir.file("stderr.txt");
    dup2(FileDescriptor(open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)).get(), 2);
    std::string loaded;
    for (const char* name : {"bad.jpg", "bad.png", "bad.gif"}) {
        TextureScratch fresh; // a new decoder each time, as each worker has
        DecodedTexture d;
        decodeTexture(dir.file(name).c_str(), viewerTextureOptions(), 4096, fresh, d);
        if (d.ok)
            loaded += name;
    }
    qWarning("a warning that is not the image reader's");
    std::fflush(stderr);
    dup2(saved.get(), 2);

    EXPECT_EQ(loaded, "");
    EXPECT_EQ(readText(log), "a warning that is not the image reader's\n");
}
