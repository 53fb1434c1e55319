#pragma once

#include "decode/DecodedTexture.h"
#include "decode/PixelBuffer.h"

#include <cstdint>
#include <sys/stat.h>

// Where a preload reads the textures of photographs it loaded before and
// keeps the ones it decodes: the pipeline's side of a texture cache. The
// pipeline knows only this; a cache implements it. fetch and store are
// called from the preload's worker threads, several at once.
class TextureStore {
  public:
    virtual ~TextureStore() = default;

    // Fills `result`, its pixels in `pixels` and `mipmaps`, with what was
    // kept for the file when it still belongs to the file as `file` (a stat
    // of `path` taken now) describes it; false when nothing does.
    virtual bool fetch(const char* path, const struct stat& file, const TextureOptions& options,
                       int maxTextureSize, PixelBuffer& pixels, PixelBuffer& mipmaps,
                       DecodedTexture& result) = 0;
    // Keeps `decoded` for the file, which `before` (a stat of `path` taken
    // before it was read) describes, when it is worth keeping.
    virtual void store(const char* path, const struct stat& before, const TextureOptions& options,
                       int maxTextureSize, const DecodedTexture& decoded) = 0;
    // A preload begins and ends: what it stores may wait until it is over.
    virtual void preloadStarted() = 0;
    virtual void preloadEnded() = 0;
    // The most the textures waiting to be kept hold in memory: taken from
    // what the preload may use.
    virtual std::uint64_t stagingBound() const = 0;
};
