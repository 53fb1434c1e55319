#include "decode/TextureDecode.h"

#include "FileDescriptor.h"
#include "ReadWrite.h"
#include "decode/Mipmaps.h"
#include "decode/TargaDecoder.h"
#include "decode/TextureRules.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files larger than this are not images anyone photographs; refusing them
// keeps a stray multi-gigabyte file from being read into memory. The room
// above 1 GiB is for the header, ID field and footer of an uncompressed
// targa file whose pixels alone reach the decoded-size cap.
constexpr long long kMaxFileBytes = (1LL << 30) + (1LL << 20);

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

// Widens three-byte pixels to four in place (the buffer holds count * 4
// bytes), from the last pixel backwards so that nothing is overwritten unread.
void widenToRgba(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = count; i-- > 0;) {
        pixels[i * 4 + 3] = 255;
        pixels[i * 4 + 2] = pixels[i * 3 + 2];
        pixels[i * 4 + 1] = pixels[i * 3 + 1];
        pixels[i * 4 + 0] = pixels[i * 3 + 0];
    }
}

// The reverse, from the first pixel forwards.
void narrowToRgb(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        pixels[i * 3 + 0] = pixels[i * 4 + 0];
        pixels[i * 3 + 1] = pixels[i * 4 + 1];
        pixels[i * 3 + 2] = pixels[i * 4 + 2];
    }
}

// The memory for the mipmap levels of a w x h texture, when the options
// want them and the size allows; null otherwise, and without memory for
// them (the GL stage then builds them instead).
std::uint8_t* mipmapMemory(const TextureOptions& options, TextureScratch& scratch, int w, int h,
                           int bytesPerPixel) {
    if (!options.prebuiltMipmaps || !wantsMipmaps(options) || !Mipmaps::buildable(w, h))
        return nullptr;
    return scratch.mipmaps.reserve(Mipmaps::bytesBelow(w, h, bytesPerPixel));
}

// Builds the mipmap levels when the options want them and the size allows.
void attachMipmaps(const TextureOptions& options, TextureScratch& scratch, DecodedTexture& result) {
    std::uint8_t* out =
        mipmapMemory(options, scratch, result.width, result.height, result.bytesPerPixel);
    if (out == nullptr)
        return;
    Mipmaps::build(result.pixels, result.width, result.height, result.bytesPerPixel, out);
    result.mipmaps = out;
    result.mipmapLevels = Mipmaps::levelsBelow(result.width, result.height);
}

// The levels below the first, which the stretch wrote at `levels` already.
void attachLevelsBelowFirst(std::uint8_t* levels, DecodedTexture& result) {
    const int w = result.width / 2, h = result.height / 2;
    Mipmaps::build(levels, w, h, 4, levels + static_cast<std::size_t>(w) * h * 4);
    result.mipmaps = levels;
    result.mipmapLevels = Mipmaps::levelsBelow(result.width, result.height);
}

// The texture size of a w x h image under the options, halvings included;
// notes the longer side it has before them.
// The halvings asked for are those of the options, or what `check` makes of
// them once it has seen the picture's real size.
TextureRules::Size plannedSize(int w, int h, int maxTextureSize, const TextureOptions& options,
                               DecodedTexture& result) {
    const TextureRules::Size full =
        TextureRules::textureSize(w, h, maxTextureSize, options.highQuality);
    result.longerSide = std::max(full.width, full.height);
    result.halvings = allowedHalvings(result.longerSide, options.halvings);
    return TextureRules::halved(full, result.halvings);
}

// The options with the halvings `check` asks for a picture of this size.
TextureOptions checked(const TextureOptions& options, const SizeCheck& check,
                       const PictureExtent& real) {
    TextureOptions o = options;
    if (check)
        o.halvings = std::max(o.halvings, check(real, o.halvings));
    return o;
}

