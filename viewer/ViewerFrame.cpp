// Frame composition: which pictures a frame shows, with which opacities and
// transforms, and where the camera stands. No GL call.
#include "OrbivueGL.h"

#include <cmath>

namespace OrbivueGL {

namespace {

constexpr double kRadiansToDegrees = 57.29577951308232;

// Brings an image index of any number of turns into 0 .. N - 1.
int wrapSlot(double index, int n) {
    long long i = static_cast<long long>(index) % n;
    if (i < 0)
        i += n;
    return static_cast<int>(i);
}

float fadeAlpha(double w) {
    return static_cast<float>(alphaFac * w - (alphaFac - 1.0) / 2.0);
}

} // namespace

Frame composeFrame() {
    Frame frame;

    // Image pair: the slot nearest to the camera angle and its other neighbour.
    const float pos = static_cast<float>(alphaActual / imageStep());
    const double f = pos - std::floor(static_cast<double>(pos));
    double nearImage, farImage, w;
    if (f < 0.5) {
        nearImage = std::floor(pos);
        farImage = std::ceil(pos);
        w = 1.0 - f;
    } else {
        nearImage = std::ceil(pos);
        farImage = std::floor(pos);
        w = f;
    }
    const float imageAlpha = fadeAlpha(w);
    const int nearSlot = wrapSlot(nearImage, numImages);
    const int farSlot = wrapSlot(farImage, numImages);

    // Series pair.
    int seriesDir = 1;
    double seriesFrac = 0.0;
    int nearSeries, otherSeries;
    float seriesAlpha;
    if (seriesAct == seriesAim) {
        nearSeries = static_cast<int>(seriesAim);
        otherSeries = -1;
        seriesAlpha = 1.0f;
    } else {
        nearSeries = static_cast<int>(std::floor(static_cast<double>(seriesAct) + 0.5));
        seriesFrac = std::fabs(nearSeries - static_cast<double>(seriesAct));
        double sw;
        if (nearSeries < seriesAct) {
            otherSeries = nearSeries + 1;
            sw = otherSeries - static_cast<double>(seriesAct);
            seriesDir = -1;
        } else {
            otherSeries = nearSeries - 1;
            sw = seriesAct - static_cast<double>(otherSeries);
        }
        seriesAlpha = fadeAlpha(sw);
    }

    // Camera on its circle, looking at the centre, shifted by the drag.
    const double c = std::cos(static_cast<double>(alphaActual));
    const double s = std::sin(static_cast<double>(alphaActual));
    const double cameraHeight = skyscraper ? static_cast<double>(seriesAct) * seriesHeight : 0.0;
    frameCamera.SetOrigin(static_cast<float>(c * dist), static_cast<float>(cameraHeight),
                          static_cast<float>(s * dist));
    frameCamera.SetForwardVector(static_cast<float>(-c), 0.0f, static_cast<float>(-s));
    frameCamera.SetUpVector(0.0f, 1.0f, 0.0f);
    frameCamera.MoveRight(-panX);
    frameCamera.MoveUp(-panY);
    M3DVector3f forward;
    const M3DVector3f vertical = {0.0f, 1.0f, 0.0f};
    frameCamera.GetForwardVector(forward);
    m3dCrossProduct(frame.tiltAxis, forward, vertical);

    const bool moving = alphaActual != alphaAim;
    auto picture = [&](int series, int slot, float alpha, double tilt) {
        FramePicture p;
        p.series = series;
        p.slot = slot;
        p.alpha = alpha;
        p.raise = skyscraper;
        p.height = static_cast<float>(static_cast<double>(series) * seriesHeight);
        p.tilt = static_cast<float>(tilt);
        p.turn = static_cast<float>(-slot * static_cast<double>(beta) * kRadiansToDegrees);
        frame.pictures.push_back(p);
    };

    if (otherSeries != -1) {
        const double tilt = (1.0 - seriesFrac) * seriesAngle * seriesDir;
        const double fadeOut = 1.0 - static_cast<double>(seriesAlpha);
        if (moving)
            picture(otherSeries, farSlot, skyscraper ? static_cast<float>(fadeOut) : 1.0f, tilt);
        picture(otherSeries, nearSlot,
                skyscraper ? static_cast<float>(imageAlpha * fadeOut) : imageAlpha, tilt);
    }
    const double tilt = -seriesFrac * seriesAngle * seriesDir;
    if (moving)
        picture(nearSeries, farSlot, seriesAlpha, tilt);
    picture(nearSeries, nearSlot, static_cast<float>(static_cast<double>(seriesAlpha) * imageAlpha),
            tilt);
    return frame;
}

} // namespace OrbivueGL
