#include "decode/PictureDecoder.h"

#include "decode/ColourProfile.h"
#include "decode/JpegRows.h"

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>
#include <QtGlobal>

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

// PNG pictures are read with libpng's simplified interface, which keeps its
// complaints about damaged files to itself (Qt's PNG reader lets libpng print
// them on the terminal).
struct PictureDecoder::Png {
    png_image image{};
    bool open = false;
    void close() {
        if (open)
            png_image_free(&image);
        image = png_image{};
        open = false;
    }
    ~Png() { close(); }
};

struct PictureDecoder::Qt {
    QByteArray bytes;
    QBuffer device;
    QImageReader reader;
    QImage image;
};

namespace {

std::atomic<std::size_t> decodedLimit{PictureDecoder::kMaxDecodedBytes};

bool looksLikeJpeg(const std::uint8_t* data, std::size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool looksLikePng(const std::uint8_t* data, std::size_t size) {
    return size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

bool withinCap(std::size_t width, std::size_t height) {
    return width > 0 && height > 0 && width * height <= decodedLimit.load() / 4;
}

// A picture that fails to load shows nothing and writes nothing: the image
// reader's complaints about damaged files (its own, in the "qt.gui.imageio"
// categories, its plugin's for SVG in "qt.svg", those about damaged colour
// profiles in "qt.gui.icc", and the PNG library's, which it passes on uncategorised as
// "libpng ...") are dropped. Every other message goes on to the handler that
// was in place before.
std::atomic<QtMessageHandler> previousHandler{nullptr};
std::atomic<bool> handlerKnown{false};

void quietImageReader(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const char* const quiet[] = {"qt.gui.imageio", "qt.gui.icc", "qt.svg"};
    for (const char* prefix : quiet)
        if (context.category != nullptr &&
            std::strncmp(context.category, prefix, std::strlen(prefix)) == 0)
            return;
    if (type == QtWarningMsg && message.startsWith(QLatin1String("libpng ")))
        return;
    // A message of another thread in the instant between installing and
    // learning the previous handler waits for it rather than being lost.
    while (!handlerKnown.load(std::memory_order_acquire))
        std::this_thread::yield();
    if (const QtMessageHandler previous = previousHandler.load(std::memory_order_acquire))
        previous(type, context, message);
}

// Qt's image reader refuses to allocate more than this for one picture, in
// megabytes: the decoded-size limit.
void limitImageReader() {
    QImageReader::setAllocationLimit(
        static_cast<int>(std::max<std::size_t>(decodedLimit.load() >> 20, 1)));
}

// Whether the last error of a decoder is its own out-of-memory error: each
// library raises it with a fixed text (TurboJPEG's "...: Memory allocation
// failure", libjpeg's JERR_OUT_OF_MEMORY "Insufficient memory (case N)",
// libpng's png_malloc "Out of memory" and its simplified reader's "...: out
// of memory"), told apart from the errors of damaged files, some of which
// also speak of memory ("invalid memory read", "unknown chunk exceeds memory
// limits"), which must not make a set smaller.
bool endsWith(const char* text, const char* tail) {
    const std::size_t n = std::strlen(text), m = std::strlen(tail);
    return n >= m && std::strcmp(text + n - m, tail) == 0;
}
bool turboJpegOutOfMemory(const char* message) {
    return message != nullptr && (endsWith(message, "Memory allocation failure") ||
                                  std::strncmp(message, "Insufficient memory (case ", 26) == 0);
}
bool pngOutOfMemory(const char* message) {
    return message != nullptr && (std::strcmp(message, "Out of memory") == 0 ||
                                  std::strcmp(message, "Out of Memory") == 0 ||
                                  std::strcmp(message, "insufficient memory") == 0 ||
                                  endsWith(message, ": out of memory"));
}

// The low-level PNG reader, for pictures whose profile is used: their
// samples as stored, with no gamma correction. Errors end the read through
// libpng's jump; warnings are dropped, as the simplified reader does.
struct PngSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

void readPngBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->size - source->at)
        png_error(png, "truncated");
    std::memcpy(out, source->data + source->at, count);
    source->at += count;
}

[[noreturn]] void failPng(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void ignorePngWarning(png_structp, png_const_charp) {}

// libpng's allocations for the low-level reader, which note when one fails:
// the reader then failed for want of memory, not because of the file.
png_voidp allocateForPng(png_structp png, png_alloc_size_t size) {
    void* memory = std::malloc(size);
    if (memory == nullptr)
        *static_cast<bool*>(png_get_mem_ptr(png)) = true;
    return memory;
}
void freeForPng(png_structp, png_voidp memory) {
    std::free(memory);
}

// What becomes of each row of sixteen-bit samples as soon as it is read:
// `finish(context, y, row)` turns the row into the picture's eight-bit row y.
struct SixteenBitRows {
    void (*finish)(void* context, int y, std::uint8_t* row);
    void* context;
    std::uint8_t* row; // a row of width * 8 bytes to read into
    bool wholeFits;    // the pixels hold the whole picture at eight bytes a pixel
};

// Whether a PNG's header says its rows are interlaced (read whole, in
// passes); true too when the header cannot be found where it stands.
bool pngInterlaced(const std::uint8_t* data, std::size_t size) {
    return size < 29 || std::memcmp(data + 12, "IHDR", 4) != 0 || data[28] != 0;
}

// Reads a width x height PNG as red, green, blue and alpha, whatever its
// colour type: eight bits each (sixteen-bit samples rounded), or with
// `sixteen` sixteen bits each, most significant byte first. With `rows`
// (and sixteen) each row is read into rows->row and finished while it is in
// the processor's caches; an interlaced picture, read in passes, is read
// whole into `pixels` (eight bytes a pixel) first and its rows finished
// from there.
bool readPngAsStored(const std::uint8_t* data, std::size_t size, int width, int height,
                     std::uint8_t* pixels, bool sixteen, bool& outOfMemory,
                     const SixteenBitRows* rows = nullptr) {
    outOfMemory = false;
    png_structp png =
        png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, failPng, ignorePngWarning,
                                 &outOfMemory, allocateForPng, freeForPng);
    if (png == nullptr) {
        outOfMemory = true;
        return false;
    }
    png_infop info = png_create_info_struct(png);
    PngSource source{data, size, 0};
    const std::size_t stride = static_cast<std::size_t>(width) * (sixteen ? 8 : 4);
    volatile bool read = false;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &source, readPngBytes);
        png_read_info(png, info);
        if (png_get_image_width(png, info) == static_cast<png_uint_32>(width) &&
            png_get_image_height(png, info) == static_cast<png_uint_32>(height)) {
            png_set_expand(png); // palette, small grey depths, transparency
            if (sixteen)
                png_set_expand_16(png);
            else
                png_set_scale_16(png);
            png_set_gray_to_rgb(png);
            png_set_add_alpha(png, sixteen ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
            const int passes = png_set_interlace_handling(png);
            png_read_update_info(png, info);
            const bool eachRow = rows != nullptr && sixteen && passes == 1;
            if (png_get_rowbytes(png, info) == stride &&
                (eachRow || rows == nullptr || !sixteen || rows->wholeFits)) {
                for (int pass = 0; pass < passes; ++pass)
                    for (int y = 0; y < height; ++y) {
                        png_read_row(png, eachRow ? rows->row : pixels + y * stride, nullptr);
                        if (eachRow)
                            rows->finish(rows->context, y, rows->row);
                    }
                if (rows != nullptr && sixteen && !eachRow)
                    for (int y = 0; y < height; ++y)
                        rows->finish(rows->context, y, pixels + y * stride);
                read = true;
            }
        }
    }
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    return read;
}

