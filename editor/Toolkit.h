#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QListWidget;
class QRadioButton;
class QWidget;

// The toolkit operations that the editor's commands rely on: file dialogs,
// modal dialogs and radio buttons. Commands reach dialogs only through this
// layer, so that tests can script the answers and nothing waits for a person.
class Toolkit {
  public:
    virtual ~Toolkit();

    // A file-open dialog; on OK the full paths of the chosen files, in the
    // order the dialog reports them. `filter` is "label|pattern|label|pattern";
    // the first pair is in force when the dialog opens.
    virtual bool openFiles(QWidget* owner, const QString& title, const QString& filter,
                           bool multiple, QStringList& paths);
    // A file-save dialog; on OK one full path, with ".ini" appended to a name
    // typed without an extension.
    virtual bool saveFile(QWidget* owner, const QString& title, const QString& filter,
                          QString& path);
    // Shows a dialog modally and returns when it has closed.
    virtual void showModal(QDialog& dialog);
    // Asks a question with Yes and No (No the default); true for Yes.
    virtual bool ask(QWidget* owner, const QString& title, const QString& question);

    // The toolkit in use; tests put in their own.
    static Toolkit& current();
    static void replace(Toolkit* toolkit); // null restores the real one
};

// Qt's form of a "label|pattern|..." filter: one entry per pair, each pattern
// matching without regard to letter case.
QStringList qtNameFilters(const QString& windowsFilter);

// Every entry of a list, in display order.
QStringList listEntries(const QListWidget* list);

// Checks or clears a radio button. Checking clears the other button of its
// pair; clearing leaves the other as it is, so that both can end up clear.
void setRadioChecked(QRadioButton* button, bool checked);
