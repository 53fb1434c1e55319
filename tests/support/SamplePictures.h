#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Picture files with colour information that tests, benchmarks and fuzz
// seeds make for themselves: ICC profiles built with Little CMS, JPEGs that
// carry one, PNGs of any bit depth with the chunks a test chooses.
namespace SamplePictures {

enum class Space { AdobeRgb, DisplayP3, ProPhoto, LinearSrgb };

// An ICC profile of the colour space, as a camera, phone or raw converter
// embeds it.
std::vector<std::uint8_t> iccProfile(Space space);

// The grey profile systems ship for black-and-white pictures: its curve and
// white, as Gray.icc and ps_gray.icc hold them (gamma 1.0, D50).
std::vector<std::uint8_t> greyProfile();

// A CMYK printing profile (a table from inks to colours, with inks that are
// less pure than a plain inversion assumes), of `gridPoints` an ink, its
// curve for each ink before the table.
std::vector<std::uint8_t> cmykProfile(int gridPoints = 9, double inkCurve = 1.0);

// A CMYK JPEG of one colour, stored as such files store it: each ink
// inverted (255 for none), for cyan, magenta, yellow and black.
std::vector<std::uint8_t> cmykJpeg(int width, int height, const std::uint8_t (&stored)[4]);
// The same of many colours: four bytes a pixel, top row first.
std::vector<std::uint8_t> cmykJpeg(int width, int height, const std::vector<std::uint8_t>& pixels);

// The JPEG with `profile` in APP2 "ICC_PROFILE" markers straight after its
// start marker, split into `pieces` markers.
std::vector<std::uint8_t> withJpegProfile(const std::vector<std::uint8_t>& jpeg,
                                          const std::vector<std::uint8_t>& profile, int pieces = 1);

struct PngChunk {
    std::string type; // four letters
    std::vector<std::uint8_t> data;
};

// The iCCP chunk that embeds `profile`.
PngChunk iccpChunk(const std::vector<std::uint8_t>& profile);

// A PNG of the colour type (0 grey, 2 RGB, 4 grey-alpha, 6 RGBA) and bit
// depth (8 or 16), with `samples` holding every channel of every pixel, top
// row first; `chunks` stand between the header and the pixel data. Rows
// `interlaced` come in the seven passes of Adam7.
std::vector<std::uint8_t> png(int width, int height, int colourType, int bitDepth,
                              const std::vector<std::uint16_t>& samples,
                              const std::vector<PngChunk>& chunks = {}, bool interlaced = false);

} // namespace SamplePictures
