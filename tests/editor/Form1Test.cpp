#include "Form1.h"
#include "Dialogs.h"
#include "FakeToolkit.h"
#include "StartCommand.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace {

void fill(QListWidget* list, const QStringList& texts) {
    list->clear();
    list->addItems(texts);
}

class Editor : public ::testing::Test {
  protected:
    FakeToolkit toolkit;
    Form1 form{DialogUnits::reference()};
};

// One series page's controls, to run the same cases on all three.
struct Page {
    QListWidget* list;
    QPushButton *load, *removeAll, *moveUp, *moveDown, *remove;
    QRadioButton *clockwise, *counter;
    QString name;
};

std::vector<Page> pages(Form1& f) {
    return {{f.listBox1, f.button3, f.button4, f.button1, f.button2, f.button8, f.radioButton1,
             f.radioButton2, QStringLiteral("Lower Series")},
            {f.listBox5, f.button17, f.button18, f.button19, f.button20, f.button7, f.radioButton14,
             f.radioButton13, QStringLiteral("Centric Series")},
            {f.listBox6, f.button21, f.button22, f.button23, f.button24, f.button6, f.radioButton10,
             f.radioButton9, QStringLiteral("Upper Series")}};
}

} // namespace

TEST_F(Editor, StartState) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Orbivue v1.18"));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_TRUE(form.windowIcon().availableSizes().contains(QSize(64, 64)));
    for (const Page& p : pages(form)) {
        EXPECT_EQ(p.list->count(), 0);
        EXPECT_TRUE(p.clockwise->isChecked());
        EXPECT_FALSE(p.counter->isChecked());
        EXPECT_EQ(p.list->selectionMode(), QAbstractItemView::SingleSelection);
    }
    EXPECT_FALSE(form.checkBox1->isChecked());
    EXPECT_TRUE(form.checkBox2->isChecked());
    EXPECT_EQ(form.trackBar1->value(), 5);
    EXPECT_EQ(form.tabControl1->currentIndex(), 0);
    EXPECT_EQ(form.tabControl1->tabText(0), QStringLiteral("Lower Series"));
    EXPECT_EQ(form.tabControl1->tabText(1), QStringLiteral("Centric Series"));
    EXPECT_EQ(form.tabControl1->tabText(2), QStringLiteral("Upper Series"));
}

