#include "Dialogs.h"

#include "Emblem.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>

#include <algorithm>

namespace {

QString joined(const QStringList& lines) {
    return lines.join(QLatin1Char('\n'));
}

// Room for window decorations around a dialog's client area: a frame of a few
// pixels on each side and a title bar.
constexpr QSize kDecorations{16, 48};
// A line of a message never takes more rows than this, unless it has no more
// characters than the longest path worth reading whole; the middle of a longer
// one gives way to "…".
constexpr int kMostRowsPerLine = 8;
constexpr int kWholeLine = 1024;

QScreen* screenFor(const QWidget* parent) {
    QScreen* screen = parent != nullptr ? parent->screen() : nullptr;
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

QSize roomOn(const QScreen* screen) {
    if (screen == nullptr)
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    return screen->availableGeometry().size() - kDecorations;
}

} // namespace

OrbivueDialog::OrbivueDialog(QWidget* parent, const QString& title, const DialogDesign& design,
                             const QString& body, const DialogUnits& units)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), body(body) {
    setWindowTitle(title);
    setModal(true);
    text = new QLabel(this);
    text->setObjectName(QStringLiteral("label1"));
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    const QSize room = roomOn(screenFor(parent));
    const QFontMetrics metrics(text->font());
    const auto measure = [&](const QString& s) { return metrics.horizontalAdvance(s); };
    // Wraps the text to `width`, less what the label adds to its text's width.
    const auto fitText = [&](int width) {
        const int rows = std::max(kMostRowsPerLine,
                                  kWholeLine * metrics.averageCharWidth() / std::max(1, width) + 2);
        text->setText(fitLines(body, width, rows, measure));
        const int over = text->sizeHint().width() - width;
        if (over > 0)
            text->setText(fitLines(body, width - over, rows, measure));
    };
    const int widest = widestText(design, units, room);
    fitText(widest);
    DialogLayout layout = layoutDialog(design, units, text->sizeHint(), room);
    if (layout.scrolls) {
        // Taller than the screen allows: the text scrolls up and down, its
        // lines narrowed to leave room for the scroll bar.
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        fitText(widest - bar);
        layout = layoutDialog(design, units, text->sizeHint() + QSize(bar, 0), room);
        auto* area = new QScrollArea(this);
        area->setObjectName(QStringLiteral("textArea"));
        area->setFrameShape(QFrame::NoFrame);
        area->setBackgroundRole(QPalette::Window);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        area->setWidget(text);
        area->setGeometry(layout.text);
        text->adjustSize();
    } else {
        text->move(layout.text.topLeft());
        text->adjustSize();
    }

    ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setGeometry(layout.ok);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(layout.client);
}

