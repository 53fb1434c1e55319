#include "DialogLayout.h"
#include "Dialogs.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

// Every character 7 pixels wide.
int sevenEach(const QString& s) {
    return 7 * static_cast<int>(s.size());
}

const DialogDesign kHelp{{426, 600}, {13, 13}, {339, 565}};
const DialogDesign kAbout{{394, 449}, {12, 170}, {291, 414}};
const DialogDesign kError{{263, 96}, {13, 13}, {176, 61}};
const QSize kScreen{1280, 1024};

} // namespace

// With the reference font each text needs what was measured for it, and the
// dialogs have exactly their designed sizes and buttons.
TEST(DialogLayoutRules, ReferenceTextsGiveTheDesignedDialogs) {
    const struct {
        DialogDesign design;
        QSize text;
    } cases[] = {{kHelp, {389, 546}}, {kAbout, {354, 234}}, {kError, {241, 39}}};
    for (const auto& c : cases) {
        const DialogLayout l = layoutDialog(c.design, DialogUnits::reference(), c.text, kScreen);
        EXPECT_EQ(l.client, c.design.client);
        EXPECT_EQ(l.ok, QRect(c.design.okAt, QSize(75, 23)));
        EXPECT_TRUE(l.text.contains(QRect(c.design.textAt, c.text)));
        EXPECT_FALSE(l.scrolls);
    }
}

TEST(DialogLayoutRules, LargerTextsGrowTheDialogUpToTheScreen) {
    // Wider and taller: "OK" keeps its distance from the bottom right corner.
    DialogLayout l = layoutDialog(kError, DialogUnits::reference(), {300, 60}, kScreen);
    EXPECT_EQ(l.client, QSize(13 + 300 + 9, 13 + 60 + 6 + 23 + 12));
    EXPECT_EQ(l.ok.topLeft(), QPoint(l.client.width() - 87, l.client.height() - 35));
    EXPECT_TRUE(l.text.contains(QRect({13, 13}, QSize(300, 60))));
    EXPECT_FALSE(l.scrolls);
    // Larger than the screen: as large as the screen, and the text scrolls.
    l = layoutDialog(kHelp, DialogUnits{2, 2}, {1500, 1400}, kScreen);
    EXPECT_EQ(l.client, kScreen);
    EXPECT_TRUE(l.scrolls);
    EXPECT_TRUE(QRect(QPoint(), kScreen).contains(l.ok));
    // A screen smaller than the designed dialog wins over it.
    l = layoutDialog(kHelp, DialogUnits::reference(), {389, 546}, {624, 464});
    EXPECT_EQ(l.client, QSize(426, 464));
    EXPECT_TRUE(l.scrolls);
    EXPECT_LE(l.ok.bottom(), 464);
}

TEST(DialogLayoutRules, LongLinesWrapAtSeparatorsAndAnywhere) {
    const QString path = QStringLiteral("/home/user/") + QString(40, QLatin1Char('d')) +
                         QStringLiteral("/") + QString(250, QLatin1Char('f')) +
                         QStringLiteral(".txt");
    const QString message = QStringLiteral("could not be written:\n") + path;
    const QString fitted = fitLines(message, 700, 12, sevenEach);
    const QStringList rows = fitted.split(QLatin1Char('\n'));
    for (const QString& row : rows)
        EXPECT_LE(sevenEach(row), 700) << row.toStdString();
    EXPECT_EQ(rows[0], QStringLiteral("could not be written:")) << "short lines stay";
    EXPECT_EQ(rows[1],
              QStringLiteral("/home/user/") + QString(40, QLatin1Char('d')) + QStringLiteral("/"))
        << "broken after the separator";
    EXPECT_EQ(QString(fitted).remove(QLatin1Char('\n')), QString(message).remove('\n'))
        << "nothing lost or added";
}

TEST(DialogLayoutRules, AHugeValueKeepsItsEndsWithinTheRows) {
    const QString value =
        QStringLiteral("Speed=") + QString(100000, QLatin1Char('7')) + QStringLiteral("END");
    const QStringList rows = fitLines(value, 700, 12, sevenEach).split(QLatin1Char('\n'));
    EXPECT_LE(rows.size(), 12);
    EXPECT_TRUE(rows.front().startsWith(QStringLiteral("Speed=7")));
    EXPECT_TRUE(rows.back().endsWith(QStringLiteral("END")));
    EXPECT_TRUE(rows.join(QString()).contains(QChar(0x2026)));
    for (const QString& row : rows)
        EXPECT_LE(sevenEach(row), 700);
}