TEST_F(Editor, ControlsCarryTheirNamesTextsAndGeometry) {
    struct Expected {
        const char* name;
        const char* text;
        QRect geometry; // empty size: fitted to the text
    };
    const Expected window[] = {
        {"menuStrip1", nullptr, {3, 3, 378, 26}},
        {"tabControl1", nullptr, {7, 38, 370, 395}},
        {"groupBox2", "View Options", {7, 439, 370, 90}},
        {"checkBox1", "Skyscaper Mode", {10, 29, 0, 0}},
        {"checkBox2", "Use Camera Zoom", {10, 52, 0, 0}},
        {"richTextBox2", "Set Speed", {135, 18, 100, 19}},
        {"trackBar1", nullptr, {130, 37, 224, 45}},
        {"button25", "Start Orbivue", {90, 535, 200, 23}},
    };
    for (const Expected& e : window) {
        QWidget* w = form.findChild<QWidget*>(QLatin1String(e.name));
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->pos(), e.geometry.topLeft()) << e.name;
        if (!e.geometry.size().isEmpty()) {
            EXPECT_EQ(w->size(), e.geometry.size()) << e.name;
        }
        if (e.text != nullptr) {
            QString text = w->property("text").toString();
            if (auto* g = qobject_cast<QGroupBox*>(w))
                text = g->title();
            EXPECT_EQ(text, QLatin1String(e.text)) << e.name;
        }
    }
    EXPECT_EQ(form.richTextBox1->pos(), QPoint(130, 67));
    EXPECT_EQ(form.richTextBox1->text(),
              QStringLiteral("Slow") + QString(59, QLatin1Char(' ')) + QStringLiteral("Fast"));
    EXPECT_EQ(form.size(), QSize(384, 562));
    EXPECT_EQ(form.minimumSize(), QSize(384, 562));

    const char* perPage[3][11] = {
        {"tabPage1", "listBox1", "button3", "button4", "groupBox7", "button1", "button2", "button8",
         "groupBox3", "radioButton1", "radioButton2"},
        {"tabPage2", "listBox5", "button17", "button18", "groupBox6", "button19", "button20",
         "button7", "groupBox4", "radioButton14", "radioButton13"},
        {"tabPage3", "listBox6", "button21", "button22", "groupBox1", "button23", "button24",
         "button6", "groupBox5", "radioButton10", "radioButton9"}};
    const char* texts[11] = {nullptr,
                             nullptr,
                             "Load Images",
                             "Remove all Images",
                             "Selected Image",
                             "Move Up",
                             "Move Down",
                             "Remove",
                             "Capture Direction",
                             "Clockwise",
                             "Counter Clockwise"};
    const QRect geometry[11] = {{},
                                {6, 35, 350, 225},
                                {3, 6, 81, 23},
                                {91, 6, 105, 23},
                                {6, 266, 350, 47},
                                {6, 17, 75, 23},
                                {87, 17, 75, 23},
                                {168, 17, 75, 23},
                                {6, 320, 350, 42},
                                {8, 19, 0, 0},
                                {95, 19, 0, 0}};
    for (int page = 0; page < 3; ++page) {
        QWidget* tab = form.tabControl1->widget(page);
        ASSERT_EQ(tab->objectName(), QLatin1String(perPage[page][0]));
        for (int i = 1; i < 11; ++i) {
            QWidget* w = tab->findChild<QWidget*>(QLatin1String(perPage[page][i]));
            ASSERT_NE(w, nullptr) << perPage[page][i];
            EXPECT_EQ(w->pos(), geometry[i].topLeft()) << perPage[page][i];
            if (!geometry[i].size().isEmpty()) {
                EXPECT_EQ(w->size(), geometry[i].size()) << perPage[page][i];
            }
            QString text = w->property("text").toString();
            if (auto* g = qobject_cast<QGroupBox*>(w))
                text = g->title();
            if (texts[i] != nullptr) {
                EXPECT_EQ(text, QLatin1String(texts[i])) << perPage[page][i];
            }
        }
    }

    QStringList menu;
    for (QAction* a : form.menuStrip1->actions())
        menu << a->text();
    EXPECT_EQ(menu, QStringList({"File", "Help"}));
    QStringList file, help;
    for (QAction* a : form.fileToolStripMenuItem->actions())
        file << a->text();
    for (QAction* a : form.helpToolStripMenuItem->actions())
        help << a->text();
    EXPECT_EQ(file, QStringList({"New Set", "Load Set", "Save Set", "Exit"}));
    EXPECT_EQ(help, QStringList({"Orbivue Help", "About Orbivue"}));
}

TEST_F(Editor, EnlargingWidensOnlyTheMenuBar) {
    form.show();
    form.resize(600, 700);
    EXPECT_EQ(form.menuStrip1->width(), 594);
    EXPECT_EQ(form.tabControl1->geometry(), QRect(7, 38, 370, 395));
    EXPECT_EQ(form.button25->geometry(), QRect(90, 535, 200, 23));
}

TEST_F(Editor, GeometryScalesWithTheDialogFont) {
    Form1 large(DialogUnits{1.5, 2.0});
    EXPECT_EQ(large.button25->geometry(), QRect(135, 1070, 300, 46));
    EXPECT_EQ(large.size(), QSize(576, 1124));
}

