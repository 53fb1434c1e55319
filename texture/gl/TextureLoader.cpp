#include "gl/TextureLoader.h"

#include "decode/TextureDecode.h"

#include <GL/glu.h>

#include <new>

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
    const TextureOptions current = options();
    DecodedTexture decoded;
    try {
        decodeTexture(fileName, current, queryMaxTextureSize(), buffers(), decoded);
    } catch (const std::bad_alloc&) {
        // Memory ran short: the load fails, and the buffers go with it.
        releaseBuffers(buffers());
        return 0;
    }
    return uploadDecodedTexture(decoded, current, texture);
}

TextureScratch& TextureLoader::buffers() {
    if (!scratch)
        scratch = std::make_unique<TextureScratch>();
    return *scratch;
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

// GL's names for the decoded layout.
GLenum glFormatOf(const DecodedTexture& decoded) {
    return decoded.format == PixelFormat::Rgba ? GL_RGBA : GL_RGB;
}
GLint componentsOf(const DecodedTexture& decoded) {
    return decoded.format == PixelFormat::Rgba ? 4 : 3;
}

// Whether GL takes a texture of this size as it is. GLU's mipmap builder asks
// the same of a proxy texture and shrinks the picture when the answer is no;
// such a texture is left to GLU.
bool fitsAsItIs(GLint components, GLsizei w, GLsizei h, GLenum format) {
    const GLsizei levelOne[2] = {w > 1 ? w / 2 : 1, h > 1 ? h / 2 : 1};
    GLint width = 0, widthAtOne = 0;
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, components, w, h, 0, format, GL_UNSIGNED_BYTE, nullptr);
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glTexImage2D(GL_PROXY_TEXTURE_2D, 1, components, levelOne[0], levelOne[1], 0, format,
                 GL_UNSIGNED_BYTE, nullptr);
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &widthAtOne);
    return width != 0 && widthAtOne != 0;
}

} // namespace

bool uploadMipmapped(const DecodedTexture& decoded) {
    const GLenum format = glFormatOf(decoded);
    const GLint components = componentsOf(decoded);
    const bool tightRows = decoded.bytesPerPixel % 4 != 0;
    GLsizei w = decoded.width, h = decoded.height;
    TightRows rows(tightRows);
    if (decoded.mipmaps == nullptr || !fitsAsItIs(components, w, h, format))
        return gluBuild2DMipmaps(GL_TEXTURE_2D, components, w, h, format, GL_UNSIGNED_BYTE,
                                 decoded.pixels) == 0;
    glTexImage2D(GL_TEXTURE_2D, 0, components, w, h, 0, format, GL_UNSIGNED_BYTE, decoded.pixels);
    const std::uint8_t* level = decoded.mipmaps;
    for (int i = 1; i <= decoded.mipmapLevels; ++i) {
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
        glTexImage2D(GL_TEXTURE_2D, i, components, w, h, 0, format, GL_UNSIGNED_BYTE, level);
        level += static_cast<std::size_t>(w) * h * decoded.bytesPerPixel;
    }
    return true;
}

UploadOutcome uploadDecoded(const DecodedTexture& decoded, const TextureOptions& options,
                            glTexture* texture) {
    const GLenum format = glFormatOf(decoded);
    if (decoded.imageTypeKnown)
        texture->imageType = decoded.imageType;
    if (decoded.headerKnown || decoded.ok) {
        texture->width = decoded.width;
        texture->height = decoded.height;
        texture->format = format;
        texture->bitsPerPixel = decoded.bitsPerPixel;
    }
    if (!decoded.ok)
        return decoded.outOfMemory ? UploadOutcome::OutOfMemory : UploadOutcome::Unreadable;

    const GLint components = componentsOf(decoded);
    const std::uint8_t* pixels = decoded.pixels;
    // Three-byte rows are packed tightly in memory, so GL must not expect
    // them padded to four bytes.
    const bool tightRows = decoded.bytesPerPixel % 4 != 0;

    // Errors that earlier calls left must not be taken for the upload's.
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);

    bool uploaded = true;
    const GLsizei w = decoded.width, h = decoded.height;
    switch (options.textureFilter) {
    case FilterBilinear:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        if (options.mipMapping) {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
            uploaded = uploadMipmapped(decoded);
        } else {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            TightRows rows(tightRows);
            glTexImage2D(GL_TEXTURE_2D, 0, components, w, h, 0, format, GL_UNSIGNED_BYTE, pixels);
        }
        break;
    case FilterTrilinear:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        uploaded = uploadMipmapped(decoded);
        break;
    default:
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, components, w, h, 0, format, GL_UNSIGNED_BYTE, pixels);
        break;
    }
    // A level GL could not store (GL_OUT_OF_MEMORY, as a rule) leaves an
    // incomplete texture, which draws black: it is given up whole.
    if (glGetError() != GL_NO_ERROR || !uploaded) {
        glDeleteTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
        return UploadOutcome::OutOfMemory;
    }
    texture->textureId = name;
    return UploadOutcome::Loaded;
}

int uploadDecodedTexture(const DecodedTexture& decoded, const TextureOptions& options,
                         glTexture* texture) {
    return uploadDecoded(decoded, options, texture) == UploadOutcome::Loaded ? 1 : 0;
}
