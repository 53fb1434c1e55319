#include "ListFilling.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>

ListFilling::ListFilling(QListWidget* watched) : QObject(watched), list(watched) {
    note = new QLabel(QStringLiteral("Filling the list..."), list);
    note->setObjectName(QStringLiteral("fillingNote"));
    note->setAttribute(Qt::WA_TransparentForMouseEvents);
    note->hide();
    timer.setInterval(50);
    connect(&timer, &QTimer::timeout, this, &ListFilling::update);
    QAbstractItemModel* model = list->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &ListFilling::watch);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ListFilling::watch);
    connect(model, &QAbstractItemModel::rowsMoved, this, &ListFilling::watch);
    connect(model, &QAbstractItemModel::modelReset, this, &ListFilling::watch);
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
}

bool ListFilling::filling() const {
    const int count = list->count();
    return count > 0 && list->isVisible() && !list->visualItemRect(list->item(count - 1)).isValid();
}

void ListFilling::finish() {
    if (!filling())
        return;
    list->setLayoutMode(QListView::SinglePass);
    list->doItemsLayout();
    list->setLayoutMode(QListView::Batched);
    update();
}

void ListFilling::watch() {
    // Looked at first once the list has laid out its first step: a short
    // list is whole by then and never shows the note.
    QTimer::singleShot(0, this, &ListFilling::update);
    if (!timer.isActive())
        timer.start();
}

void ListFilling::update() {
    const bool busy = filling();
    if (busy && !note->isVisible()) {
        list->viewport()->setCursor(Qt::BusyCursor);
        note->move(list->viewport()->geometry().topLeft() + QPoint(4, 4));
        note->adjustSize();
        note->show();
    } else if (!busy) {
        list->viewport()->unsetCursor();
        note->hide();
        timer.stop();
    }
}

bool ListFilling::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
        if (watched == list)
            watch();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
        finish();
        break;
    default:
        break;
    }
    return false;
}
