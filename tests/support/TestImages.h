#pragma once

#include "decode/TextureDecode.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Pictures and folders that the tests make for themselves.
namespace TestImages {

struct Rgb {
    std::uint8_t r, g, b;
};

// A w x h picture, top row first, three bytes per pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    Rgb at(int x, int y) const;
    void set(int x, int y, Rgb colour);
};

Picture solid(int w, int h, Rgb colour);
// Four quadrants: top left, top right, bottom left, bottom right.
Picture quadrants(int w, int h, Rgb topLeft, Rgb topRight, Rgb bottomLeft, Rgb bottomRight);

// Writers; each returns false on failure.
bool writeJpeg(const std::string& path, const Picture& picture, int quality = 95);
bool writeWithQt(const std::string& path, const Picture& picture, const char* format);
std::vector<std::uint8_t> jpegBytes(const Picture& picture, int quality = 95);

// A fresh folder below the system's temporary folder, removed on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;
};

// The 18-byte header of a targa file: image type, size, bits per pixel,
// image descriptor (bit 5: first row is the top) and image ID length.
std::vector<std::uint8_t> targaHeader(int type, int w, int h, int depth, int descriptor = 0,
                                      int idLength = 0);

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readBytes(const std::string& path);
// The same with the bytes in a string.
bool writeText(const std::string& path, const std::string& bytes);
std::string readText(const std::string& path);

} // namespace TestImages
