// Runs the real viewer the way the editor does, in a child process, and
// watches it from outside through the X server as a person would: the window,
// its title and size, the picture it shows, and closing it by the window
// manager's close request.
#include <gtest/gtest.h>

#include "OnDisplay.h"
#include "OrbivueGL.h"
#include "TestImages.h"
#include "XWindows.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

using TestImages::Rgb;
using ViewerSession = OnDisplay;

TEST_F(ViewerSession, TwoStartsEachShowTheirOwnSetAndCloseOnRequest) {
    TestImages::TempDir dir;
    const Rgb first{200, 40, 40}, second{40, 40, 200}, other{40, 200, 40};
    std::vector<std::string> firstSet = {dir.file("a0.jpg"), dir.file("a1.jpg"),
                                         dir.file("a2.jpg")};
    const std::string secondSet = dir.file("b0.jpg");
    ASSERT_TRUE(TestImages::writeJpeg(firstSet[0], TestImages::solid(64, 48, first)));
    ASSERT_TRUE(TestImages::writeJpeg(firstSet[1], TestImages::solid(64, 48, other)));
    ASSERT_TRUE(TestImages::writeJpeg(firstSet[2], TestImages::solid(64, 48, other)));
    ASSERT_TRUE(TestImages::writeJpeg(secondSet, TestImages::solid(64, 48, second)));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OrbivueSettings one;
        for (const std::string& path : firstSet)
            one.addFileName1(path.c_str());
        const int r1 = OrbivueGL::start(&one);
        OrbivueSettings two;
        two.addFileName1(secondSet.c_str());
        const int r2 = OrbivueGL::start(&two);
        const bool onlyNewSet = OrbivueGL::glTextures1.size() == 1 && OrbivueGL::numImages == 1;
        _exit(r1 == 0 && r2 == 0 && onlyNewSet ? 0 : 3);
    }

    XWindows::Display* display = XWindows::open();
    ASSERT_NE(display, nullptr);
    // The second window may get the same id as the first: each is told by
    // the colour of the photograph it shows.
    for (const Rgb& colour : {first, second}) {
        const XWindows::Window viewer =
            XWindows::awaitShowing(display, "Orbivue", 366, 275, colour.r, colour.g, colour.b);
        if (viewer == 0) {
            XWindows::stop(child);
            FAIL() << "no viewer window showed slot 0 of its set";
        }
        int width = 0, height = 0;
        XWindows::size(display, viewer, width, height);
        EXPECT_EQ(width, 733);
        EXPECT_EQ(height, 550);
        XWindows::requestClose(display, viewer);
    }
    XWindows::close(display);
    EXPECT_EQ(XWindows::awaitExit(child), 0)
        << "start returned non-zero, kept the old set or never returned";
}

// Set by the leak checker when the program is built with it.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

// The viewer run ten times in one process, each closed by the user: under
// the leak checker nothing of it (record, strings, loader, texture lists)
// may be left behind.
TEST_F(ViewerSession, TenStartsInOneProcessLeaveNothingBehind) {
    TestImages::TempDir dir;
    const Rgb colours[2] = {{220, 60, 60}, {60, 60, 220}};
    std::vector<std::string> photos;
    for (int i = 0; i < 4; ++i) {
        photos.push_back(dir.file("p" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(
            TestImages::writeJpeg(photos.back(), TestImages::solid(320, 240, colours[i % 2])));
    }
    constexpr int kStarts = 10;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        for (int run = 0; run < kStarts; ++run) {
            // A record and strings of its own each time, as the editor makes them.
            auto* record = new OrbivueSettings();
            std::vector<std::string*> strings;
            for (int i = 0; i < 2; ++i) {
                strings.push_back(new std::string(photos[(run % 2) + 2 * i]));
                record->addFileName1(strings.back()->c_str());
            }
            failures += OrbivueGL::start(record) != 0;
            delete record;
            for (std::string* s : strings)
                delete s;
        }
        if (__lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0)
            _exit(7);
        _exit(failures == 0 ? 0 : 3);
    }
    XWindows::Display* display = XWindows::open();
    ASSERT_NE(display, nullptr);
    for (int run = 0; run < kStarts; ++run) {
        const Rgb& c = colours[run % 2];
        const XWindows::Window viewer =
            XWindows::awaitShowing(display, "Orbivue", 366, 275, c.r, c.g, c.b);
        if (viewer == 0) {
            XWindows::stop(child);
            FAIL() << "start " << run << " showed no window";
        }
        XWindows::requestClose(display, viewer);
    }
    XWindows::close(display);
    EXPECT_EQ(XWindows::awaitExit(child), 0) << "7: the leak checker found leaks";
}

// A close request while many photographs load ends the preload at the next
// photograph: start returns long before they would all have loaded, and
// nothing of the cancelled preload is left behind.
TEST_F(ViewerSession, CloseDuringThePreloadReturnsAtOnce) {
    TestImages::TempDir dir;
    const std::string photo = dir.file("big.jpg");
    ASSERT_TRUE(TestImages::writeJpeg(photo, TestImages::solid(2000, 1500, {90, 90, 90})));
    constexpr int kPhotos = 400; // the same file under one name: seconds of loading
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto* record = new OrbivueSettings();
        for (int i = 0; i < kPhotos; ++i)
            record->addFileName1(photo.c_str());
        const int result = OrbivueGL::start(record);
        delete record;
        const bool cancelled = OrbivueGL::loadedCount < kPhotos;
        if (__lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0)
            _exit(7);
        _exit(result == 0 && cancelled ? 0 : 3);
    }
    XWindows::Display* display = XWindows::open();
    ASSERT_NE(display, nullptr);
    XWindows::Window viewer = 0;
    for (int i = 0; i < 600 && viewer == 0; ++i) {
        viewer = XWindows::findByTitle(display, "Orbivue");
        if (viewer == 0)
            usleep(50000);
    }
    if (viewer == 0) {
        XWindows::stop(child);
        FAIL() << "no viewer window";
    }
    XWindows::requestClose(display, viewer);
    XWindows::close(display);
    EXPECT_EQ(XWindows::awaitExit(child), 0)
        << "3: every photograph loaded before the close took effect; 7: leaks";
}

