// Save Set and Load Set: the set shown in the editor to and from a settings
// file and its three series list files.
#include "Form1.h"

#include "Dialogs.h"
#include "SetFile.h"
#include "Text.h"
#include "Toolkit.h"

#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QLocale>
#include <QRadioButton>
#include <QSlider>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kSeriesSections[3] = {"Lower Series", "Centric Series", "Upper Series"};

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

// Unicode's Default_Ignorable_Code_Point property: code points that show
// nothing where a font has no glyph for them (the format characters among
// them, and also the combining grapheme joiner, the Hangul fillers, the
// variation selectors and the ranges kept for more of them).
bool defaultIgnorable(char32_t u) {
    static constexpr char32_t kRanges[][2] = {
        {0x00AD, 0x00AD},  {0x034F, 0x034F}, {0x061C, 0x061C},   {0x115F, 0x1160},
        {0x17B4, 0x17B5},  {0x180B, 0x180F}, {0x200B, 0x200F},   {0x202A, 0x202E},
        {0x2060, 0x206F},  {0x3164, 0x3164}, {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
        {0xFFA0, 0xFFA0},  {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
        {0xE0000, 0xE0FFF}};
    for (const auto& range : kRanges)
        if (u >= range[0] && u <= range[1])
            return true;
    return false;
}

// A value from a file or a name as a message shows it: every character that
// is blank or invisible but not a plain space as <U+XXXX>, so that no value
// can hide, split or reorder the words around it, and two names that look
// alike can be told apart. Blank or invisible: white space (the space
// separators, among them no-break, figure and ideographic spaces, and the
// line and paragraph separators), control and format characters (the marks
// that change the direction of text, zero-width characters), and the default
// ignorable code points; and the braille pattern blank, the one symbol drawn
// without ink.
QString shown(const QString& value) {
    QString out;
    for (const char32_t u : value.toUcs4()) {
        const QChar::Category category = QChar::category(u);
        const bool blank =
            u != U' ' && (QChar::isSpace(u) || category == QChar::Other_Control ||
                          category == QChar::Other_Format || defaultIgnorable(u) || u == 0x2800);
        if (blank)
            out += QStringLiteral("<U+%1>").arg(unsigned(u), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += QString::fromUcs4(&u, 1);
    }
    return out;
}

// A name of the file system as a message shows it: as shown() shows text,
// and every byte that is no part of a UTF-8 character as <0xNN>, so that two
// names that differ only in such bytes can be told apart.
QString shownName(const std::string& bytes) {
    QString out;
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = 0;
        while (i + length < bytes.size() && Text::utf8Character(bytes, i + length) != 0)
            length += Text::utf8Character(bytes, i + length);
        out += shown(QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(length)));
        i += length;
        if (i < bytes.size()) {
            out += QStringLiteral("<0x%1>").arg(
                QStringLiteral("%1")
                    .arg(static_cast<unsigned char>(bytes[i]), 2, 16, QLatin1Char('0'))
                    .toUpper());
            ++i;
        }
    }
    return out;
}

// A file's size, exact, and a limit, in whole MiB.
// The file of the set a message is about: the image list of a series
// (`seriesName`, e.g. "lower series"), or the settings file when `series` is 0.
QString fileOfSet(int series, const QString& seriesName) {
    return series > 0 ? QStringLiteral("image list of the ") + seriesName
                      : QStringLiteral("settings file");
}

// The reason the system gave for a refusal, in its own words as a message
// continues them: "permission denied", "read-only file system", ...
QString reason(int error) {
    QString text = QString::fromLocal8Bit(error != 0 ? ::strerrordesc_np(error) : nullptr);
    if (text.isEmpty())
        return QStringLiteral("error %1").arg(error);
    if (text.size() > 1 && text[1].isLower())
        text[0] = text[0].toLower();
    return text;
}

// The reason in brackets after what failed, " (no space left on device)";
// nothing when the system gave none.
QString becauseOf(int error) {
    return error != 0 ? QStringLiteral(" (%1)").arg(reason(error)) : QString();
}

QString bytesText(std::uint64_t bytes) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(bytes)) +
           QStringLiteral(" bytes");
}
QString limitText(std::size_t bytes) {
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
}

std::vector<std::string> entries(const QListWidget* list) {
    std::vector<std::string> texts;
    for (const QString& entry : listEntries(list))
        texts.push_back(text(entry));
    return texts;
}

} // namespace

