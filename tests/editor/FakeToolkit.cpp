#include "FakeToolkit.h"

#include <QLabel>

bool FakeToolkit::openFiles(QWidget*, const QString& title, const QString& filter, bool multiple,
                            QStringList& paths) {
    fileDialogs.push_back({title, filter, multiple, false});
    if (openAnswers.empty())
        return false;
    paths = openAnswers.front();
    openAnswers.erase(openAnswers.begin());
    return !paths.isEmpty();
}

bool FakeToolkit::saveFile(QWidget*, const QString& title, const QString& filter, QString& path) {
    fileDialogs.push_back({title, filter, false, true});
    if (saveAnswers.empty())
        return false;
    path = saveAnswers.front();
    saveAnswers.erase(saveAnswers.begin());
    return !path.isEmpty();
}

void FakeToolkit::showModal(QDialog& dialog) {
    const QLabel* text = dialog.findChild<QLabel*>(QStringLiteral("label1"));
    shown.push_back({dialog.objectName(), dialog.windowTitle(), text ? text->text() : QString(),
                     dialog.size(), dialog.windowFlags()});
}
