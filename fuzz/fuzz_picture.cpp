// libFuzzer harness: the texture loader's CPU stage on arbitrary bytes, under
// each extension the loader knows (the first byte picks one), with small and
// large maximum texture sizes and each option.
#include "decode/PictureDecoder.h"
#include "decode/TextureDecode.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Qt's image reader needs an application object for its format plugins.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_picture";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    // Pictures of at most 16384 pixels (any larger is refused as too
    // large, before decoding): the decoders' logic is the same at any size,
    // and the time goes into it rather than into filling and averaging
    // pixels.
    PictureDecoder::limitDecodedBytes(std::size_t(64) << 10);
    PictureDecoder::setUpProcess();
    // Load every image format plugin once now, so that what Qt keeps of
    // them is not taken for a leak of the first input that needs one.
    static TextureScratch warm;
    for (const char* format : {"png", "bmp", "ico", "gif", "jpg"}) {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImage(4, 4, QImage::Format_ARGB32).save(&buffer, format);
        DecodedTexture ignored;
        decodeTextureData("warm.png", reinterpret_cast<const std::uint8_t*>(data.constData()),
                          static_cast<std::size_t>(data.size()), TextureOptions(), 64, warm,
                          ignored);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static const char* const names[] = {"x.jpg", "x.JPEG", "x.bmp", "x.gif", "x.ico",
                                        "x.png", "x.tga",  "x.emf", "x",     "x.Tga"};
    const std::uint8_t selector = data[0];
    TextureOptions options;
    options.highQuality = (selector & 0x10) != 0;
    options.alphaMatch = (selector & 0x20) != 0;
    // Small textures, for the same reason: each rule of the sizing and the
    // averaging already shows at these sizes.
    const int maxSize = (selector & 0x40) ? 16 : 64;
    static TextureScratch scratch;
    DecodedTexture result;
    decodeTextureData(names[selector % 10], data + 1, size - 1, options, maxSize, scratch, result);
    if (result.ok) {
        // Touch every pixel handed on: the upload would read them all.
        const std::size_t bytes =
            static_cast<std::size_t>(result.width) * result.height * result.bytesPerPixel;
        volatile std::uint8_t sum = 0;
        for (std::size_t i = 0; i < bytes; i += 61)
            sum = static_cast<std::uint8_t>(sum + result.pixels[i]);
        (void)sum;
    }
    return 0;
}
