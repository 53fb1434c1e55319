#pragma once

#include "DialogUnits.h"
#include "SetFile.h"

#include <QWidget>

#include <functional>

class OrbivueSettings;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

// The editor window. The set being edited is the state of its controls:
// three series lists, a direction pair per series, two view options and the
// speed; the commands read and write the controls directly.
class Form1 : public QWidget {
    Q_OBJECT
  public:
    // Runs the viewer on a record and returns when its window has closed.
    using ViewerLauncher = std::function<int(OrbivueSettings*)>;

    explicit Form1(const DialogUnits& units = DialogUnits::fromFont(QFont()),
                   QWidget* parent = nullptr);
    ~Form1() override;

    // The viewer the start command runs: the program hands in the real one,
    // tests their own. Without one, the start command only checks the set.
    void setViewerLauncher(ViewerLauncher launcher) { viewerLauncher = std::move(launcher); }

    // Menu.
    QMenuBar* menuStrip1;
    QMenu* fileToolStripMenuItem;
    QAction* newSetToolStripMenuItem;
    QAction* loadSetToolStripMenuItem;
    QAction* saveSetToolStripMenuItem;
    QAction* exitToolStripMenuItem;
    QMenu* helpToolStripMenuItem;
    QAction* orbivueHelpToolStripMenuItem;
    QAction* aboutToolStripMenuItem;

    // Series pages.
    QTabWidget* tabControl1;
    QWidget* tabPage1;
    QWidget* tabPage2;
    QWidget* tabPage3;
    QListWidget* listBox1; // lower series
    QListWidget* listBox5; // centric series
    QListWidget* listBox6; // upper series
    QPushButton* button3;  // Load Images, lower
    QPushButton* button17; // centric
    QPushButton* button21; // upper
    QPushButton* button4;  // Remove all Images, lower
    QPushButton* button18;
    QPushButton* button22;
    QGroupBox* groupBox7; // Selected Image, lower
    QGroupBox* groupBox6;
    QGroupBox* groupBox1;
    QPushButton* button1;  // Move Up, lower
    QPushButton* button19; // centric
    QPushButton* button23; // upper
    QPushButton* button2;  // Move Down, lower
    QPushButton* button20;
    QPushButton* button24;
    QPushButton* button8; // Remove, lower
    QPushButton* button7;
    QPushButton* button6;
    QGroupBox* groupBox3; // Capture Direction, lower
    QGroupBox* groupBox4;
    QGroupBox* groupBox5;
    QRadioButton* radioButton1;  // Clockwise, lower
    QRadioButton* radioButton14; // centric
    QRadioButton* radioButton10; // upper
    QRadioButton* radioButton2;  // Counter Clockwise, lower
    QRadioButton* radioButton13;
    QRadioButton* radioButton9;

    // View options and start.
    QGroupBox* groupBox2;
    QCheckBox* checkBox1; // Skyscaper Mode
    QCheckBox* checkBox2; // Use Camera Zoom
    QLabel* richTextBox2; // "Set Speed"
    QSlider* trackBar1;
    QLabel* richTextBox1;  // "Slow ... Fast"
    QPushButton* button25; // Start Orbivue

  public slots:
    // Series list editing.
    void button3_Click();
    void button17_Click();
    void button21_Click();
    void button4_Click();
    void button18_Click();
    void button22_Click();
    void button1_Click();
    void button5_Click(); // the centric series' Move Up (button19)
    void button23_Click();
    void button2_Click();
    void button20_Click();
    void button24_Click();
    void button8_Click();
    void button7_Click();
    void button6_Click();
    void newSetToolStripMenuItem_Click();

    // Menu commands.
    void loadSetToolStripMenuItem_Click();
    void saveSetToolStripMenuItem_Click();
    void exitToolStripMenuItem_Click();
    void helpToolStripMenuItem_Click();
    void aboutToolStripMenuItem_Click();

    // Start command.
    void button25_Click();

    // The set the controls show, and the controls set to show a set.
    SetFile::StoredSet currentSet() const;
    void applySet(const SetFile::StoredSet& set);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct SeriesPage;
    void buildSeriesPage(SeriesPage& page);
    void loadImages(QListWidget* list, const QString& seriesName);
    void removeSelected(QListWidget* list);
    void moveSelected(QListWidget* list, int offset);
    bool setIsComplete() const;
    void showError();
    // Asks whether the files may be replaced; true for Yes.
    bool confirmReplace(const std::vector<std::string>& paths);

    DialogUnits units;
    ViewerLauncher viewerLauncher;
};
