// Prints how long the texture loader's CPU stage takes per photo (the
// processor time of its one thread) at three photo sizes, and for the largest once more with an
// Adobe RGB profile that has to be converted, next to a naive pipeline measured in the same run.
// Then how far converting the colours after the area average (what the
// stage does) lands from converting before it, on the sample photographs
// and on photo-like ones, tagged with each of the sample profiles.
#include "PhotoLikeJpeg.h"
#include "SamplePictures.h"
#include "StageReference.h"
#include "TurboJpegHandles.h"
#include "decode/AreaResampler.h"
#include "decode/PictureDecoder.h"
#include "decode/TextureDecode.h"
#include "decode/TextureRules.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The milliseconds of processor time `f` takes on this thread: the same as
// the clock's on a quiet machine, and beside busy processes what the work
// costs rather than where the time slices fell.
template <typename F> double timeMs(F&& f) {
    const double start = threadCpuMs();
    f();
    return threadCpuMs() - start;
}

// Full-resolution decode into a freshly allocated buffer, then the same
// scaling into a fresh texture buffer: what a loader without buffer reuse
// and without reduced-scale decoding does.
void naiveLoad(const std::vector<std::uint8_t>& jpeg, int textureW, int textureH) {
    const TurboJpegHandles::Handle handle(tjInitDecompress());
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    tjDecompressHeader3(handle.get(), jpeg.data(), jpeg.size(), &w, &h, &subsampling, &colorspace);
    std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[static_cast<std::size_t>(w) * h * 4]);
    tjDecompress2(handle.get(), jpeg.data(), jpeg.size(), pixels.get(), w, w * 4, h, TJPF_RGBX, 0);
    std::unique_ptr<std::uint8_t[]> texture(
        new std::uint8_t[static_cast<std::size_t>(textureW) * textureH * 4]);
    AreaResampler resampler;
    resampler.resample(pixels.get(), w, h, static_cast<std::size_t>(w) * 4, texture.get(), textureW,
                       textureH);
}

// Converting after the area average against converting before it: the
// share of colour values of the texture within one step, and the largest
// difference.
struct Agreement {
    double withinStep = 100;
    int worst = 0;
};

Agreement averageThenConvert(const std::vector<std::uint8_t>& file, const TextureOptions& options,
                             TextureScratch& scratch) {
    int w = 0, h = 0;
    PictureDecoder::Picture picture;
    if (!scratch.picture.open(file.data(), file.size(), w, h))
        return {};
    const TextureRules::Size texture = TextureRules::textureSize(w, h, 16384, options.highQuality);
    if (!scratch.picture.decode(texture.width, texture.height, scratch.decoded, picture,
                                scratch.colour))
        return {};
    const std::size_t count = static_cast<std::size_t>(texture.width) * texture.height;
    std::vector<std::uint8_t> after(count * 4), before(count * 4);
    scratch.resampler.resample(picture.pixels, picture.width, picture.height, picture.stride,
                               after.data(), texture.width, texture.height);
    scratch.colour.toSrgb(picture.profile, picture.profileSize, picture.kind, after.data(), count);
    std::vector<std::uint8_t> converted(static_cast<std::size_t>(picture.width) * picture.height *
                                        4);
    for (int y = 0; y < picture.height; ++y)
        std::copy_n(picture.pixels + y * picture.stride, picture.width * 4,
                    converted.data() + static_cast<std::size_t>(y) * picture.width * 4);
    scratch.colour.toSrgb(picture.profile, picture.profileSize, picture.kind, converted.data(),
                          converted.size() / 4);
    scratch.resampler.resample(converted.data(), picture.width, picture.height,
                               static_cast<std::size_t>(picture.width) * 4, before.data(),
                               texture.width, texture.height);
    std::size_t close = 0;
    Agreement a;
    for (std::size_t i = 0; i < count * 4; ++i) {
        if (i % 4 == 3)
            continue;
        const int d = std::abs(int(after[i]) - int(before[i]));
        close += d <= 1;
        a.worst = std::max(a.worst, d);
    }
    a.withinStep = 100.0 * static_cast<double>(close) / static_cast<double>(count * 3);
    return a;
}

