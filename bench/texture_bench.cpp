// Prints how long the texture loader's CPU stage takes per photo at three
// photo sizes, and for the largest once more with an Adobe RGB profile that
// has to be converted, next to a naive pipeline measured in the same run.
#include "AreaResample.h"
#include "PhotoLikeJpeg.h"
#include "SamplePictures.h"
#include "TextureDecode.h"
#include "TextureSize.h"

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> double timeMs(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Full-resolution decode into a freshly allocated buffer, then the same
// scaling into a fresh texture buffer: what a loader without buffer reuse
// and without reduced-scale decoding does.
void naiveLoad(const std::vector<std::uint8_t>& jpeg, int textureW, int textureH) {
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &w, &h, &subsampling, &colorspace);
    std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[static_cast<std::size_t>(w) * h * 4]);
    tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.get(), w, w * 4, h, TJPF_RGBX, 0);
    std::unique_ptr<std::uint8_t[]> texture(
        new std::uint8_t[static_cast<std::size_t>(textureW) * textureH * 4]);
    AreaResampler resampler;
    resampler.resample(pixels.get(), w, h, static_cast<std::size_t>(w) * 4, texture.get(), textureW,
                       textureH);
    tjDestroy(handle);
}

} // namespace

int main() {
    const struct {
        int w, h, runs;
        bool adobe; // tagged with an Adobe RGB profile
    } sizes[] = {{640, 480, 41, false},
                 {1920, 1080, 21, false},
                 {4000, 3000, 9, false},
                 {4000, 3000, 9, true}};
    const std::vector<std::uint8_t> adobe =
        SamplePictures::iccProfile(SamplePictures::Space::AdobeRgb);
    const int maxTextureSize = 16384; // Mesa's software renderer
    const TextureOptions options = viewerTextureOptions();

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "orbivue-texture-bench";
    std::filesystem::create_directories(dir);

    std::printf("Texture loader CPU stage, one thread, median ms per photo\n");
    std::printf("%-16s %6s %9s %9s %9s %9s %7s\n", "photo", "bpp", "texture", "decode", "stage",
                "naive", "naive/x");
    double untaggedMs = 0, adobeMs = 0; // the 12 MP photo's stage
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
        for (int run = 0; run < s.runs; ++run) {
            const std::string& path = paths[run % paths.size()];
            const std::vector<std::uint8_t>& file = files[run % files.size()];
            DecodedTexture result;
            stage.push_back(timeMs(
                [&] { decodeTexture(path.c_str(), options, maxTextureSize, scratch, result); }));
            if (!result.ok) {
                std::fprintf(stderr, "load failed: %s\n", path.c_str());
                return 1;
            }
            decodeOnly.push_back(timeMs([&] {
                int w = 0, h = 0;
                PictureDecoder::Picture picture;
                scratch.picture.open(file.data(), file.size(), w, h);
                scratch.picture.decode(texture.width, texture.height, scratch.decoded, picture,
                                       scratch.colour);
            }));
            naive.push_back(timeMs([&] { naiveLoad(file, texture.width, texture.height); }));
        }
        const double stageMs = median(stage), naiveMs = median(naive);
        if (s.w == 4000)
            (s.adobe ? adobeMs : untaggedMs) = stageMs;
        char photo[32], tex[32];
        std::snprintf(photo, sizeof photo, "%dx%d%s", s.w, s.h, s.adobe ? " Adobe" : "");
        std::snprintf(tex, sizeof tex, "%dx%d", texture.width, texture.height);
        std::printf("%-16s %6.2f %9s %9.2f %9.2f %9.2f %7.2f\n", photo, bits / paths.size(), tex,
                    median(decodeOnly), stageMs, naiveMs, naiveMs / stageMs);
    }
    std::printf("bpp: bits per pixel of the generated JPEGs; decode: TurboJPEG alone at the\n"
                "chosen scale into a reused buffer; stage: read, decode, stretch and convert\n"
                "(with the colour conversion to sRGB on the Adobe row);\n"
                "naive: full-size decode into fresh memory, then the same stretch.\n");
    std::printf("The Adobe RGB profile's conversion to sRGB adds %.1f %% to the 12 MP stage.\n",
                (adobeMs / untaggedMs - 1) * 100);
    std::filesystem::remove_all(dir);
    return 0;
}