bool Form1::confirmReplace(const std::vector<std::string>& paths) {
    QStringList names;
    for (const std::string& path : paths)
        names << shownName(path);
    const QString question =
        names.size() == 1
            ? QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(names[0])
            : QStringLiteral("%1\nalready exist.\nDo you want to replace them?")
                  .arg(names.join(QLatin1Char('\n')));
    return Toolkit::current().ask(this, QStringLiteral("Save Settings"), question);
}

void Form1::saveSetToolStripMenuItem_Click() {
    if (!setIsComplete()) {
        showError();
        return;
    }
    QString chosen;
    if (!Toolkit::current().saveFile(this, QStringLiteral("Save Settings"),
                                     QStringLiteral("Settingddatei (.ini)|*.ini"), chosen))
        return;
    // The list files are named after a settings file ending in ".ini": a name
    // ending otherwise ("tower 2024.05.01") would give list names that another
    // set's could share, so it gets ".ini" too.
    if (!chosen.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive)) {
        chosen += QLatin1String(".ini");
        // The dialog asked about the name typed, not about this one.
        if (QFile::exists(chosen) && !confirmReplace({osPath(chosen)}))
            return;
    }
    // List files that are not this set's own are someone else's: replacing
    // them is asked too.
    const std::vector<std::string> foreign = SetFile::foreignLists(osPath(chosen));
    if (!foreign.empty() && !confirmReplace(foreign))
        return;

    const SetFile::SaveResult result = SetFile::save(osPath(chosen), currentSet());
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
                                 "written%2.")
                      .arg(series, becauseOf(result.error));
        break;
    case SetFile::SaveResult::SettingsNotWritten:
        message = QStringLiteral("The set was not saved: the settings file could not be "
                                 "written%1.")
                      .arg(becauseOf(result.error));
        break;
    case SetFile::SaveResult::ReadOnly:
        message = QStringLiteral("The set was not saved: this file is write-protected.");
        break;
    case SetFile::SaveResult::SettingsNotText:
        message = QStringLiteral("The set was not saved: the file of that name is not a settings "
                                 "file that can be added to.");
        break;
    case SetFile::SaveResult::NameTooLong:
        message = QStringLiteral("The set was not saved: this file name is longer than the "
                                 "folder allows. Choose a shorter name.");
        break;
    case SetFile::SaveResult::SameFile:
        message = QStringLiteral("The set was not saved: the image list of the %1 is, through a "
                                 "link, the settings file or another image list, and would "
                                 "overwrite it.")
                      .arg(series);
        break;
    case SetFile::SaveResult::TooLarge:
        message = result.series > 0
                      ? QStringLiteral("The set was not saved: the image list of the %1 would "
                                       "take %2, more than the %3 Load Set reads.")
                            .arg(series, bytesText(result.size), limitText(SetFile::kMaxListBytes))
                      : QStringLiteral("The set was not saved: the settings file would take %1, "
                                       "more than the %2 Load Set reads.")
                            .arg(bytesText(result.size), limitText(SetFile::kMaxSettingsBytes));
        break;
    case SetFile::SaveResult::FolderClosed:
        message = result.error == ENOENT
                      ? QStringLiteral("The set was not saved: this folder takes no new files "
                                       "(%2), and the %1 is not there yet to be written over.")
                            .arg(fileOfSet(result.series, series), reason(result.folderError))
                      : QStringLiteral("The set was not saved: this folder takes no new files "
                                       "(%2), and the %1 may not be written over (%3).")
                            .arg(fileOfSet(result.series, series), reason(result.folderError),
                                 reason(result.error));
        break;
    case SetFile::SaveResult::FolderNotOpened:
        message = result.error == ENOENT || result.error == ENOTDIR
                      ? QStringLiteral("The set was not saved: the folder the %1 goes into does "
                                       "not exist.")
                            .arg(fileOfSet(result.series, series))
                      : QStringLiteral("The set was not saved: the folder the %1 goes into "
                                       "cannot be opened (%2).")
                            .arg(fileOfSet(result.series, series), reason(result.error));
        break;
    case SetFile::SaveResult::OthersFile:
        message = QStringLiteral("The set was not saved: this file belongs to another user, who "
                                 "alone may replace it in this folder, and it may not be written.");
        break;
    case SetFile::SaveResult::Changed:
        message = QStringLiteral("The set was not saved: this file was replaced by something else "
                                 "while the set was being saved, and is left as it is.");
        break;
    case SetFile::SaveResult::PathLineBreak:
        message = QStringLiteral("The set was not saved: its path holds a line break, which the "
                                 "settings file cannot store.");
        break;
    case SetFile::SaveResult::ForeignLink:
        message = QStringLiteral("The set was not saved: this name is a link that belongs to "
                                 "another user, and it is not followed.");
        break;
    case SetFile::SaveResult::LinkLoop:
        message = QStringLiteral("The set was not saved: this name is a link that leads round "
                                 "in a loop and never reaches a file.");
        break;
    case SetFile::SaveResult::ListNotReplaced:
        message = QStringLiteral("The set was not saved completely: the image list of the %1 "
                                 "could not be moved into place.")
                      .arg(series);
        break;
    case SetFile::SaveResult::None:
        return; // returned above
    }
    FileError dialog(this, message + QLatin1Char('\n') + shownName(result.path));
    Toolkit::current().showModal(dialog);
}

