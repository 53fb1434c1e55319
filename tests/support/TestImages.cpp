#include "TestImages.h"

#include "TurboJpegHandles.h"

#include <QImage>

#include <turbojpeg.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace TestImages {

Rgb Picture::at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

void Picture::set(int x, int y, Rgb colour) {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    rgb[i] = colour.r;
    rgb[i + 1] = colour.g;
    rgb[i + 2] = colour.b;
}

Picture solid(int w, int h, Rgb colour) {
    Picture p;
    p.width = w;
    p.height = h;
    p.rgb.resize(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.set(x, y, colour);
    return p;
}

Picture quadrants(int w, int h, Rgb topLeft, Rgb topRight, Rgb bottomLeft, Rgb bottomRight) {
    Picture p = solid(w, h, topLeft);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            p.set(x, y, bottom ? (right ? bottomRight : bottomLeft) : (right ? topRight : topLeft));
        }
    return p;
}

std::vector<std::uint8_t> jpegBytes(const Picture& picture, int quality) {
    const TurboJpegHandles::Handle handle(tjInitCompress());
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool made =
        tjCompress2(handle.get(), picture.rgb.data(), picture.width, picture.width * 3,
                    picture.height, TJPF_RGB, &out, &size, TJSAMP_444, quality, 0) == 0;
    const TurboJpegHandles::Buffer owned(out);
    return made ? std::vector<std::uint8_t>(out, out + size) : std::vector<std::uint8_t>();
}

bool writeJpeg(const std::string& path, const Picture& picture, int quality) {
    const std::vector<std::uint8_t> bytes = jpegBytes(picture, quality);
    return !bytes.empty() && writeBytes(path, bytes);
}

bool writeWithQt(const std::string& path, const Picture& picture, const char* format) {
    QImage image(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                 QImage::Format_RGB888);
    return image.copy().save(QString::fromStdString(path), format);
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path = std::filesystem::temp_directory_path() /
           ("orbivue-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::uint8_t> targaHeader(int type, int w, int h, int depth, int descriptor,
                                      int idLength) {
    std::vector<std::uint8_t> b(18, 0);
    b[0] = static_cast<std::uint8_t>(idLength);
    b[2] = static_cast<std::uint8_t>(type);
    b[12] = static_cast<std::uint8_t>(w & 0xFF);
    b[13] = static_cast<std::uint8_t>(w >> 8);
    b[14] = static_cast<std::uint8_t>(h & 0xFF);
    b[15] = static_cast<std::uint8_t>(h >> 8);
    b[16] = static_cast<std::uint8_t>(depth);
    b[17] = static_cast<std::uint8_t>(descriptor);
    return b;
}

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool writeText(const std::string& path, const std::string& bytes) {
    return writeBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::string readText(const std::string& path) {
    const std::vector<std::uint8_t> b = readBytes(path);
    return std::string(b.begin(), b.end());
}

} // namespace TestImages
