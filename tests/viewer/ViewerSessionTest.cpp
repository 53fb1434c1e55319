// Runs the real viewer the way the editor does, in a child process, and
// watches it from outside through the X server as a person would: the window,
// its title and size, the picture it shows, and closing it by the window
// manager's close request.
#include <gtest/gtest.h>

#include "FileDescriptor.h"
#include "MemoryCgroup.h"
#include "OnDisplay.h"
#include "OrbivueGL.h"
#include "TestImages.h"
#include "XWindows.h"
#include "preload/MemoryPlan.h"

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using TestImages::Rgb;
using ViewerSession = OnDisplay;

// The glyphs of the X cursor font the viewer's pointers are made from,
// recorded on their way to the X library.
static std::vector<unsigned> pointerGlyphs;
extern "C" Cursor XCreateFontCursor(Display* display, unsigned shape) {
    static const auto xlib =
        reinterpret_cast<Cursor (*)(Display*, unsigned)>(dlsym(RTLD_NEXT, "XCreateFontCursor"));
    pointerGlyphs.push_back(shape);
    return xlib(display, shape);
}

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
        pointerGlyphs.clear(); // those of the tests before
        OrbivueSettings one;
        for (const std::string& path : firstSet)
            one.addFileName1(path.c_str());
        const int r1 = OrbivueGL::start(&one);
        OrbivueSettings two;
        two.addFileName1(secondSet.c_str());
        const int r2 = OrbivueGL::start(&two);
        const bool onlyNewSet = OrbivueGL::glTextures1.size() == 1 && OrbivueGL::numImages == 1;
        // Each start shows GLUT_CURSOR_WAIT while it loads, then
        // GLUT_CURSOR_LEFT_ARROW, in the glyphs freeglut shows for them (as
        // glutSetCursor's pointer image with the core cursor font shows).
        const bool pointers = pointerGlyphs == std::vector<unsigned>{XC_watch, XC_top_left_arrow,
                                                                     XC_watch, XC_top_left_arrow};
        _exit(r1 == 0 && r2 == 0 && onlyNewSet ? (pointers ? 0 : 4) : 3);
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
        << "start returned non-zero, kept the old set or never returned (3), or set other "
           "pointers than the wait cursor and then the left arrow (4)";
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
    FileDescriptor fromChild(channel[0]), toParent(channel[1]);
    const pid_t child = fork();
    if (child < 0)
        return ::testing::AssertionFailure() << "no child";
    if (child == 0) {
        fromChild.reset();
        Report made{};
        viewers(made);
        _exit(write(toParent.get(), &made, sizeof made) == sizeof made ? 0 : 3);
    }
    toParent.reset();
    XWindows::Display* display = XWindows::open();
    for (std::size_t i = 0; i < colours.size() && display != nullptr; ++i) {
        const Rgb& c = colours[i];
        const XWindows::Window viewer =
            XWindows::awaitShowing(display, "Orbivue", 366, 275, c.r, c.g, c.b);
        if (viewer == 0) {
            XWindows::close(display);
            XWindows::stop(child);
            return ::testing::AssertionFailure() << "viewer " << i << " showed no window";
        }
        XWindows::requestClose(display, viewer);
    }
    if (display != nullptr)
        XWindows::close(display);
    const bool read = ::read(fromChild.get(), &report, sizeof report) == sizeof report;
    fromChild.reset();
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
// first two viewers decode and fill it and the third reads it: what reading
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
        ASSERT_TRUE(runViewers(
            {photos.colours[0], photos.colours[1], photos.colours[0]},
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
                    OrbivueGL::start(&records[run % 2]);
                    made.mb[run + 1] = processMb(1);
                }
            },
            sizes));
        for (int run = 1; run <= kStarts; ++run) {
            EXPECT_LT(sizes.mb[run] - sizes.mb[0], kKeptMb)
                << "after close " << run << ": " << sizes.mb[run] << " MB, before the first "
                << sizes.mb[0] << " MB";
        }
        if (cached) {
            EXPECT_NEAR(sizes.mb[3], sizes.mb[1], kWarmMb) << "a close after reading";
        }
    }
}

