#pragma once

#include "decode/AreaResampler.h"
#include "decode/ColourProfile.h"
#include "decode/PixelBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Decodes JPEG pictures with TurboJPEG, at the smallest of its fast scales
// (1/8, 1/4, 1/2, 1/1) that still covers the size the caller needs, PNG
// pictures with libpng, and the other picture formats (BMP, GIF, ICO, ...)
// with Qt's image reader. None of them writes anything on the terminal.
// The result is four bytes per pixel, red, green, blue and an unused byte
// (or, for a CMYK JPEG with a CMYK profile, its inverted inks), top row
// first; transparent pixels come out as if drawn over black. The colour
// profile the file embeds comes with it, unapplied. A PNG whose profile is
// used comes as stored: its gAMA and cHRM chunks are then ignored, as the
// PNG format wants; without a usable profile they are applied.
class JpegRows;

class PictureDecoder {
  public:
    // Largest decoded picture accepted, in bytes (four per pixel): refused
    // before decoding, so a forged header cannot ask for absurd memory.
    static constexpr std::size_t kMaxDecodedBytes = std::size_t(1) << 30;

    // Qt's side of decoding, for the whole process: called once by the
    // program at its start, before any thread decodes. Qt's image reader
    // then allocates no more than the decoded-size limit, and its complaints
    // about damaged pictures are dropped (other messages go on to the handler
    // in place before). Without it, damaged pictures are reported on the
    // terminal and Qt's own allocation limit holds.
    static void setUpProcess();

    // A lower limit for the whole process, set at its start like the above
    // (fuzzing uses one, to spend its time on the decoders' logic rather than
    // on huge buffers).
    static void limitDecodedBytes(std::size_t bytes);
    static std::size_t decodedBytesLimit();

    PictureDecoder();
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Reads the picture's size from the data; false when no decoder knows it.
    // The data must stay valid until decode() has returned.
    bool open(const std::uint8_t* data, std::size_t size, int& width, int& height);

    struct Picture {
        const std::uint8_t* pixels = nullptr;
        int width = 0;
        int height = 0;
        std::size_t stride = 0;
        PixelKind kind = PixelKind::Rgb;
        // The embedded ICC profile; null when the file has none.
        const std::uint8_t* profile = nullptr;
        std::size_t profileSize = 0;
    };

    // Decodes the opened picture at a size of at least minWidth x minHeight
    // where the decoder can scale, into `buffer` or memory of its own.
    // `colour` tells whether the embedded profile can be used, which
    // decides how a PNG or a CMYK JPEG is read.
    bool decode(int minWidth, int minHeight, PixelBuffer& buffer, Picture& picture,
                ColourConverter& colour);

    // Whether decodeStretched() takes the opened picture: a JPEG of RGB or
    // grey pixels, decoded a few rows at a time.
    bool decodesInRows() const { return isJpeg && !isCmyk; }

    // Decodes the opened picture as decode() does, and stretches it to the
    // dw x dh texture as AreaResampler::resample() does (bottom row first),
    // as the rows come: only the rows the stretch reads at once are held,
    // in `rows`. `opaque`, `halfLevel` and `finish` are the stretch's.
    // `picture` tells the decoded size, the kind and the profile from before
    // the first row is finished on; its pixels are null. For pictures
    // decodesInRows() takes.
    bool decodeStretched(int dw, int dh, PixelBuffer& rows, AreaResampler& resampler,
                         std::uint8_t* texture, bool opaque, std::uint8_t* halfLevel,
                         AreaResampler::RowFinish finish, Picture& picture);

    // Whether the opened picture embeds a colour profile.
    bool hasProfile() const { return !profile.empty(); }

    // Whether the opened picture is a JPEG that TurboJPEG decodes (at a
    // reduced scale where the texture is small).
    bool isJpegPicture() const { return isJpeg; }

    // Whether the last decode failed for want of memory for its pixels.
    bool outOfMemory() const { return memoryShort; }

  private:
    struct Qt;
    struct Png;
    // TurboJPEG's fast scale for a picture of at least minWidth x minHeight,
    // and the size the opened picture decodes to at it.
    struct JpegScale {
        int numerator, denominator, width, height;
    };
    JpegScale jpegScale(int minWidth, int minHeight) const;
    bool openWithQt();
    bool decodeWithQt(Picture& picture, bool withProfile);
    // TurboJPEG's decompressor, kept for the next picture.
    struct DestroyJpeg {
        void operator()(void* handle) const noexcept;
    };
    std::unique_ptr<void, DestroyJpeg> jpeg;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool isJpeg = false;
    bool isPng = false;
    bool isCmyk = false; // a CMYK JPEG with a profile, decoded by TurboJPEG
    int width = 0;
    int height = 0;
    bool grey = false;
    bool memoryShort = false;
    std::vector<std::uint8_t> profile;
    std::unique_ptr<Png> png;
    std::unique_ptr<JpegRows> rowDecoder; // kept for the next picture
    std::unique_ptr<Qt> qt;
};