// Sixteen-bit red, green, blue and alpha, most significant byte first, as
// if drawn over black.
void drawSixteenBitsOverBlack(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* p = pixels + i * 8;
        const std::uint32_t a = (p[6] << 8) | p[7];
        if (a == 65535)
            continue;
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = ((p[c * 2] << 8) | p[c * 2 + 1]) * a / 65535;
            p[c * 2] = static_cast<std::uint8_t>(v >> 8);
            p[c * 2 + 1] = static_cast<std::uint8_t>(v);
        }
    }
}

// The reverse of the reading: sixteen-bit channels rounded to eight bits as
// libpng rounds them, pixel i moving from byte 8i of `in` to byte 4i of `out`
// (which may be `in`, or lie before it).
void roundToEightBits(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        for (int c = 0; c < 4; ++c) {
            const std::uint32_t v = (in[i * 8 + c * 2] << 8) | in[i * 8 + c * 2 + 1];
            out[i * 4 + c] = static_cast<std::uint8_t>((v * 255 + 32895) >> 16);
        }
}

// Each sixteen-bit row as it is read: drawn over black, then converted by
// its profile from its sixteen bits, or rounded to eight bits for a
// conversion at the texture size.
struct SixteenBitFinishing {
    ColourConverter* colour;
    const std::vector<std::uint8_t>* profile;
    std::uint8_t* pixels;
    int width;
    bool convert;
    static void finish(void* context, int y, std::uint8_t* row) {
        const auto& f = *static_cast<const SixteenBitFinishing*>(context);
        const std::size_t count = static_cast<std::size_t>(f.width);
        std::uint8_t* out = f.pixels + static_cast<std::size_t>(y) * count * 4;
        drawSixteenBitsOverBlack(row, count);
        if (f.convert)
            f.colour->toSrgbFromSixteenBits(f.profile->data(), f.profile->size(), row, out, count);
        else
            roundToEightBits(row, out, count);
    }
};

} // namespace

