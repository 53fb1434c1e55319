#include "Form1.h"

#include "Dialogs.h"
#include "Emblem.h"
#include "ListFilling.h"
#include "Toolkit.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTabWidget>

// The widgets of one series page, by their role.
struct Form1::SeriesPage {
    QWidget*& page;
    QString title;
    QListWidget*& list;
    QPushButton*& loadImages;
    QPushButton*& removeAll;
    QGroupBox*& selected;
    QPushButton*& moveUp;
    QPushButton*& moveDown;
    QPushButton*& remove;
    QGroupBox*& direction;
    QRadioButton*& clockwise;
    QRadioButton*& counterClockwise;
    const char* names[11];
};

namespace {

// The speed slider keeps the size of its box, but draws its groove, handle
// and ticks in the top `drawn` pixels of it, above the caption that the box
// reaches into: centred in the whole box, as the style would draw it, its
// end ticks would run into "Slow" and "Fast". Its pointer handling takes the
// same rectangle.
class SpeedSlider : public QSlider {
  public:
    SpeedSlider(int drawnHeight, QWidget* parent)
        : QSlider(Qt::Horizontal, parent), drawn(drawnHeight) {}

  protected:
    void initStyleOption(QStyleOptionSlider* option) const override {
        QSlider::initStyleOption(option);
        option->rect.setHeight(std::min(option->rect.height(), drawn));
    }

  private:
    int drawn;
};

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    return b;
}

} // namespace

