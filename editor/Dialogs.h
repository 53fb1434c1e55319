#pragma once

#include "DialogLayout.h"
#include "DialogUnits.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;

// The editor's three small modal dialogs. Each has a fixed size, a title bar
// without buttons, no task bar entry, and one "OK" button that closes it.
// The size is the one given for the reference font, grown to what the text
// needs with the font in use, and never larger than the screen: lines too
// wide for it wrap, and a text too tall for it scrolls.
class OrbivueDialog : public QDialog {
    Q_OBJECT
  public:
    QPushButton* okButton() const { return ok; }
    QLabel* textBlock() const { return text; }
    // The whole text, as given, before any wrapping.
    const QString& message() const { return body; }

  protected:
    OrbivueDialog(QWidget* parent, const QString& title, const DialogDesign& design,
                  const QString& body, const DialogUnits& units);
    void centreOnScreen();
    // Shows no window icon, not even the editor's.
    void withoutIcon();

  private:
    QString body;
    QLabel* text;
    QPushButton* ok;
};

// The user guide.
class Help : public OrbivueDialog {
    Q_OBJECT
  public:
    explicit Help(QWidget* parent, const DialogUnits& units = DialogUnits::fromFont(QFont()));
    static const QStringList& lines();
};

// The credits, under the program's emblem.
class About : public OrbivueDialog {
    Q_OBJECT
  public:
    explicit About(QWidget* parent, const DialogUnits& units = DialogUnits::fromFont(QFont()));
    static const QStringList& lines();
};

// The editor's one error message: the series are not in order.
class Error : public OrbivueDialog {
    Q_OBJECT
  public:
    explicit Error(QWidget* parent, const DialogUnits& units = DialogUnits::fromFont(QFont()));
    static const QStringList& lines();
};

// An error dialog for a file the set could not be saved to or loaded from:
// the same look as Error, with a message of the caller's.
class FileError : public OrbivueDialog {
    Q_OBJECT
  public:
    FileError(QWidget* parent, const QString& message,
              const DialogUnits& units = DialogUnits::fromFont(QFont()));
};
