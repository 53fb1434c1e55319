#pragma once

#include "PixelBuffer.h"

#include <cstddef>
#include <cstdint>

// Decoder for Truevision TGA files of image type 2 (uncompressed true-colour)
// and 10 (run-length-encoded true-colour), 24 or 32 bits per pixel. Rows are
// kept in file order; pixels come out as red, green, blue[, alpha].
namespace Targa {

struct Header {
    int idLength = 0;
    int imageType = 0;
    int width = 0;
    int height = 0;
    int pixelDepth = 0; // bits per pixel as the header gives it
    int bytesPerPixel() const { return pixelDepth / 8; }
};

enum class Result {
    Ok,
    ShortHeader,
    Unsupported,  // image type, size or pixel depth that is not handled
    DataTooShort, // the file cannot hold the pixels its header promises
    OutOfMemory,
    Truncated,  // the pixel data ends early
    RunPastEnd, // a run-length packet would write past the last pixel
};

// Reads the 18-byte header. False when the data is shorter than that.
bool readHeader(const std::uint8_t* data, std::size_t size, Header& header);

// Decodes the whole file held in `data` into `pixels` (width * height *
// bytesPerPixel bytes). The header is filled as soon as it has been read,
// also when decoding fails afterwards.
Result decode(const std::uint8_t* data, std::size_t size, Header& header, PixelBuffer& pixels);

} // namespace Targa