Form1::Form1(const DialogUnits& dialogUnits, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      units(dialogUnits) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Orbivue v1.18"));
    setWindowIcon(QIcon(orbivueIcon(64)));
    setAutoFillBackground(true);

    // Menu.
    menuStrip1 = new QMenuBar(this);
    menuStrip1->setObjectName(QStringLiteral("menuStrip1"));
    menuStrip1->setNativeMenuBar(false);
    menuStrip1->setGeometry(units.rect(3, 3, 378, 26));
    fileToolStripMenuItem = menuStrip1->addMenu(QStringLiteral("File"));
    fileToolStripMenuItem->setObjectName(QStringLiteral("fileToolStripMenuItem"));
    newSetToolStripMenuItem = fileToolStripMenuItem->addAction(QStringLiteral("New Set"));
    loadSetToolStripMenuItem = fileToolStripMenuItem->addAction(QStringLiteral("Load Set"));
    saveSetToolStripMenuItem = fileToolStripMenuItem->addAction(QStringLiteral("Save Set"));
    exitToolStripMenuItem = fileToolStripMenuItem->addAction(QStringLiteral("Exit"));
    helpToolStripMenuItem = menuStrip1->addMenu(QStringLiteral("Help"));
    helpToolStripMenuItem->setObjectName(QStringLiteral("helpToolStripMenuItem"));
    orbivueHelpToolStripMenuItem = helpToolStripMenuItem->addAction(QStringLiteral("Orbivue Help"));
    aboutToolStripMenuItem = helpToolStripMenuItem->addAction(QStringLiteral("About Orbivue"));
    newSetToolStripMenuItem->setObjectName(QStringLiteral("newSetToolStripMenuItem"));
    loadSetToolStripMenuItem->setObjectName(QStringLiteral("loadSetToolStripMenuItem"));
    saveSetToolStripMenuItem->setObjectName(QStringLiteral("saveSetToolStripMenuItem"));
    exitToolStripMenuItem->setObjectName(QStringLiteral("exitToolStripMenuItem"));
    orbivueHelpToolStripMenuItem->setObjectName(QStringLiteral("orbivueHelpToolStripMenuItem"));
    aboutToolStripMenuItem->setObjectName(QStringLiteral("aboutToolStripMenuItem"));
    connect(newSetToolStripMenuItem, &QAction::triggered, this,
            &Form1::newSetToolStripMenuItem_Click);
    connect(loadSetToolStripMenuItem, &QAction::triggered, this,
            &Form1::loadSetToolStripMenuItem_Click);
    connect(saveSetToolStripMenuItem, &QAction::triggered, this,
            &Form1::saveSetToolStripMenuItem_Click);
    connect(exitToolStripMenuItem, &QAction::triggered, this, &Form1::exitToolStripMenuItem_Click);
    connect(orbivueHelpToolStripMenuItem, &QAction::triggered, this,
            &Form1::helpToolStripMenuItem_Click);
    connect(aboutToolStripMenuItem, &QAction::triggered, this,
            &Form1::aboutToolStripMenuItem_Click);

    // Series pages.
    tabControl1 = new QTabWidget(this);
    tabControl1->setObjectName(QStringLiteral("tabControl1"));
    tabControl1->setGeometry(units.rect(7, 38, 370, 395));
    SeriesPage pages[] = {
        {tabPage1,
         QStringLiteral("Lower Series"),
         listBox1,
         button3,
         button4,
         groupBox7,
         button1,
         button2,
         button8,
         groupBox3,
         radioButton1,
         radioButton2,
         {"tabPage1", "listBox1", "button3", "button4", "groupBox7", "button1", "button2",
          "button8", "groupBox3", "radioButton1", "radioButton2"}},
        {tabPage2,
         QStringLiteral("Centric Series"),
         listBox5,
         button17,
         button18,
         groupBox6,
         button19,
         button20,
         button7,
         groupBox4,
         radioButton14,
         radioButton13,
         {"tabPage2", "listBox5", "button17", "button18", "groupBox6", "button19", "button20",
          "button7", "groupBox4", "radioButton14", "radioButton13"}},
        {tabPage3,
         QStringLiteral("Upper Series"),
         listBox6,
         button21,
         button22,
         groupBox1,
         button23,
         button24,
         button6,
         groupBox5,
         radioButton10,
         radioButton9,
         {"tabPage3", "listBox6", "button21", "button22", "groupBox1", "button23", "button24",
          "button6", "groupBox5", "radioButton10", "radioButton9"}},
    };
    for (SeriesPage& page : pages)
        buildSeriesPage(page);

    connect(button3, &QPushButton::clicked, this, &Form1::button3_Click);
    connect(button17, &QPushButton::clicked, this, &Form1::button17_Click);
    connect(button21, &QPushButton::clicked, this, &Form1::button21_Click);
    connect(button4, &QPushButton::clicked, this, &Form1::button4_Click);
    connect(button18, &QPushButton::clicked, this, &Form1::button18_Click);
    connect(button22, &QPushButton::clicked, this, &Form1::button22_Click);
    connect(button1, &QPushButton::clicked, this, &Form1::button1_Click);
    connect(button19, &QPushButton::clicked, this, &Form1::button5_Click);
    connect(button23, &QPushButton::clicked, this, &Form1::button23_Click);
    connect(button2, &QPushButton::clicked, this, &Form1::button2_Click);
    connect(button20, &QPushButton::clicked, this, &Form1::button20_Click);
    connect(button24, &QPushButton::clicked, this, &Form1::button24_Click);
    connect(button8, &QPushButton::clicked, this, &Form1::button8_Click);
    connect(button7, &QPushButton::clicked, this, &Form1::button7_Click);
    connect(button6, &QPushButton::clicked, this, &Form1::button6_Click);

    // View options.
    groupBox2 = new QGroupBox(QStringLiteral("View Options"), this);
    groupBox2->setObjectName(QStringLiteral("groupBox2"));
    groupBox2->setGeometry(units.rect(7, 439, 370, 90));
    checkBox1 = new QCheckBox(QStringLiteral("Skyscaper Mode"), groupBox2);
    checkBox1->setObjectName(QStringLiteral("checkBox1"));
    checkBox1->move(units.x(10), units.y(29));
    checkBox1->adjustSize();
    checkBox2 = new QCheckBox(QStringLiteral("Use Camera Zoom"), groupBox2);
    checkBox2->setObjectName(QStringLiteral("checkBox2"));
    checkBox2->move(units.x(10), units.y(52));
    checkBox2->adjustSize();
    checkBox2->setChecked(true);
    richTextBox2 = new QLabel(QStringLiteral("Set Speed"), groupBox2);
    richTextBox2->setObjectName(QStringLiteral("richTextBox2"));
    richTextBox2->setGeometry(units.rect(135, 18, 100, 19));
    // The caption under the slider starts 30 units below its top.
    trackBar1 = new SpeedSlider(units.y(67) - units.y(37), groupBox2);
    trackBar1->setObjectName(QStringLiteral("trackBar1"));
    trackBar1->setGeometry(units.rect(130, 37, 224, 45));
    trackBar1->setRange(1, 9);
    trackBar1->setValue(5);
    trackBar1->setTickPosition(QSlider::TicksBelow);
    trackBar1->setTickInterval(1);
    trackBar1->setSingleStep(1);
    trackBar1->setPageStep(5);
    richTextBox1 = new QLabel(
        QStringLiteral("Slow") + QString(59, QLatin1Char(' ')) + QStringLiteral("Fast"), groupBox2);
    richTextBox1->setObjectName(QStringLiteral("richTextBox1"));
    richTextBox1->setGeometry(units.rect(130, 67, 235, 19));
    // Spaces are wider in some fonts than in the reference one: never cut "Fast".
    richTextBox1->resize(std::max(richTextBox1->width(), richTextBox1->sizeHint().width()),
                         richTextBox1->height());

    button25 =
        button(this, "button25", QStringLiteral("Start Orbivue"), units.rect(90, 535, 200, 23));
    connect(button25, &QPushButton::clicked, this, &Form1::button25_Click);

    // Focus: the view options, the start button, then the series pages.
    setTabOrder(checkBox1, checkBox2);
    setTabOrder(checkBox2, trackBar1);
    setTabOrder(trackBar1, button25);
    setTabOrder(button25, tabControl1);
    for (SeriesPage& page : pages) {
        setTabOrder(page.loadImages, page.removeAll);
        setTabOrder(page.removeAll, page.list);
        setTabOrder(page.list, page.clockwise);
        setTabOrder(page.clockwise, page.counterClockwise);
        setTabOrder(page.counterClockwise, page.moveUp);
        setTabOrder(page.moveUp, page.moveDown);
        setTabOrder(page.moveDown, page.remove);
    }

    // Client area 384 x 562, never smaller than the controls need.
    const QSize client = units.size(384, 562);
    resize(client);
    setMinimumSize(client);
    tabControl1->setCurrentIndex(0);
    // The window opens with the focus at the start of that order.
    checkBox1->setFocus();
}

