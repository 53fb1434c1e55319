// Remakes the README's pictures from the current program: the editor with a
// set loaded, the viewer's loading screen, and the viewer during a move.
// Needs an X display (run it under xvfb-run; scripts/screenshots.sh does).
//
//   orbivue_screenshots SETTINGS_FILE OUTPUT_DIR
#include "Form1.h"
#include "OrbivueGL.h"
#include "StartCommand.h"
#include "Toolkit.h"
#include "decode/PictureDecoder.h"

#include <GL/freeglut.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QThread>

#include <cstdio>

namespace {

// Answers the Load Set dialog with the given settings file.
class Scripted : public Toolkit {
  public:
    explicit Scripted(QString file) : answer(std::move(file)) {}
    bool openFiles(QWidget*, const QString&, const QString&, bool, QStringList& paths) override {
        paths = {answer};
        return true;
    }
    QString answer;
};

// The frame just drawn, as a picture the right way up.
QImage frame() {
    const int w = glutGet(GLUT_WINDOW_WIDTH), h = glutGet(GLUT_WINDOW_HEIGHT);
    QImage image(w, h, QImage::Format_RGBA8888);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    return image.mirrored();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: orbivue_screenshots SETTINGS_FILE OUTPUT_DIR\n");
        return 2;
    }
    int qtArgc = 1;
    char name[] = "orbivue";
    char* qtArgv[] = {name, nullptr};
    QApplication application(qtArgc, qtArgv);
    PictureDecoder::setUpProcess();
    const QString settingsFile = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    QDir().mkpath(out.path());

    Scripted toolkit(settingsFile);
    Toolkit::replace(&toolkit);
    Form1 form;
    form.show();
    form.loadSetToolStripMenuItem->trigger();
    form.listBox1->setCurrentRow(3);
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
    if (!form.grab().save(out.filePath(QStringLiteral("editor.png"))))
        return 1;

    const auto record = makeViewerRecord(form.currentSet());
    form.hide();

    using namespace OrbivueGL;
    settings = &record->settings;
    startupFunction();
    if (!openViewerWindow())
        return 1;
    // The loading screen as the preloading draws it, part of the way through.
    glColor3f(1, 1, 1);
    printLoader(0.42f);
    if (!frame().save(out.filePath(QStringLiteral("loading.png"))))
        return 1;

    SetupRC();
    ChangeSize(733, 550);
    // A third of the way to the next photograph and up towards the centric
    // series: both cross-fades and the camera's pull-back are under way.
    SpecialKeys(GLUT_KEY_LEFT, 0, 0);
    SpecialKeys(GLUT_KEY_UP, 0, 0);
    for (int tick = 0; tick < 26; ++tick)
        animationStep();
    RenderScene();
    const bool saved = frame().save(out.filePath(QStringLiteral("viewer.png")));
    closeViewerWindow();
    Toolkit::replace(nullptr);
    return saved ? 0 : 1;
}