// The next widget that the Tab key reaches, skipping the widget's own parts.
QWidget* nextTabStop(QWidget* w) {
    for (QWidget* next = w->nextInFocusChain(); next != w; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && !w->isAncestorOf(next))
            return next;
    }
    return nullptr;
}

TEST_F(Editor, FocusOrderRunsFromTheViewOptions) {
    form.show();
    form.activateWindow();
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), form.checkBox1) << "the window opens at its start";
    EXPECT_EQ(nextTabStop(form.checkBox1), form.checkBox2);
    EXPECT_EQ(nextTabStop(form.checkBox2), form.trackBar1);
    EXPECT_EQ(nextTabStop(form.trackBar1), form.button25);
    QWidget* afterStart = nextTabStop(form.button25);
    EXPECT_TRUE(afterStart == form.tabControl1 || form.tabControl1->isAncestorOf(afterStart));
    EXPECT_EQ(nextTabStop(form.button3), form.button4);
    EXPECT_EQ(nextTabStop(form.button4), form.listBox1);
    EXPECT_EQ(nextTabStop(form.listBox1), form.radioButton1);
    EXPECT_EQ(nextTabStop(form.radioButton1), form.radioButton2);
    EXPECT_EQ(nextTabStop(form.radioButton2), form.button1);
    EXPECT_EQ(nextTabStop(form.button1), form.button2);
    EXPECT_EQ(nextTabStop(form.button2), form.button8);
}

TEST_F(Editor, SliderTakesOnlyOneToNine) {
    form.trackBar1->setValue(12);
    EXPECT_EQ(form.trackBar1->value(), 9);
    form.trackBar1->setValue(0);
    EXPECT_EQ(form.trackBar1->value(), 1);
    EXPECT_EQ(form.trackBar1->singleStep(), 1);
    EXPECT_EQ(form.trackBar1->pageStep(), 5);
    EXPECT_EQ(form.trackBar1->tickPosition(), QSlider::TicksBelow);
}

// Every pixel the speed slider draws (groove, handle, ticks) lies above every
// pixel of its caption, so that the end ticks stay clear of "Slow" and
// "Fast"; at scale 2 too (editor::DialogsAtScaleFactorTwo).
TEST_F(Editor, SpeedSliderTicksClearOfItsCaption) {
    form.show();
    // The rows that change when `part` is not drawn.
    auto rowsOf = [&](QWidget* part) {
        const QImage with = form.groupBox2->grab().toImage();
        part->hide();
        const QImage without = form.groupBox2->grab().toImage();
        part->show();
        std::pair<int, int> rows{with.height(), -1};
        for (int y = 0; y < with.height(); ++y)
            for (int x = 0; x < with.width(); ++x)
                if (with.pixel(x, y) != without.pixel(x, y)) {
                    rows = {std::min(rows.first, y), std::max(rows.second, y)};
                    break;
                }
        return rows;
    };
    const auto slider = rowsOf(form.trackBar1);
    const auto caption = rowsOf(form.richTextBox1);
    ASSERT_GE(slider.second, 0);
    ASSERT_GE(caption.second, 0);
    EXPECT_LT(slider.second, caption.first) << "the slider reaches row " << slider.second
                                            << ", its caption starts at row " << caption.first;
    EXPECT_EQ(form.trackBar1->geometry(), QRect(130, 37, 224, 45)) << "the box keeps its size";
}

