#include "ViewerTestSupport.h"

#include <tuple>

TestSet::TestSet(int lower, int centric, int upper) {
    const int counts[] = {lower, centric, upper};
    paths.reserve(lower + centric + upper);
    for (int s = 0; s < 3; ++s)
        for (int i = 0; i < counts[s]; ++i)
            paths.push_back("/photos/s" + std::to_string(s + 1) + "-" + std::to_string(i) + ".jpg");
    std::size_t k = 0;
    for (int i = 0; i < lower; ++i)
        record.addFileName1(paths[k++].c_str());
    for (int i = 0; i < centric; ++i)
        record.addFileName2(paths[k++].c_str());
    for (int i = 0; i < upper; ++i)
        record.addFileName3(paths[k++].c_str());
}

namespace {

using namespace OrbivueGL;

// References to every variable of the viewer module.
auto viewerState() {
    return std::tie(settings, numImages, numSeries, clockwise1, clockwise2, clockwise3, skyscraper,
                    skyscraperZoom, zoom, beta, alphaActual, alphaAim, seriesAct, seriesAim,
                    seriesHeight, seriesAngle, radius0Def, radius0, radiusMax, radius1Fac, radius1,
                    dist, speed, accel, cameraSpeed, cameraAccel, seriesSpeed, seriesAccel,
                    alphaFac, aspectRatio, screenSize, panX, panY, lastPanX, lastPanY, refX, refY,
                    textureNames1, textureNames2, textureNames3, glTextures1, glTextures2,
                    glTextures3, pTextureLoader, frameCamera, loadedCount, totalCount,
                    preloadWorkers, viewerScale, loaderObserver, nextTickDue, ticksRun);
}

template <class... T> std::tuple<T...> copyOf(const std::tuple<T&...>& references) {
    return std::tuple<T...>(references);
}

// Taken before the first viewer test of the process changes anything.
const auto& initialState() {
    static const auto initial = copyOf(viewerState());
    return initial;
}

} // namespace

void FreshViewerState::SetUp() {
    viewerState() = initialState();
}

void FreshViewerState::TearDown() {
    viewerState() = initialState();
}
