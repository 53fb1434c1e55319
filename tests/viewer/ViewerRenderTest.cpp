#include "OrbivueGL.h"
#include "TestImages.h"
#include "ViewerTestSupport.h"
#include "XWindows.h"

#include <GL/freeglut.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <unistd.h>

using namespace OrbivueGL;
using TestImages::Rgb;

namespace {

const Rgb kA{200, 40, 40}, kB{40, 200, 40}, kC{40, 40, 200}, kD{220, 220, 30};

struct Pixel {
    int r, g, b;
};

// A solid colour through JPEG compression and texture filtering lands within
// a few steps of itself.
constexpr int kPhotoTolerance = 4;
// Two such colours blended and rounded to 8 bits once more.
constexpr int kBlendTolerance = 5;
// Untextured white and the black background: only the last bit may differ.
constexpr int kFlatTolerance = 1;

::testing::AssertionResult near(Pixel p, double r, double g, double b, int tolerance) {
    if (std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
        std::abs(p.b - b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << p.r << ", " << p.g << ", " << p.b
                                         << ") expected (" << r << ", " << g << ", " << b << ")";
}
::testing::AssertionResult near(Pixel p, Rgb c, int tolerance = kPhotoTolerance) {
    return near(p, c.r, c.g, c.b, tolerance);
}

// Opens the real viewer window on a set of solid-colour photographs, loads
// them, and draws single frames on demand.
// A failed comparison leaves the frame it read in test-output/ beside the
// test's working folder.
class ViewerRender : public FreshViewerState {
  protected:
    void SetUp() override {
        FreshViewerState::SetUp();
        if (!XWindows::reachable())
            GTEST_SKIP() << "no X display";
    }
    void open(const std::vector<Rgb>& colours, bool clockwise = true,
              const std::vector<int>& missing = {}) {
        for (std::size_t i = 0; i < colours.size(); ++i) {
            paths.push_back(dir.file("photo" + std::to_string(i) + ".jpg"));
            bool skip = false;
            for (int m : missing)
                skip = skip || m == static_cast<int>(i);
            if (!skip) {
                ASSERT_TRUE(
                    TestImages::writeJpeg(paths.back(), TestImages::solid(64, 48, colours[i])));
            }
        }
        for (const std::string& p : paths)
            record.addFileName1(p.c_str());
        record.setClockwise1(clockwise);
        settings = &record;
        startupFunction();
        ASSERT_TRUE(openViewerWindow());
        window = glutGetWindow();
        SetupRC();
        ChangeSize(733, 550);
        dist = radius0;
    }
    void TearDown() override {
        if (window != 0) {
            if (HasFailure())
                keepFrame();
            closeViewerWindow();
        }
        FreshViewerState::TearDown();
    }
    // Writes the whole presented frame where a person can look at it.
    static void keepFrame() {
        const int w = glutGet(GLUT_WINDOW_WIDTH), h = glutGet(GLUT_WINDOW_HEIGHT);
        TestImages::Picture frame{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 3)};
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        for (int y = 0; y < h; ++y) // the frame's top row is GL's last
            glReadPixels(0, h - 1 - y, w, 1, GL_RGB, GL_UNSIGNED_BYTE,
                         &frame.rgb[std::size_t(y) * w * 3]);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::filesystem::create_directories("test-output");
        const std::string path =
            (std::filesystem::current_path() / "test-output" /
             (std::string(info->test_suite_name()) + "." + info->name() + ".png"))
                .string();
        if (TestImages::writeWithQt(path, frame, "PNG"))
            std::cout << "the frame read is in " << path << "\n";
    }
    // The pixel at window coordinates (x, y), origin bottom left, of the
    // frame last presented. Mesa's software renderer copies the back buffer
    // to the window on a swap and keeps it, so it holds the frame shown even
    // before the window system has mapped the window.
    static Pixel presented(int x, int y) {
        unsigned char rgb[3] = {};
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
        return {rgb[0], rgb[1], rgb[2]};
    }
    static Pixel centre() { return presented(366, 275); }

    TestImages::TempDir dir;
    std::vector<std::string> paths;
    OrbivueSettings record;
    int window = 0;
};

} // namespace

TEST_F(ViewerRender, WindowIsSizedFromTheScreenHeightAndAspect) {
    open({kA, kB});
    EXPECT_EQ(glutGet(GLUT_WINDOW_WIDTH), 733);
    EXPECT_EQ(glutGet(GLUT_WINDOW_HEIGHT), 550);
    EXPECT_EQ(glTextures1.size(), 2u);
    EXPECT_TRUE(glTextures2.empty());
    EXPECT_EQ(pTextureLoader, nullptr) << "the loader is released after preloading";
}

TEST_F(ViewerRender, AtRestTheWholeWindowShowsSlotZero) {
    open({kA, kB, kC, kD});
    RenderScene();
    EXPECT_TRUE(near(centre(), kA));
    EXPECT_TRUE(near(presented(2, 2), kA)) << "a face-on picture overfills the window at rest";
    EXPECT_TRUE(near(presented(730, 547), kA));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ViewerRender, QuarterWayTheCentreBlendsTheTwoPictures) {
    open({kA, kB, kC, kD});
    alphaActual = 0.25f * beta;
    alphaAim = beta;
    RenderScene();
    // Slot 1 opaque, slot 0 over it at 1.3 * 0.75 - 0.15 = 0.825.
    const double a = 0.825;
    EXPECT_TRUE(near(centre(), a * kA.r + (1 - a) * kB.r, a * kA.g + (1 - a) * kB.g,
                     a * kA.b + (1 - a) * kB.b, kBlendTolerance));
}

TEST_F(ViewerRender, LeftShowsTheNextPhotographAndWrapsAround) {
    open({kA, kB, kC, kD});
    SpecialKeys(GLUT_KEY_LEFT, 0, 0);
    for (int i = 0; i < 1000 && alphaActual != alphaAim; ++i)
        animationStep();
    RenderScene();
    EXPECT_TRUE(near(centre(), kB));
    alphaActual = alphaAim = -beta; // one step right of the first photograph
    RenderScene();
    EXPECT_TRUE(near(centre(), kD));
}

TEST_F(ViewerRender, CounterClockwiseSeriesShowsItsImagesInReverse) {
    open({kA, kB, kC, kD}, false);
    RenderScene();
    EXPECT_TRUE(near(centre(), kD));
    alphaActual = alphaAim = beta;
    RenderScene();
    EXPECT_TRUE(near(centre(), kC));
}

TEST_F(ViewerRender, FailedImageKeepsItsSlotAndDrawsUntextured) {
    open({kA, kB, kC}, true, {0});
    ASSERT_EQ(glTextures1.size(), 3u);
    EXPECT_EQ(glTextures1[0].textureId, 0u);
    RenderScene();
    EXPECT_TRUE(near(centre(), Rgb{255, 255, 255}, kFlatTolerance));
    alphaActual = alphaAim = beta;
    RenderScene();
    EXPECT_TRUE(near(centre(), kB)) << "the others keep their places";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ViewerRender, DragMovesThePictureWithThePointer) {
    open({kA, kB});
    // Half a picture width to the right: black shows at the left edge.
    passiveMouse(300, 275);
    activeMouse(300 + 366, 275);
    RenderScene();
    EXPECT_TRUE(near(presented(5, 275), Rgb{0, 0, 0}, kFlatTolerance));
    EXPECT_TRUE(near(presented(700, 275), kA));
    mouseButton(GLUT_RIGHT_BUTTON, GLUT_DOWN, 0, 0);
    RenderScene();
    EXPECT_TRUE(near(presented(5, 275), kA));
}

TEST_F(ViewerRender, LoadingScreenWritesTheMessageFromAQuarterOfTheWidth) {
    open({kA});
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(1, 1, 1);
    printLoader(0.5f);
    int left = 0, right = 0;
    for (int y = 265; y < 300; ++y) {
        for (int x = 0; x < 733; ++x) {
            const Pixel p = presented(x, y);
            if (p.r > 128)
                (x < 183 ? left : right) += 1;
        }
    }
    EXPECT_EQ(left, 0);
    EXPECT_GT(right, 200);
}

namespace {

std::vector<float> shownFractions;
std::vector<std::size_t> texturesWhenShown;

void recordFraction(float fraction) {
    shownFractions.push_back(fraction);
    texturesWhenShown.push_back(glTextures1.size() + glTextures2.size() + glTextures3.size());
}

// Level 0 of every texture of the three series, in slot order.
std::vector<std::vector<std::uint8_t>> textureBytes() {
    std::vector<std::vector<std::uint8_t>> all;
    for (const auto* list : {&glTextures1, &glTextures2, &glTextures3}) {
        for (const glTexture& t : *list) {
            std::vector<std::uint8_t> bytes;
            if (t.textureId != 0) {
                bytes.resize(static_cast<std::size_t>(t.width) * t.height * 4);
                glBindTexture(GL_TEXTURE_2D, t.textureId);
                glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
            }
            all.push_back(bytes);
        }
    }
    return all;
}

} // namespace

// Preloading on worker threads must be indistinguishable from loading one by
// one: the same textures, byte for byte, in the same slots, with the loading
// screen after each image in order.
TEST_F(ViewerRender, PipelinedPreloadEqualsTheSerialOne) {
    std::vector<Rgb> lower, upper;
    for (int i = 0; i < 6; ++i) {
        lower.push_back({std::uint8_t(30 * i), 100, 200});
        upper.push_back({200, std::uint8_t(30 * i), 50});
    }
    open(lower, false, {2});
    for (std::size_t i = 0; i < upper.size(); ++i) {
        paths.push_back(dir.file("u" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(TestImages::writeJpeg(paths.back(), TestImages::solid(640, 480, upper[i])));
    }
    // Two series of six: lower counter-clockwise with a missing photograph.
    OrbivueSettings two;
    for (int i = 0; i < 6; ++i)
        two.addFileName1(paths[i].c_str());
    for (int i = 0; i < 6; ++i)
        two.addFileName2(paths[6 + i].c_str());
    two.setClockwise1(false);
    settings = &two;
    startupFunction();

    const unsigned workers = preloadWorkers;
    loaderObserver = recordFraction;
    std::vector<std::vector<std::vector<std::uint8_t>>> results;
    std::vector<std::vector<float>> fractions;
    std::vector<GLint> lastMinFilter;
    for (unsigned w : {0u, 1u, 3u}) {
        preloadWorkers = w;
        shownFractions.clear();
        texturesWhenShown.clear();
        SetupRC();
        GLint minFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), glTextures2.back().textureId)
            << "the last upload stays bound for the final parameters";
        GLint wrap = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
        EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE) << w << " workers";
        ASSERT_EQ(glTextures1.size(), 6u);
        ASSERT_EQ(glTextures2.size(), 6u);
        EXPECT_EQ(glTextures1[3].textureId, 0u) << "slot 3 is file 2 of a reversed series";
        results.push_back(textureBytes());
        fractions.push_back(shownFractions);
        // The first screen (0 %) comes before the lists are emptied.
        for (std::size_t k = 1; k < texturesWhenShown.size(); ++k)
            EXPECT_EQ(texturesWhenShown[k], k) << "the screen follows each upload";
        lastMinFilter.push_back(minFilter);
    }
    loaderObserver = nullptr;
    preloadWorkers = workers;
    ASSERT_EQ(fractions[0].size(), 13u);
    EXPECT_EQ(loaderPercentText(fractions[0][1]), "  9");
    EXPECT_EQ(loaderPercentText(fractions[0].back()), "100");
    for (std::size_t r = 1; r < results.size(); ++r) {
        EXPECT_EQ(fractions[r], fractions[0]);
        EXPECT_TRUE(results[r] == results[0]) << "textures differ from the serial preload";
        EXPECT_EQ(lastMinFilter[r], lastMinFilter[0]);
    }
    // The first slot of the reversed series holds the last photograph.
    EXPECT_EQ(results[0][0][0], 150);
}

