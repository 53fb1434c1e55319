// The whole program path on a real display: the editor's start command runs
// the real viewer on generated photographs, the viewer window is closed by the
// window manager's close request, and the editor comes back with its set.
#include <gtest/gtest.h>

#include "Form1.h"
#include "OnDisplay.h"
#include "OrbivueGL.h"
#include "TestImages.h"
#include "XWindows.h"
#include "decode/PictureDecoder.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using EditorSession = OnDisplay;

namespace {

// The editor as the program starts it, in this (child) process: the real
// viewer handed to the window, the photographs in the lower series; `ready`
// arranges what happens once it shows, and the event loop runs until it
// ends.
void runEditor(const std::vector<std::string>& photos,
               const std::function<void(QApplication&, Form1&)>& ready) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    int argc = 1;
    char name[] = "orbivue";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    PictureDecoder::setUpProcess();
    Form1 form;
    form.setViewerLauncher(OrbivueGL::start);
    for (const std::string& p : photos)
        form.listBox1->addItem(QString::fromStdString(p));
    form.show();
    ready(application, form);
    application.exec();
}

} // namespace

TEST_F(EditorSession, StartRunsTheViewerAndTheEditorComesBack) {
    TestImages::TempDir dir;
    const TestImages::Rgb colour{30, 160, 220};
    std::vector<std::string> photos;
    for (int i = 0; i < 3; ++i) {
        photos.push_back(dir.file("p" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(TestImages::writeJpeg(
            photos.back(), TestImages::solid(64, 48, i == 0 ? colour : TestImages::Rgb{9, 9, 9})));
    }

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int code = 5;
        runEditor(photos, [&](QApplication& application, Form1& form) {
            form.listBox1->setCurrentRow(1);
            QTimer::singleShot(200, [&] {
                form.button25->click(); // returns when the viewer has closed
                const bool same =
                    form.listBox1->count() == 3 && form.listBox1->currentRow() == 1 &&
                    form.listBox1->item(0)->text() == QString::fromStdString(photos[0]);
                code = form.isVisible() && same ? 0 : 4;
                application.quit();
            });
        });
        _exit(code);
    }

    XWindows::Display* display = XWindows::open();
    ASSERT_NE(display, nullptr);
    const XWindows::Window viewer =
        XWindows::awaitShowing(display, "Orbivue", 366, 275, colour.r, colour.g, colour.b);
    if (viewer == 0) {
        XWindows::stop(child);
        FAIL() << "the viewer never showed the first photograph";
    }
    EXPECT_EQ(XWindows::findByTitle(display, "Orbivue v1.18"), 0ul)
        << "the editor is hidden while the viewer runs";
    XWindows::requestClose(display, viewer);
    XWindows::close(display);
    EXPECT_EQ(XWindows::awaitExit(child), 0) << "the editor did not come back unchanged";
}

// The program reads no command-line arguments, and Qt must not take any
// either: with "-platform offscreen" honoured no window would appear on the
// display, with "--help" the program would print and end.
TEST_F(EditorSession, ArgumentsChangeNothing) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char* argv[] = {ORBIVUE_BINARY,   "-platform",     "offscreen", "--help",
                              "-style=windows", "/some/set.ini", nullptr};
        execv(ORBIVUE_BINARY, const_cast<char**>(argv));
        _exit(127);
    }
    XWindows::Display* display = XWindows::open();
    ASSERT_NE(display, nullptr);
    // The editor's background is the dialog colour; any visible editor will do.
    XWindows::Window editor = 0;
    for (int i = 0; i < 600 && editor == 0; ++i) {
        editor = XWindows::findByTitle(display, "Orbivue v1.18");
        if (editor == 0)
            usleep(100000);
    }
    if (editor == 0) {
        XWindows::stop(child);
        FAIL() << "the editor window did not appear";
    }
    XWindows::requestClose(display, editor);
    XWindows::close(display);
    EXPECT_EQ(XWindows::awaitExit(child), 0) << "closing the editor ends the program with 0";
}

// Under a real window manager (openbox: editor_session::UnderAWindowManager
// runs this on a display of its own with one), the user moves the editor,
// starts the viewer and closes it: the editor comes back where the user left
// it, not where the window manager would place a new window.
TEST_F(EditorSession, UnderAWindowManagerTheEditorComesBackWhereTheUserLeftIt) {
    {
        XWindows::Display* display = XWindows::open();
        const bool managed = display != nullptr && XWindows::managed(display);
        if (display != nullptr)
            XWindows::close(display);
        if (!managed)
            GTEST_SKIP() << "no window manager on this display";
    }
    TestImages::TempDir dir;
    const TestImages::Rgb colour{200, 90, 30};
    const std::string photo = dir.file("p.jpg");
    ASSERT_TRUE(TestImages::writeJpeg(photo, TestImages::solid(64, 48, colour)));
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Start is pressed when the test says so; closing the editor ends.
        fcntl(go[0], F_SETFL, O_NONBLOCK);
        QTimer poll;
        runEditor({photo}, [&](QApplication&, Form1& form) {
            QObject::connect(&poll, &QTimer::timeout, [&] {
                char c = 0;
                if (read(go[0], &c, 1) == 1)
                    form.button25->click();
            });
            poll.start(50);
        });
        _exit(0);
    }
    ::close(go[0]);
    XWindows::Display* display = XWindows::open();
    ASSERT_NE(display, nullptr);
    // The editor's place on the screen once it has stayed put for a moment.
    auto settledPlace = [&](int& x, int& y) {
        x = y = -1;
        for (int i = 0, still = 0; i < 200 && still < 6; ++i) {
            usleep(50000);
            const XWindows::Window editor = XWindows::findByTitle(display, "Orbivue v1.18");
            int nx = -1, ny = -1;
            if (editor != 0)
                XWindows::position(display, editor, nx, ny);
            still = editor != 0 && nx == x && ny == y ? still + 1 : 0;
            x = nx;
            y = ny;
        }
    };
    int x = 0, y = 0;
    settledPlace(x, y);
    const XWindows::Window editor = XWindows::findByTitle(display, "Orbivue v1.18");
    ASSERT_NE(editor, 0ul) << "the editor did not appear";
    XWindows::moveByWindowManager(display, editor, x > 400 ? 40 : x + 300, y > 300 ? 30 : y + 200);
    int movedX = 0, movedY = 0;
    settledPlace(movedX, movedY);
    ASSERT_NE(movedX, x) << "the window manager did not move the editor";

    ASSERT_EQ(write(go[1], "s", 1), 1);
    const XWindows::Window viewer =
        XWindows::awaitShowing(display, "Orbivue", 366, 275, colour.r, colour.g, colour.b);
    if (viewer == 0) {
        XWindows::stop(child);
        FAIL() << "the viewer never showed its photograph";
    }
    XWindows::requestClose(display, viewer);
    usleep(300000);
    int backX = 0, backY = 0;
    settledPlace(backX, backY);
    EXPECT_EQ(backX, movedX);
    EXPECT_EQ(backY, movedY);
    if (const XWindows::Window again = XWindows::findByTitle(display, "Orbivue v1.18"))
        XWindows::requestClose(display, again);
    XWindows::close(display);
    ::close(go[1]);
    EXPECT_EQ(XWindows::awaitExit(child), 0);
}