void Form1::loadSetToolStripMenuItem_Click() {
    QStringList chosen;
    if (!Toolkit::current().openFiles(this, QStringLiteral("Load Settings"),
                                      QStringLiteral("Settingddatei (*.ini)|*.ini"), false, chosen))
        return; // cancelled: the set being edited stays as it is

    // The whole set is read and checked first; only a set that reads
    // completely replaces the one being edited.
    const QString settingsPath = chosen.first();
    SetFile::StoredSet set;
    const SetFile::LoadResult result = SetFile::load(osPath(settingsPath), set);
    if (result.problem == SetFile::LoadResult::None) {
        applySet(set);
        return;
    }
    const QString file = shownName(result.path);
    const QString series = result.series > 0
                               ? QString::fromLatin1(kSeriesSections[result.series - 1]).toLower()
                               : QString();
    QString message;
    switch (result.problem) {
    case SetFile::LoadResult::SettingsUnreadable:
        message = QStringLiteral("The set was not loaded: the settings file could not be read.");
        break;
    case SetFile::LoadResult::SpeedMissing:
        message = QStringLiteral("The set was not loaded: the settings file has no speed in "
                                 "[View Options].");
        break;
    case SetFile::LoadResult::SpeedOutOfRange:
        message = QStringLiteral("The set was not loaded: the speed in [View Options] must be a "
                                 "number from 1 to 9, but reads \"%1\".")
                      .arg(shown(fromText(result.text)));
        break;
    case SetFile::LoadResult::TooLarge:
        message = QStringLiteral("The set was not loaded: this file takes %1, more than the %2 "
                                 "%3 may take.")
                      .arg(bytesText(result.size),
                           limitText(result.series > 0 ? SetFile::kMaxListBytes
                                                       : SetFile::kMaxSettingsBytes),
                           result.series > 0 ? QStringLiteral("an image list")
                                             : QStringLiteral("a settings file"));
        break;
    case SetFile::LoadResult::ListUnreadable:
        message = QStringLiteral("The set was not loaded: the image list of the %1 (ImageList%2 "
                                 "in the settings file) could not be opened.")
                      .arg(series)
                      .arg(result.series);
        break;
    case SetFile::LoadResult::ListNotText:
        message = QStringLiteral("The set was not loaded: the image list of the %1 (ImageList%2 "
                                 "in the settings file) is not a readable text file.")
                      .arg(series)
                      .arg(result.series);
        break;
    case SetFile::LoadResult::None:
        return; // applied above
    }
    FileError dialog(this, message + QLatin1Char('\n') + file);
    Toolkit::current().showModal(dialog);
}

SetFile::StoredSet Form1::currentSet() const {
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
    return set;
}

void Form1::applySet(const SetFile::StoredSet& set) {
    QListWidget* lists[3] = {listBox1, listBox5, listBox6};
    QRadioButton* clockwise[3] = {radioButton1, radioButton14, radioButton10};
    QRadioButton* counter[3] = {radioButton2, radioButton13, radioButton9};
    // Clockwise first, then Counter Clockwise: a pair stored as (1, 1) ends
    // with Counter Clockwise selected, (0, 0) with neither.
    for (int n = 0; n < 3; ++n)
        setRadioChecked(clockwise[n], set.clockwise[n]);
    for (int n = 0; n < 3; ++n)
        setRadioChecked(counter[n], set.counterClockwise[n]);
    checkBox1->setChecked(set.skyscraper);
    checkBox2->setChecked(set.zoom);
    trackBar1->setValue(set.speed);
    for (int n = 0; n < 3; ++n) {
        // One insertion for the whole list: the view lays itself out once.
        QStringList texts;
        texts.reserve(static_cast<qsizetype>(set.lists[n].size()));
        for (const std::string& entry : set.lists[n])
            texts << fromText(entry);
        lists[n]->clear();
        lists[n]->addItems(texts);
    }
}
