#include "ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace OrbivueGL;

namespace {

// Single-precision results of a few operations on values near 1.
constexpr float kTolerance = 1e-5f;
// Expected values written as rounded decimals (0.93333 for 14/15), or reached
// through an angle in radians and back.
constexpr float kDecimalTolerance = 1e-4f;
// Angles of tens of degrees and fades taken from a fraction of an image step:
// a float's relative error of about 1e-7 times the turns behind them.
constexpr float kAngleTolerance = 1e-3f;
// A move ends on a float comparison with its target: one tick more or less is
// rounding, not a different speed.
constexpr int kTickSlack = 2;

// Ticks until the running moves have ended.
int ticksUntilRest() {
    int ticks = 0;
    while ((alphaActual != alphaAim || seriesAct != seriesAim) && ticks < 100000) {
        animationStep();
        ++ticks;
    }
    return ticks;
}

// Each group starts from the state the viewer starts with.
using ViewerStartup = FreshViewerState;
using ComposeFrame = FreshViewerState;
using Animation = FreshViewerState;
using Keys = FreshViewerState;
using Mouse = FreshViewerState;

} // namespace

TEST_F(ViewerStartup, SeriesShownFollowTheListLengths) {
    const struct {
        int lower, centric, upper, expected;
    } cases[] = {{12, 12, 0, 2},  {12, 0, 12, 1},  {12, 12, 12, 3},
                 {12, 11, 12, 1}, {12, 12, 13, 2}, {1, 0, 0, 1}};
    for (const auto& c : cases) {
        TestSet set(c.lower, c.centric, c.upper);
        set.derive();
        EXPECT_EQ(numSeries, c.expected) << c.lower << "/" << c.centric << "/" << c.upper;
        EXPECT_EQ(numImages, c.lower);
    }
}

TEST_F(ViewerStartup, DerivedConstantsAtSpeedFiveWithTwelveImages) {
    TestSet set(12, 0, 0);
    set.derive();
    EXPECT_FLOAT_EQ(beta, static_cast<float>(30 * 0.017453292519943295));
    EXPECT_FLOAT_EQ(speed, 0.04f);
    EXPECT_FLOAT_EQ(seriesSpeed, 0.005f);
    EXPECT_FLOAT_EQ(cameraSpeed, 0.04f / 12);
    EXPECT_FLOAT_EQ(cameraAccel, 2 * cameraSpeed);
    EXPECT_FLOAT_EQ(seriesAccel, 0.01f);
    EXPECT_FLOAT_EQ(radius0, 2.8f);
    EXPECT_FLOAT_EQ(radiusMax, 4.2f);
    EXPECT_NEAR(radius1, 0.93333f, kTolerance);
    EXPECT_FLOAT_EQ(seriesHeight, 1.2f);
    EXPECT_FLOAT_EQ(seriesAngle, 30.0f);
    EXPECT_FLOAT_EQ(aspectRatio, 1.3333334f);
    EXPECT_EQ(screenSize, 550);

    set.record.setZoom(false);
    set.record.setSpeed(1);
    set.derive();
    EXPECT_EQ(radius1, 0.0f);
    EXPECT_FLOAT_EQ(speed, 0.008f);
    EXPECT_FLOAT_EQ(seriesSpeed, 0.001f);
    set.record.setSpeed(9);
    set.derive();
    EXPECT_FLOAT_EQ(speed, 0.072f);
    EXPECT_FLOAT_EQ(seriesSpeed, 0.009f);
}

TEST_F(ViewerStartup, EveryStartResetsNavigation) {
    TestSet set(12, 12, 0);
    set.derive();
    alphaActual = alphaAim = 3;
    seriesAct = seriesAim = 1;
    panX = panY = lastPanX = lastPanY = 0.5f;
    refX = refY = 7;
    radius0 = 1;
    set.derive();
    EXPECT_EQ(alphaActual, 0.0f);
    EXPECT_EQ(alphaAim, 0.0f);
    EXPECT_EQ(seriesAct, 0.0f);
    EXPECT_EQ(seriesAim, 0.0f);
    EXPECT_EQ(panX + panY + lastPanX + lastPanY, 0.0f);
    EXPECT_EQ(refX + refY, 0);
    EXPECT_EQ(radius0, 2.8f);
}

TEST_F(ViewerStartup, CounterClockwiseSlotsRunBackwards) {
    const char* expected[] = {"d", "c", "b", "a"};
    const char* files[] = {"a", "b", "c", "d"};
    for (std::size_t slot = 0; slot < 4; ++slot) {
        EXPECT_STREQ(files[captureIndexForSlot(slot, 4, false)], expected[slot]);
        EXPECT_STREQ(files[captureIndexForSlot(slot, 4, true)], files[slot]);
    }
}

