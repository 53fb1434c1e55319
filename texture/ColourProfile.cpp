#include "ColourProfile.h"

#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace ColourProfile {

namespace {

unsigned read16(const std::uint8_t* p) {
    return (unsigned(p[0]) << 8) | p[1];
}

std::uint32_t read32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

// Inflates a zlib stream into `out`, refusing more than the profile cap.
bool inflateBounded(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 0xffffffffu));
    out.clear();
    int status = Z_OK;
    while (status == Z_OK) {
        const std::size_t used = out.size();
        if (used >= kMaxProfileBytes)
            break;
        out.resize(std::min(kMaxProfileBytes, std::max<std::size_t>(used * 2, 4096)));
        stream.next_out = out.data() + used;
        stream.avail_out = static_cast<uInt>(out.size() - used);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(out.size() - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && !out.empty();
}

} // namespace

bool fromJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& profile) {
    static const char kTag[] = "ICC_PROFILE"; // with its NUL, 12 bytes
    constexpr std::size_t kPrefix = sizeof kTag + 2;
    profile.clear();
    // The pieces as they stand in the file: sequence number (from 1), count.
    struct Piece {
        const std::uint8_t* bytes;
        std::size_t size;
    };
    std::array<Piece, 256> pieces{};
    unsigned count = 0;
    std::size_t total = 0;

    std::size_t at = 2; // after the start-of-image marker
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            return false;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break; // the profile comes before the image data
        const std::size_t length = read16(data + at + 2);
        if (length < 2 || at + 2 + length > size)
            return false;
        const std::uint8_t* segment = data + at + 4;
        const std::size_t segmentSize = length - 2;
        if (marker == 0xE2 && segmentSize > kPrefix &&
            std::memcmp(segment, kTag, sizeof kTag) == 0) {
            const unsigned sequence = segment[sizeof kTag];
            const unsigned of = segment[sizeof kTag + 1];
            if (sequence == 0 || of == 0 || sequence > of || (count != 0 && of != count) ||
                pieces[sequence].bytes != nullptr)
                return false;
            count = of;
            pieces[sequence] = {segment + kPrefix, segmentSize - kPrefix};
            total += segmentSize - kPrefix;
        }
        at += 2 + length;
    }
    if (count == 0)
        return false;
    profile.reserve(total);
    for (unsigned i = 1; i <= count; ++i) {
        if (pieces[i].bytes == nullptr) {
            profile.clear();
            return false;
        }
        profile.insert(profile.end(), pieces[i].bytes, pieces[i].bytes + pieces[i].size);
    }
    return true;
}

bool fromPng(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& profile) {
    profile.clear();
    const std::uint8_t* iccp = nullptr;
    std::size_t iccpSize = 0;
    // Chunks: length, type, data, checksum; the colour chunks precede IDAT.
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint32_t length = read32(data + at);
        if (length > size - at - 12)
            break;
        const std::uint8_t* type = data + at + 4;
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0)
            break;
        if (std::memcmp(type, "sRGB", 4) == 0)
            return false;
        if (std::memcmp(type, "iCCP", 4) == 0 && iccp == nullptr) {
            iccp = type + 4;
            iccpSize = length;
        }
        at += 12 + static_cast<std::size_t>(length);
    }
    if (iccp == nullptr)
        return false;
    // A profile name of 1 to 79 bytes, its NUL, compression method 0.
    const std::uint8_t* nul = std::find(iccp, iccp + std::min<std::size_t>(iccpSize, 80), 0);
    const std::size_t name = static_cast<std::size_t>(nul - iccp);
    if (name == 0 || name >= std::min<std::size_t>(iccpSize, 80) || name + 2 > iccpSize ||
        iccp[name + 1] != 0)
        return false;
    if (!inflateBounded(iccp + name + 2, iccpSize - name - 2, profile)) {
        profile.clear();
        return false;
    }
    return true;
}

} // namespace ColourProfile