void OrbivueDialog::centreOnScreen() {
    const QScreen* screen = screenFor(parentWidget());
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void OrbivueDialog::withoutIcon() {
    QPixmap none(16, 16);
    none.fill(Qt::transparent);
    setWindowIcon(QIcon(none));
}

const QStringList& Help::lines() {
    static const QStringList text = {
        QStringLiteral("The orbivue software realizes the pseudo three dimensional assembling of"),
        QStringLiteral(
            "images taken from a circuit around an object, e. g. a building. You may process"),
        QStringLiteral(
            "up to three series of images taken from different heights, by keeping the point"),
        QStringLiteral("of view on the ground or without nicking the camera while capturing."),
        QString(),
        QStringLiteral("Load Images"),
        QStringLiteral("Use the button [Load Images]. A dialog will pop up and you can browse and"),
        QStringLiteral(
            "choose the image files. Only jpeg-files are allowed. An appropriate amount of"),
        QStringLiteral(
            "images for a full roundshot is about 15. To remove all images from the list use"),
        QStringLiteral("the [Remove all Images] button."),
        QStringLiteral(
            "If one image is selected you can remove it with the [Remove] button below the"),
        QStringLiteral(
            "list. In addition it is possible to change the order of the images by using the"),
        QStringLiteral("[Move Up] or [Move Down] buttons while an image is selected."),
        QStringLiteral(
            "If you want to load just one series, use the [Lower Series] tab. To load a second"),
        QStringLiteral(
            "series use the [Centric Series] tab and a third series is loaded by using the"),
        QStringLiteral(
            "[Upper Series] tab. When several series are loaded, note that the amount of"),
        QStringLiteral("images has to be the same."),
        QStringLiteral("If the images where captured clockwise, select [Clockwise] or [Counter"),
        QStringLiteral("Clockwise] vice versa. This has to be done for each series."),
        QString(),
        QStringLiteral("View Options"),
        QStringLiteral(
            "If you have loaded several series, you may decide for the [Skyscraper Mode],"),
        QStringLiteral(
            "which means the images from different height were taken without camera nick."),
        QStringLiteral(
            " [Use Camera Zoom] zooms out and back in while moving right and left or up"),
        QStringLiteral(
            "and down (except in skyscraper mode) during the visualization. It appears more"),
        QStringLiteral("dynamic and fancy."),
        QStringLiteral("[Set Speed] specifies the speed while moving right or left during the "
                       "visualization. "),
        QString(),
        QStringLiteral("Sets"),
        QStringLiteral("When you have loaded your images and chose your adjustments you can save"),
        QStringLiteral(
            "this settings with [File > Save Set] wherever you want and load it again with"),
        QStringLiteral(
            "[File > Load Set].  Sometimes you will notice that you messed things up. Then"),
        QStringLiteral("use [File > New Set] and start again."),
        QString(),
        QStringLiteral("Start the visualization by using the button [Start Orbivue]."),
        QString(),
        QStringLiteral("During Visualization"),
        QStringLiteral(
            "Move left or right by using the arrow keys. If you have loaded more than one"),
        QStringLiteral(
            "series it is possible to move up and down with the arrow keys. To zoom in use"),
        QStringLiteral(
            "the mouse wheel. Move the mouse while the left mouse button is pressed will"),
        QStringLiteral("shift the image. Press the right mouse button to reset the zoom and shift"),
        QStringLiteral("adjustments."),
    };
    return text;
}

Help::Help(QWidget* parent, const DialogUnits& units)
    : OrbivueDialog(parent, QStringLiteral("Help"), {{426, 600}, {13, 13}, {339, 565}},
                    joined(lines()), units) {
    setObjectName(QStringLiteral("Help"));
    centreOnScreen();
}

const QStringList& About::lines() {
    static const QStringList text = {
        QStringLiteral("Orbivue was developed in the Orbivue project by its"),
        QStringLiteral("contributors, as a viewer that turns photographs taken"),
        QStringLiteral("around an object into a walk around it."),
        QString(),
        QStringLiteral("Hardware team:"),
        QStringLiteral("The Orbivue project's camera rig builders"),
        QStringLiteral("and photographers"),
        QString(),
        QStringLiteral("Graphical user interface:"),
        QStringLiteral("The Orbivue authors"),
        QString(),
        QStringLiteral("OpenGL viewer:"),
        QStringLiteral("The Orbivue authors"),
        QString(),
        QStringLiteral("Supervising referent:"),
        QStringLiteral("The Orbivue maintainers"),
        QString(),
        QStringLiteral("For more information see the Orbivue project's pages."),
    };
    return text;
}

About::About(QWidget* parent, const DialogUnits& units)
    : OrbivueDialog(parent, QStringLiteral("About"), {{394, 449}, {12, 170}, {291, 414}},
                    joined(lines()), units) {
    setObjectName(QStringLiteral("About"));
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("pictureBox1"));
    // Where the screen is too narrow for the emblem at this font, it shrinks.
    QRect place = units.rect(74, 12, 252, 147);
    const int widest = width() - 2 * units.x(12);
    if (place.width() > widest) {
        place.setSize({widest, place.height() * widest / place.width()});
        place.moveLeft(units.x(12));
    }
    picture->setGeometry(place);
    picture->setPixmap(orbivueEmblem(place.width(), place.height()));
    centreOnScreen();
}

const QStringList& Error::lines() {
    static const QStringList text = {
        QStringLiteral("There are no images at least in the lower series"),
        QStringLiteral("or unlike numbers of images in the different series."),
        QStringLiteral("Please correct settings and try again."),
    };
    return text;
}

namespace {

const DialogDesign kErrorDialog{{263, 96}, {13, 13}, {176, 61}};

} // namespace

Error::Error(QWidget* parent, const DialogUnits& units)
    : OrbivueDialog(parent, QStringLiteral("Error"), kErrorDialog, joined(lines()), units) {
    setObjectName(QStringLiteral("Error"));
    withoutIcon();
}

FileError::FileError(QWidget* parent, const QString& message, const DialogUnits& units)
    : OrbivueDialog(parent, QStringLiteral("Error"), kErrorDialog, message, units) {
    setObjectName(QStringLiteral("FileError"));
    withoutIcon();
    // The file names it quotes can be selected and copied.
    textBlock()->setTextInteractionFlags(Qt::TextSelectableByMouse);
}