void printAgreement(const TextureOptions& options) {
    using SamplePictures::Space;
    const struct {
        const char* name;
        Space space;
    } spaces[] = {{"Adobe RGB", Space::AdobeRgb},
                  {"Display P3", Space::DisplayP3},
                  {"ProPhoto", Space::ProPhoto}};
    std::vector<std::vector<std::uint8_t>> samples, photoLike;
    for (const auto& entry : std::filesystem::directory_iterator(ORBIVUE_SAMPLE_IMAGES)) {
        std::ifstream in(entry.path(), std::ios::binary);
        samples.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (std::uint32_t seed = 1; seed <= 3; ++seed)
        photoLike.push_back(makePhotoLikeJpeg(4000, 3000, seed));
    std::printf("\nConverting after the area average, against converting before it,\n"
                "at the viewer's texture size: colour values within one step, %% (worst step)\n");
    std::printf("%-11s %-30s %-30s\n", "profile", "sample photographs", "12 MP photo-like");
    TextureScratch scratch;
    for (const auto& space : spaces) {
        const std::vector<std::uint8_t> profile = SamplePictures::iccProfile(space.space);
        char columns[2][64];
        int column = 0;
        for (const auto* set : {&samples, &photoLike}) {
            double lowest = 100, highest = 0;
            int worst = 0;
            for (const std::vector<std::uint8_t>& jpeg : *set) {
                const Agreement a = averageThenConvert(
                    SamplePictures::withJpegProfile(jpeg, profile), options, scratch);
                lowest = std::min(lowest, a.withinStep);
                highest = std::max(highest, a.withinStep);
                worst = std::max(worst, a.worst);
            }
            std::snprintf(columns[column++], sizeof columns[0], "%.2f-%.2f (%d) of %zu", lowest,
                          highest, worst, set->size());
        }
        std::printf("%-11s %-30s %-30s\n", space.name, columns[0], columns[1]);
    }
}

// A 12 MP 16-bit PNG in linear light: the stage with its profile, converted
// from the sixteen-bit values at the picture's size, against the stage of
// the same picture untagged (read at eight bits, nothing converted).
void printSixteenBit(const TextureOptions& options) {
    const int w = 4000, h = 3000;
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(w) * h * 3);
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const std::size_t x = (i / 3) % w, y = i / 3 / w;
        samples[i] = static_cast<std::uint16_t>((x * 16 + y * 5 + (i % 3) * 9000 + (noise >> 24)) %
                                                65536 / (1 + y % 7));
    }
    const std::vector<std::uint8_t> linear =
        SamplePictures::iccProfile(SamplePictures::Space::LinearSrgb);
    std::vector<std::uint8_t> pngs[2];
    TextureScratch scratch[2];
    std::vector<double> stage[2];
    for (int tagged = 0; tagged < 2; ++tagged)
        pngs[tagged] = SamplePictures::png(
            w, h, 2, 16, samples,
            tagged ? std::vector<SamplePictures::PngChunk>{SamplePictures::iccpChunk(linear)}
                   : std::vector<SamplePictures::PngChunk>{});
    // Alternately, so that other work on the machine weighs on both alike;
    // 20 of each, as a stage of 360 ms moves by 10 ms from load to load.
    for (int run = 0; run < 40; ++run) {
        const int tagged = run % 2;
        DecodedTexture result;
        stage[tagged].push_back(timeMs([&] {
            decodeTextureData("x.png", pngs[tagged].data(), pngs[tagged].size(), options, 16384,
                              scratch[tagged], result);
        }));
    }
    const double ms[2] = {median(stage[0]), median(stage[1])};
    std::printf("\n4000x3000 16-bit PNG: stage %.1f ms untagged, %.1f ms with a linear-light\n"
                "profile converted from its 16-bit values (+%.1f %%).\n",
                ms[0], ms[1], (ms[1] / ms[0] - 1) * 100);
}