TEST_F(ViewerRender, LoadingTextStaysWhiteOverDarkPhotographs) {
    // After the first photograph texturing is on with a dark texture bound:
    // the text must still be drawn untextured, in white.
    open({{12, 12, 12}, {12, 12, 12}, {12, 12, 12}});
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(1, 1, 1);
    printLoader(1.0f);
    int white = 0;
    for (int y = 265; y < 300; ++y)
        for (int x = 183; x < 733; ++x) {
            const Pixel p = presented(x, y);
            white += p.r == 255 && p.g == 255 && p.b == 255;
        }
    EXPECT_GT(white, 200);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D)) << "the scene still draws textured";
}

namespace {

int draws = 0;
int drawMs = 0; // how long each frame takes
void countingDraw() {
    ++draws;
    RenderScene();
    if (drawMs > 0)
        usleep(static_cast<useconds_t>(drawMs) * 1000);
}

// Runs the window's events and timers for `ms` milliseconds.
void runFor(int ms) {
    const int end = glutGet(GLUT_ELAPSED_TIME) + ms;
    while (glutGet(GLUT_ELAPSED_TIME) < end) {
        glutMainLoopEvent();
        usleep(300);
    }
}

} // namespace

TEST_F(ViewerRender, AStillViewerDrawsNothingAndMovesFollowTheClock) {
    open({kA, kB, kC, kD});
    glutDisplayFunc(countingDraw);
    armAnimationTimer(0);
    runFor(200);
    draws = 0;
    runFor(300);
    EXPECT_EQ(draws, 0) << "ticks at rest asked for redraws";

    // A long move, once with quick frames and once with frames of 20 ms
    // (over six tick periods each): as many ticks run in the same time.
    numImages = 4;
    alphaAim = static_cast<float>(1000 * imageStep());
    std::uint64_t ticks[2] = {};
    for (int slow = 0; slow < 2; ++slow) {
        drawMs = slow ? 20 : 0;
        draws = 0;
        const std::uint64_t before = ticksRun;
        runFor(600);
        ticks[slow] = ticksRun - before;
        EXPECT_GT(draws, 10) << "a moving camera is drawn";
    }
    drawMs = 0;
    // 600 ms of 3 ms ticks is 200; a busy machine may hold the process back
    // longer than the catch-up covers now and then, losing some.
    EXPECT_GT(ticks[0], 150u);
    constexpr double kSchedulingShare = 0.2;
    EXPECT_NEAR(static_cast<double>(ticks[1]), static_cast<double>(ticks[0]),
                kSchedulingShare * ticks[0])
        << "slow frames slowed the animation down";
}