void PictureDecoder::setUpProcess() {
    static std::once_flag once;
    std::call_once(once, [] {
        previousHandler.store(qInstallMessageHandler(quietImageReader), std::memory_order_release);
        handlerKnown.store(true, std::memory_order_release);
    });
    limitImageReader();
}

void PictureDecoder::limitDecodedBytes(std::size_t bytes) {
    decodedLimit = std::min(bytes, kMaxDecodedBytes);
    limitImageReader();
}

std::size_t PictureDecoder::decodedBytesLimit() {
    return decodedLimit.load();
}

PictureDecoder::PictureDecoder() = default;

PictureDecoder::~PictureDecoder() = default;

void PictureDecoder::DestroyJpeg::operator()(void* handle) const noexcept {
    tjDestroy(handle);
}

bool PictureDecoder::open(const std::uint8_t* bytes, std::size_t byteCount, int& w, int& h) {
    data = bytes;
    size = byteCount;
    isJpeg = false;
    isPng = false;
    isCmyk = false;
    grey = false;
    profile.clear();
    if (qt)
        qt->image = QImage();
    if (png)
        png->close();

    if (looksLikePng(data, size)) {
        if (!png)
            png = std::make_unique<Png>();
        png->image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_memory(&png->image, data, size) == 0) {
            png->close();
            return false;
        }
        png->open = true;
        isPng = true;
        grey = (png->image.format & PNG_FORMAT_FLAG_COLOR) == 0;
        width = static_cast<int>(png->image.width);
        height = static_cast<int>(png->image.height);
        if (!withinCap(png->image.width, png->image.height)) {
            png->close();
            return false;
        }
        ColourProfile::fromPng(data, size, profile);
        w = width;
        h = height;
        return true;
    }

    if (looksLikeJpeg(data, size) && size <= 0x7fffffffu) {
        if (!jpeg)
            jpeg.reset(tjInitDecompress());
        int subsampling = 0, colorspace = 0;
        if (jpeg != nullptr &&
            tjDecompressHeader3(jpeg.get(), data, static_cast<unsigned long>(size), &width, &height,
                                &subsampling, &colorspace) == 0) {
            ColourProfile::fromJpeg(data, size, profile);
            // A CMYK JPEG goes to Qt, which shows it by a plain inversion,
            // unless its profile can say what its inks look like.
            isCmyk = (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) && !profile.empty();
            isJpeg = isCmyk || (colorspace != TJCS_CMYK && colorspace != TJCS_YCCK);
            grey = colorspace == TJCS_GRAY;
        }
    }
    if (!isJpeg && !openWithQt())
        return false;
    if (!withinCap(static_cast<std::size_t>(width), static_cast<std::size_t>(height)))
        return false;
    w = width;
    h = height;
    return true;
}

// Everything TurboJPEG does not take (CMYK JPEGs without a profile
// included) goes to Qt.
bool PictureDecoder::openWithQt() {
    isJpeg = false;
    isCmyk = false;
    if (size > static_cast<std::size_t>(INT_MAX))
        return false;
    if (!qt)
        qt = std::make_unique<Qt>();
    qt->reader.setDevice(nullptr);
    qt->device.close();
    qt->image = QImage();
    qt->bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size));
    qt->device.setBuffer(&qt->bytes);
    qt->device.open(QIODevice::ReadOnly);
    qt->reader.setDevice(&qt->device);
    qt->reader.setDecideFormatFromContent(true);
    qt->reader.setAutoTransform(false);
    const QSize s = qt->reader.size();
    if (!s.isValid()) {
        // Some formats only know their size after reading.
        if (!qt->reader.read(&qt->image))
            return false;
        width = qt->image.width();
        height = qt->image.height();
    } else {
        width = s.width();
        height = s.height();
    }
    return true;
}