// The inks of a 12 MP photo-like picture at the viewer's texture size for
// it (2048 x 2048, averaged from the whole picture), converted to
// sRGB through a CMYK profile of a coarse table with steep ink curves: the
// first texture (the conversion is made), and each after it (as the next
// photographs of a set with that profile).
void printCmyk() {
    const std::vector<std::uint8_t> jpeg = makePhotoLikeJpeg(4000, 3000, 3);
    const TurboJpegHandles::Handle decoder(tjInitDecompress());
    constexpr int kWidth = 4000, kHeight = 3000, kSide = 2048;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(kWidth) * kHeight * 4);
    tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), picture.data(), kWidth, 0, kHeight,
                  TJPF_RGBX, 0);
    // Its colours as inks, stored as such files store them (255 for none),
    // averaged to the texture as the loader averages them.
    for (std::size_t i = 0; i < picture.size(); i += 4) {
        std::uint8_t* p = &picture[i];
        const std::uint8_t white = std::max({p[0], p[1], p[2]});
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<std::uint8_t>(white == 0 ? 255 : 255 - (white - p[c]) * 255 / white);
        p[3] = white;
    }
    std::vector<std::uint8_t> inks(static_cast<std::size_t>(kSide) * kSide * 4);
    AreaResampler resampler;
    resampler.resample(picture.data(), kWidth, kHeight, static_cast<std::size_t>(kWidth) * 4,
                       inks.data(), kSide, kSide);
    const std::vector<std::uint8_t> profile = SamplePictures::cmykProfile(9, 0.45);
    ColourConverter colour;
    std::vector<double> later;
    double first = 0;
    for (int run = 0; run < 7; ++run) {
        std::vector<std::uint8_t> texture = inks;
        const double ms = timeMs([&] {
            colour.toSrgb(profile.data(), profile.size(), PixelKind::Cmyk, texture.data(),
                          texture.size() / 4);
        });
        if (run == 0)
            first = ms;
        else
            later.push_back(ms);
    }
    std::vector<std::uint32_t> colours(inks.size() / 4);
    std::memcpy(colours.data(), inks.data(), inks.size());
    std::sort(colours.begin(), colours.end());
    const std::size_t distinct =
        static_cast<std::size_t>(std::unique(colours.begin(), colours.end()) - colours.begin());
    std::printf("\n12 MP CMYK photo-like, 2048x2048 texture of %zu distinct inks: its conversion\n"
                "through a CMYK profile takes %.1f ms for the first texture, %.1f ms for each\n"
                "after it.\n",
                distinct, first, median(later));
}

} // namespace