namespace {

// The preloaded slots of series 1 as they draw, counted when the preload
// ends: textures that show their photograph (red) both through their mipmaps
// and at full size, and the smallest and largest of their widths; textures
// that draw anything else, as a texture missing a level draws black; and
// slots without a texture, which draw white.
struct SlotCount {
    int whole = 0, wrong = 0, white = 0;
    int narrowest = 1 << 30, widest = 0;
};
SlotCount slotCount;

// The colour of the photographs the next preload loads.
Rgb slotColour{200, 60, 60};

// Draws the bound texture over the whole window with the minifying filter
// given and tells whether the window's centre shows the photograph's colour.
bool drawsColour(GLint minFilter) {
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
    return std::abs(pixel[0] - slotColour.r) <= 4 && std::abs(pixel[1] - slotColour.g) <= 4 &&
           std::abs(pixel[2] - slotColour.b) <= 4;
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
        const bool whole = drawsColour(GL_LINEAR_MIPMAP_LINEAR) && drawsColour(GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        ++(whole ? slotCount.whole : slotCount.wrong);
        slotCount.narrowest = std::min(slotCount.narrowest, t.width);
        slotCount.widest = std::max(slotCount.widest, t.width);
    }
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

} // namespace

// A set of 45 photographs of 12 MP preloaded in one child: first with no
// limit (filling the texture cache), then with the address space limited to
// what the process maps plus 150 MB (about half of what the set needs at
// half the size), with the texture cache off (another set) and then warm
// (the first set again). Every start shows every photograph whole and at one
// size: the full 2048 pixels without a limit, smaller and even under it,
// none white, and the program goes on.
TEST_F(ViewerSession, ASetLargerThanTheAddressSpaceLoadsEvenlySmaller) {
    if (kOwnAllocator)
        GTEST_SKIP() << "the sanitizer reserves more address space than any limit leaves";
    LargePhotos photos;
    ASSERT_TRUE(photos.write());
    TestImages::TempDir cacheHome;
    struct Starts {
        SlotCount start[3];
    } starts;
    const int colourOf[3] = {0, 1, 0};
    ASSERT_TRUE(runViewers(
        {photos.colours[0], photos.colours[1], photos.colours[0]},
        [&](Starts& made) {
            setenv("XDG_CACHE_HOME", cacheHome.path.c_str(), 1);
            OrbivueGL::loaderObserver = countSlots;
            rlim_t limit = 0; // set again for each start: countSlots lifts it
            for (int run = 0; run < 3; ++run) {
                setenv("ORBIVUE_CACHE_SIZE", run == 1 ? "0" : "2G", 1);
                if (run == 1)
                    limit = static_cast<rlim_t>((processMb(0) + 150) * 1048576);
                const rlimit space{limit, RLIM_INFINITY};
                if (run >= 1)
                    setrlimit(RLIMIT_AS, &space);
                OrbivueSettings record;
                photos.fill(record, colourOf[run]);
                slotCount = SlotCount();
                slotColour = photos.colours[colourOf[run]];
                OrbivueGL::start(&record);
                made.start[run] = slotCount;
            }
        },
        starts));
    const char* names[] = {"no limit", "limited, cache off", "limited, cache warm"};
    for (int run = 0; run < 3; ++run) {
        const SlotCount& c = starts.start[run];
        SCOPED_TRACE(names[run]);
        EXPECT_EQ(c.wrong, 0) << "slots drawn black or in a wrong colour";
        EXPECT_EQ(c.white, 0) << "slots left white instead of smaller";
        EXPECT_EQ(c.whole, LargePhotos::kPhotos);
        EXPECT_LE(c.widest, 2 * c.narrowest) << "sizes more than one halving apart";
        if (run == 0)
            EXPECT_EQ(c.narrowest, 2048) << "a set that fits loads at full size";
        else
            EXPECT_LT(c.widest, 2048) << "the limit left room for the full size";
    }
}

namespace {

// Another program in the same memory cgroup: waiting on `go`, it then takes
// all but 10 MB of what the cgroup has left and says so on `taken`.
int takerGo = -1, takerTaken = -1;
pid_t startTaker() {
    int go[2], taken[2];
    if (pipe(go) != 0 || pipe(taken) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        char c = 0;
        if (read(go[0], &c, 1) == 1) {
            const std::uint64_t room = MemoryPlan::readRoom().cgroup;
            for (std::uint64_t got = 10ull << 20; got < room; got += 4ull << 20)
                if (void* block = std::malloc(4u << 20))
                    std::memset(block, 1, 4u << 20);
            if (write(taken[1], &c, 1) == 1)
                pause();
        }
        _exit(0);
    }
    takerGo = go[1];
    takerTaken = taken[0];
    return pid;
}

// A fifth of the way through the preload the other program takes the memory;
// at the end the slots are counted.
void takeMemoryThenCountSlots(float fraction) {
    char c = 't';
    if (fraction >= 0.2f && takerGo >= 0) {
        if (write(takerGo, &c, 1) != 1 || read(takerTaken, &c, 1) != 1)
            _exit(6);
        takerGo = -1;
    }
    countSlots(fraction);
}

} // namespace

// The same set in a memory cgroup of 600 MB, where the kernel would end the
// process (the editor and its unsaved set) that went past it: the preload
// plans for the limit and shows every photograph at one smaller size. Then
// again with another program of the cgroup that takes all but 10 MB of what
// is left a fifth of the way through, the kernel told to end the viewer's
// process first should it have to end one: it must not have to. The rest
// loads smaller still, and what was loaded before is loaded again at that
// size.
TEST_F(ViewerSession, ASetInItsMemoryCgroupLoadsEvenlySmallerAlsoWhenAnotherProgramTakesMemory) {
    if (kOwnAllocator)
        GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose";
    MemoryCgroup cgroup(600ull << 20);
    if (!cgroup.made())
        GTEST_SKIP() << "no memory cgroup can be made here";
    LargePhotos photos;
    ASSERT_TRUE(photos.write());
    for (const bool taking : {false, true}) {
        SCOPED_TRACE(taking ? "another program takes memory" : "the cgroup alone");
        SlotCount count;
        ASSERT_TRUE(runViewers(
            {photos.colours[0]},
            [&](SlotCount& made) {
                if (!cgroup.enter())
                    _exit(5);
                const pid_t taker = taking ? startTaker() : -1;
                std::ofstream("/proc/self/oom_score_adj") << 1000 << std::endl;
                OrbivueSettings record;
                photos.fill(record, 0);
                OrbivueGL::loaderObserver = takeMemoryThenCountSlots;
                OrbivueGL::start(&record);
                made = slotCount;
                if (taker > 0)
                    kill(taker, SIGKILL);
            },
            count))
            << "137: ended by the kernel for want of memory";
        EXPECT_EQ(count.wrong + count.white, 0) << "slots white, black or in a wrong colour";
        EXPECT_EQ(count.whole, LargePhotos::kPhotos);
        EXPECT_EQ(count.narrowest, count.widest) << "the set is not at one size";
        EXPECT_LT(count.widest, taking ? 1024 : 2048);
    }
}

namespace {

// The viewer window's size and the box of the loading screen's white text,
// as the first loading screen showed them.
struct LoadingScreen {
    int width = 0, height = 0;
    int textWidth = 0, textHeight = 0;
};
LoadingScreen firstScreen;

// Called before each loading screen is drawn: at the second, once the
// window is on the screen, the first screen (0 %) is drawn again and read
// back as the X server shows it.
void measureFirstScreen(float fraction) {
    if (fraction <= 0.0f || firstScreen.width != 0)
        return;
    // The window as the X server shows it, through a connection of its own.
    ::Display* display = XWindows::open();
    ::Window window = 0;
    for (int i = 0; i < 250 && window == 0; ++i) {
        window = XWindows::findByTitle(display, "Orbivue");
        if (window == 0)
            usleep(20000);
    }
    OrbivueGL::loaderObserver = nullptr;
    OrbivueGL::printLoader(0.0f);
    OrbivueGL::loaderObserver = measureFirstScreen;
    glFinish();
    // Without a window manager the window stands at (-1, -1): the part on
    // the screen.
    int w = 0, h = 0;
    XWindows::size(display, window, w, h);
    XImage* image = window == 0 ? nullptr
                                : XGetImage(display, window, 1, 1, static_cast<unsigned>(w - 1),
                                            static_cast<unsigned>(h - 1), AllPlanes, ZPixmap);
    XWindows::close(display);
    if (image == nullptr)
        return;
    int left = w, right = -1, bottom = h, top = -1;
    for (int y = 0; y < h - 1; ++y)
        for (int x = 0; x < w - 1; ++x)
            if (((XGetPixel(image, x, y) >> 16) & 0xFF) > 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                bottom = std::min(bottom, y);
                top = std::max(top, y);
            }
    XDestroyImage(image);
    firstScreen = {w, h, right - left + 1, top - bottom + 1};
}

} // namespace

// On a high-density screen (the editor at scale 2) the viewer opens twice as
// large in pixels, its loading text twice as large, and a drag moves the
// picture as far per pixel of the editor's as at scale 1: the scene's
// projection takes the window's height. At scale 1 exactly as always. On a
// screen large enough for the window (viewer::AtScaleTwoOnALargeScreen).
TEST_F(ViewerSession, AtScaleTwoTheWindowAndItsLoadingTextTakeTheScale) {
    {
        XWindows::Display* display = XWindows::open();
        int width = 0, height = 0;
        XWindows::screenSize(display, width, height);
        XWindows::close(display);
        if (width < 1500 || height < 1150)
            GTEST_SKIP() << "the screen is smaller than the window at scale 2";
    }
    TestImages::TempDir dir;
    // A colour for each start, by which the test tells their windows apart.
    const Rgb colours[2] = {{60, 170, 90}, {170, 60, 90}};
    std::vector<std::string> photos[2];
    for (int start = 0; start < 2; ++start)
        for (int i = 0; i < 3; ++i) {
            photos[start].push_back(dir.file(std::to_string(start) + std::to_string(i) + ".jpg"));
            ASSERT_TRUE(TestImages::writeJpeg(photos[start].back(),
                                              TestImages::solid(64, 48, colours[start])));
        }
    struct Seen {
        LoadingScreen screens[2];
        int screenSize[2];
    } seen;
    ASSERT_TRUE(runViewers(
        {colours[0], colours[1]},
        [&](Seen& made) {
            for (int i = 0; i < 2; ++i) {
                OrbivueGL::viewerScale = i == 0 ? 1.0 : 2.0;
                OrbivueGL::loaderObserver = measureFirstScreen;
                firstScreen = LoadingScreen();
                OrbivueSettings record;
                for (const std::string& p : photos[i])
                    record.addFileName1(p.c_str());
                OrbivueGL::start(&record);
                made.screens[i] = firstScreen;
                made.screenSize[i] = OrbivueGL::screenSize;
            }
        },
        seen));
    const LoadingScreen& one = seen.screens[0];
    const LoadingScreen& two = seen.screens[1];
    EXPECT_EQ(one.width, 733);
    EXPECT_EQ(one.height, 550);
    EXPECT_EQ(two.width, 1466);
    EXPECT_EQ(two.height, 1100);
    EXPECT_EQ(seen.screenSize[0], 550);
    EXPECT_EQ(seen.screenSize[1], 1100) << "a drag's shift counts by the window's height";
    ASSERT_GT(one.textHeight, 10);
    const double taller = static_cast<double>(two.textHeight) / one.textHeight;
    const double wider = static_cast<double>(two.textWidth) / one.textWidth;
    EXPECT_NEAR(taller, 2.0, 0.4) << one.textHeight << " and " << two.textHeight << " pixels high";
    EXPECT_NEAR(wider, 2.0, 0.4) << one.textWidth << " and " << two.textWidth << " pixels wide";
}
