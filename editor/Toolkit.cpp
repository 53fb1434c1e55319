#include "Toolkit.h"

#include <QDialog>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>

Toolkit::~Toolkit() = default;

namespace {

Toolkit* installed = nullptr;

// "*.jpg" -> "*.[jJ][pP][gG]": file systems here tell letter case apart,
// the patterns must not.
QString caseless(const QString& pattern) {
    QString result;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper()) {
            result += QLatin1Char('[');
            result += c.toLower();
            result += c.toUpper();
            result += QLatin1Char(']');
        } else
            result += c;
    }
    return result;
}

void prepare(QFileDialog& dialog, const QString& title, const QString& filter) {
    dialog.setWindowTitle(title);
    // The filter's own labels are shown as they are; the patterns stay hidden.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(qtNameFilters(filter));
}

} // namespace

QStringList qtNameFilters(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << caseless(p.trimmed());
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

bool Toolkit::openFiles(QWidget* owner, const QString& title, const QString& filter, bool multiple,
                        QStringList& paths) {
    QFileDialog dialog(owner);
    prepare(dialog, title, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    paths = dialog.selectedFiles();
    return !paths.isEmpty();
}

bool Toolkit::saveFile(QWidget* owner, const QString& title, const QString& filter, QString& path) {
    QFileDialog dialog(owner);
    prepare(dialog, title, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("ini"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = dialog.selectedFiles().first();
    return true;
}

void Toolkit::showModal(QDialog& dialog) {
    dialog.exec();
}

bool Toolkit::ask(QWidget* owner, const QString& title, const QString& question) {
    return QMessageBox::question(owner, title, question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

Toolkit& Toolkit::current() {
    static Toolkit real;
    return installed ? *installed : real;
}

void Toolkit::replace(Toolkit* toolkit) {
    installed = toolkit;
}

void setRadioChecked(QRadioButton* button, bool checked) {
    if (checked || !button->isChecked()) {
        button->setChecked(checked);
        return;
    }
    // An exclusive button refuses to be cleared directly.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}

QStringList listEntries(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}