void decodeTarga(const std::uint8_t* data, std::size_t size, const TextureOptions& asked,
                 int maxTextureSize, TextureScratch& scratch, DecodedTexture& result,
                 const SizeCheck& check) {
    const std::size_t maxPixels = PictureDecoder::decodedBytesLimit() / 4;
    Targa::Header header;
    if (!Targa::readHeader(data, size, header))
        return;
    // Only a header the file can hold is told: a lying one fails below
    // without moving the plan.
    TextureOptions options = asked;
    if (Targa::check(header, size, maxPixels) == Targa::Result::Ok)
        options = checked(asked, check, {header.width, header.height, false, size});
    const Targa::Result outcome = Targa::decode(data, size, header, scratch.decoded, maxPixels);
    const int bpp = header.bytesPerPixel();
    result.headerKnown = true;
    result.width = header.width;
    result.height = header.height;
    result.bitsPerPixel = header.pixelDepth;
    result.format = bpp == 4 ? PixelFormat::Rgba : PixelFormat::Rgb;
    const TextureRules::Size texture =
        plannedSize(header.width, header.height, maxTextureSize, options, result);
    result.outOfMemory = outcome == Targa::Result::OutOfMemory;
    if (outcome != Targa::Result::Ok)
        return;

    std::uint8_t* pixels = scratch.decoded.data();
    if (texture.width != header.width || texture.height != header.height) {
        // The same area average as pictures, at four bytes per pixel; the
        // decoder's buffer has room to widen three-byte pixels in place.
        const std::size_t count = static_cast<std::size_t>(header.width) * header.height;
        const std::size_t textureCount = static_cast<std::size_t>(texture.width) * texture.height;
        std::uint8_t* out = scratch.texture.reserve(textureCount * 4);
        if (out == nullptr) {
            result.outOfMemory = true;
            return;
        }
        if (bpp == 3)
            widenToRgba(pixels, count);
        scratch.resampler.resample(pixels, header.width, header.height,
                                   static_cast<std::size_t>(header.width) * 4, out, texture.width,
                                   texture.height, /*reverseRows=*/false);
        if (bpp == 3)
            narrowToRgb(out, textureCount);
        pixels = out;
    }
    result.pixels = pixels;
    result.bytesPerPixel = bpp;
    result.width = texture.width;
    result.height = texture.height;
    result.ok = true;
    attachMipmaps(options, scratch, result);
}

// What follows the stretch on each texture row: the conversion by the
// picture's profile, and the alpha of the colour key.
struct RowFinishing {
    const PictureDecoder::Picture* picture;
    const TextureOptions* options;
    ColourConverter* colour;

    bool opaque; // the stretch wrote the alpha, and the conversion keeps it

    static void apply(void* context, std::uint8_t* row, int width) {
        const RowFinishing& f = *static_cast<const RowFinishing*>(context);
        const std::size_t count = static_cast<std::size_t>(width);
        if (f.picture->profileSize != 0)
            f.colour->toSrgb(f.picture->profile, f.picture->profileSize, f.picture->kind, row,
                             count);
        if (!f.opaque)
            applyAlpha(row, count, *f.options);
    }
};

void decodePicture(const std::uint8_t* data, std::size_t size, const TextureOptions& asked,
                   int maxTextureSize, TextureScratch& scratch, DecodedTexture& result,
                   const SizeCheck& check) {
    int w = 0, h = 0;
    if (!scratch.picture.open(data, size, w, h))
        return;
    const TextureOptions options =
        checked(asked, check, {w, h, scratch.picture.isJpegPicture(), size});
    const TextureRules::Size texture = plannedSize(w, h, maxTextureSize, options, result);
    const std::size_t count = static_cast<std::size_t>(texture.width) * texture.height;
    PictureDecoder::Picture picture;
    // Each texture row is finished while it is in the processor's caches:
    // converted by the picture's profile at the texture size, where it costs
    // least (averaging first and converting after gives the same colours
    // within a step), given the alpha of the colour key, and halved into the
    // first mipmap level. Without a key every pixel is opaque: the stretch
    // writes the alpha as it goes, and a conversion of red, green and blue
    // keeps it (inks use the fourth byte, and get it after their conversion).
    RowFinishing finishing{&picture, &options, &scratch.colour, false};
    auto finish = [&](bool opaque, bool profiled) {
        finishing.opaque = opaque;
        return opaque && !profiled ? AreaResampler::RowFinish{}
                                   : AreaResampler::RowFinish{&RowFinishing::apply, &finishing};
    };
    std::uint8_t* levels = nullptr;
    if (texture.width > 1 && texture.height > 1)
        levels = mipmapMemory(options, scratch, texture.width, texture.height, 4);
    std::uint8_t* out = scratch.texture.reserve(count * 4);
    if (out == nullptr) {
        result.outOfMemory = true;
        return;
    }
    if (scratch.picture.decodesInRows()) {
        // Decoded and stretched row by row, each row while it is in the
        // processor's caches.
        const bool opaque = !options.alphaMatch;
        if (!scratch.picture.decodeStretched(
                texture.width, texture.height, scratch.decoded, scratch.resampler, out, opaque,
                levels, finish(opaque, scratch.picture.hasProfile()), picture)) {
            result.outOfMemory = scratch.picture.outOfMemory();
            return;
        }
    } else {
        if (!scratch.picture.decode(texture.width, texture.height, scratch.decoded, picture,
                                    scratch.colour)) {
            result.outOfMemory = scratch.picture.outOfMemory();
            return;
        }
        const bool opaque = !options.alphaMatch && picture.kind != PixelKind::Cmyk;
        scratch.resampler.resample(picture.pixels, picture.width, picture.height, picture.stride,
                                   out, texture.width, texture.height, /*reverseRows=*/true, opaque,
                                   levels, finish(opaque, picture.profileSize != 0));
    }

    result.width = texture.width;
    result.height = texture.height;
    result.bitsPerPixel = 32;
    result.format = PixelFormat::Rgba;
    result.pixels = out;
    result.bytesPerPixel = 4;
    result.ok = true;
    if (levels != nullptr)
        attachLevelsBelowFirst(levels, result);
}

} // namespace

