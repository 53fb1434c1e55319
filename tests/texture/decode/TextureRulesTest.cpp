#include "decode/TextureRules.h"

#include <gtest/gtest.h>

using namespace TextureRules;

TEST(TextureSize, NearestPowerOfTwoOnALogarithmicScale) {
    const struct {
        int n, expected;
    } cases[] = {{1, 1},       {2, 2},       {3, 4},       {65, 64},    {100, 128},   {480, 512},
                 {640, 512},   {724, 512},   {725, 1024},  {768, 1024}, {1448, 1024}, {1449, 2048},
                 {2896, 2048}, {2897, 4096}, {3000, 4096}, {4000, 4096}};
    for (const auto& c : cases)
        EXPECT_EQ(textureDimension(c.n, 16384), c.expected) << "n = " << c.n;
}

TEST(TextureSize, LargerThanTheMaximumTakesTheMaximum) {
    EXPECT_EQ(textureDimension(9000, 8192), 8192);
    // Not the power of two nearest to its own size (which would be 8192 too
    // here), but exactly the maximum, even when that is not a power of two.
    EXPECT_EQ(textureDimension(5000, 3000), 3000);
    EXPECT_EQ(textureDimension(2048, 2048), 2048);
    const Size size = textureSize(5000, 400, 3000, false);
    EXPECT_EQ(size.width, 1500);
    EXPECT_EQ(size.height, 256);
}

TEST(TextureSize, HalvingWithoutHighQuality) {
    Size s = textureSize(640, 480, 4096, true);
    EXPECT_EQ(s.width, 512);
    EXPECT_EQ(s.height, 512);
    s = textureSize(640, 480, 4096, false);
    EXPECT_EQ(s.width, 256);
    EXPECT_EQ(s.height, 256);
    s = textureSize(1024, 768, 4096, true);
    EXPECT_EQ(s.width, 1024);
    EXPECT_EQ(s.height, 1024);
    s = textureSize(1024, 768, 4096, false);
    EXPECT_EQ(s.width, 512);
    EXPECT_EQ(s.height, 512);
    // Width 64 is not above 64: nothing is halved.
    s = textureSize(64, 200, 4096, false);
    EXPECT_EQ(s.width, 64);
    EXPECT_EQ(s.height, 256);
    // Width above 64 halves the height too, even a small one.
    s = textureSize(128, 16, 4096, false);
    EXPECT_EQ(s.width, 64);
    EXPECT_EQ(s.height, 8);
    // A picture one pixel high keeps one row instead of none.
    s = textureSize(300, 1, 4096, false);
    EXPECT_EQ(s.width, 128);
    EXPECT_EQ(s.height, 1);
}

TEST(ImageType, CodesByExtensionWithoutRegardToCase) {
    EXPECT_EQ(imageTypeForPath("/photos/a.bmp"), 1);
    EXPECT_EQ(imageTypeForPath("/photos/a.JPG"), 2);
    EXPECT_EQ(imageTypeForPath("/photos/a.jpeg"), 2);
    EXPECT_EQ(imageTypeForPath("/photos/a.Gif"), 5);
    EXPECT_EQ(imageTypeForPath("/photos/a.ico"), 6);
    EXPECT_EQ(imageTypeForPath("/photos/a.EMF"), 7);
    EXPECT_EQ(imageTypeForPath("/photos/a.wmf"), 8);
    EXPECT_EQ(imageTypeForPath("/photos/a.png"), 0);
    EXPECT_EQ(imageTypeForPath("/photos/a.jpegg"), 0);
    EXPECT_EQ(imageTypeForPath("/photos/a.jp"), 0);
    EXPECT_EQ(imageTypeForPath("/photos/a."), 0);
}

TEST(ImageType, ExtensionIsTextAfterTheLastDotAnywhere) {
    EXPECT_EQ(extensionOf("/photos/picture"), "");
    EXPECT_EQ(imageTypeForPath("/photos/picture"), 0);
    EXPECT_EQ(extensionOf("photos.old/picture"), "old/picture");
    EXPECT_EQ(imageTypeForPath("photos.old/picture"), 0);
    EXPECT_EQ(extensionOf("a.b.c.jpg"), "jpg");
    EXPECT_TRUE(isTargaPath("/x/y.Tga"));
    EXPECT_TRUE(isTargaPath("/x/y.TGA"));
    EXPECT_FALSE(isTargaPath("/x/y.tga.jpg"));
    EXPECT_FALSE(isTargaPath("/x/tga"));
    const std::string longExtension = "/x/y." + std::string(5000, 'q');
    EXPECT_EQ(imageTypeForPath(longExtension.c_str()), 0);
}
