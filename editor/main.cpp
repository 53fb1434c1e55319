// Orbivue: the editor window, from which the viewer is started.
#include "Form1.h"
#include "GlShaderCache.h"
#include "OrbivueGL.h"
#include "decode/PictureDecoder.h"

#include <QApplication>

int main(int, char**) {
    // Before any thread and any window: with a cache folder that cannot be
    // written, the GL library is kept from complaining about its own.
    GlShaderCache::quieten();
    // No command-line argument is read, by us or by Qt: the program behaves
    // the same whatever it was started with.
    int argc = 1;
    char name[] = "orbivue";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orbivue"));
    // Qt's share of decoding pictures, set before the viewer's workers start.
    PictureDecoder::setUpProcess();

    Form1 window;
    // The viewer takes the editor's scale factor, so that on a high-density
    // screen it stands as large beside the editor as on any other.
    window.setViewerLauncher([&window](OrbivueSettings* settings) {
        OrbivueGL::viewerScale = window.devicePixelRatioF();
        return OrbivueGL::start(settings);
    });
    window.show();
    application.exec();
    // What the last viewer kept for the next start is flushed before the end.
    OrbivueGL::closeTextureCache();
    return 0;
}