TEST_F(ViewerStartup, LoadingPercentagesForTwoSeriesOfThree) {
    const char* expected[] = {"  0", " 17", " 34", " 50", " 67", " 84", "100"};
    for (int loaded = 0; loaded <= 6; ++loaded)
        EXPECT_EQ(loaderPercentText(static_cast<float>(loaded) / 6.0f), expected[loaded]);
    EXPECT_STREQ(kLoadingMessage, "Orbivue is loading your images ... ");
}

TEST(GLFrameTest, DefaultFrameHasTheIdentityOrientation) {
    GLFrame frame;
    M3DMatrix44f m;
    frame.GetCameraOrientation(m);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
}

TEST(GLFrameTest, LookingAlongMinusXTurnsTheAxes) {
    GLFrame frame;
    frame.SetForwardVector(-1, 0, 0);
    frame.SetUpVector(0, 1, 0);
    M3DMatrix44f m;
    frame.GetCameraOrientation(m);
    // Row 0 is x = (0, 0, -1); row 2 is z = (1, 0, 0).
    EXPECT_EQ(m[0], 0.0f);
    EXPECT_EQ(m[4], 0.0f);
    EXPECT_EQ(m[8], -1.0f);
    EXPECT_EQ(m[12], 0.0f);
    EXPECT_EQ(m[2], 1.0f);
    EXPECT_EQ(m[6], 0.0f);
    EXPECT_EQ(m[10], 0.0f);
    EXPECT_EQ(m[15], 1.0f);
}

TEST(GLFrameTest, MoveRightGoesToTheCamerasLeftAndMoveUpUp) {
    GLFrame frame;
    frame.MoveRight(1);
    EXPECT_EQ(frame.GetOrigin()[0], -1.0f);
    EXPECT_EQ(frame.GetOrigin()[1], 0.0f);
    frame.MoveUp(1);
    EXPECT_EQ(frame.GetOrigin()[0], -1.0f);
    EXPECT_EQ(frame.GetOrigin()[1], 1.0f);
    EXPECT_EQ(frame.GetOrigin()[2], 0.0f);
    M3DVector3f forward;
    frame.GetForwardVector(forward);
    EXPECT_EQ(forward[2], -1.0f);
    M3DVector3f result;
    const M3DVector3f x = {1, 0, 0}, y = {0, 1, 0};
    m3dCrossProduct(result, x, y);
    EXPECT_EQ(result[2], 1.0f);
}

TEST_F(ComposeFrame, AtRestOnePictureOfSlotZero) {
    TestSet set(12, 0, 0);
    set.derive();
    dist = radius0;
    const Frame frame = composeFrame();
    ASSERT_EQ(frame.pictures.size(), 1u);
    EXPECT_EQ(frame.pictures[0].series, 0);
    EXPECT_EQ(frame.pictures[0].slot, 0);
    EXPECT_NEAR(frame.pictures[0].alpha, 1.15f, kTolerance);
    EXPECT_NEAR(frame.pictures[0].tilt, 0.0f, kTolerance);
    // The camera stands on +x at the rest distance, looking at the centre;
    // the tilt axis is its right-hand direction.
    EXPECT_NEAR(frameCamera.GetOrigin()[0], 2.8f, kTolerance);
    EXPECT_NEAR(frame.tiltAxis[2], -1.0f, kTolerance);
}

TEST_F(ComposeFrame, QuarterWayTheFarPictureUnderTheNearOne) {
    TestSet set(12, 0, 0);
    set.derive();
    alphaActual = 0.25f * beta;
    alphaAim = beta;
    const Frame frame = composeFrame();
    ASSERT_EQ(frame.pictures.size(), 2u);
    EXPECT_EQ(frame.pictures[0].slot, 1);
    EXPECT_NEAR(frame.pictures[0].alpha, 1.0f, kTolerance);
    EXPECT_NEAR(frame.pictures[0].turn, -30.0f, kAngleTolerance);
    EXPECT_EQ(frame.pictures[1].slot, 0);
    EXPECT_NEAR(frame.pictures[1].alpha, 0.825f, kDecimalTolerance);
}

