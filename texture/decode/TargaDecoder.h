#pragma once

#include "decode/PixelBuffer.h"

#include <cstddef>
#include <cstdint>

// Decoder for Truevision TGA files of image type 2 (uncompressed true-colour)
// and 10 (run-length-encoded true-colour), 24 or 32 bits per pixel. Pixels
// come out as red, green, blue[, alpha], bottom row first and left pixel
// first: a file stored top row first (image descriptor bit 5) has its rows
// turned round, one stored right to left (bit 4) its pixels in each row.
namespace Targa {

struct Header {
    int idLength = 0;
    int imageType = 0;
    int width = 0;
    int height = 0;
    int pixelDepth = 0; // bits per pixel as the header gives it
    int descriptor = 0; // image descriptor: bit 5 top row first, bit 4 right to left
    int bytesPerPixel() const { return pixelDepth / 8; }
    bool topRowFirst() const { return (descriptor & 0x20) != 0; }
    bool rightToLeft() const { return (descriptor & 0x10) != 0; }
};

enum class Result {
    Ok,
    ShortHeader,
    Unsupported,  // image type, size or pixel depth that is not handled
    DataTooShort, // the file cannot hold the pixels its header promises
    TooLarge,     // more pixels than the caller accepts
    OutOfMemory,
    Truncated,  // the pixel data ends early
    RunPastEnd, // a run-length packet would write past the last pixel
};

// Reads the 18-byte header. False when the data is shorter than that.
bool readHeader(const std::uint8_t* data, std::size_t size, Header& header);

// Whether a file of `fileSize` bytes with this header can be decoded, told
// from the header and the size alone: the type, size and depth handled, no
// more than `maxPixels` pixels, and data enough for them. A header that
// promises more than its file can hold is refused here, before anything is
// allocated or planned for it.
Result check(const Header& header, std::size_t fileSize, std::size_t maxPixels);

// Decodes the whole file held in `data` into `pixels` (width * height *
// bytesPerPixel bytes, in a buffer of at least width * height * 4 bytes so
// that the caller can widen the pixels in place). An image of more than
// `maxPixels` pixels is refused from its header, before any allocation. The
// header is filled as soon as it has been read, also when decoding fails.
Result decode(const std::uint8_t* data, std::size_t size, Header& header, PixelBuffer& pixels,
              std::size_t maxPixels);

} // namespace Targa
