#pragma once

#include "TextureDecode.h"
#include "TextureRecord.h"

#include <GL/gl.h>

#include <cstdint>
#include <functional>
#include <memory>

// Turns one image file into one OpenGL texture of a size that suits the
// hardware, with the filtering and mipmapping chosen on the loader.
class TextureLoader {
  public:
    TextureLoader();
    virtual ~TextureLoader();

    // Turns the colour key on or off; the key colour is stored only when
    // turning it on, so turning it off keeps the previous key.
    void SetAlphaMatch(bool enable, unsigned char red, unsigned char green, unsigned char blue);
    void SetHighQualityTextures(bool enable) { highQuality = enable; }
    void SetMipMapping(bool enable) { mipMapping = enable; }
    void SetTextureFilter(eglTexFilterType filter) { textureFilter = filter; }

    // Loads the file into a new texture, left bound to GL_TEXTURE_2D.
    // Returns 1 when loaded, 0 when not; a failed load creates no texture,
    // leaves textureId as it was and the caller's texture bound. Needs a
    // current GL context. GL errors the caller left pending are read and
    // dropped before the upload, so that the load tells its own failures
    // from them.
    int LoadTextureFromDisk(const char* fileName, glTexture* texture);

    // The same for a photograph of the viewer, which must show whole or not
    // at all: when memory runs short for it (its decode buffers or its
    // texture), it is loaded again at half the size in each dimension, down
    // to 256 pixels on the longer side. Returns 0, textureId unwritten, when
    // even that fails. It is loaded with at least PhotographHalvings(), and
    // the halvings it took raise that for the photographs after it.
    int LoadPhotograph(const char* fileName, glTexture* texture);
    // The GL stage of a photograph whose CPU stage ran elsewhere (a
    // preloading worker), with at least `halvings` halvings; retries decode
    // on this thread, after `releaseDecoded` has given back the memory of the
    // first attempt. `halvings` becomes the most the load took, also when it
    // failed for want of memory at every size.
    int UploadPhotograph(const char* fileName, const DecodedTexture& decoded, glTexture* texture,
                         int& halvings, const std::function<void()>& releaseDecoded = {});

    // Halvings every photograph loaded with LoadPhotograph from now on gets
    // at least: once one had to be loaded smaller, the ones after it are no
    // larger, so that a set too large for the memory grows softer evenly
    // instead of in holes. LoadTextureFromDisk is not affected.
    int PhotographHalvings() const { return photographHalvings; }
    void ShrinkPhotographs(int halvings);

    // The options as they stand now, for a load that runs in two stages
    // (no halvings).
    TextureOptions options() const;

  private:
    TextureScratch& buffers();
    // The CPU stage of a load with these options, on this thread; the pixels
    // live in the loader's buffers until the next load.
    DecodedTexture decodeFile(const char* fileName, const TextureOptions& current);
    bool alphaMatch;
    bool highQuality;
    bool mipMapping;
    eglTexFilterType textureFilter;
    unsigned char matchRed;
    unsigned char matchGreen;
    unsigned char matchBlue;
    int photographHalvings = 0;
    std::unique_ptr<TextureScratch> scratch; // buffers reused from load to load
};

// GL_MAX_TEXTURE_SIZE of the current context (64, the least GL offers, when
// it cannot be read).
int queryMaxTextureSize();

enum class UploadOutcome {
    Loaded,
    Unreadable,  // the file: nothing to retry
    OutOfMemory, // a buffer or the texture's storage could not be had
};

// The GL stage of a load: writes the record's fields, then (when the CPU
// stage succeeded) creates the texture name and uploads the pixels with the
// mipmap levels the CPU stage built (GLU builds them when it did not). An
// upload that GL refuses deletes the texture again, so that no incomplete
// texture is left, and leaves textureId as it was.
UploadOutcome uploadDecoded(const DecodedTexture& decoded, const TextureOptions& options,
                            glTexture* texture);
// The same, returning 1 or 0 as LoadTextureFromDisk does.
int uploadDecodedTexture(const DecodedTexture& decoded, const TextureOptions& options,
                         glTexture* texture);
// The GL stage with the photograph's retries at half the size (see
// TextureLoader::LoadPhotograph), decoding again with `scratch` once
// `releaseDecoded` (when given) has freed the first attempt's pixels. A
// photograph decoded with fewer halvings than options.halvings is decoded
// again with that many. The halvings of the last attempt go to
// *loadedHalvings when given.
int uploadPhotograph(const char* fileName, const DecodedTexture& decoded,
                     const TextureOptions& options, TextureScratch& scratch, glTexture* texture,
                     const std::function<void()>& releaseDecoded = {},
                     int* loadedHalvings = nullptr);

// Specifies level 0 and the mipmap levels below it on the texture bound now:
// those the CPU stage built when there are any, else GLU builds them. False
// when GLU reports a failure.
bool uploadMipmapped(const DecodedTexture& decoded);