bool mayShrink(int longerSide, int halvings) {
    return halvings <= 0 || allowedHalvings(longerSide, halvings) == halvings;
}

int allowedHalvings(int longerSide, int wanted) {
    if (wanted <= 0)
        return 0;
    if (longerSide <= 0)
        return std::min(wanted, 3);
    int allowed = 0;
    while (allowed < wanted && (longerSide >> (allowed + 1)) >= 256)
        ++allowed;
    return allowed;
}

void releaseBuffers(TextureScratch& scratch) {
    scratch.file.release();
    scratch.decoded.release();
    scratch.texture.release();
    scratch.mipmaps.release();
}

TextureOptions viewerTextureOptions() {
    TextureOptions o;
    o.alphaMatch = false;
    o.highQuality = false;
    o.mipMapping = true;
    o.textureFilter = FilterTrilinear;
    return o;
}

bool wantsMipmaps(const TextureOptions& options) {
    return options.textureFilter == FilterTrilinear ||
           (options.textureFilter == FilterBilinear && options.mipMapping);
}

bool readWholeFile(const char* path, PixelBuffer& buffer, std::size_t& size, bool* outOfMemory) {
    size = 0;
    // Non-blocking open and a regular-file check: a pipe or device named like
    // a picture must fail the load, not hang it.
    const FileDescriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return false;
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes)
        return false;
    const std::size_t length = static_cast<std::size_t>(info.st_size);
    std::uint8_t* bytes = buffer.reserve(length);
    if (bytes == nullptr) {
        if (outOfMemory != nullptr)
            *outOfMemory = true;
        return false;
    }
    // A file that shrank meanwhile gives what is there.
    const ssize_t got = ReadWrite::readUpTo(fd.get(), bytes, length);
    if (got < 0)
        return false;
    size = static_cast<std::size_t>(got);
    return true;
}

namespace {

void startResult(const char* path, const TextureOptions& options, DecodedTexture& result) {
    result = DecodedTexture();
    result.halvings = options.halvings;
    result.targa = TextureRules::isTargaPath(path);
    if (!result.targa) {
        result.imageTypeKnown = true;
        result.imageType = TextureRules::imageTypeForPath(path);
    }
}

} // namespace

void decodeTextureData(const char* path, const std::uint8_t* data, std::size_t size,
                       const TextureOptions& options, int maxTextureSize, TextureScratch& scratch,
                       DecodedTexture& result, const SizeCheck& check) {
    if (path == nullptr) {
        result = DecodedTexture();
        return;
    }
    startResult(path, options, result);
    if (result.targa)
        decodeTarga(data, size, options, maxTextureSize, scratch, result, check);
    else
        decodePicture(data, size, options, maxTextureSize, scratch, result, check);
}

void decodeTexture(const char* path, const TextureOptions& options, int maxTextureSize,
                   TextureScratch& scratch, DecodedTexture& result, const SizeCheck& check) {
    if (path == nullptr) {
        result = DecodedTexture();
        return;
    }
    startResult(path, options, result);
    std::size_t size = 0;
    if (!readWholeFile(path, scratch.file, size, &result.outOfMemory))
        return;
    decodeTextureData(path, scratch.file.data(), size, options, maxTextureSize, scratch, result,
                      check);
}
