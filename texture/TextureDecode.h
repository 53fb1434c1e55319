#pragma once

#include "AreaResample.h"
#include "PictureDecoder.h"
#include "PixelBuffer.h"

#include <GL/gl.h>

#include <cstdint>

enum eglTexFilterType : std::int32_t {
    FilterNone = 0,
    FilterBilinear = 1,
    FilterTrilinear = 2,
};

// The loader's options as they stand when a load begins.
struct TextureOptions {
    bool alphaMatch = true;
    bool highQuality = true;
    bool mipMapping = false;
    eglTexFilterType textureFilter = FilterNone;
    std::uint8_t matchRed = 0;
    std::uint8_t matchGreen = 0;
    std::uint8_t matchBlue = 0;
};

// Buffers and decoders that one load leaves for the next. One per thread:
// nothing in it is shared.
struct TextureScratch {
    PixelBuffer file;    // the whole image file
    PixelBuffer decoded; // the decoded picture or targa image
    PixelBuffer texture; // the pixels to upload, at the texture size
    PictureDecoder picture;
    AreaResampler resampler;
};

// The outcome of the CPU stage of one load: everything up to the upload.
struct DecodedTexture {
    bool ok = false;
    bool targa = false;

    // Values for the caller's glTexture, with what a failed load has already
    // written: the picture path records the file-type code first, a targa
    // load records the header's size, format and depth as soon as it is read.
    bool imageTypeKnown = false;
    std::int32_t imageType = 0;
    bool headerKnown = false;
    std::int32_t width = 0; // texture size to upload
    std::int32_t height = 0;
    GLenum format = GL_RGBA;
    std::int32_t bitsPerPixel = 0;

    // The pixels, bottom row first for pictures and in file order for targa
    // files. A targa image whose size differs from the texture size still has
    // to be scaled (sourceWidth x sourceHeight to width x height).
    const std::uint8_t* pixels = nullptr;
    std::int32_t sourceWidth = 0;
    std::int32_t sourceHeight = 0;
    int bytesPerPixel = 4;
    bool needsScaling = false;
};

// Opens, decodes, sizes and converts one image file without any GL call.
// maxTextureSize is the GL implementation's largest texture size.
void decodeTexture(const char* path, const TextureOptions& options, int maxTextureSize,
                   TextureScratch& scratch, DecodedTexture& result);

// The same on a file's content held in memory; `path` only decides, by its
// extension, which decoder runs and which file-type code is recorded.
void decodeTextureData(const char* path, const std::uint8_t* data, std::size_t size,
                       const TextureOptions& options, int maxTextureSize, TextureScratch& scratch,
                       DecodedTexture& result);

// Reads a whole file into the buffer; false when it cannot be opened or read.
bool readWholeFile(const char* path, PixelBuffer& buffer, std::size_t& size);
