// Save Set and Load Set: the set shown in the editor to and from a settings
// file and its three series list files.
#include "Form1.h"

#include "AtomicFile.h"
#include "Dialogs.h"
#include "IniProfile.h"
#include "SetFile.h"
#include "Toolkit.h"

#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QRadioButton>
#include <QSlider>

#include <string>
#include <vector>

namespace {

const char* const kSeriesSections[3] = {"Lower Series", "Centric Series", "Upper Series"};
const char* const kViewOptions = "View Options";

// A path for the operating system, and the text the files store.
std::string osPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
std::string text(const QString& s) {
    return s.toUtf8().toStdString();
}
QString fromText(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::vector<std::string> entries(const QListWidget* list) {
    std::vector<std::string> texts;
    for (const QString& entry : listEntries(list))
        texts.push_back(text(entry));
    return texts;
}

} // namespace

void Form1::saveSetToolStripMenuItem_Click() {
    if (!setIsComplete()) {
        showError();
        return;
    }
    QString chosen;
    if (!Toolkit::current().saveFile(this, QStringLiteral("Save Settings"),
                                     QStringLiteral("Settingddatei (.ini)|*.ini"), chosen))
        return;

    SetFile::StoredSet set;
    const QListWidget* lists[3] = {listBox1, listBox5, listBox6};
    const QRadioButton* clockwise[3] = {radioButton1, radioButton14, radioButton10};
    const QRadioButton* counter[3] = {radioButton2, radioButton13, radioButton9};
    for (int n = 0; n < 3; ++n) {
        set.lists[n] = entries(lists[n]);
        set.clockwise[n] = clockwise[n]->isChecked();
        set.counterClockwise[n] = counter[n]->isChecked();
    }
    set.skyscraper = checkBox1->isChecked();
    set.zoom = checkBox2->isChecked();
    set.speed = trackBar1->value();

    const SetFile::SaveResult result = SetFile::save(osPath(chosen), set);
    if (result.problem == SetFile::SaveResult::None)
        return;
    const QString series = result.series > 0
                               ? QString::fromLatin1(kSeriesSections[result.series - 1]).toLower()
                               : QString();
    QString message;
    switch (result.problem) {
    case SetFile::SaveResult::ListPathTooLong:
        message = QStringLiteral("The set was not saved: the path of its image list is longer "
                                 "than 259 characters and could not be loaded back.");
        break;
    case SetFile::SaveResult::NotAFile:
        message = QStringLiteral("The set was not saved: something that is not a file stands "
                                 "where the image list of the %1 belongs.")
                      .arg(series);
        break;
    case SetFile::SaveResult::LineBreak:
        message = QStringLiteral("The set was not saved: an image path in the %1 holds a line "
                                 "break, which an image list cannot store.")
                      .arg(series);
        break;
    case SetFile::SaveResult::ListNotWritten:
        message = QStringLiteral("The set was not saved: the image list of the %1 could not be "
                                 "written.")
                      .arg(series);
        break;
    case SetFile::SaveResult::SettingsNotWritten:
        message = QStringLiteral("The set was not saved: the settings file could not be written.");
        break;
    default:
        message = QStringLiteral("The set was not saved completely: the image list of the %1 "
                                 "could not be moved into place.")
                      .arg(series);
        break;
    }
    FileError dialog(this, message + QLatin1Char('\n') + QFile::decodeName(result.path.c_str()));
    Toolkit::current().showModal(dialog);
}

void Form1::loadSetToolStripMenuItem_Click() {
    QStringList chosen;
    if (!Toolkit::current().openFiles(this, QStringLiteral("Load Settings"),
                                      QStringLiteral("Settingddatei (*.ini)|*.ini"), false, chosen))
        return; // cancelled: the set being edited stays as it is
    // Only now that a file has been chosen does the set being edited go.
    listBox1->clear();
    listBox5->clear();
    listBox6->clear();
    auto fail = [this](const QString& message) {
        FileError dialog(this, message);
        Toolkit::current().showModal(dialog);
    };

    const QString settingsPath = chosen.first();
    const std::string settings = osPath(settingsPath);
    auto read = [&](const char* section, const char* key, const char* fallback) {
        return IniProfile::read(settings, section, key, fallback);
    };
    auto readFlag = [&](const char* section, const char* key, const char* fallback) {
        return SetFile::textToInteger(read(section, key, fallback)) == 1;
    };

    setRadioChecked(radioButton1,
                    readFlag(kSeriesSections[0], "Clockwise1", "Clockwise1 not found"));
    setRadioChecked(radioButton14,
                    readFlag(kSeriesSections[1], "Clockwise2", "Clockwise2 not found"));
    setRadioChecked(radioButton10,
                    readFlag(kSeriesSections[2], "Clockwise3", "Clockwise3 not found"));
    setRadioChecked(radioButton2,
                    readFlag(kSeriesSections[0], "CClockwise1", "CClockwise1 not found"));
    setRadioChecked(radioButton13,
                    readFlag(kSeriesSections[1], "CClockwise2", "CClockwise2 not found"));
    setRadioChecked(radioButton9,
                    readFlag(kSeriesSections[2], "CClockwise3", "CClockwise3 not found"));
    checkBox1->setChecked(
        readFlag(kViewOptions, "SkyScraperMode", "Settings for SkySkraperMode not found"));
    checkBox2->setChecked(
        readFlag(kViewOptions, "CameraZoom", "Settings for CameraZoom not found"));

    const std::string speedText = read(kViewOptions, "Speed", "Speed not found");
    const int speed = SetFile::textToInteger(speedText);
    if (speed < 1 || speed > 9) {
        std::string unused;
        if (!AtomicFile::read(settings, unused)) {
            fail(QStringLiteral("The set was not loaded: the settings file could not be "
                                "read.\n%1")
                     .arg(settingsPath));
            return;
        }
        fail(QStringLiteral("The set was not loaded completely: the speed in [View Options] "
                            "must be a number from 1 to 9, but reads \"%1\".\n%2")
                 .arg(fromText(speedText), settingsPath));
        return;
    }
    trackBar1->setValue(speed);

    QListWidget* lists[3] = {listBox1, listBox5, listBox6};
    const char* keys[3] = {"ImageList1", "ImageList2", "ImageList3"};
    const char* fallbacks[3] = {"ImageList1 not found", "ImageList2 not found",
                                "ImageList3 not found"};
    for (int n = 0; n < 3; ++n) {
        const QString listPath = fromText(read(kSeriesSections[n], keys[n], fallbacks[n]));
        std::vector<std::string> lines;
        const SetFile::ListResult result = SetFile::readList(osPath(listPath), lines);
        if (result != SetFile::ListResult::Ok) {
            const QString problem = result == SetFile::ListResult::CannotOpen
                                        ? QStringLiteral("could not be opened")
                                        : QStringLiteral("is not a readable text file");
            fail(QStringLiteral("The set was not loaded completely: the image list of the %1 "
                                "(%2 in the settings file) %3.\n%4")
                     .arg(QString::fromLatin1(kSeriesSections[n]).toLower(), QLatin1String(keys[n]),
                          problem, listPath));
            return;
        }
        for (const std::string& line : lines)
            lists[n]->addItem(fromText(line));
    }
}
