#include "Dialogs.h"

#include "Emblem.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

QString joined(const QStringList& lines) {
    return lines.join(QLatin1Char('\n'));
}

} // namespace

OrbivueDialog::OrbivueDialog(QWidget* parent, const QString& title, QSize client,
                             const QString& body, QPoint textAt, QPoint okAt,
                             const DialogUnits& units)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(title);
    setModal(true);
    text = new QLabel(body, this);
    text->setObjectName(QStringLiteral("label1"));
    text->setTextFormat(Qt::PlainText);
    text->move(units.x(textAt.x()), units.y(textAt.y()));
    text->adjustSize();
    ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setGeometry(units.rect(okAt.x(), okAt.y(), 75, 23));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(units.size(client.width(), client.height()));
}

void OrbivueDialog::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
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
    : OrbivueDialog(parent, QStringLiteral("Help"), {426, 600}, joined(lines()), {13, 13},
                    {339, 565}, units) {
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
    : OrbivueDialog(parent, QStringLiteral("About"), {394, 449}, joined(lines()), {12, 170},
                    {291, 414}, units) {
    setObjectName(QStringLiteral("About"));
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("pictureBox1"));
    picture->setGeometry(units.rect(74, 12, 252, 147));
    picture->setPixmap(orbivueEmblem(units.x(252), units.y(147)));
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

Error::Error(QWidget* parent, const DialogUnits& units)
    : OrbivueDialog(parent, QStringLiteral("Error"), {263, 96}, joined(lines()), {13, 13},
                    {176, 61}, units) {
    setObjectName(QStringLiteral("Error"));
}

FileError::FileError(QWidget* parent, const QString& message, const DialogUnits& units)
    : OrbivueDialog(parent, QStringLiteral("Error"), {263, 96}, message, {13, 13}, {176, 61},
                    units) {
    setObjectName(QStringLiteral("FileError"));
    // As wide and tall as the message needs, with the button below it.
    textBlock()->setWordWrap(false);
    textBlock()->adjustSize();
    const int width = std::max(units.x(263), textBlock()->width() + units.x(26));
    const int height = textBlock()->y() + textBlock()->height() + units.y(13 + 23 + 12);
    okButton()->move(width - units.x(263 - 176), height - units.y(23 + 12));
    setFixedSize(width, height);
}
