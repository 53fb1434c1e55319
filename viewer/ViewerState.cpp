// The viewer state and its derivation from the record: plain arithmetic,
// no GL or GLUT call, so that tests run it without a window.
#include "OrbivueGL.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace OrbivueGL {

OrbivueSettings* settings = nullptr;
std::int32_t numImages = 0;
std::int32_t numSeries = 0;
bool clockwise1 = false, clockwise2 = false, clockwise3 = false;
bool skyscraper = false;
bool skyscraperZoom = false;
bool zoom = false;
float beta = 0;
float alphaActual = 0;
float alphaAim = 0;
float seriesAct = 0;
float seriesAim = 0;
float seriesHeight = 0;
float seriesAngle = 0;
float radius0Def = 0;
float radius0 = 0;
float radiusMax = 0;
float radius1Fac = 0;
float radius1 = 0;
float dist = 0;
float speed = 0;
float accel = 0;
float cameraSpeed = 0;
float cameraAccel = 0;
float seriesSpeed = 0;
float seriesAccel = 0;
float alphaFac = 0;
float aspectRatio = 0;
std::int32_t screenSize = 0;
float panX = 0, panY = 0;
float lastPanX = 0, lastPanY = 0;
std::int32_t refX = 0, refY = 0;
std::vector<const char*> textureNames1, textureNames2, textureNames3;
std::vector<glTexture> glTextures1, glTextures2, glTextures3;
TextureLoader* pTextureLoader = nullptr;
GLFrame frameCamera;
std::int32_t loadedCount = 0, totalCount = 0;
// One preloading worker per core, at least one.
unsigned preloadWorkers = std::max(1u, std::thread::hardware_concurrency());
double viewerScale = 1.0;
void (*loaderObserver)(float fraction) = nullptr;
std::uint64_t (*preloadRoom)() = nullptr;
int preloadPlannedHalvings = 0;
int nextTickDue = 0;
std::uint64_t ticksRun = 0;

const char* const kLoadingMessage = "Orbivue is loading your images ... ";

namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;

} // namespace

double imageStep() {
    return (360.0 / numImages) * kDegreesToRadians;
}

void startupFunction() {
    refX = refY = 0;
    panX = panY = lastPanX = lastPanY = 0;
    seriesAct = seriesAim = 0;
    alphaActual = alphaAim = 0;

    textureNames1 = settings->getFileNames1();
    clockwise1 = settings->isClockwise1();
    numSeries = 1;
    numImages = static_cast<std::int32_t>(textureNames1.size());

    // A second or third series is shown only with as many images as the
    // first, and the third only when the second is shown.
    textureNames2 = settings->getFileNames2();
    clockwise2 = settings->isClockwise2();
    if (static_cast<std::int32_t>(textureNames2.size()) == numImages)
        numSeries = 2;
    if (numSeries == 2) {
        textureNames3 = settings->getFileNames3();
        clockwise3 = settings->isClockwise3();
        if (static_cast<std::int32_t>(textureNames3.size()) == numImages)
            numSeries = 3;
    }

    beta = static_cast<float>((360.0 / numImages) * kDegreesToRadians);
    skyscraper = settings->isSkyscraper();
    skyscraperZoom = settings->isSkyscraperZoom();

    seriesHeight = static_cast<float>(2.0 * 0.6);
    seriesAngle = 30;
    radius0Def = 2.8f;
    radiusMax = static_cast<float>(1.5 * radius0Def);

    zoom = settings->isZoom();
    radius0 = radius0Def;
    radius1Fac = 3;
    radius1 = zoom ? static_cast<float>(static_cast<double>(radius0) / radius1Fac) : 0.0f;

    speed = static_cast<float>(0.04 * (settings->getSpeed() / 5.0));
    accel = 2;
    cameraSpeed = static_cast<float>(static_cast<double>(speed) / numImages);
    cameraAccel = static_cast<float>(static_cast<double>(cameraSpeed) * accel);

    seriesSpeed = static_cast<float>(0.005 * (settings->getSpeed() / 5.0));
    seriesAccel = static_cast<float>(static_cast<double>(seriesSpeed) * accel);

    alphaFac = 1.3f;
    aspectRatio = static_cast<float>(4.0 / 3.0);
    screenSize = 550;
}

std::size_t captureIndexForSlot(std::size_t slot, std::size_t count, bool clockwise) {
    return clockwise ? slot : count - 1 - slot;
}

void viewerWindowSize(double scale, int& width, int& height) {
    // A factor no screen has (none, NaN, absurd) counts as 1.
    if (!(scale >= 0.5 && scale <= 8.0))
        scale = 1.0;
    height = static_cast<int>(std::lround(static_cast<double>(screenSize) * scale));
    width = static_cast<int>(static_cast<double>(height) * aspectRatio);
}

std::string loaderPercentText(float fraction) {
    const int percent = static_cast<int>(std::ceil(static_cast<double>(fraction) * 100.0));
    char text[16];
    std::snprintf(text, sizeof text, "%3d", percent);
    return text;
}

} // namespace OrbivueGL
