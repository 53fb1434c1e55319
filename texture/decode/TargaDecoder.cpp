#include "decode/TargaDecoder.h"

#include <algorithm>
#include <cstring>

namespace Targa {

namespace {

constexpr std::size_t kHeaderSize = 18;

int read16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8);
}

// Stores one file pixel as red, green, blue[, alpha].
inline void storePixel(std::uint8_t* out, const std::uint8_t* in, int bytesPerPixel) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    if (bytesPerPixel == 4)
        out[3] = in[3];
}

// Turns the pixels of each row round in place, so that the left one comes first.
void reverseColumns(std::uint8_t* pixels, int width, std::size_t rows, int bytesPerPixel) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    for (std::size_t y = 0; y < rows; ++y) {
        std::uint8_t* row = pixels + y * rowBytes;
        for (int left = 0, right = width - 1; left < right; ++left, --right)
            std::swap_ranges(row + left * bytesPerPixel, row + (left + 1) * bytesPerPixel,
                             row + right * bytesPerPixel);
    }
}

} // namespace

bool readHeader(const std::uint8_t* data, std::size_t size, Header& header) {
    if (size < kHeaderSize)
        return false;
    header.idLength = data[0];
    header.imageType = data[2];
    header.width = read16(data + 12);
    header.height = read16(data + 14);
    header.pixelDepth = data[16];
    header.descriptor = data[17];
    return true;
}

Result check(const Header& header, std::size_t fileSize, std::size_t maxPixels) {
    const int bpp = header.bytesPerPixel();
    if ((header.imageType != 2 && header.imageType != 10) || header.width == 0 ||
        header.height == 0 || (bpp != 3 && bpp != 4))
        return Result::Unsupported;
    const std::size_t pixelCount = static_cast<std::size_t>(header.width) * header.height;
    if (pixelCount > maxPixels)
        return Result::TooLarge;
    const std::size_t start = kHeaderSize + header.idLength;
    const std::size_t available = fileSize > start ? fileSize - start : 0;
    // Raw data needs every byte, and one run packet of 1 + bpp bytes stores
    // at most 128 pixels.
    const std::size_t needed =
        header.imageType == 2 ? pixelCount * bpp : (pixelCount + 127) / 128 * (1 + bpp);
    return available < needed ? Result::DataTooShort : Result::Ok;
}

namespace {

// Turns the rows round in place, so that the bottom row comes first.
void reverseRows(std::uint8_t* pixels, std::size_t rowBytes, std::size_t rows) {
    for (std::size_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::uint8_t* a = pixels + top * rowBytes;
        std::uint8_t* b = pixels + bottom * rowBytes;
        std::swap_ranges(a, a + rowBytes, b);
    }
}

Result decodePixels(const std::uint8_t* data, std::size_t size, const Header& header,
                    PixelBuffer& pixels, std::size_t maxPixels) {
    const Result fits = check(header, size, maxPixels);
    if (fits != Result::Ok)
        return fits;
    const int bpp = header.bytesPerPixel();
    const std::size_t pixelCount = static_cast<std::size_t>(header.width) * header.height;
    const std::size_t start = kHeaderSize + header.idLength;

    std::uint8_t* out = pixels.reserve(pixelCount * 4);
    if (out == nullptr)
        return Result::OutOfMemory;

    const std::uint8_t* in = data + start;
    const std::uint8_t* end = data + size;
    if (header.imageType == 2) {
        for (std::size_t i = 0; i < pixelCount; ++i)
            storePixel(out + i * bpp, in + i * bpp, bpp);
        return Result::Ok;
    }

    std::size_t stored = 0;
    while (stored < pixelCount) {
        if (in >= end)
            return Result::Truncated;
        const int packet = *in++;
        if (packet < 128) {
            const std::size_t count = static_cast<std::size_t>(packet) + 1;
            for (std::size_t i = 0; i < count; ++i) {
                if (static_cast<std::size_t>(end - in) < static_cast<std::size_t>(bpp))
                    return Result::Truncated;
                if (stored >= pixelCount)
                    return Result::RunPastEnd;
                storePixel(out + stored * bpp, in, bpp);
                in += bpp;
                ++stored;
            }
        } else {
            const std::size_t count = static_cast<std::size_t>(packet - 127);
            if (static_cast<std::size_t>(end - in) < static_cast<std::size_t>(bpp))
                return Result::Truncated;
            std::uint8_t value[4];
            storePixel(value, in, bpp);
            in += bpp;
            if (count > pixelCount - stored)
                return Result::RunPastEnd;
            for (std::size_t i = 0; i < count; ++i)
                std::memcpy(out + (stored + i) * bpp, value, bpp);
            stored += count;
        }
    }
    return Result::Ok;
}

} // namespace

Result decode(const std::uint8_t* data, std::size_t size, Header& header, PixelBuffer& pixels,
              std::size_t maxPixels) {
    if (!readHeader(data, size, header))
        return Result::ShortHeader;
    const Result result = decodePixels(data, size, header, pixels, maxPixels);
    if (result != Result::Ok)
        return result;
    const std::size_t rows = static_cast<std::size_t>(header.height);
    if (header.topRowFirst())
        reverseRows(pixels.data(), static_cast<std::size_t>(header.width) * header.bytesPerPixel(),
                    rows);
    if (header.rightToLeft())
        reverseColumns(pixels.data(), header.width, rows, header.bytesPerPixel());
    return result;
}

} // namespace Targa