Form1::~Form1() = default;

void Form1::buildSeriesPage(SeriesPage& s) {
    s.page = new QWidget();
    s.page->setObjectName(QLatin1String(s.names[0]));
    s.page->setAutoFillBackground(true);
    tabControl1->addTab(s.page, s.title);
    s.loadImages =
        button(s.page, s.names[2], QStringLiteral("Load Images"), units.rect(3, 6, 81, 23));
    s.removeAll =
        button(s.page, s.names[3], QStringLiteral("Remove all Images"), units.rect(91, 6, 105, 23));
    s.list = new QListWidget(s.page);
    s.list->setObjectName(QLatin1String(s.names[1]));
    s.list->setGeometry(units.rect(6, 35, 350, 225));
    s.list->setMinimumSize(units.size(350, 225));
    s.list->setSelectionMode(QAbstractItemView::SingleSelection);
    s.list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    s.list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A list of many thousand paths lays itself out in steps between events,
    // so the editor answers at once however long a loaded series is.
    s.list->setLayoutMode(QListView::Batched);
    new ListFilling(s.list);

    s.selected = new QGroupBox(QStringLiteral("Selected Image"), s.page);
    s.selected->setObjectName(QLatin1String(s.names[4]));
    s.selected->setGeometry(units.rect(6, 266, 350, 47));
    s.moveUp = button(s.selected, s.names[5], QStringLiteral("Move Up"), units.rect(6, 17, 75, 23));
    s.moveDown =
        button(s.selected, s.names[6], QStringLiteral("Move Down"), units.rect(87, 17, 75, 23));
    s.remove =
        button(s.selected, s.names[7], QStringLiteral("Remove"), units.rect(168, 17, 75, 23));

    s.direction = new QGroupBox(QStringLiteral("Capture Direction"), s.page);
    s.direction->setObjectName(QLatin1String(s.names[8]));
    s.direction->setGeometry(units.rect(6, 320, 350, 42));
    s.clockwise = new QRadioButton(QStringLiteral("Clockwise"), s.direction);
    s.clockwise->setObjectName(QLatin1String(s.names[9]));
    s.clockwise->move(units.x(8), units.y(19));
    s.clockwise->adjustSize();
    s.clockwise->setChecked(true);
    s.counterClockwise = new QRadioButton(QStringLiteral("Counter Clockwise"), s.direction);
    s.counterClockwise->setObjectName(QLatin1String(s.names[10]));
    s.counterClockwise->move(units.x(95), units.y(19));
    s.counterClockwise->adjustSize();
}

