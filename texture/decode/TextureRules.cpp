#include "decode/TextureRules.h"

#include <algorithm>

#include <cctype>
#include <cmath>
#include <cstring>

namespace TextureRules {

namespace {

bool equalsIgnoringCase(const std::string& text, const char* word) {
    if (text.size() != std::strlen(word))
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i])
            return false;
    }
    return true;
}

} // namespace

std::string extensionOf(const char* path) {
    if (path == nullptr)
        return {};
    const char* dot = std::strrchr(path, '.');
    return dot ? std::string(dot + 1) : std::string();
}

bool isTargaPath(const char* path) {
    return equalsIgnoringCase(extensionOf(path), "tga");
}

int imageTypeForPath(const char* path) {
    struct Entry {
        const char* extension;
        int code;
    };
    static const Entry table[] = {
        {"bmp", ImageTypeBmp}, {"jpg", ImageTypeJpeg}, {"jpeg", ImageTypeJpeg},
        {"gif", ImageTypeGif}, {"ico", ImageTypeIco},  {"emf", ImageTypeEmf},
        {"wmf", ImageTypeWmf},
    };
    const std::string extension = extensionOf(path);
    for (const Entry& entry : table) {
        if (equalsIgnoringCase(extension, entry.extension))
            return entry.code;
    }
    return ImageTypeUnknown;
}

int textureDimension(int n, int maxSize) {
    if (n > maxSize)
        return maxSize;
    if (n <= 1)
        return 1;
    // ln 2 in single precision: the rounding threshold lies at 2^k * sqrt(2).
    const double ln2 = static_cast<double>(0.6931472f);
    const int k = static_cast<int>(std::floor(std::log(static_cast<double>(n)) / ln2 + 0.5));
    return 1 << k;
}

Size textureSize(int w, int h, int maxSize, bool highQuality) {
    Size size{textureDimension(w, maxSize), textureDimension(h, maxSize)};
    if (!highQuality && size.width > 64) {
        size.width /= 2;
        size.height /= 2;
        // A picture one pixel high would otherwise get no rows at all.
        if (size.height < 1)
            size.height = 1;
    }
    return size;
}

Size halved(Size size, int times) {
    for (int i = 0; i < times; ++i)
        size = {std::max(size.width / 2, 1), std::max(size.height / 2, 1)};
    return size;
}

} // namespace TextureRules
