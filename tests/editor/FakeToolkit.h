#pragma once

#include "Toolkit.h"

#include <QDialog>
#include <QStringList>

#include <vector>

// A toolkit whose dialogs answer from a script and never wait for a person.
class FakeToolkit : public Toolkit {
  public:
    struct FileDialog {
        QString title;
        QString filter;
        bool multiple = false;
        bool save = false;
    };
    struct ShownDialog {
        QString name; // object name: Help, About, Error, FileError
        QString title;
        QString text;
        QSize size;
        Qt::WindowFlags flags;
    };

    FakeToolkit() { Toolkit::replace(this); }
    ~FakeToolkit() override { Toolkit::replace(nullptr); }

    bool openFiles(QWidget*, const QString& title, const QString& filter, bool multiple,
                   QStringList& paths) override;
    bool saveFile(QWidget*, const QString& title, const QString& filter, QString& path) override;
    void showModal(QDialog& dialog) override;
    bool ask(QWidget*, const QString& title, const QString& question) override;

    // Answers for the next file dialogs; an empty answer cancels.
    std::vector<QStringList> openAnswers;
    std::vector<QString> saveAnswers;

    // Answers for the next questions; none left answers No.
    std::vector<bool> askAnswers;
    QStringList asked;

    std::vector<FileDialog> fileDialogs;
    std::vector<ShownDialog> shown;
};