namespace {

// A figure of /proc/self/statm (0: the whole address space, 1: what is
// resident), in MB.
double processMb(int field) {
    long figures[2] = {};
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &figures[0], &figures[1]) != 2)
            figures[field] = 0;
        std::fclose(statm);
    }
    return static_cast<double>(figures[field]) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           1048576.0;
}

// Runs `viewers` in a child process, which starts one viewer after another
// and writes `Report` to the parent; the parent closes the i-th viewer window
// once it shows colours[i] at its centre, as the user would.
template <typename Report, typename Viewers>
::testing::AssertionResult runViewers(const std::vector<Rgb>& colours, Viewers viewers,
                                      Report& report) {
    int channel[2];
    if (pipe(channel) != 0)
        return ::testing::AssertionFailure() << "no pipe";
    const pid_t child = fork();
    if (child < 0)
        return ::testing::AssertionFailure() << "no child";
    if (child == 0) {
        close(channel[0]);
        Report made{};
        viewers(made);
        _exit(write(channel[1], &made, sizeof made) == sizeof made ? 0 : 3);
    }
    close(channel[1]);
    XWindows::Display* display = XWindows::open();
    for (std::size_t i = 0; i < colours.size() && display != nullptr; ++i) {
        const Rgb& c = colours[i];
        const XWindows::Window viewer =
            XWindows::awaitShowing(display, "Orbivue", 366, 275, c.r, c.g, c.b);
        if (viewer == 0) {
            XWindows::close(display);
            XWindows::stop(child);
            close(channel[0]);
            return ::testing::AssertionFailure() << "viewer " << i << " showed no window";
        }
        XWindows::requestClose(display, viewer);
    }
    if (display != nullptr)
        XWindows::close(display);
    const bool read = ::read(channel[0], &report, sizeof report) == sizeof report;
    close(channel[0]);
    const int status = XWindows::awaitExit(child);
    if (display == nullptr || !read || status != 0)
        return ::testing::AssertionFailure() << "child ended with " << status;
    return ::testing::AssertionSuccess();
}

// Photographs of 12 MP (textures of 2048 x 2048 with their mipmaps, 22 MB
// each), one solid colour per file.
struct LargePhotos {
    static constexpr int kPhotos = 45;
    const Rgb colours[2] = {{200, 60, 60}, {60, 60, 200}};
    TestImages::TempDir dir;
    std::string files[2] = {dir.file("red.jpg"), dir.file("blue.jpg")};
    bool write() {
        for (int i = 0; i < 2; ++i)
            if (!TestImages::writeJpeg(files[i], TestImages::solid(4000, 3000, colours[i]), 80))
                return false;
        return true;
    }
    // A record of `count` photographs of one colour.
    void fill(OrbivueSettings& record, int colour, int count = kPhotos) const {
        for (int i = 0; i < count; ++i)
            record.addFileName1(files[colour].c_str());
    }
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = true; // the sanitizer's keeps freed memory in quarantine
#else
constexpr bool kOwnAllocator = false;
#endif

} // namespace