void Form1::resizeEvent(QResizeEvent* event) {
    // The menu bar spans the width inside the margin; nothing else moves.
    menuStrip1->setGeometry(units.x(3), units.y(3), event->size().width() - 2 * units.x(3),
                            units.y(26));
    QWidget::resizeEvent(event);
}

// ---- Series list editing.

void Form1::loadImages(QListWidget* list, const QString& seriesName) {
    QStringList paths;
    if (!Toolkit::current().openFiles(
            this, QStringLiteral("Load Images for ") + seriesName,
            QStringLiteral("Bilddateien (*.jpg)|*.jpg|Bilddateien (*.jpeg)|*.jpeg"), true, paths))
        return;
    list->addItems(paths);
}

void Form1::removeSelected(QListWidget* list) {
    const int position = list->currentRow();
    if (position < 0 || list->selectedItems().isEmpty())
        return;
    delete list->takeItem(position);
    list->setCurrentRow(-1);
    list->clearSelection();
}

void Form1::moveSelected(QListWidget* list, int offset) {
    const int position = list->currentRow();
    if (position < 0 || list->selectedItems().isEmpty())
        return;
    const int target = position + offset;
    if (target < 0 || target >= list->count())
        return;
    QListWidgetItem* item = list->takeItem(position);
    list->insertItem(target, item);
    list->setCurrentRow(target);
}

void Form1::button3_Click() {
    loadImages(listBox1, QStringLiteral("Lower Series"));
}
void Form1::button17_Click() {
    loadImages(listBox5, QStringLiteral("Centric Series"));
}
void Form1::button21_Click() {
    loadImages(listBox6, QStringLiteral("Upper Series"));
}
void Form1::button4_Click() {
    listBox1->clear();
}
void Form1::button18_Click() {
    listBox5->clear();
}
void Form1::button22_Click() {
    listBox6->clear();
}
void Form1::button1_Click() {
    moveSelected(listBox1, -1);
}
void Form1::button5_Click() {
    moveSelected(listBox5, -1);
}
void Form1::button23_Click() {
    moveSelected(listBox6, -1);
}
void Form1::button2_Click() {
    moveSelected(listBox1, +1);
}
void Form1::button20_Click() {
    moveSelected(listBox5, +1);
}
void Form1::button24_Click() {
    moveSelected(listBox6, +1);
}
void Form1::button8_Click() {
    removeSelected(listBox1);
}
void Form1::button7_Click() {
    removeSelected(listBox5);
}
void Form1::button6_Click() {
    removeSelected(listBox6);
}

void Form1::newSetToolStripMenuItem_Click() {
    listBox1->clear();
    listBox5->clear();
    listBox6->clear();
    setRadioChecked(radioButton1, true);
    setRadioChecked(radioButton14, true);
    setRadioChecked(radioButton10, true);
    checkBox1->setChecked(false);
    checkBox2->setChecked(true);
    trackBar1->setValue(5);
}

// ---- Menu commands.

void Form1::exitToolStripMenuItem_Click() {
    QApplication::closeAllWindows();
    QApplication::quit();
}

void Form1::helpToolStripMenuItem_Click() {
    Help dialog(this);
    Toolkit::current().showModal(dialog);
}

void Form1::aboutToolStripMenuItem_Click() {
    About dialog(this);
    Toolkit::current().showModal(dialog);
}

void Form1::showError() {
    Error dialog(this);
    Toolkit::current().showModal(dialog);
}
