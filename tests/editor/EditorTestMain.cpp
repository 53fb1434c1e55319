// Widget tests run on Qt's offscreen platform: no display, no person. Its
// screen is made 1280 x 1024, a small desktop's, so that what must fit on a
// screen is checked against a real size.
#include <QApplication>
#include <QTemporaryFile>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryFile screens;
    if (!screens.open())
        return 2;
    screens.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1280,
                     "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    int qtArgc = 1;
    char name[] = "editor_tests";
    char* qtArgv[] = {name, nullptr};
    QApplication application(qtArgc, qtArgv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