namespace {

// Red, green, blue and a byte that the conversion leaves alone; or grey in
// the first byte of four, for grey profiles.
constexpr cmsUInt32Number kRgbx = TYPE_RGBA_8;
constexpr cmsUInt32Number kGreyx =
    COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

// True when the conversion changes no colour by more than one step: the
// profile is sRGB under another name, and converting would only cost time.
bool changesNothing(cmsHTRANSFORM transform, bool grey) {
    std::vector<std::uint8_t> in, out;
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17) {
                const int sample[4] = {r, grey ? r : g, grey ? r : b, 255};
                in.insert(in.end(), sample, sample + 4);
            }
    out.resize(in.size());
    cmsDoTransform(transform, in.data(), out.data(), static_cast<cmsUInt32Number>(in.size() / 4));
    for (std::size_t i = 0; i < in.size(); ++i)
        if (i % 4 != 3 && std::abs(int(in[i]) - int(out[i])) > 1)
            return false;
    return true;
}

// The conversion of one profile to sRGB, or null when there is nothing to
// convert or the profile cannot be used for the picture.
cmsHTRANSFORM makeTransform(const std::uint8_t* bytes, std::size_t size, bool grey) {
    cmsHPROFILE source = cmsOpenProfileFromMem(bytes, static_cast<cmsUInt32Number>(size));
    if (source == nullptr)
        return nullptr;
    cmsHTRANSFORM transform = nullptr;
    const cmsColorSpaceSignature space = cmsGetColorSpace(source);
    if (space == (grey ? cmsSigGrayData : cmsSigRgbData)) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        if (srgb != nullptr) {
            // Perceptual rendering, as photographs are shown; no one-pixel
            // cache, which only costs time on pictures.
            transform = cmsCreateTransform(source, grey ? kGreyx : kRgbx, srgb, kRgbx,
                                           INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
            cmsCloseProfile(srgb);
        }
    }
    cmsCloseProfile(source);
    if (transform != nullptr && changesNothing(transform, grey)) {
        cmsDeleteTransform(transform);
        transform = nullptr;
    }
    return transform;
}

} // namespace

ColourConverter::~ColourConverter() {
    for (Known& k : known)
        if (k.transform != nullptr)
            cmsDeleteTransform(static_cast<cmsHTRANSFORM>(k.transform));
}

void ColourConverter::toSrgb(const std::uint8_t* profile, std::size_t profileSize, bool grey,
                             std::uint8_t* pixels, std::size_t count) {
    if (profile == nullptr || profileSize == 0 || profileSize > ColourProfile::kMaxProfileBytes ||
        count == 0)
        return;
    auto same = [&](const Known& k) {
        return k.grey == grey && k.profile.size() == profileSize &&
               std::memcmp(k.profile.data(), profile, profileSize) == 0;
    };
    auto found = std::find_if(known.begin(), known.end(), same);
    if (found == known.end()) {
        if (known.size() == kRemembered) {
            if (known.front().transform != nullptr)
                cmsDeleteTransform(static_cast<cmsHTRANSFORM>(known.front().transform));
            known.erase(known.begin());
        }
        Known k;
        k.profile.assign(profile, profile + profileSize);
        k.grey = grey;
        k.transform = makeTransform(profile, profileSize, grey);
        known.push_back(std::move(k));
        found = known.end() - 1;
    } else {
        std::rotate(found, found + 1, known.end());
        found = known.end() - 1;
    }
    if (found->transform == nullptr)
        return;
    // In slices: the pixel count of one call is 32-bit.
    constexpr std::size_t kSlice = std::size_t(1) << 24;
    for (std::size_t done = 0; done < count; done += kSlice) {
        const std::size_t n = std::min(kSlice, count - done);
        cmsDoTransform(static_cast<cmsHTRANSFORM>(found->transform), pixels + done * 4,
                       pixels + done * 4, static_cast<cmsUInt32Number>(n));
    }
}
