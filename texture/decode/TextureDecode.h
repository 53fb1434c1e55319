#pragma once

#include "decode/AreaResampler.h"
#include "decode/ColourProfile.h"
#include "decode/DecodedTexture.h"
#include "decode/PictureDecoder.h"
#include "decode/PixelBuffer.h"

#include <cstddef>
#include <cstdint>

// Decoding one image file into the pixels of its texture, with no GL call:
// the decoders, the sizing rules, the colour conversion, the resampling and
// the mipmap levels, in the order a load needs them.

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
