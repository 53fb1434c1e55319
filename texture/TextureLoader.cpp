#include "TextureLoader.h"

#include <GL/glu.h>

TextureLoader::TextureLoader()
    : alphaMatch(true), highQuality(true), mipMapping(false), textureFilter(FilterNone),
      matchRed(0), matchGreen(0), matchBlue(0) {}

TextureLoader::~TextureLoader() = default;

void TextureLoader::SetAlphaMatch(bool enable, unsigned char red, unsigned char green,
                                  unsigned char blue) {
    alphaMatch = enable;
    if (enable) {
        matchRed = red;
        matchGreen = green;
        matchBlue = blue;
    }
}

TextureOptions TextureLoader::options() const {
    TextureOptions o;
    o.alphaMatch = alphaMatch;
    o.highQuality = highQuality;
    o.mipMapping = mipMapping;
    o.textureFilter = textureFilter;
    o.matchRed = matchRed;
    o.matchGreen = matchGreen;
    o.matchBlue = matchBlue;
    return o;
}

int TextureLoader::LoadTextureFromDisk(const char* fileName, glTexture* texture) {
    if (texture == nullptr)
        return 0;
    if (!scratch)
        scratch = std::make_unique<TextureScratch>();
    const TextureOptions current = options();
    DecodedTexture decoded;
    decodeTexture(fileName, current, queryMaxTextureSize(), *scratch, decoded);
    // The scaled targa image goes to the picture buffer, which targa loads
    // do not use otherwise.
    return uploadDecodedTexture(decoded, current, scratch->texture, texture);
}

int queryMaxTextureSize() {
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    return maxTextureSize > 0 ? maxTextureSize : 64;
}

namespace {

// Uploads with an unpack alignment of 1 where rows of three-byte pixels need
// it, and puts the caller's alignment back afterwards.
class TightRows {
  public:
    explicit TightRows(bool needed) : active(needed) {
        if (active) {
            glGetIntegerv(GL_UNPACK_ALIGNMENT, &saved);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        }
    }
    ~TightRows() {
        if (active)
            glPixelStorei(GL_UNPACK_ALIGNMENT, saved);
    }
    TightRows(const TightRows&) = delete;
    TightRows& operator=(const TightRows&) = delete;

  private:
    bool active;
    GLint saved = 4;
};

} // namespace

int uploadDecodedTexture(const DecodedTexture& decoded, const TextureOptions& options,
                         PixelBuffer& scaleBuffer, glTexture* texture) {
    if (decoded.imageTypeKnown)
        texture->imageType = decoded.imageType;
    if (decoded.headerKnown || decoded.ok) {
        texture->width = decoded.width;
        texture->height = decoded.height;
        texture->format = decoded.format;
        texture->bitsPerPixel = decoded.bitsPerPixel;
    }
    if (!decoded.ok)
        return 0;

    const GLint components = decoded.format == GL_RGBA ? 4 : 3;
    const std::uint8_t* pixels = decoded.pixels;
    // Three-byte rows are packed tightly in memory, so GL must not expect
    // them padded to four bytes.
    const bool tightRows = decoded.bytesPerPixel % 4 != 0;

    if (decoded.needsScaling) {
        const std::size_t bytes =
            static_cast<std::size_t>(decoded.width) * decoded.height * decoded.bytesPerPixel;
        std::uint8_t* scaled = scaleBuffer.reserve(bytes);
        if (scaled == nullptr)
            return 0;
        GLint savedPack = 4, savedUnpack = 4;
        glGetIntegerv(GL_PACK_ALIGNMENT, &savedPack);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedUnpack);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        const GLint status = gluScaleImage(decoded.format, decoded.sourceWidth,
                                           decoded.sourceHeight, GL_UNSIGNED_BYTE, pixels,
                                           decoded.width, decoded.height, GL_UNSIGNED_BYTE, scaled);
        glPixelStorei(GL_PACK_ALIGNMENT, savedPack);
        glPixelStorei(GL_UNPACK_ALIGNMENT, savedUnpack);
        if (status != 0)
            return 0;
        pixels = scaled;
    }

    GLuint name = 0;
    glGenTextures(1, &name);
    texture->textureId = name;
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);

    const GLsizei w = decoded.width, h = decoded.height;
    switch (options.textureFilter) {
    case FilterBilinear:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        if (options.mipMapping) {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
            TightRows rows(tightRows);
            gluBuild2DMipmaps(GL_TEXTURE_2D, components, w, h, decoded.format, GL_UNSIGNED_BYTE,
                              pixels);
        } else {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            TightRows rows(tightRows);
            glTexImage2D(GL_TEXTURE_2D, 0, components, w, h, 0, decoded.format, GL_UNSIGNED_BYTE,
                         pixels);
        }
        break;
    case FilterTrilinear: {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        TightRows rows(tightRows);
        gluBuild2DMipmaps(GL_TEXTURE_2D, components, w, h, decoded.format, GL_UNSIGNED_BYTE,
                          pixels);
        break;
    }
    default:
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, components, w, h, 0, decoded.format, GL_UNSIGNED_BYTE,
                     pixels);
        break;
    }
    return 1;
}