TEST_F(Editor, LoadImagesAppendsInTheDialogsOrder) {
    for (const Page& p : pages(form)) {
        toolkit.fileDialogs.clear();
        fill(p.list, {"/x/old.jpg"});
        p.list->setCurrentRow(0);
        toolkit.openAnswers = {{"/p/b.jpg", "/p/a.JPG", "/x/old.jpg"}};
        p.load->click();
        ASSERT_EQ(toolkit.fileDialogs.size(), 1u);
        EXPECT_EQ(toolkit.fileDialogs[0].title, QStringLiteral("Load Images for ") + p.name);
        EXPECT_EQ(toolkit.fileDialogs[0].filter,
                  QStringLiteral("Bilddateien (*.jpg)|*.jpg|Bilddateien (*.jpeg)|*.jpeg"));
        EXPECT_TRUE(toolkit.fileDialogs[0].multiple);
        EXPECT_EQ(listEntries(p.list),
                  QStringList({"/x/old.jpg", "/p/b.jpg", "/p/a.JPG", "/x/old.jpg"}));
        EXPECT_EQ(p.list->currentRow(), 0) << "the selection stays";
        // Cancelled: nothing changes.
        p.load->click();
        EXPECT_EQ(p.list->count(), 4);
    }
    EXPECT_EQ(form.listBox1->count(), 4) << "other pages untouched";
}

TEST_F(Editor, MoveAndRemoveActOnTheSelectedPosition) {
    for (const Page& p : pages(form)) {
        fill(p.list, {"A", "B", "C"});
        p.list->setCurrentRow(1);
        p.moveUp->click();
        EXPECT_EQ(listEntries(p.list), QStringList({"B", "A", "C"}));
        EXPECT_EQ(p.list->currentRow(), 0);
        p.moveUp->click(); // first entry: nothing, still selected
        EXPECT_EQ(listEntries(p.list), QStringList({"B", "A", "C"}));
        EXPECT_EQ(p.list->currentRow(), 0);
        EXPECT_TRUE(p.list->item(0)->isSelected());

        fill(p.list, {"A", "B", "C"});
        p.list->setCurrentRow(1);
        p.moveDown->click();
        EXPECT_EQ(listEntries(p.list), QStringList({"A", "C", "B"}));
        EXPECT_EQ(p.list->currentRow(), 2);
        p.moveDown->click(); // last entry: nothing
        EXPECT_EQ(listEntries(p.list), QStringList({"A", "C", "B"}));
        EXPECT_EQ(p.list->currentRow(), 2);

        fill(p.list, {"A", "B", "A"});
        p.list->setCurrentRow(2);
        p.moveUp->click();
        EXPECT_EQ(listEntries(p.list), QStringList({"A", "A", "B"}));
        EXPECT_EQ(p.list->currentRow(), 1);
        fill(p.list, {"A", "B", "A"});
        p.list->setCurrentRow(2);
        p.remove->click();
        EXPECT_EQ(listEntries(p.list), QStringList({"A", "B"}));
        EXPECT_TRUE(p.list->selectedItems().isEmpty());

        // Nothing selected, or an empty list: nothing happens.
        fill(p.list, {"A", "B"});
        for (QPushButton* b : {p.moveUp, p.moveDown, p.remove})
            b->click();
        EXPECT_EQ(listEntries(p.list), QStringList({"A", "B"}));
        p.list->clear();
        for (QPushButton* b : {p.moveUp, p.moveDown, p.remove})
            b->click();
        EXPECT_EQ(p.list->count(), 0);
    }
}

TEST_F(Editor, RemoveAllEmptiesOnlyItsOwnSeries) {
    fill(form.listBox1, {"a", "b"});
    fill(form.listBox5, {"c", "d"});
    fill(form.listBox6, {"e", "f"});
    form.listBox5->setCurrentRow(1);
    form.button18->click();
    EXPECT_EQ(form.listBox5->count(), 0);
    EXPECT_TRUE(form.listBox5->selectedItems().isEmpty());
    EXPECT_EQ(form.listBox1->count(), 2);
    EXPECT_EQ(form.listBox6->count(), 2);
}

TEST_F(Editor, TabSwitchingKeepsEachPagesState) {
    fill(form.listBox1, {"a", "b"});
    form.listBox1->setCurrentRow(1);
    form.radioButton13->setChecked(true);
    form.tabControl1->setCurrentIndex(1);
    form.tabControl1->setCurrentIndex(2);
    form.tabControl1->setCurrentIndex(0);
    EXPECT_EQ(form.listBox1->currentRow(), 1);
    EXPECT_TRUE(form.radioButton13->isChecked());
    EXPECT_FALSE(form.radioButton14->isChecked());
    EXPECT_TRUE(form.radioButton1->isChecked()) << "the pairs are independent";
}