int main() {
    PictureDecoder::setUpProcess();
    const struct {
        int w, h, runs;
        bool adobe; // tagged with an Adobe RGB profile
    } sizes[] = {{640, 480, 61, false},
                 {1920, 1080, 31, false},
                 {4000, 3000, 15, false},
                 {4000, 3000, 15, true}};
    const std::vector<std::uint8_t> adobe =
        SamplePictures::iccProfile(SamplePictures::Space::AdobeRgb);
    const int maxTextureSize = 16384; // Mesa's software renderer
    const TextureOptions options = viewerTextureOptions();

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "orbivue-texture-bench";
    std::filesystem::create_directories(dir);

    const BusyProcesses beside; // ORBIVUE_BENCH_LOAD
    std::printf("Texture loader CPU stage, one thread, median ms of its processor time per photo "
                "(load average %.1f, "
                "%zu busy processes beside)\n",
                loadAverage(), beside.count());
    std::printf("%-16s %6s %9s %9s %9s %7s %9s %7s\n", "photo", "bpp", "texture", "decode", "stage",
                "stage/d", "naive", "naive/x");
    std::vector<std::string> twelve[2]; // the 12 MP photos: untagged, Adobe RGB
    for (const auto& s : sizes) {
        std::vector<std::string> paths;
        double bits = 0;
        for (std::uint32_t seed = 1; seed <= 3; ++seed) {
            std::vector<std::uint8_t> jpeg = makePhotoLikeJpeg(s.w, s.h, seed);
            if (s.adobe)
                jpeg = SamplePictures::withJpegProfile(jpeg, adobe);
            bits += jpeg.size() * 8.0 / (static_cast<double>(s.w) * s.h);
            const std::string path = (dir / (std::to_string(s.w) + (s.adobe ? "a-" : "-") +
                                             std::to_string(seed) + ".jpg"))
                                         .string();
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
            paths.push_back(path);
        }
        const TextureRules::Size texture =
            TextureRules::textureSize(s.w, s.h, maxTextureSize, options.highQuality);

        TextureScratch scratch;
        std::vector<double> stage, decodeOnly, naive;
        std::vector<std::vector<std::uint8_t>> files;
        for (const std::string& p : paths) {
            std::ifstream in(p, std::ios::binary);
            files.emplace_back(std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>());
        }
        // The decode alone with a decoder and buffer of its own, as the
        // stage has its own; each run takes the two in turn, first one, then
        // the other, so that neither always follows the naive pipeline's
        // fresh memory.
        TextureScratch alone;
        for (int run = 0; run < s.runs; ++run) {
            const std::string& path = paths[run % paths.size()];
            const std::vector<std::uint8_t>& file = files[run % files.size()];
            DecodedTexture result;
            auto stageRun = [&] {
                stage.push_back(timeMs([&] {
                    decodeTexture(path.c_str(), options, maxTextureSize, scratch, result);
                }));
            };
            auto decodeRun = [&] {
                decodeOnly.push_back(timeMs([&] {
                    int w = 0, h = 0;
                    PictureDecoder::Picture picture;
                    alone.picture.open(file.data(), file.size(), w, h);
                    alone.picture.decode(texture.width, texture.height, alone.decoded, picture,
                                         alone.colour);
                }));
            };
            if (run % 2 == 0) {
                stageRun();
                decodeRun();
            } else {
                decodeRun();
                stageRun();
            }
            if (!result.ok) {
                std::fprintf(stderr, "load failed: %s\n", path.c_str());
                return 1;
            }
            naive.push_back(timeMs([&] { naiveLoad(file, texture.width, texture.height); }));
        }
        const double stageMs = median(stage), naiveMs = median(naive);
        if (s.w == 4000)
            twelve[s.adobe] = paths;
        char photo[32], tex[32];
        std::snprintf(photo, sizeof photo, "%dx%d%s", s.w, s.h, s.adobe ? " Adobe" : "");
        std::snprintf(tex, sizeof tex, "%dx%d", texture.width, texture.height);
        std::printf("%-16s %6.2f %9s %9.2f %9.2f %7.3f %9.2f %7.2f\n", photo, bits / paths.size(),
                    tex, median(decodeOnly), stageMs, stageMs / median(decodeOnly), naiveMs,
                    naiveMs / stageMs);
    }
    std::printf("bpp: bits per pixel of the generated JPEGs; decode: TurboJPEG alone at the\n"
                "chosen scale into a reused buffer (the decoder's floor); stage: read, decode,\n"
                "stretch, convert (to sRGB on the Adobe row) and the mipmap levels; stage/d:\n"
                "stage / decode, each photo's stage and decode taken by turns, first one, then\n"
                "the other;\n"
                "naive: full-size decode into fresh memory, then the same stretch.\n");
    // The profile's cost from untagged and tagged loads taken by turns, so
    // that other work on the machine weighs on both alike; a few milliseconds
    // of a stage that varies by as much want many runs.
    std::vector<double> twelveMs[2];
    TextureScratch scratches[2];
    for (int run = 0; run < 60; ++run) {
        const int adobeRun = run % 2;
        DecodedTexture result;
        const std::string& path = twelve[adobeRun][run / 2 % twelve[adobeRun].size()];
        twelveMs[adobeRun].push_back(timeMs([&] {
            decodeTexture(path.c_str(), options, maxTextureSize, scratches[adobeRun], result);
        }));
    }
    std::printf("The Adobe RGB profile's conversion to sRGB adds %.1f %% to the 12 MP stage\n"
                "(%.1f against %.1f ms, untagged and tagged loads taken by turns).\n",
                (median(twelveMs[1]) / median(twelveMs[0]) - 1) * 100, median(twelveMs[1]),
                median(twelveMs[0]));
    std::filesystem::remove_all(dir);
    printAgreement(options);
    printSixteenBit(options);
    printCmyk();
    return 0;
}
