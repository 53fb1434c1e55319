// Writes the seed corpora of the fuzz harnesses: valid files of each kind the
// readers take, and truncations of them.
//
//   make_corpus OUTPUT_DIR
//       (makes OUTPUT_DIR/{targa,picture,profile,ini,list,cache_entry})
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include "SamplePictures.h"
#include "TurboJpegHandles.h"
#include "cache/CacheEntry.h"
#include "cache/PixelPacking.h"

#include <turbojpeg.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;
namespace fs = std::filesystem;

void put(const fs::path& dir, const std::string& name, const Bytes& bytes, bool truncations) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!truncations || bytes.size() < 4)
        return;
    for (std::size_t cut : {bytes.size() / 2, bytes.size() - 1, std::size_t(20)}) {
        if (cut < bytes.size())
            std::ofstream(dir / (name + ".cut" + std::to_string(cut)), std::ios::binary)
                .write(bytes.data(), static_cast<std::streamsize>(cut));
    }
}

QImage picture(int w, int h, bool alpha) {
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x * 255 / w, y * 255 / h, (x ^ y) & 255, (x + y) & 255));
    return image;
}

Bytes encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.constData(), static_cast<std::size_t>(data.size()));
}

Bytes jpeg(int w, int h, int subsampling) {
    const QImage image = picture(w, h, false).convertToFormat(QImage::Format_RGB888);
    const TurboJpegHandles::Handle handle(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(handle.get(), image.constBits(), w, static_cast<int>(image.bytesPerLine()), h,
                TJPF_RGB, &out, &size, subsampling, 80, 0);
    const TurboJpegHandles::Buffer owned(out);
    return Bytes(reinterpret_cast<char*>(out), size);
}

Bytes targa(int type, int w, int h, int depth, int idLength) {
    Bytes b(18, '\0');
    b[0] = static_cast<char>(idLength);
    b[2] = static_cast<char>(type);
    b[12] = static_cast<char>(w & 255);
    b[13] = static_cast<char>(w >> 8);
    b[14] = static_cast<char>(h & 255);
    b[15] = static_cast<char>(h >> 8);
    b[16] = static_cast<char>(depth);
    b += Bytes(static_cast<std::size_t>(idLength), 'i');
    const int bpp = depth / 8;
    if (type == 2) {
        for (int i = 0; i < w * h * bpp; ++i)
            b += static_cast<char>(i * 7);
    } else {
        int left = w * h;
        while (left > 0) {
            const int run = left > 5 ? 5 : left;
            b += static_cast<char>(128 + run - 1);
            b += Bytes(static_cast<std::size_t>(bpp), 'r');
            left -= run;
            if (left > 0) {
                const int raw = left > 3 ? 3 : left;
                b += static_cast<char>(raw - 1);
                b += Bytes(static_cast<std::size_t>(raw * bpp), 'w');
                left -= raw;
            }
        }
    }
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus OUTPUT_DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char name[] = "make_corpus";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    const fs::path out = argv[1];

    // Targa: both types, both depths, with and without an image ID.
    int n = 0;
    for (int type : {2, 10})
        for (int depth : {24, 32})
            for (int id : {0, 5})
                put(out / "targa", "t" + std::to_string(n++) + ".tga", targa(type, 7, 3, depth, id),
                    true);

    // Pictures: the first byte picks the extension (see fuzz_picture.cpp).
    auto picturePut = [&](const std::string& file, char selector, const Bytes& bytes) {
        put(out / "picture", file, Bytes(1, selector) + bytes, true);
    };
    picturePut("baseline420.jpg", 0, jpeg(33, 17, TJSAMP_420));
    picturePut("444.jpg", 0, jpeg(16, 16, TJSAMP_444));
    picturePut("gray.jpg", 1, jpeg(9, 40, TJSAMP_GRAY));
    picturePut("small.bmp", 2, encoded(picture(5, 4, false), "bmp"));
    picturePut("alpha.png", 5, encoded(picture(6, 6, true), "png"));
    picturePut("icon.ico", 4, encoded(picture(16, 16, true), "ico"));
    picturePut("t.tga", 6, targa(10, 70, 2, 24, 0));
    picturePut("wide.png", 0x45, encoded(picture(300, 2, false), "png"));
    // Colour profiles: whole, split over markers, cut short; 16-bit samples.
    using namespace SamplePictures;
    auto bytesOf = [](const Bytes& b) { return std::vector<std::uint8_t>(b.begin(), b.end()); };
    auto asBytes = [](const std::vector<std::uint8_t>& v) { return Bytes(v.begin(), v.end()); };
    const std::vector<std::uint8_t> plain = bytesOf(jpeg(12, 10, TJSAMP_420));
    const std::vector<std::uint8_t> adobe = iccProfile(Space::AdobeRgb);
    const std::vector<std::uint8_t> p3 = iccProfile(Space::DisplayP3);
    const std::vector<std::uint8_t> cut(adobe.begin(), adobe.begin() + adobe.size() / 3);
    picturePut("adobe.jpg", 0, asBytes(withJpegProfile(plain, adobe)));
    picturePut("p3split.jpg", 1, asBytes(withJpegProfile(plain, p3, 4)));
    picturePut("cutprofile.jpg", 0, asBytes(withJpegProfile(plain, cut)));
    std::vector<std::uint16_t> samples;
    for (int i = 0; i < 5 * 4 * 3; ++i)
        samples.push_back(static_cast<std::uint16_t>(i * 1111));
    picturePut("p3.png", 5, asBytes(png(5, 4, 2, 16, samples, {iccpChunk(p3)})));
    picturePut("cutprofile.png", 5, asBytes(png(5, 4, 2, 8, samples, {iccpChunk(cut)})));
    const std::vector<std::uint8_t> cmyk = cmykProfile();
    const std::uint8_t inks[4] = {229, 51, 25, 255};
    picturePut("cmyk.jpg", 0, asBytes(withJpegProfile(cmykJpeg(8, 8, inks), cmyk, 2)));
    picturePut(
        "prophoto-gama.png", 5,
        asBytes(png(5, 4, 2, 8, samples,
                    {{"gAMA", {0, 0, 0xD9, 0x04}}, iccpChunk(iccProfile(Space::ProPhoto))})));

    // Profile readers: JPEG markers (whole, in pieces, cut), PNG chunks
    // (iCCP whole, cut, behind an sRGB chunk), and profiles alone for the
    // round trip.
    const fs::path profiles = out / "profile";
    put(profiles, "adobe.jpg", asBytes(withJpegProfile(plain, adobe)), true);
    put(profiles, "p3-3.jpg", asBytes(withJpegProfile(plain, p3, 3)), true);
    put(profiles, "p3.png", asBytes(png(5, 4, 2, 8, samples, {iccpChunk(p3)})), true);
    put(profiles, "srgb-first.png",
        asBytes(png(5, 4, 2, 8, samples, {{"sRGB", {0}}, iccpChunk(adobe)})), false);
    put(profiles, "adobe.icc", asBytes(adobe), false);
    put(profiles, "cut.icc", asBytes(cut), false);

    // INI: "section\0key\0value\0file".
    const Bytes sample = "[Lower Series]\r\nImageList1=/data/sets/tower1.txt\r\nClockwise1=1\r\n"
                         "[View Options]\r\nSpeed=5\r\n";
    auto ini = [](const Bytes& s, const Bytes& k, const Bytes& v, const Bytes& f) {
        return s + '\0' + k + '\0' + v + '\0' + f;
    };
    put(out / "ini", "replace", ini("View Options", "Speed", "7", sample), false);
    put(out / "ini", "append-key", ini("lower series", "CClockwise1", "0", sample), false);
    put(out / "ini", "new-section", ini("Upper Series", "ImageList3", "/x", sample), false);
    put(out / "ini", "comments",
        ini("A", "k", "v", "; c\n# d\n[ a ]\n k = \"q\" \nno equals\n[A]\nk=2"), false);
    put(out / "ini", "empty", ini("A", "k", "", ""), false);
    put(out / "ini", "cr-only", ini("B", "x", "1", "[B]\rx=0\r[C]\ry=1"), false);

    // List files in every encoding and with every line end.
    put(out / "list", "crlf.txt", "/a.jpg\r\n/b.jpg\r\n", true);
    put(out / "list", "mixed.txt", "/a\n\r\n/b\r/c", true);
    put(out / "list", "bom8.txt", "\xEF\xBB\xBF/f\xC3\xA4.jpg\r\n", true);
    put(out / "list", "utf16le.txt", Bytes("\xFF\xFE/\0a\0\r\0\n\0", 10), true);
    put(out / "list", "utf16be.txt", Bytes("\xFE\xFF\0/\xD8\x3D\xDE\x00\0\n", 10), true);
    put(out / "list", "empty.txt", "", false);

    // Texture cache entries: four bytes and three a pixel, with and without
    // mipmap levels, of a picture and of a targa file.
    const struct {
        int w, h, bytesPerPixel;
        bool mipmaps, targa;
    } entries[] = {{4, 4, 4, true, false},
                   {3, 5, 3, false, true},
                   {8, 2, 4, false, false},
                   {2, 8, 3, true, true}};
    for (const auto& e : entries) {
        std::vector<std::uint8_t> level0(static_cast<std::size_t>(e.w * e.h * e.bytesPerPixel));
        for (std::size_t i = 0; i < level0.size(); ++i)
            level0[i] = static_cast<std::uint8_t>(i * 37);
        DecodedTexture d;
        d.ok = true;
        d.targa = e.targa;
        d.imageTypeKnown = !e.targa;
        d.imageType = e.targa ? 0 : 2;
        d.width = e.w;
        d.height = e.h;
        d.bytesPerPixel = e.bytesPerPixel;
        d.format = e.bytesPerPixel == 4 ? PixelFormat::Rgba : PixelFormat::Rgb;
        d.bitsPerPixel = e.targa ? 8 * e.bytesPerPixel : 32;
        d.pixels = level0.data();
        d.mipmaps = e.mipmaps ? level0.data() : nullptr; // only whether there are any counts
        d.mipmapLevels = e.mipmaps ? 3 : 0;
        struct stat info{};
        info.st_size = 1234;
        CacheEntry::Key key =
            CacheEntry::keyFor("/photos/tower 1.jpg", info, TextureOptions(), 4096);
        std::vector<std::uint8_t> entry = CacheEntry::header(key, d);
        std::uint64_t check = PixelPacking::fingerprint(
            level0.data(), level0.size(), PixelPacking::fingerprint(entry.data(), entry.size(), 0));
        entry.insert(entry.end(), level0.begin(), level0.end());
        const auto* trailer = reinterpret_cast<const std::uint8_t*>(&check);
        entry.insert(entry.end(), trailer, trailer + sizeof check);
        put(out / "cache_entry", "e" + std::to_string(e.w) + "x" + std::to_string(e.h),
            asBytes(entry), true);
    }
    return 0;
}
