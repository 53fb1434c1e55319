#pragma once

#include <string>

// Pure rules of the texture loader: which decoder a file goes to and which
// size its texture gets. No GL call here.
namespace TextureRules {

// File-type codes recorded in glTexture::imageType.
enum ImageTypeCode {
    ImageTypeUnknown = 0,
    ImageTypeBmp = 1,
    ImageTypeJpeg = 2,
    ImageTypeGif = 5,
    ImageTypeIco = 6,
    ImageTypeEmf = 7,
    ImageTypeWmf = 8,
};

// The text after the last '.' anywhere in the path (a dot in a folder name
// counts when the file name has none); empty when the path has no dot.
std::string extensionOf(const char* path);

// True when the extension is "tga" in any letter case.
bool isTargaPath(const char* path);

// The file-type code of a non-targa path, by its extension without regard
// to letter case; 0 for anything not listed.
int imageTypeForPath(const char* path);

// One texture dimension for an image dimension n: maxSize when n is larger,
// otherwise the power of two nearest to n on a logarithmic scale.
int textureDimension(int n, int maxSize);

struct Size {
    int width;
    int height;
};

// The texture size of a w x h image. Without high quality, a texture wider
// than 64 pixels is halved in both dimensions (never below 1 pixel).
Size textureSize(int w, int h, int maxSize, bool highQuality);

// The size halved `times` more in each dimension (never below 1 pixel).
Size halved(Size size, int times);

} // namespace TextureRules