bool PictureDecoder::decode(int minWidth, int minHeight, PixelBuffer& buffer, Picture& picture,
                            ColourConverter& colour) {
    memoryShort = false;
    if (isCmyk && !colour.usable(profile.data(), profile.size(), PixelKind::Cmyk)) {
        // A profile that cannot describe the inks (damaged, or one for RGB
        // pixels): shown as without one.
        const int w = width, h = height;
        if (!openWithQt() || width != w || height != h)
            return false;
        return decodeWithQt(picture, /*withProfile=*/false);
    }
    if (isJpeg) {
        const JpegScale scale = jpegScale(minWidth, minHeight);
        const int w = scale.width, h = scale.height;
        const std::size_t stride = static_cast<std::size_t>(w) * 4;
        std::uint8_t* pixels = buffer.reserve(stride * h);
        if (pixels == nullptr) {
            memoryShort = true;
            return false;
        }
        if (tjDecompress2(jpeg.get(), data, static_cast<unsigned long>(size), pixels, w,
                          static_cast<int>(stride), h, isCmyk ? TJPF_CMYK : TJPF_RGBX, 0) != 0) {
            // A damaged but readable file decodes with a warning, as other
            // viewers show it; only a hard error fails the picture. The
            // decoder's own working memory running out is such an error
            // ("Insufficient memory"): a smaller picture may still decode.
            if (tjGetErrorCode(jpeg.get()) != TJERR_WARNING) {
                memoryShort = turboJpegOutOfMemory(tjGetErrorStr2(jpeg.get()));
                return false;
            }
        }
        const PixelKind kind = isCmyk ? PixelKind::Cmyk : grey ? PixelKind::Grey : PixelKind::Rgb;
        picture = {pixels, w, h, stride, kind, profile.data(), profile.size()};
        return true;
    }

    if (isPng) {
        const PixelKind kind = grey ? PixelKind::Grey : PixelKind::Rgb;
        const std::size_t stride = static_cast<std::size_t>(width) * 4;
        const std::size_t count = static_cast<std::size_t>(width) * height;
        // Sixteen-bit colour converted from its sixteen bits, which keeps
        // the shadows of linear-light pictures from banding.
        // Rows that are not interlaced are finished one by one as they are
        // read, so that only one row of sixteen bits is held; interlaced
        // ones are read whole at eight bytes a pixel first.
        const bool interlaced = pngInterlaced(data, size);
        const std::size_t sixteenBytes =
            interlaced ? count * 8 : count * 4 + static_cast<std::size_t>(width) * 8;
        const bool sixteen = (png->image.format & PNG_FORMAT_FLAG_LINEAR) != 0 &&
                             kind == PixelKind::Rgb &&
                             colour.usable(profile.data(), profile.size(), kind) &&
                             buffer.reserve(sixteenBytes) != nullptr;
        std::uint8_t* pixels = buffer.reserve(stride * height);
        memoryShort = pixels == nullptr;
        bool read = false;
        if (pixels != nullptr && sixteen) {
            png->close();
            const bool convert = colour.convertsSixteenBits(profile.data(), profile.size());
            SixteenBitFinishing finishing{&colour, &profile, pixels, width, convert};
            const SixteenBitRows rows{&SixteenBitFinishing::finish, &finishing, pixels + count * 4,
                                      interlaced};
            read = readPngAsStored(data, size, width, height, pixels, true, memoryShort, &rows);
            if (read) {
                // Converted now, or rounded to eight bits and converted at
                // the texture size.
                picture = {pixels,
                           width,
                           height,
                           stride,
                           kind,
                           convert ? nullptr : profile.data(),
                           convert ? 0 : profile.size()};
                return true;
            }
        } else if (pixels != nullptr && colour.usable(profile.data(), profile.size(), kind)) {
            png->close();
            read = readPngAsStored(data, size, width, height, pixels, false, memoryShort);
        } else if (pixels != nullptr) {
            png->image.format = PNG_FORMAT_RGBA;
            // Sixteen-bit values without a gAMA, sRGB or iCCP chunk are taken
            // as sRGB-encoded, as tools that write them mean them, not as
            // linear.
            png->image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
            read = png_image_finish_read(&png->image, nullptr, pixels,
                                         static_cast<png_int_32>(stride), nullptr) != 0;
            memoryShort = !read && pngOutOfMemory(png->image.message);
        }
        png->close();
        if (!read)
            return false;
        // As if drawn over black, like the other formats.
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* p = pixels + i * 4;
            const unsigned a = p[3];
            if (a != 255) {
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<std::uint8_t>((p[c] * a + 127) / 255);
            }
        }
        picture = {pixels, width, height, stride, kind, profile.data(), profile.size()};
        return true;
    }
    return decodeWithQt(picture, /*withProfile=*/true);
}

