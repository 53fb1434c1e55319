#pragma once

#include "AreaResampler.h"
#include "ColourProfile.h"
#include "PictureDecoder.h"
#include "PixelBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>

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

// Buffers and decoders that one load leaves for the next. One per thread:
// nothing in it is shared.
struct TextureScratch {
    PixelBuffer file;    // the whole image file
    PixelBuffer decoded; // the decoded picture or targa image
    PixelBuffer texture; // the pixels to upload, at the texture size
    PixelBuffer mipmaps; // the mipmap levels below the texture size
    PictureDecoder picture;
    AreaResampler resampler;
    ColourConverter colour;
};

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

// Opens, decodes, sizes and converts one image file without any GL call.
// maxTextureSize is the GL implementation's largest texture size. What runs
// short of memory leaves result.outOfMemory set or throws std::bad_alloc.
void decodeTexture(const char* path, const TextureOptions& options, int maxTextureSize,
                   TextureScratch& scratch, DecodedTexture& result,
                   const SizeCheck& check = SizeCheck());

// The same on a file's content held in memory; `path` only decides, by its
// extension, which decoder runs and which file-type code is recorded.
void decodeTextureData(const char* path, const std::uint8_t* data, std::size_t size,
                       const TextureOptions& options, int maxTextureSize, TextureScratch& scratch,
                       DecodedTexture& result, const SizeCheck& check = SizeCheck());

// Whether a texture whose longer side is `longerSide` before halving may be
// loaded `halvings` times halved for want of memory: not below 256 pixels
// on the longer side. A longer side not yet known (the file itself could not
// be read into memory) allows three halvings.
bool mayShrink(int longerSide, int halvings);
// The halvings a texture of that longer side gets when `wanted` are asked
// for: as many as keep it at 256 pixels or more (three when its size is not
// known yet), so that a set made smaller for want of memory shows none of its
// photographs smaller than that.
int allowedHalvings(int longerSide, int wanted);

// Gives back the memory of every buffer, for a load that failed for want of
// it: the next attempt starts from nothing.
void releaseBuffers(TextureScratch& scratch);

// Reads a whole file into the buffer; false when it cannot be opened or read
// (with *outOfMemory set when the buffer could not be had).
bool readWholeFile(const char* path, PixelBuffer& buffer, std::size_t& size,
                   bool* outOfMemory = nullptr);
