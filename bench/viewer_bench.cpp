// Prints what the viewer costs at rest and how long one image move takes, in
// the real viewer loop, at the opening window size and at a large one. Needs
// an X display (run it under xvfb-run).
#include "OrbivueGL.h"
#include "PhotoLikeJpeg.h"
#include "decode/PictureDecoder.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRestMs = 3000;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The phases of one run, driven by timers inside the viewer's own loop.
double restCpuStart = 0, restCpuPercent = 0;
Clock::time_point moveStart;
double moveMs = -1;

void closeWindow(int) {
    glutDestroyWindow(glutGetWindow());
}
void watchMove(int) {
    if (OrbivueGL::alphaActual == OrbivueGL::alphaAim) {
        moveMs = std::chrono::duration<double, std::milli>(Clock::now() - moveStart).count();
        glutTimerFunc(100, closeWindow, 0);
        return;
    }
    glutTimerFunc(1, watchMove, 0);
}
void startMove(int) {
    restCpuPercent = (cpuSeconds() - restCpuStart) * 100.0 / (kRestMs / 1000.0);
    moveStart = Clock::now();
    OrbivueGL::SpecialKeys(OrbivueGL::kKeyLeft, 0, 0);
    glutTimerFunc(1, watchMove, 0);
}
void startRest(int) {
    restCpuStart = cpuSeconds();
    glutTimerFunc(kRestMs, startMove, 0);
}

} // namespace

int main() {
    PictureDecoder::setUpProcess();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "orbivue-viewer-bench";
    std::filesystem::create_directories(dir);
    std::vector<std::string> photos;
    for (std::uint32_t i = 0; i < 12; ++i) {
        photos.push_back((dir / ("p" + std::to_string(i) + ".jpg")).string());
        const auto bytes = makePhotoLikeJpeg(1600, 1200, i + 1);
        std::ofstream(photos.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    std::printf("Viewer, 12 photographs of 1600 x 1200, speed 5\n");
    std::printf("%-12s %14s %16s\n", "window", "CPU at rest %", "one move, ms");
    const struct {
        int w, h;
    } sizes[] = {{733, 550}, {1280, 1000}};
    for (const auto& s : sizes) {
        OrbivueSettings record;
        for (const std::string& p : photos)
            record.addFileName1(p.c_str());
        using namespace OrbivueGL;
        settings = &record;
        startupFunction();
        if (!openViewerWindow())
            return 1;
        glutReshapeWindow(s.w, s.h);
        SetupRC();
        armAnimationTimer(33);
        glutTimerFunc(500, startRest, 0); // let the first frames settle
        runViewerLoop();
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", s.w, s.h);
        std::printf("%-12s %14.1f %16.0f\n", name, restCpuPercent, moveMs);
        std::fflush(stdout);
    }
    std::printf("A move is 77 ticks of 3 ms at speed 5: about 231 ms whatever a frame costs.\n");
    std::filesystem::remove_all(dir);
    return 0;
}
