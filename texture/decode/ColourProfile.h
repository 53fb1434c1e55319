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

// What the four bytes of a decoded pixel hold: red, green, blue and an
// unused byte; grey in the first (red = green = blue); or cyan, magenta,
// yellow and black inverted (255 for no ink), as CMYK JPEGs store them.
enum class PixelKind : std::uint8_t { Rgb, Grey, Cmyk };

// Converts decoded pixels from the colours their profile describes to sRGB.
// Remembers what it made of the last few profiles, so that a set of photos
// from one camera builds its conversion once. One per thread.
class ColourConverter {
  public:
    ColourConverter();
    ~ColourConverter();
    ColourConverter(const ColourConverter&) = delete;
    ColourConverter& operator=(const ColourConverter&) = delete;

    // Whether the profile can be used for pixels of this kind: it is intact
    // and describes their colour space (grey pixels take a grey profile,
    // CMYK ones a CMYK profile). Builds the conversion, which is remembered.
    bool usable(const std::uint8_t* profile, std::size_t profileSize, PixelKind kind);

    // Converts `count` pixels of the kind in place, to red, green, blue and
    // the fourth byte left as it was. Leaves the pixels as they are when
    // there is no profile, when it describes sRGB, or when it is not usable.
    void toSrgb(const std::uint8_t* profile, std::size_t profileSize, PixelKind kind,
                std::uint8_t* pixels, std::size_t count);

    // Whether RGB pixels of sixteen bits with this profile can be converted
    // from those bits (its conversion is three tone curves and a matrix).
    bool convertsSixteenBits(const std::uint8_t* profile, std::size_t profileSize);

    // Converts `count` pixels of sixteen-bit red, green, blue and alpha, most
    // significant byte first, from `in` to eight-bit sRGB and alpha in the
    // first count * 4 bytes of `out`, which may be `in` or lie before it.
    // Only where convertsSixteenBits().
    void toSrgbFromSixteenBits(const std::uint8_t* profile, std::size_t profileSize,
                               const std::uint8_t* in, std::uint8_t* out, std::size_t count);

    // The table lookups of the usual camera and phone profiles come in two
    // kernels that give the same bytes: plain shifts and masks, and one that
    // takes each index out in one instruction (BMI1), chosen when the
    // program runs where the processor has it. available() tells which it
    // has; a kernel it lacks is not used.
    enum class Kernel { Plain, BitFields };
    static bool available(Kernel kernel);
    void useKernel(Kernel kernel);

  private:
    struct Conversion;
    Kernel kernel;
    struct Known {
        std::vector<std::uint8_t> profile;
        PixelKind kind = PixelKind::Rgb;
        bool usable = false;
        std::unique_ptr<Conversion> conversion; // null: the pixels stay as they are
        Known();
        Known(Known&&) noexcept;
        Known& operator=(Known&&) noexcept;
        ~Known();
    };
    // The entry of the profile, made now when it is not known yet.
    Known& remember(const std::uint8_t* profile, std::size_t profileSize, PixelKind kind);
    static constexpr std::size_t kRemembered = 4;
    struct CloseProfile {
        void operator()(void* profile) const noexcept;
    };
    // The sRGB profile, made once. Declared before the conversions, which
    // use it: they go first.
    std::unique_ptr<void, CloseProfile> srgb;
    std::vector<Known> known; // most recently used last
};
