#pragma once

#include <cstdint>
#include <string>

// What decides the pixels a decode makes, for whoever keeps decoded textures
// (the texture cache): a stored texture counts only under the same version.
namespace DecoderVersions {

// Changed whenever the pixels a decode makes change: the decoders, the
// colour conversion, the resampling, the mipmap levels.
constexpr std::uint32_t kDecoding = 2;

// The versions of the decoding libraries in use, whose output goes into the
// pixels: JPEG (with the size and time of the file it is loaded from, so
// that an update of the same version counts), PNG, colour management, Qt's
// image readers.
std::string libraries();

} // namespace DecoderVersions
