// Writes the program's 64 x 64 icon as a PNG file for the desktop.
//
//   make_icon FILE
#include "Emblem.h"

#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon FILE\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char name[] = "make_icon";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    return orbivueIcon(64).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
