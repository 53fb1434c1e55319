#pragma once

#include "decode/DecodedTexture.h"
#include "gl/TextureRecord.h"

#include <GL/gl.h>

#include <cstdint>
#include <memory>

struct TextureScratch;

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
    // Returns 1 when loaded, 0 when not (memory running short included); a
    // failed load creates no texture, leaves textureId as it was and the
    // caller's texture bound. Needs a current GL context. GL errors the caller left pending are
    // read and dropped before the upload, so that the load tells its own failures from them.
    int LoadTextureFromDisk(const char* fileName, glTexture* texture);

    // The options as they stand now, for a load that runs in two stages
    // (no halvings): the preload's.
    TextureOptions options() const;

  private:
    TextureScratch& buffers();
    bool alphaMatch;
    bool highQuality;
    bool mipMapping;
    eglTexFilterType textureFilter;
    unsigned char matchRed;
    unsigned char matchGreen;
    unsigned char matchBlue;
    std::unique_ptr<TextureScratch> scratch; // buffers reused from load to load
};

// GL_MAX_TEXTURE_SIZE of the current context (64, the least GL offers, when
// it cannot be read).
int queryMaxTextureSize();

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
// Specifies level 0 and the mipmap levels below it on the texture bound now:
// those the CPU stage built when there are any, else GLU builds them. False
// when GLU reports a failure.
bool uploadMipmapped(const DecodedTexture& decoded);
