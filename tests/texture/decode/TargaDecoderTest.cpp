#include "decode/TargaDecoder.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(int type, int w, int h, int depth, int idLength = 0) {
    return TestImages::targaHeader(type, w, h, depth, 0, idLength);
}

void append(Bytes& b, std::initializer_list<int> values) {
    for (int v : values)
        b.push_back(static_cast<std::uint8_t>(v));
}

// The decoded-size cap the loader applies: 2^28 pixels (1 GiB at four bytes).
constexpr std::size_t kCapPixels = std::size_t(1) << 28;

Targa::Result decode(const Bytes& file, Targa::Header& h, PixelBuffer& out) {
    return Targa::decode(file.data(), file.size(), h, out, kCapPixels);
}

} // namespace

TEST(Targa, UncompressedPixelsAreSwappedToRgbInFileOrder) {
    // 2 x 2, 24 bits: file pixels are blue, green, red.
    Bytes file = header(2, 2, 2, 24);
    append(file, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    Targa::Header h;
    PixelBuffer out;
    ASSERT_EQ(decode(file, h, out), Targa::Result::Ok);
    EXPECT_EQ(h.width, 2);
    EXPECT_EQ(h.height, 2);
    EXPECT_EQ(h.pixelDepth, 24);
    const Bytes expected = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
    EXPECT_EQ(Bytes(out.data(), out.data() + 12), expected);
}

TEST(Targa, ThirtyTwoBitKeepsAlphaAndSkipsTheIdField) {
    Bytes file = header(2, 2, 1, 32, 3);
    append(file, {0xAA, 0xBB, 0xCC}); // image ID, skipped
    append(file, {10, 20, 30, 40, 50, 60, 70, 0});
    Targa::Header h;
    PixelBuffer out;
    ASSERT_EQ(decode(file, h, out), Targa::Result::Ok);
    const Bytes expected = {30, 20, 10, 40, 70, 60, 50, 0};
    EXPECT_EQ(Bytes(out.data(), out.data() + 8), expected);
}

TEST(Targa, RunLengthPacketsMayCrossRows) {
    // 3 x 2 pixels: a run of 4 crosses from row 0 into row 1, then a raw
    // packet of 2 finishes row 1.
    Bytes file = header(10, 3, 2, 24);
    append(file, {128 + 3, 1, 2, 3});
    append(file, {1, 7, 8, 9, 10, 11, 12});
    Targa::Header h;
    PixelBuffer out;
    ASSERT_EQ(decode(file, h, out), Targa::Result::Ok);
    const Bytes expected = {3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 9, 8, 7, 12, 11, 10};
    EXPECT_EQ(Bytes(out.data(), out.data() + 18), expected);
}

TEST(Targa, RunLengthThirtyTwoBitCopiesTheFourthByte) {
    Bytes file = header(10, 2, 1, 32);
    append(file, {128 + 1, 1, 2, 3, 99});
    Targa::Header h;
    PixelBuffer out;
    ASSERT_EQ(decode(file, h, out), Targa::Result::Ok);
    const Bytes expected = {3, 2, 1, 99, 3, 2, 1, 99};
    EXPECT_EQ(Bytes(out.data(), out.data() + 8), expected);
}

TEST(Targa, EveryRefusedFileFails) {
    Targa::Header h;
    PixelBuffer out;
    // Short header.
    EXPECT_EQ(decode(Bytes(17, 0), h, out), Targa::Result::ShortHeader);
    // Colour-mapped and grey images, zero sizes, 16-bit and 8-bit depths.
    for (int type : {0, 1, 3, 9, 11}) {
        Bytes file = header(type, 1, 1, 24);
        append(file, {1, 2, 3});
        EXPECT_EQ(decode(file, h, out), Targa::Result::Unsupported) << "type " << type;
    }
    EXPECT_EQ(decode(header(2, 0, 4, 24), h, out), Targa::Result::Unsupported);
    EXPECT_EQ(decode(header(2, 4, 0, 24), h, out), Targa::Result::Unsupported);
    EXPECT_EQ(decode(header(2, 1, 1, 16), h, out), Targa::Result::Unsupported);
    EXPECT_EQ(decode(header(2, 1, 1, 8), h, out), Targa::Result::Unsupported);
    // Uncompressed data one byte short.
    Bytes shortRaw = header(2, 2, 1, 24);
    append(shortRaw, {1, 2, 3, 4, 5});
    EXPECT_EQ(decode(shortRaw, h, out), Targa::Result::DataTooShort);
    // A run packet that would store past the last pixel.
    Bytes overrun = header(10, 2, 2, 24);
    append(overrun, {128 + 4, 1, 2, 3});
    EXPECT_EQ(decode(overrun, h, out), Targa::Result::RunPastEnd);
    // A raw packet that would store past the last pixel.
    Bytes rawOverrun = header(10, 1, 1, 24);
    append(rawOverrun, {1, 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(decode(rawOverrun, h, out), Targa::Result::RunPastEnd);
    // Run-length data that ends early, in a packet header and in a pixel.
    Bytes early = header(10, 300, 1, 24);
    append(early, {128 + 127, 1, 2, 3, 128 + 127, 1, 2, 3, 43, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(decode(early, h, out), Targa::Result::Truncated);
    Bytes noPacket = header(10, 200, 1, 24);
    append(noPacket, {128 + 127, 1, 2, 3, 128 + 70, 1, 2, 3});
    EXPECT_EQ(decode(noPacket, h, out), Targa::Result::Truncated);
    // Fewer bytes than the fewest packets that could fill the image.
    Bytes tooFew = header(10, 300, 1, 24);
    append(tooFew, {128 + 127, 1, 2, 3, 128 + 127, 1, 2, 3, 128 + 43, 1, 2});
    EXPECT_EQ(decode(tooFew, h, out), Targa::Result::DataTooShort);
}

TEST(Targa, OversizedOrUnderfilledHeadersFailBeforeAllocating) {
    // 65535 x 65535 pixels is over the cap; 16384 x 16385 just over it; a
    // 16000 x 16000 header followed by two packets cannot fill its image.
    const struct {
        int w, h;
        Targa::Result expected;
    } cases[] = {{65535, 65535, Targa::Result::TooLarge},
                 {16384, 16385, Targa::Result::TooLarge},
                 {16000, 16000, Targa::Result::DataTooShort}};
    for (const auto& c : cases) {
        for (int type : {2, 10}) {
            Bytes file = header(type, c.w, c.h, 32);
            append(file, {128 + 127, 1, 2, 3, 4, 128 + 127, 1, 2, 3, 4});
            Targa::Header h;
            PixelBuffer out;
            EXPECT_EQ(decode(file, h, out), c.expected) << c.w << "x" << c.h << " type " << type;
            EXPECT_EQ(out.capacity(), 0u);
            EXPECT_EQ(h.width, c.w);
        }
    }
}