TEST_F(ComposeFrame, SlotsWrapAroundInBothDirections) {
    TestSet set(12, 0, 0);
    set.derive();
    alphaAim = -beta;
    alphaActual = -0.25f * beta;
    Frame frame = composeFrame();
    ASSERT_EQ(frame.pictures.size(), 2u);
    EXPECT_EQ(frame.pictures[0].slot, 11); // far: floor(-0.25) = -1
    EXPECT_EQ(frame.pictures[1].slot, 0);  // near: ceil(-0.25) = 0
    EXPECT_NEAR(frame.pictures[1].alpha, 0.825f, kAngleTolerance);

    alphaActual = static_cast<float>(26.25 * imageStep());
    alphaAim = static_cast<float>(27 * imageStep());
    frame = composeFrame();
    ASSERT_EQ(frame.pictures.size(), 2u);
    EXPECT_EQ(frame.pictures[0].slot, 3);
    EXPECT_EQ(frame.pictures[1].slot, 2);

    // Exactly half-way takes the upper image as the near one, at 0.5.
    alphaActual = static_cast<float>(0.5 * imageStep());
    alphaAim = beta;
    frame = composeFrame();
    const float pos = static_cast<float>(alphaActual / imageStep());
    ASSERT_EQ(pos, 0.5f);
    EXPECT_EQ(frame.pictures[1].slot, 1);
    EXPECT_NEAR(frame.pictures[1].alpha, 0.5f, kDecimalTolerance);
}

TEST_F(ComposeFrame, ThreeSeriesTiltedInNormalMode) {
    TestSet set(12, 12, 12);
    set.derive();
    seriesAct = 0.3f;
    seriesAim = 1;
    const Frame frame = composeFrame();
    ASSERT_EQ(frame.pictures.size(), 2u);
    // Series 2 first, leaning away by -21 degrees, with the image fade only.
    EXPECT_EQ(frame.pictures[0].series, 1);
    EXPECT_NEAR(frame.pictures[0].tilt, -21.0f, kDecimalTolerance);
    EXPECT_NEAR(frame.pictures[0].alpha, 1.15f, kDecimalTolerance);
    // Series 1 over it at +9 degrees and 1.3 * 0.7 - 0.15 = 0.76.
    EXPECT_EQ(frame.pictures[1].series, 0);
    EXPECT_NEAR(frame.pictures[1].tilt, 9.0f, kDecimalTolerance);
    EXPECT_NEAR(frame.pictures[1].alpha, 0.76f * 1.15f, kDecimalTolerance);
    EXPECT_FALSE(frame.pictures[1].raise);
}

TEST_F(ComposeFrame, ThreeSeriesStackedInSkyscraperMode) {
    TestSet set(12, 12, 12);
    set.record.setSkyscraper(true);
    set.derive();
    seriesAct = 0.3f;
    seriesAim = 1;
    dist = radius0;
    const Frame frame = composeFrame();
    ASSERT_EQ(frame.pictures.size(), 2u);
    EXPECT_TRUE(frame.pictures[0].raise);
    EXPECT_NEAR(frame.pictures[0].height, 1.2f, kTolerance);
    EXPECT_NEAR(frame.pictures[0].alpha, 1.15f * 0.24f, kDecimalTolerance);
    EXPECT_NEAR(frame.pictures[1].height, 0.0f, kTolerance);
    EXPECT_NEAR(frame.pictures[1].alpha, 1.15f * 0.76f, kDecimalTolerance);
    EXPECT_NEAR(frameCamera.GetOrigin()[1], 0.36f, kTolerance);
}

TEST_F(Animation, TicksPerMoveDependOnSpeedOnly) {
    const struct {
        int speed, imageTicks, seriesTicks;
    } cases[] = {{1, 381, 485}, {5, 77, 97}, {9, 43, 54}};
    for (const auto& c : cases) {
        for (int n : {4, 12, 36}) {
            TestSet set(n, n, 0);
            set.record.setSpeed(c.speed);
            set.derive();
            SpecialKeys(kKeyLeft, 0, 0);
            EXPECT_NEAR(ticksUntilRest(), c.imageTicks, kTickSlack)
                << "speed " << c.speed << " n " << n;
            EXPECT_FLOAT_EQ(alphaActual, alphaAim);
            SpecialKeys(kKeyUp, 0, 0);
            EXPECT_NEAR(ticksUntilRest(), c.seriesTicks, kTickSlack) << "speed " << c.speed;
            EXPECT_EQ(seriesAct, 1.0f);
        }
    }
}

TEST_F(Animation, CameraPullsBackHalfWay) {
    TestSet set(12, 12, 0);
    set.derive();
    alphaActual = static_cast<float>(0.5 * imageStep());
    alphaAim = beta;
    animationStep();
    EXPECT_NEAR(dist, 3.7333f, kDecimalTolerance);
    seriesAct = 0.5f;
    seriesAim = 1;
    alphaActual = static_cast<float>(0.5 * imageStep());
    animationStep();
    EXPECT_NEAR(dist, 2.8f + 2 * 0.93333f, kDecimalTolerance);

    set.record.setSkyscraper(true);
    set.derive();
    seriesAct = 0.5f;
    seriesAim = 1;
    alphaActual = static_cast<float>(0.5 * imageStep());
    alphaAim = beta;
    animationStep();
    EXPECT_NEAR(dist, 2.8f + 0.93333f, kDecimalTolerance);

    set.record.setSkyscraper(false);
    set.record.setZoom(false);
    set.derive();
    alphaActual = static_cast<float>(0.5 * imageStep());
    alphaAim = beta;
    animationStep();
    EXPECT_FLOAT_EQ(dist, 2.8f);
}

