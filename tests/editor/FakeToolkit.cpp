#include "FakeToolkit.h"

#include "Dialogs.h"

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
    const auto* ours = qobject_cast<const OrbivueDialog*>(&dialog);
    shown.push_back({dialog.objectName(), dialog.windowTitle(),
                     ours != nullptr ? ours->message() : QString(), dialog.size(),
                     dialog.windowFlags()});
}

bool FakeToolkit::ask(QWidget*, const QString&, const QString& question) {
    asked << question;
    if (askAnswers.empty())
        return false;
    const bool yes = askAnswers.front();
    askAnswers.erase(askAnswers.begin());
    return yes;
}
