// libFuzzer harness: the colour-profile readers on arbitrary bytes, as a
// JPEG (the marker walk that joins the APP2 "ICC_PROFILE" pieces) and as a
// PNG (the chunk walk and the bounded inflation of iCCP). Then the input
// taken as a profile: embedded in a JPEG in pieces and in a PNG, it must
// come back whole from both.
#include "SamplePictures.h"
#include "decode/ColourProfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> profile;
    if (ColourProfile::fromJpeg(data, size, profile) && (profile.empty() || profile.size() > size))
        std::abort(); // the pieces are parts of the file
    if (ColourProfile::fromPng(data, size, profile) &&
        (profile.empty() || profile.size() > ColourProfile::kMaxProfileBytes))
        std::abort();

    if (size == 0 || size > 255 * 60000)
        return 0;
    const std::vector<std::uint8_t> bytes(data, data + size);
    // At most 65519 bytes fit in one marker; the first byte varies the
    // count, as long as no piece is left empty.
    std::size_t pieces = size / 60000 + 1 + data[0] % 3;
    while (pieces > 1 && (pieces - 1) * ((size + pieces - 1) / pieces) >= size)
        --pieces;
    static const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    const std::vector<std::uint8_t> tagged =
        SamplePictures::withJpegProfile(jpeg, bytes, static_cast<int>(pieces));
    if (!ColourProfile::fromJpeg(tagged.data(), tagged.size(), profile) || profile != bytes)
        std::abort();
    const std::vector<std::uint8_t> png =
        SamplePictures::png(1, 1, 0, 8, {0}, {SamplePictures::iccpChunk(bytes)});
    if (!ColourProfile::fromPng(png.data(), png.size(), profile) || profile != bytes)
        std::abort();
    return 0;
}
