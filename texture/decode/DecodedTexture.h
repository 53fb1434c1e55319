#pragma once

#include <cstdint>
#include <functional>

// What a load is asked for and what its CPU stage hands on: the loader's
// options, a picture's size as its header gives it, and the decoded texture.
// Types only, for the parts that pass textures along without decoding any
// (the texture cache, the GL stage).

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
    // Builds the mipmap levels in the CPU stage, so that the GL stage only
    // uploads them; off, the GL stage leaves them to GLU.
    bool prebuiltMipmaps = true;
    // The texture size halved this many times more in each dimension: a
    // photograph loaded again when memory ran short for its full size.
    int halvings = 0;
};

// The options the viewer preloads its photographs with: no colour key, high
// quality off, trilinear filtering with mipmaps.
TextureOptions viewerTextureOptions();

// True when a texture loaded with these options gets mipmaps.
bool wantsMipmaps(const TextureOptions& options);

// Pixel layout of a decoded texture; the GL stage maps it to GL_RGB/GL_RGBA.
enum class PixelFormat : std::uint8_t { Rgb, Rgba };

// The outcome of the CPU stage of one load: everything up to the upload.
struct DecodedTexture {
    bool ok = false;
    bool targa = false;
    // The load failed for want of memory (a buffer could not be had), not
    // because of the file: a smaller texture may still load.
    bool outOfMemory = false;
    // The longer side of the texture size before any halving, once known,
    // and the halvings the texture really has: those asked for, less any
    // that would take it below 256 pixels (allowedHalvings).
    std::int32_t longerSide = 0;
    std::int32_t halvings = 0;

    // Values for the caller's glTexture, with what a failed load has already
    // written: the picture path records the file-type code first, a targa
    // load records the header's size, format and depth as soon as it is read.
    bool imageTypeKnown = false;
    std::int32_t imageType = 0;
    bool headerKnown = false;
    std::int32_t width = 0; // texture size to upload
    std::int32_t height = 0;
    PixelFormat format = PixelFormat::Rgba;
    std::int32_t bitsPerPixel = 0;

    // The pixels at the texture size, bottom row first, rows packed tightly.
    const std::uint8_t* pixels = nullptr;
    int bytesPerPixel = 4;

    // Mipmap levels 1, 2, ... down to 1 x 1, one after the other with rows
    // packed tightly; null when the GL stage builds them (or none are wanted).
    const std::uint8_t* mipmaps = nullptr;
    int mipmapLevels = 0; // levels in `mipmaps`, level 0 not counted
};

// What became of one texture: loaded, refused for the file's sake (nothing
// to retry), or refused for want of memory (a buffer, a decoder's own
// working memory or GL's storage could not be had: a smaller texture may
// still load).
enum class UploadOutcome {
    Loaded,
    Unreadable,
    OutOfMemory,
};

// A picture's size as its header gives it; width 0 when unknown.
struct PictureExtent {
    int width = 0;
    int height = 0;
    bool jpeg = false; // decoded at a reduced scale when the texture is small
    std::uint64_t fileBytes = 0;
    bool operator==(const PictureExtent&) const = default;
};

// Told a picture's real size once its header has been read and before its
// pixels are allocated, with the halvings asked for; returns the halvings to
// decode it with (no fewer). A preload whose plan expected another size
// plans again here.
using SizeCheck = std::function<int(const PictureExtent& real, int halvings)>;