PictureDecoder::JpegScale PictureDecoder::jpegScale(int minWidth, int minHeight) const {
    // The fast scales; the others decode slower than full size.
    static const tjscalingfactor scales[] = {{1, 8}, {1, 4}, {1, 2}, {1, 1}};
    tjscalingfactor chosen = {1, 1};
    for (const tjscalingfactor& s : scales) {
        if (TJSCALED(width, s) >= minWidth && TJSCALED(height, s) >= minHeight) {
            chosen = s;
            break;
        }
    }
    return {chosen.num, chosen.denom, TJSCALED(width, chosen), TJSCALED(height, chosen)};
}

namespace {

// The rows of a decode in a ring just large enough for the stretch: a row
// is written over once no output row still to come reads it.
class StretchedRows final : public JpegRows::Target {
  public:
    StretchedRows(std::uint8_t* ring, int held, std::size_t stride, AreaResampler& resampler)
        : ring(ring), held(held), stride(stride), resampler(resampler) {}
    int room(int next) override { return resampler.firstRowKept() + held - next; }
    std::uint8_t* row(int y) override { return ring + static_cast<std::size_t>(y % held) * stride; }
    void decoded(int rows) override {
        resampler.consume(rows, [this](int y) { return row(y); });
    }

  private:
    std::uint8_t* ring;
    int held;
    std::size_t stride;
    AreaResampler& resampler;
};

} // namespace

bool PictureDecoder::decodeStretched(int dw, int dh, PixelBuffer& rows, AreaResampler& resampler,
                                     std::uint8_t* texture, bool opaque, std::uint8_t* halfLevel,
                                     AreaResampler::RowFinish finish, Picture& picture) {
    memoryShort = false;
    if (!decodesInRows())
        return false;
    const JpegScale scale = jpegScale(dw, dh);
    const int w = scale.width, h = scale.height;
    // Three bytes a pixel: the stretch has a quarter less to do, and
    // writes the alpha itself. Every row starts 16 bytes past a 32-byte
    // boundary, where the decoder writes its rows and the stretch reads them
    // 3 % faster than from rows on the boundary (measured with AVX2 on
    // 12 MP photos, whatever the page offset); rows of widths that are no
    // multiple of 32 bytes are padded so that each starts alike.
    constexpr std::size_t kRowAlign = 32, kRowOffset = 16;
    const std::size_t stride =
        (static_cast<std::size_t>(w) * 3 + kRowAlign - 1) / kRowAlign * kRowAlign;
    const PixelKind kind = grey ? PixelKind::Grey : PixelKind::Rgb;
    picture = {nullptr, w, h, stride, kind, profile.data(), profile.size()};
    resampler.begin(w, h, texture, dw, dh, /*reverseRows=*/true, opaque, halfLevel, finish,
                    /*sourceChannels=*/3);
    // The rows one output row reads, and a strip of the decoder's beside
    // them.
    const int held = resampler.rowsReadAtOnce() + 8;
    std::uint8_t* ring = rows.reserve(stride * static_cast<std::size_t>(held) + kRowAlign);
    if (ring == nullptr) {
        memoryShort = true;
        return false;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(ring);
    ring += (kRowOffset - at % kRowAlign + kRowAlign) % kRowAlign;
    StretchedRows target(ring, held, stride, resampler);
    if (!rowDecoder)
        rowDecoder = std::make_unique<JpegRows>();
    switch (rowDecoder->decode(data, size, scale.numerator, scale.denominator,
                               JpegRows::Pixels::Rgb, w, h, target)) {
    case JpegRows::Result::Ok:
        break;
    case JpegRows::Result::OutOfMemory:
        memoryShort = true;
        return false;
    case JpegRows::Result::Failed:
        return false;
    }
    return true;
}

bool PictureDecoder::decodeWithQt(Picture& picture, bool withProfile) {
    if (qt->image.isNull() && !qt->reader.read(&qt->image))
        return false;
    grey = qt->image.isGrayscale();
    profile.clear();
    if (withProfile) {
        const QByteArray icc = qt->image.colorSpace().iccProfile();
        profile.assign(icc.constData(), icc.constData() + icc.size());
    }
    // Premultiplied RGBA: the colour bytes are the picture drawn over black.
    if (qt->image.format() != QImage::Format_RGBA8888_Premultiplied) {
        qt->image.convertTo(QImage::Format_RGBA8888_Premultiplied);
        // Converting a picture that was read fails only for want of memory.
        memoryShort = qt->image.isNull();
    }
    if (qt->image.isNull() || qt->image.width() != width || qt->image.height() != height)
        return false;
    picture = {qt->image.constBits(),
               width,
               height,
               static_cast<std::size_t>(qt->image.bytesPerLine()),
               grey ? PixelKind::Grey : PixelKind::Rgb,
               profile.data(),
               profile.size()};
    return true;
}
