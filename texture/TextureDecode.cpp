#include "TextureDecode.h"

#include "TargaDecoder.h"
#include "TextureSize.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files larger than this are not images anyone photographs; refusing them
// keeps a stray multi-gigabyte file from being read into memory.
constexpr long long kMaxFileBytes = 1LL << 30;

// Red, green, blue stay; the fourth byte becomes the alpha of the colour key.
void applyAlpha(std::uint8_t* pixels, std::size_t count, const TextureOptions& options) {
    if (!options.alphaMatch) {
        for (std::size_t i = 0; i < count; ++i)
            pixels[i * 4 + 3] = 255;
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* p = pixels + i * 4;
        const bool keyed =
            p[0] == options.matchRed && p[1] == options.matchGreen && p[2] == options.matchBlue;
        p[3] = keyed ? 0 : 255;
    }
}

void decodeTarga(const std::uint8_t* data, std::size_t size, const TextureOptions& options,
                 int maxTextureSize, TextureScratch& scratch, DecodedTexture& result) {
    Targa::Header header;
    const Targa::Result outcome = Targa::decode(data, size, header, scratch.decoded);
    if (outcome == Targa::Result::ShortHeader)
        return;
    result.headerKnown = true;
    result.width = header.width;
    result.height = header.height;
    result.bitsPerPixel = header.pixelDepth;
    result.format = header.bytesPerPixel() == 4 ? GL_RGBA : GL_RGB;
    if (outcome != Targa::Result::Ok)
        return;

    const TextureRules::Size texture =
        TextureRules::textureSize(header.width, header.height, maxTextureSize, options.highQuality);
    result.pixels = scratch.decoded.data();
    result.sourceWidth = header.width;
    result.sourceHeight = header.height;
    result.bytesPerPixel = header.bytesPerPixel();
    result.needsScaling = texture.width != header.width || texture.height != header.height;
    result.width = texture.width;
    result.height = texture.height;
    result.ok = true;
}

void decodePicture(const std::uint8_t* data, std::size_t size, const TextureOptions& options,
                   int maxTextureSize, TextureScratch& scratch, DecodedTexture& result) {
    int w = 0, h = 0;
    if (!scratch.picture.open(data, size, w, h))
        return;
    const TextureRules::Size texture =
        TextureRules::textureSize(w, h, maxTextureSize, options.highQuality);
    PictureDecoder::Picture picture;
    if (!scratch.picture.decode(texture.width, texture.height, scratch.decoded, picture))
        return;

    const std::size_t count = static_cast<std::size_t>(texture.width) * texture.height;
    std::uint8_t* out = scratch.texture.reserve(count * 4);
    if (out == nullptr)
        return;
    scratch.resampler.resample(picture.pixels, picture.width, picture.height, picture.stride, out,
                               texture.width, texture.height);
    applyAlpha(out, count, options);

    result.width = texture.width;
    result.height = texture.height;
    result.bitsPerPixel = 32;
    result.format = GL_RGBA;
    result.pixels = out;
    result.sourceWidth = texture.width;
    result.sourceHeight = texture.height;
    result.bytesPerPixel = 4;
    result.ok = true;
}

} // namespace

bool readWholeFile(const char* path, PixelBuffer& buffer, std::size_t& size) {
    size = 0;
    // Non-blocking open and a regular-file check: a pipe or device named like
    // a picture must fail the load, not hang it.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = false;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes) {
        const std::size_t length = static_cast<std::size_t>(info.st_size);
        std::uint8_t* bytes = buffer.reserve(length);
        if (bytes != nullptr) {
            ok = true;
            while (size < length) {
                const ssize_t got = ::read(fd, bytes + size, length - size);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0) {
                    ok = false;
                    break;
                }
                if (got == 0)
                    break; // the file shrank meanwhile: take what is there
                size += static_cast<std::size_t>(got);
            }
        }
    }
    ::close(fd);
    return ok;
}

namespace {

void startResult(const char* path, DecodedTexture& result) {
    result = DecodedTexture();
    result.targa = TextureRules::isTargaPath(path);
    if (!result.targa) {
        result.imageTypeKnown = true;
        result.imageType = TextureRules::imageTypeForPath(path);
    }
}

} // namespace

void decodeTextureData(const char* path, const std::uint8_t* data, std::size_t size,
                       const TextureOptions& options, int maxTextureSize, TextureScratch& scratch,
                       DecodedTexture& result) {
    if (path == nullptr) {
        result = DecodedTexture();
        return;
    }
    startResult(path, result);
    if (result.targa)
        decodeTarga(data, size, options, maxTextureSize, scratch, result);
    else
        decodePicture(data, size, options, maxTextureSize, scratch, result);
}

void decodeTexture(const char* path, const TextureOptions& options, int maxTextureSize,
                   TextureScratch& scratch, DecodedTexture& result) {
    if (path == nullptr) {
        result = DecodedTexture();
        return;
    }
    startResult(path, result);
    std::size_t size = 0;
    if (!readWholeFile(path, scratch.file, size))
        return;
    decodeTextureData(path, scratch.file.data(), size, options, maxTextureSize, scratch, result);
}