TEST_F(Editor, NewSetRestoresTheStartStateButNotThePage) {
    fill(form.listBox1, {"a"});
    fill(form.listBox5, {"b"});
    fill(form.listBox6, {"c"});
    form.radioButton2->setChecked(true);
    setRadioChecked(form.radioButton14, false);
    form.checkBox1->setChecked(true);
    form.checkBox2->setChecked(false);
    form.trackBar1->setValue(8);
    form.tabControl1->setCurrentIndex(2);
    form.newSetToolStripMenuItem->trigger();
    for (const Page& p : pages(form)) {
        EXPECT_EQ(p.list->count(), 0);
        EXPECT_TRUE(p.clockwise->isChecked());
        EXPECT_FALSE(p.counter->isChecked());
    }
    EXPECT_FALSE(form.checkBox1->isChecked());
    EXPECT_TRUE(form.checkBox2->isChecked());
    EXPECT_EQ(form.trackBar1->value(), 5);
    EXPECT_EQ(form.tabControl1->currentIndex(), 2);
}

TEST_F(Editor, RadioPairsCanBothBeClear) {
    setRadioChecked(form.radioButton1, false);
    EXPECT_FALSE(form.radioButton1->isChecked());
    EXPECT_FALSE(form.radioButton2->isChecked());
    setRadioChecked(form.radioButton2, true);
    EXPECT_TRUE(form.radioButton2->isChecked());
    setRadioChecked(form.radioButton1, true);
    EXPECT_TRUE(form.radioButton1->isChecked());
    EXPECT_FALSE(form.radioButton2->isChecked());
    EXPECT_TRUE(form.radioButton1->autoExclusive());
}

TEST_F(Editor, HelpAndAboutOpenFreshModalDialogs) {
    form.orbivueHelpToolStripMenuItem->trigger();
    form.orbivueHelpToolStripMenuItem->trigger();
    form.aboutToolStripMenuItem->trigger();
    ASSERT_EQ(toolkit.shown.size(), 3u);
    EXPECT_EQ(toolkit.shown[0].name, QStringLiteral("Help"));
    EXPECT_EQ(toolkit.shown[0].text, toolkit.shown[1].text);
    EXPECT_EQ(toolkit.shown[2].name, QStringLiteral("About"));
    EXPECT_EQ(toolkit.shown[2].title, QStringLiteral("About"));
}

TEST(Dialogs, HelpTextLineByLine) {
    const QStringList& lines = Help::lines();
    ASSERT_EQ(lines.size(), 42);
    EXPECT_EQ(
        lines[0],
        QStringLiteral("The orbivue software realizes the pseudo three dimensional assembling of"));
    EXPECT_TRUE(lines[4].isEmpty());
    EXPECT_EQ(lines[5], QStringLiteral("Load Images"));
    EXPECT_EQ(lines[23],
              QStringLiteral(
                  " [Use Camera Zoom] zooms out and back in while moving right and left or up"));
    EXPECT_EQ(lines[26],
              QStringLiteral("[Set Speed] specifies the speed while moving right or left "
                             "during the visualization. "));
    EXPECT_EQ(lines[31], QStringLiteral("[File > Load Set].  Sometimes you will notice that you "
                                        "messed things up. Then"));
    EXPECT_EQ(lines[41], QStringLiteral("adjustments."));
    int empty = 0;
    for (const QString& l : lines)
        empty += l.isEmpty();
    EXPECT_EQ(empty, 5);
    Help help(nullptr, DialogUnits::reference());
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Help"));
    EXPECT_EQ(help.textBlock()->pos(), QPoint(13, 13));
    EXPECT_EQ(help.textBlock()->text().split(QLatin1Char('\n')), lines);
}