// Three viewers of 45 photographs of 12 MP in one process, each closed by the
// user: after every close the process is back near its size before the
// first, so the memory of the textures and decode buffers is the system's
// again for the next program the user opens. With the texture cache, the
// first viewer decodes and fills it and the others read it: what reading
// holds is given back as well, and a close after reading keeps what a close
// after decoding keeps.
TEST_F(ViewerSession, EveryCloseGivesTheMemoryBack) {
    if (kOwnAllocator)
        GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose";
    LargePhotos photos;
    ASSERT_TRUE(photos.write());
    constexpr int kStarts = 3;
    constexpr double kKeptMb = 300, kWarmMb = 30;
    struct Sizes {
        double mb[kStarts + 1];
    } sizes;
    for (const bool cached : {false, true}) {
        SCOPED_TRACE(cached ? "texture cache" : "no cache");
        TestImages::TempDir cacheHome;
        const Rgb& red = photos.colours[0];
        ASSERT_TRUE(runViewers(
            {red, cached ? red : photos.colours[1], red},
            [&](Sizes& made) {
                if (cached) {
                    ::setenv("XDG_CACHE_HOME", cacheHome.path.c_str(), 1);
                    ::setenv("ORBIVUE_CACHE_SIZE", "1G", 1);
                }
                OrbivueSettings records[2];
                photos.fill(records[0], 0);
                photos.fill(records[1], 1);
                made.mb[0] = processMb(1);
                for (int run = 0; run < kStarts; ++run) {
                    OrbivueGL::start(&records[cached ? 0 : run % 2]);
                    made.mb[run + 1] = processMb(1);
                }
            },
            sizes));
        for (int run = 1; run <= kStarts; ++run) {
            EXPECT_LT(sizes.mb[run] - sizes.mb[0], kKeptMb)
                << "after close " << run << ": " << sizes.mb[run] << " MB, before the first "
                << sizes.mb[0] << " MB";
            if (cached) {
                EXPECT_NEAR(sizes.mb[run], sizes.mb[1], kWarmMb) << "after close " << run;
            }
        }
    }
}

namespace {

// The preloaded slots of series 1 as they draw, counted when the preload
// ends: textures that show their photograph (red) both through their mipmaps
// and at full size, and those of them below the full 2048 pixels; textures
// that draw anything else, as a texture missing a level draws black; and
// slots without a texture, which draw white.
struct SlotCount {
    int whole = 0, smaller = 0, wrong = 0, white = 0;
};
SlotCount slotCount;

// Draws the bound texture over the whole window with the minifying filter
// given and tells whether the window's centre shows the photograph's red.
bool drawsRed(GLint minFilter) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    glClear(GL_COLOR_BUFFER_BIT);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-1, -1);
    glTexCoord2f(1, 0);
    glVertex2f(1, -1);
    glTexCoord2f(1, 1);
    glVertex2f(1, 1);
    glTexCoord2f(0, 1);
    glVertex2f(-1, 1);
    glEnd();
    GLubyte pixel[4] = {};
    glReadBuffer(GL_BACK);
    glReadPixels(366, 275, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    return std::abs(pixel[0] - 200) <= 4 && std::abs(pixel[1] - 60) <= 4 &&
           std::abs(pixel[2] - 60) <= 4;
}

void countSlots(float fraction) {
    if (fraction < 1.0f)
        return;
    // The limit has done its work; drawing needs the software renderer to
    // compile its shaders, for which it must have memory.
    const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &none);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
    for (const glTexture& t : OrbivueGL::glTextures1) {
        if (t.textureId == 0) {
            ++slotCount.white;
            continue;
        }
        glBindTexture(GL_TEXTURE_2D, t.textureId);
        // Trilinear needs every level; plain linear reads the full size.
        const bool whole = drawsRed(GL_LINEAR_MIPMAP_LINEAR) && drawsRed(GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        ++(whole ? slotCount.whole : slotCount.wrong);
        slotCount.smaller += whole && t.width < 2048;
    }
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

} // namespace

// With the address space limited during the preload to about half of what
// 45 photographs of 12 MP need, every slot still ends with a whole texture:
// smaller ones, loaded at half the size or less once the full size no longer
// fits. None is left black or white, and the viewer goes on.
TEST_F(ViewerSession, RunningOutOfMemoryLeavesNoSlotBlack) {
    if (kOwnAllocator)
        GTEST_SKIP() << "the sanitizer reserves more address space than any limit leaves";
    LargePhotos photos;
    ASSERT_TRUE(photos.write());
    SlotCount count;
    ASSERT_TRUE(runViewers(
        {photos.colours[1], photos.colours[0]},
        [&](SlotCount& made) {
            OrbivueSettings warmUp, record;
            photos.fill(warmUp, 1);
            photos.fill(record, 0);
            // A first viewer of the whole set maps the GL stack, the threads
            // and their arenas; the limit then leaves room for about half of
            // what the photographs need.
            OrbivueGL::start(&warmUp);
            const rlim_t limit = static_cast<rlim_t>((processMb(0) + 500) * 1048576);
            const rlimit space{limit, RLIM_INFINITY};
            setrlimit(RLIMIT_AS, &space);
            OrbivueGL::loaderObserver = countSlots;
            OrbivueGL::start(&record);
            made = slotCount;
        },
        count));
    EXPECT_EQ(count.wrong, 0) << "slots drawn black or in a wrong colour";
    EXPECT_EQ(count.white, 0) << "slots left white instead of smaller";
    EXPECT_GT(count.smaller, 0) << "no photograph was loaded again smaller";
    EXPECT_GT(count.whole - count.smaller, 0) << "none at full size: the limit left no room";
}
