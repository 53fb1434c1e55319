#include "PictureDecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <climits>

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

bool withinCap(std::size_t width, std::size_t height) {
    return width > 0 && height > 0 && width * height <= PictureDecoder::kMaxDecodedBytes / 4;
}

} // namespace

void PictureDecoder::limitDecodedBytes(std::size_t bytes) {
    decodedLimit = std::min(bytes, kMaxDecodedBytes);
}

std::size_t PictureDecoder::decodedBytesLimit() {
    return decodedLimit.load();
}

PictureDecoder::PictureDecoder() = default;

PictureDecoder::~PictureDecoder() {
    if (jpeg != nullptr)
        tjDestroy(static_cast<tjhandle>(jpeg));
}

bool PictureDecoder::open(const std::uint8_t* bytes, std::size_t byteCount, int& w, int& h) {
    data = bytes;
    size = byteCount;
    isJpeg = false;
    if (qt)
        qt->image = QImage();

    if (looksLikeJpeg(data, size) && size <= 0x7fffffffu) {
        if (jpeg == nullptr)
            jpeg = tjInitDecompress();
        int subsampling = 0, colorspace = 0;
        if (jpeg != nullptr &&
            tjDecompressHeader3(static_cast<tjhandle>(jpeg), data, static_cast<unsigned long>(size),
                                &width, &height, &subsampling, &colorspace) == 0 &&
            colorspace != TJCS_CMYK && colorspace != TJCS_YCCK) {
            isJpeg = true;
        }
    }
    if (!isJpeg) {
        // Everything TurboJPEG does not take (CMYK JPEGs included) goes to Qt.
        if (size > static_cast<std::size_t>(INT_MAX))
            return false;
        if (!qt) {
            qt = std::make_unique<Qt>();
            QImageReader::setAllocationLimit(
                static_cast<int>(std::max<std::size_t>(decodedLimit.load() >> 20, 1)));
        }
        qt->reader.setDevice(nullptr);
        qt->device.close();
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
    }
    if (!withinCap(static_cast<std::size_t>(width), static_cast<std::size_t>(height)))
        return false;
    w = width;
    h = height;
    return true;
}

bool PictureDecoder::decode(int minWidth, int minHeight, PixelBuffer& buffer, Picture& picture) {
    if (isJpeg) {
        // The fast scales; the others decode slower than full size.
        static const tjscalingfactor scales[] = {{1, 8}, {1, 4}, {1, 2}, {1, 1}};
        tjscalingfactor chosen = {1, 1};
        for (const tjscalingfactor& s : scales) {
            if (TJSCALED(width, s) >= minWidth && TJSCALED(height, s) >= minHeight) {
                chosen = s;
                break;
            }
        }
        const int w = TJSCALED(width, chosen);
        const int h = TJSCALED(height, chosen);
        const std::size_t stride = static_cast<std::size_t>(w) * 4;
        std::uint8_t* pixels = buffer.reserve(stride * h);
        if (pixels == nullptr)
            return false;
        if (tjDecompress2(static_cast<tjhandle>(jpeg), data, static_cast<unsigned long>(size),
                          pixels, w, static_cast<int>(stride), h, TJPF_RGBX, 0) != 0) {
            // A damaged but readable file decodes with a warning, as other
            // viewers show it; only a hard error fails the picture.
            if (tjGetErrorCode(static_cast<tjhandle>(jpeg)) != TJERR_WARNING)
                return false;
        }
        picture = {pixels, w, h, stride};
        return true;
    }

    if (qt->image.isNull() && !qt->reader.read(&qt->image))
        return false;
    // Premultiplied RGBA: the colour bytes are the picture drawn over black.
    if (qt->image.format() != QImage::Format_RGBA8888_Premultiplied)
        qt->image.convertTo(QImage::Format_RGBA8888_Premultiplied);
    if (qt->image.isNull() || qt->image.width() != width || qt->image.height() != height)
        return false;
    picture = {qt->image.constBits(), width, height,
               static_cast<std::size_t>(qt->image.bytesPerLine())};
    return true;
}