TEST(Dialogs, ErrorTextAndEveryDialogsFrame) {
    ASSERT_EQ(Error::lines().size(), 3);
    EXPECT_EQ(Error::lines()[0],
              QStringLiteral("There are no images at least in the lower series"));
    EXPECT_EQ(Error::lines()[1],
              QStringLiteral("or unlike numbers of images in the different series."));
    EXPECT_EQ(Error::lines()[2], QStringLiteral("Please correct settings and try again."));
    Error error(nullptr, DialogUnits::reference());
    About about(nullptr, DialogUnits::reference());
    const QLabel* picture = about.findChild<QLabel*>(QStringLiteral("pictureBox1"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(74, 12, 252, 147));
    EXPECT_TRUE(picture->pixmap().hasAlphaChannel());
    EXPECT_EQ(About::lines().size(), 18);
    for (QDialog* d : std::initializer_list<QDialog*>{&error, &about}) {
        const Qt::WindowFlags f = d->windowFlags();
        EXPECT_FALSE(f & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(f & Qt::WindowSystemMenuHint);
        EXPECT_FALSE(f & Qt::WindowMinMaxButtonsHint);
        EXPECT_TRUE(f & Qt::WindowTitleHint);
        EXPECT_EQ(d->minimumSize(), d->maximumSize()) << "fixed size";
        EXPECT_TRUE(d->isModal());
    }
    // OK closes the dialog.
    error.show();
    error.okButton()->click();
    EXPECT_FALSE(error.isVisible());
    EXPECT_EQ(error.result(), QDialog::Accepted);
}

TEST_F(Editor, ExitClosesTheWindowWithoutAsking) {
    fill(form.listBox1, {"unsaved"});
    form.show();
    form.exitToolStripMenuItem->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(toolkit.shown.empty());
}

TEST(Toolkit, WindowsFiltersBecomeCaselessQtFilters) {
    EXPECT_EQ(
        qtNameFilters(QStringLiteral("Bilddateien (*.jpg)|*.jpg|Bilddateien (*.jpeg)|*.jpeg")),
        QStringList(
            {"Bilddateien (*.jpg) (*.[jJ][pP][gG])", "Bilddateien (*.jpeg) (*.[jJ][pP][eE][gG])"}));
    EXPECT_EQ(qtNameFilters(QStringLiteral("Settingddatei (.ini)|*.ini")),
              QStringList({"Settingddatei (.ini) (*.[iI][nN][iI])"}));
}

// A long list lays itself out in steps; meanwhile it says it is filling, and
// a click on a row waits for the layout and then selects the row, which
// Remove then takes away.
TEST_F(Editor, ClicksWhileAListFillsAreNotLost) {
    form.show();
    QStringList paths;
    for (int i = 0; i < 20000; ++i)
        paths << QStringLiteral("/photos/%1.jpg").arg(i);
    for (int n = 0; n < 3; ++n) {
        const Page p = pages(form)[n];
        form.tabControl1->setCurrentIndex(n);
        fill(p.list, paths);
        QApplication::processEvents();
        const QWidget* note = p.list->findChild<QWidget*>(QStringLiteral("fillingNote"));
        EXPECT_TRUE(note != nullptr && note->isVisible()) << p.name.toStdString();
        EXPECT_EQ(p.list->viewport()->cursor().shape(), Qt::BusyCursor);
        const QRect row0 = p.list->visualItemRect(p.list->item(0));
        const QPoint row1 = row0.center() + QPoint(0, row0.height());
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent click(type, row1, p.list->viewport()->mapToGlobal(row1), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(p.list->viewport(), &click);
        }
        p.remove->click();
        EXPECT_EQ(p.list->item(1)->text(), paths[2]) << p.name.toStdString();
    }
}
