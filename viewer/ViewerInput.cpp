// Input and animation arithmetic: the arrow keys set the targets, each tick
// moves the camera towards them, the mouse changes distance and shift. No GL
// or GLUT call: the key and button codes are freeglut's values.
#include "OrbivueGL.h"

#include <cmath>

namespace OrbivueGL {

namespace {

constexpr double kPi = 3.141592653589793;

// 0 on a whole position, 1 half-way between two.
double phaseOf(double position) {
    return std::sin((position - std::floor(position)) * kPi);
}

// Moves `current` one step towards `target`, landing on it exactly when
// within one step.
void stepTowards(float& current, float target, double step) {
    if (std::fabs(static_cast<double>(current) - target) < step)
        current = target;
    if (current < target)
        current = static_cast<float>(current + step);
    else if (current > target)
        current = static_cast<float>(current - step);
}

} // namespace

void animationStep() {
    // Both phases come from the positions before this tick's movement.
    const float pos = static_cast<float>(alphaActual / imageStep());
    const double imagePhase = phaseOf(pos);
    stepTowards(alphaActual, alphaAim, cameraSpeed + imagePhase * cameraAccel);
    dist = static_cast<float>(radius0 + radius1 * imagePhase);

    const double seriesPhase = phaseOf(seriesAct);
    stepTowards(seriesAct, seriesAim, seriesSpeed + seriesPhase * seriesAccel);
    if (skyscraperZoom || !skyscraper)
        dist = static_cast<float>(dist + radius1 * seriesPhase);
}

int ticksDue(int now, int due, int period, int most) {
    const int late = now > due ? now - due : 0;
    const int ticks = 1 + late / period;
    return ticks < most ? ticks : most;
}

ViewPose currentPose() {
    return {alphaActual, seriesAct, dist, panX, panY};
}

void SpecialKeys(std::int32_t key, std::int32_t /*x*/, std::int32_t /*y*/) {
    // A key of a kind of move that is still running is dropped.
    if (alphaAim == alphaActual) {
        if (key == kKeyRight)
            alphaAim = static_cast<float>(alphaAim - imageStep());
        else if (key == kKeyLeft)
            alphaAim = static_cast<float>(alphaAim + imageStep());
    }
    if (seriesAct == seriesAim) {
        if (key == kKeyUp)
            seriesAim += 1;
        else if (key == kKeyDown)
            seriesAim -= 1;
        if (seriesAim > numSeries - 1)
            seriesAim = static_cast<float>(numSeries - 1);
        if (seriesAim < 0)
            seriesAim = 0;
    }
}

void mouseButton(std::int32_t button, std::int32_t /*state*/, std::int32_t /*x*/,
                 std::int32_t /*y*/) {
    // freeglut reports a wheel notch as a press and a release of button 3
    // (forward) or 4 (backward); both move the camera.
    if (button == kWheelForward)
        radius0 = static_cast<float>(radius0 - 0.1);
    if (radius0 < 0.1)
        radius0 = 0.1f;
    if (button == kWheelBackward)
        radius0 = static_cast<float>(radius0 + 0.1);
    if (radius0 > radiusMax)
        radius0 = radiusMax;
    if (button == kButtonMiddle || button == kButtonRight) {
        panX = panY = 0;
        radius0 = radius0Def;
    }
    if (zoom)
        radius1 = static_cast<float>(static_cast<double>(radius0) / radius1Fac);
}

void passiveMouse(std::int32_t x, std::int32_t y) {
    refX = x;
    refY = y;
    lastPanX = panX;
    lastPanY = panY;
}

void activeMouse(std::int32_t x, std::int32_t y) {
    // A drag over the whole window height shifts by radius0 / 1.6, close to
    // the visible height at the centre, so the picture follows the pointer.
    const double scale = radius0 / 1.6;
    const double dx = static_cast<double>(static_cast<float>(refX - x) / screenSize) * scale;
    const double dy = static_cast<double>(static_cast<float>(refY - y) / screenSize) * scale;
    panX = static_cast<float>(lastPanX + dx);
    panY = static_cast<float>(lastPanY + dy);
}

} // namespace OrbivueGL
