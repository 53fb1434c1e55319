// Writes the program's icon for the desktop into FOLDER: orbivue-N.png at
// each size the icon theme asks for, and orbivue.svg from the same drawing
// when Qt's SVG module was found.
//
//   make_icon FOLDER
#include "Emblem.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#ifdef ORBIVUE_HAVE_SVG
#include <QSvgGenerator>
#endif

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char name[] = "make_icon";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")))
        return 1;
    for (int size : {48, 64, 128, 256}) {
        const QString file = folder.filePath(QStringLiteral("orbivue-%1.png").arg(size));
        if (!orbivueIcon(size).save(file, "PNG"))
            return 1;
    }
#ifdef ORBIVUE_HAVE_SVG
    QSvgGenerator svg;
    svg.setFileName(folder.filePath(QStringLiteral("orbivue.svg")));
    svg.setSize({64, 64});
    svg.setViewBox(QRect(0, 0, 64, 64));
    svg.setTitle(QStringLiteral("Orbivue"));
    svg.setDescription(QStringLiteral("A house with an orbit of camera positions around it"));
    QPainter painter;
    if (!painter.begin(&svg))
        return 1;
    drawOrbivueIcon(painter, 64);
    painter.end();
#endif
    return 0;
}
