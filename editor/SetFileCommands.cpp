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
#include <QFileInfo>
#include <QListWidget>
#include <QRadioButton>
#include <QSlider>

#include <array>
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
std::string flag(bool on) {
    return on ? "1" : "0";
}

std::vector<std::string> entries(const QListWidget* list) {
    std::vector<std::string> texts;
    for (int i = 0; i < list->count(); ++i)
        texts.push_back(text(list->item(i)->text()));
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
    auto fail = [this](const QString& message) {
        FileError dialog(this, message);
        Toolkit::current().showModal(dialog);
    };

    const std::string settings = text(chosen);
    std::array<QString, 3> listPaths;
    for (int n = 0; n < 3; ++n) {
        listPaths[n] = fromText(SetFile::listFilePath(settings, n + 1));
        // The settings file hands a value over in 259 characters: a longer
        // path could not be loaded back, so nothing is written.
        if (listPaths[n].size() > static_cast<qsizetype>(IniProfile::kValueCharacters)) {
            fail(QStringLiteral("The set was not saved: the path of its image list is longer "
                                "than 259 characters.\n%1")
                     .arg(listPaths[n]));
            return;
        }
    }

    // A folder (or anything but a file) standing where a list file belongs
    // would make the set unsavable halfway through: refuse before writing.
    for (const QString& listPath : listPaths) {
        const QFileInfo info(listPath);
        if (info.exists() && !info.isFile()) {
            fail(QStringLiteral("The set was not saved: something that is not a file stands "
                                "where its image list belongs.\n%1")
                     .arg(listPath));
            return;
        }
    }

    // The list files are written under temporary names first and only moved
    // into place when all is written, so a failure anywhere leaves a set
    // saved earlier under this name as it was.
    const QListWidget* lists[3] = {listBox1, listBox5, listBox6};
    std::array<std::string, 3> temporaries;
    auto discardAll = [&] {
        for (const std::string& t : temporaries)
            AtomicFile::discard(t);
    };
    for (int n = 0; n < 3; ++n) {
        std::string bytes;
        if (!SetFile::listContent(entries(lists[n]), bytes)) {
            discardAll();
            fail(QStringLiteral("The set was not saved: an image path in the %1 holds a line "
                                "break, which an image list cannot store.")
                     .arg(QString::fromLatin1(kSeriesSections[n]).toLower()));
            return;
        }
        temporaries[n] = AtomicFile::writeTemporary(osPath(listPaths[n]), bytes);
        if (temporaries[n].empty()) {
            discardAll();
            fail(QStringLiteral("The set was not saved: this image list could not be "
                                "written.\n%1")
                     .arg(listPaths[n]));
            return;
        }
    }

    struct Write {
        const char* section;
        const char* key;
        std::string value;
    };
    const Write writes[] = {
        {kSeriesSections[0], "ImageList1", text(listPaths[0])},
        {kSeriesSections[1], "ImageList2", text(listPaths[1])},
        {kSeriesSections[2], "ImageList3", text(listPaths[2])},
        {kSeriesSections[0], "Clockwise1", flag(radioButton1->isChecked())},
        {kSeriesSections[1], "Clockwise2", flag(radioButton14->isChecked())},
        {kSeriesSections[2], "Clockwise3", flag(radioButton10->isChecked())},
        {kSeriesSections[0], "CClockwise1", flag(radioButton2->isChecked())},
        {kSeriesSections[1], "CClockwise2", flag(radioButton13->isChecked())},
        {kSeriesSections[2], "CClockwise3", flag(radioButton9->isChecked())},
        {kViewOptions, "SkyScraperMode", flag(checkBox1->isChecked())},
        {kViewOptions, "CameraZoom", flag(checkBox2->isChecked())},
        {kViewOptions, "Speed", std::to_string(trackBar1->value())},
    };
    const std::string settingsFile = osPath(chosen);
    for (const Write& w : writes) {
        if (!IniProfile::write(settingsFile, w.section, w.key, w.value)) {
            discardAll();
            fail(QStringLiteral("The set was not saved: the settings file could not be "
                                "written.\n%1")
                     .arg(chosen));
            return;
        }
    }
    for (int n = 0; n < 3; ++n) {
        if (!AtomicFile::commit(temporaries[n], osPath(listPaths[n]))) {
            temporaries[n].clear();
            discardAll();
            fail(QStringLiteral("The set was not saved completely: this image list could not "
                                "be written.\n%1")
                     .arg(listPaths[n]));
            return;
        }
        temporaries[n].clear();
    }
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
