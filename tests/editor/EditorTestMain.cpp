// Widget tests run on Qt's offscreen platform: no display, no person.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char name[] = "editor_tests";
    char* qtArgv[] = {name, nullptr};
    QApplication application(qtArgc, qtArgv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