namespace {

// What a person would see cut: a label whose text needs more than its place,
// a label or button outside the dialog, a dialog larger than the screen.
::testing::AssertionResult fits(OrbivueDialog& dialog, const DialogDesign& design,
                                const DialogUnits& units) {
    dialog.show(); // lays out the scroll area's parts
    const QRect inside(QPoint(), dialog.size());
    const QSize room = dialog.screen()->availableGeometry().size();
    if (dialog.width() > room.width() || dialog.height() > room.height())
        return ::testing::AssertionFailure() << "dialog " << dialog.width() << " x "
                                             << dialog.height() << " larger than the screen";
    // Never smaller than designed, unless the screen is smaller still (it
    // keeps room for the window's frame and title bar).
    constexpr int kFrameRoom = 64;
    const QSize least = units.size(design.client.width(), design.client.height());
    if ((dialog.width() < least.width() && dialog.width() < room.width() - kFrameRoom) ||
        (dialog.height() < least.height() && dialog.height() < room.height() - kFrameRoom))
        return ::testing::AssertionFailure()
               << "dialog " << dialog.width() << " x " << dialog.height() << " smaller than "
               << least.width() << " x " << least.height();
    if (!inside.contains(dialog.okButton()->geometry()))
        return ::testing::AssertionFailure() << "OK outside the dialog";
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        const QSize needed = label->sizeHint();
        if (needed.width() > label->width() || needed.height() > label->height())
            return ::testing::AssertionFailure() << label->objectName().toStdString() << " needs "
                                                 << needed.width() << " x " << needed.height();
        const auto* area = qobject_cast<const QScrollArea*>(label->parentWidget()->parentWidget());
        if (area != nullptr) {
            // Scrolled: up and down only, inside the dialog.
            if (label->width() > area->viewport()->width() || !inside.contains(area->geometry()))
                return ::testing::AssertionFailure() << "scrolled text " << label->width()
                                                     << " wide in " << area->viewport()->width();
        } else if (!inside.contains(label->geometry())) {
            return ::testing::AssertionFailure()
                   << label->objectName().toStdString() << " outside the dialog";
        }
    }
    return ::testing::AssertionSuccess();
}

class DialogFit : public ::testing::TestWithParam<double> {
  protected:
    void SetUp() override {
        font = initial;
        font.setPointSizeF(initial.pointSizeF() * GetParam());
        QApplication::setFont(font);
    }
    void TearDown() override { QApplication::setFont(initial); }
    const QFont initial = QApplication::font();
    QFont font;
};

} // namespace

// Each dialog at the platform's font, and at one and a half and twice its
// size: nothing cut, nothing off the screen.
TEST_P(DialogFit, EveryDialogShowsAllOfItsText) {
    const DialogUnits units = DialogUnits::fromFont(font);
    const QString longPath = QStringLiteral("/home/user/") + QString(300, QLatin1Char('p')) +
                             QStringLiteral("/tower.ini");
    const QString hugeValue =
        QStringLiteral("The value of Speed is not a number: ") + QString(100000, QLatin1Char('9'));
    Help help(nullptr, units);
    EXPECT_TRUE(fits(help, kHelp, units));
    About about(nullptr, units);
    EXPECT_TRUE(fits(about, kAbout, units));
    Error error(nullptr, units);
    EXPECT_TRUE(fits(error, kError, units));
    FileError path(nullptr, QStringLiteral("could not be written:\n") + longPath, units);
    EXPECT_TRUE(fits(path, kError, units));
    EXPECT_EQ(path.textBlock()->text().remove(QLatin1Char('\n')),
              QString(path.message()).remove(QLatin1Char('\n')))
        << "the whole path is shown";
    FileError value(nullptr, hugeValue + QLatin1Char('\n') + longPath, units);
    EXPECT_TRUE(fits(value, kError, units));
    EXPECT_TRUE(value.textBlock()->text().remove(QLatin1Char('\n')).endsWith(longPath))
        << "a huge value leaves room for the path after it";
}

INSTANTIATE_TEST_SUITE_P(FontSizes, DialogFit, ::testing::Values(1.0, 1.5, 2.0));

TEST(Dialogs, ErrorDialogsShowNoWindowIcon) {
    QWidget owner;
    QPixmap editorIcon(32, 32);
    editorIcon.fill(Qt::red);
    owner.setWindowIcon(QIcon(editorIcon));
    for (const QIcon& icon :
         {Error(&owner).windowIcon(), FileError(&owner, QStringLiteral("x")).windowIcon()}) {
        const QImage image = icon.pixmap(16, 16).toImage();
        bool visible = false;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                visible = visible || qAlpha(image.pixel(x, y)) != 0;
        EXPECT_FALSE(visible);
    }
}