TEST_F(Keys, SecondPressDroppedWhileTheMoveRuns) {
    TestSet set(12, 12, 12);
    set.derive();
    SpecialKeys(kKeyRight, 0, 0);
    EXPECT_FLOAT_EQ(alphaAim, -beta);
    animationStep();
    SpecialKeys(kKeyRight, 0, 0);
    EXPECT_FLOAT_EQ(alphaAim, -beta) << "dropped";
    SpecialKeys(kKeyUp, 0, 0);
    EXPECT_EQ(seriesAim, 1.0f) << "a series change runs beside the move";
    SpecialKeys(kKeyUp, 0, 0);
    EXPECT_EQ(seriesAim, 1.0f) << "dropped while the series change runs";
    ticksUntilRest();
    SpecialKeys(kKeyLeft, 0, 0);
    EXPECT_NEAR(alphaAim, 0.0f, kTolerance);
    SpecialKeys(1 /* F1 */, 0, 0); // not an arrow: nothing
    EXPECT_EQ(seriesAim, 1.0f);
}

TEST_F(Keys, SeriesTargetStaysWithinTheSeriesShown) {
    TestSet one(12, 0, 0);
    one.derive();
    SpecialKeys(kKeyUp, 0, 0);
    EXPECT_EQ(seriesAim, 0.0f);
    SpecialKeys(kKeyDown, 0, 0);
    EXPECT_EQ(seriesAim, 0.0f);

    TestSet three(12, 12, 12);
    three.derive();
    seriesAct = seriesAim = 2;
    SpecialKeys(kKeyUp, 0, 0);
    EXPECT_EQ(seriesAim, 2.0f);
    SpecialKeys(kKeyDown, 0, 0);
    EXPECT_EQ(seriesAim, 1.0f);
}

TEST_F(Mouse, WheelStaysBetweenTheLimits) {
    TestSet set(12, 0, 0);
    set.derive();
    float previous = radius0;
    for (int notch = 0; notch < 14; ++notch) {
        mouseButton(3, 0, 0, 0);
        mouseButton(3, 1, 0, 0);
        EXPECT_GE(radius0, 0.1f);
        EXPECT_LE(radius0, previous);
        previous = radius0;
    }
    EXPECT_NEAR(radius0, 0.1f, kTolerance);
    EXPECT_NEAR(radius1, 0.1f / 3, kTolerance);

    set.derive();
    mouseButton(4, 0, 0, 0);
    EXPECT_NEAR(radius0, 2.9f, kTolerance);
    mouseButton(4, 1, 0, 0);
    EXPECT_NEAR(radius0, 3.0f, kTolerance);
    for (int i = 0; i < 20; ++i)
        mouseButton(4, 0, 0, 0);
    EXPECT_FLOAT_EQ(radius0, 4.2f);
}

TEST_F(Mouse, DragShiftsAndTheRightButtonResets) {
    TestSet set(12, 0, 0);
    set.derive();
    passiveMouse(100, 100);
    activeMouse(100 + 275, 100 - 550); // right by half, up by the whole height
    EXPECT_NEAR(panX, -0.5f * 2.8f / 1.6f, kTolerance);
    EXPECT_NEAR(panY, 1.0f * 2.8f / 1.6f, kTolerance);
    const float heldX = panX, heldY = panY;
    mouseButton(3, 0, 0, 0); // zoom in, then reset
    mouseButton(kButtonRight, 0, 0, 0);
    EXPECT_EQ(panX, 0.0f);
    EXPECT_EQ(panY, 0.0f);
    EXPECT_EQ(radius0, 2.8f);
    EXPECT_NEAR(radius1, 0.93333f, kTolerance);
    // Dragging straight after the press starts from the shift held before.
    activeMouse(100 + 275, 100 - 550);
    EXPECT_FLOAT_EQ(panX, heldX);
    EXPECT_FLOAT_EQ(panY, heldY);
    mouseButton(kButtonRight, 1, 0, 0);
    EXPECT_EQ(panX, 0.0f);
    passiveMouse(10, 10);
    EXPECT_EQ(lastPanX, 0.0f);
    mouseButton(0, 0, 0, 0); // the left button changes nothing
    EXPECT_EQ(radius0, 2.8f);
}
