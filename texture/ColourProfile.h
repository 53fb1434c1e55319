#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Embedded ICC colour profiles: found in the picture files, and applied so
// that a photograph tagged with another colour space (Adobe RGB from a
// camera, Display P3 from a phone) shows the colours it was taken with on a
// screen that shows sRGB.
namespace ColourProfile {

// Largest profile taken from a file; bigger ones are treated as damaged.
constexpr std::size_t kMaxProfileBytes = std::size_t(16) << 20;

// The profile a JPEG carries in its APP2 "ICC_PROFILE" markers, joined in
// the order of their sequence numbers. False when there is none, or when
// its pieces do not add up (missing, repeated or inconsistent counts).
bool fromJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& profile);

// The profile of a PNG's iCCP chunk, inflated. False when there is none,
// when it is damaged, or when an sRGB chunk states the colours as sRGB.
bool fromPng(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& profile);

} // namespace ColourProfile

// Converts decoded pixels from the colours their profile describes to sRGB.
// Remembers what it made of the last few profiles, so that a set of photos
// from one camera builds its conversion once. One per thread.
class ColourConverter {
  public:
    ColourConverter();
    ~ColourConverter();
    ColourConverter(const ColourConverter&) = delete;
    ColourConverter& operator=(const ColourConverter&) = delete;

    // Converts `count` pixels of red, green, blue and an unused byte in
    // place; `grey` says the picture is grey (red = green = blue), which
    // takes a grey profile. Leaves the pixels as they are when there is no
    // profile, when it describes sRGB, or when it is damaged or unusable for
    // this picture.
    void toSrgb(const std::uint8_t* profile, std::size_t profileSize, bool grey,
                std::uint8_t* pixels, std::size_t count);

  private:
    struct Conversion;
    struct Known {
        std::vector<std::uint8_t> profile;
        bool grey = false;
        std::unique_ptr<Conversion> conversion; // null: the pixels stay as they are
        Known();
        Known(Known&&) noexcept;
        Known& operator=(Known&&) noexcept;
        ~Known();
    };
    static constexpr std::size_t kRemembered = 4;
    std::vector<Known> known; // most recently used last
};
