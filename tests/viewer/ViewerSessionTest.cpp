// Runs the real viewer the way the editor does, in a child process, and
// watches it from outside through the X server as a person would: the window,
// its title and size, the picture it shows, and closing it by the window
// manager's close request.
#include <gtest/gtest.h>

#include "OnDisplay.h"
#include "OrbivueGL.h"
#include "TestImages.h"
#include "XWindows.h"

#include <cstdlib>
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
