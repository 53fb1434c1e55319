#include "StageReference.h"

#include <turbojpeg.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

template <typename F> double timeMs(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

bool StageReference::decode(const std::vector<std::uint8_t>& jpeg, int textureWidth,
                            int textureHeight) {
    if (!handle)
        handle.reset(tjInitDecompress());
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg.data(), jpeg.size(), &w, &h, &subsampling,
                            &colorspace) != 0)
        return false;
    tjscalingfactor chosen{1, 1};
    for (const tjscalingfactor s : {tjscalingfactor{1, 8}, {1, 4}, {1, 2}, {1, 1}}) {
        if (TJSCALED(w, s) >= textureWidth && TJSCALED(h, s) >= textureHeight) {
            chosen = s;
            break;
        }
    }
    width = TJSCALED(w, chosen);
    height = TJSCALED(h, chosen);
    picture.resize(static_cast<std::size_t>(width) * height * 4);
    return tjDecompress2(handle.get(), jpeg.data(), jpeg.size(), picture.data(), width, 0, height,
                         TJPF_RGBX, 0) == 0;
}

double StageReference::decodeMs(const std::vector<std::uint8_t>& jpeg, int textureWidth,
                                int textureHeight) {
    return timeMs([&] { decode(jpeg, textureWidth, textureHeight); });
}

double StageReference::referenceMs(const std::vector<std::uint8_t>& jpeg, int textureWidth,
                                   int textureHeight) {
    texture.resize(static_cast<std::size_t>(textureWidth) * textureHeight * 4);
    return timeMs([&] { stretchInto(jpeg, textureWidth, textureHeight, texture.data()); });
}

bool StageReference::stretchInto(const std::vector<std::uint8_t>& jpeg, int textureWidth,
                                 int textureHeight, std::uint8_t* into) {
    resampler.useKernel(AreaResampler::Kernel::Sse2);
    if (!decode(jpeg, textureWidth, textureHeight))
        return false;
    resampler.resample(picture.data(), width, height, static_cast<std::size_t>(width) * 4, into,
                       textureWidth, textureHeight);
    return true;
}

BusyProcesses::BusyProcesses()
    : BusyProcesses(std::getenv("ORBIVUE_BENCH_LOAD") != nullptr
                        ? std::atoi(std::getenv("ORBIVUE_BENCH_LOAD"))
                        : 0) {}

BusyProcesses::BusyProcesses(int count) {
    for (int i = 0; i < count; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        }
        if (child > 0)
            children.push_back(child);
    }
}

BusyProcesses::~BusyProcesses() {
    for (const pid_t child : children) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

double loadAverage() {
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = 0;
        std::fclose(f);
    }
    return load;
}
