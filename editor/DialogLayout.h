#pragma once

#include "DialogUnits.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

// Where the parts of the editor's small dialogs go. Each dialog is given at
// the reference font: its client area, where its text block starts and where
// its "OK" button stands. That size is the least a dialog gets; it grows to
// the size its text needs with the font in use, never beyond the room on the
// screen, and its text block scrolls when even that is too small. "OK" keeps
// its distance from the bottom right corner.
struct DialogDesign {
    QSize client;
    QPoint textAt;
    QPoint okAt;
};

struct DialogLayout {
    QSize client;
    QRect text; // the text block's place
    QRect ok;
    bool scrolls = false; // the text needs more than its place
};

// `textNeeded` is the text's size with the font in use, `room` the largest
// client area the screen can show.
DialogLayout layoutDialog(const DialogDesign& design, const DialogUnits& units, QSize textNeeded,
                          QSize room);

// The widest a line of text may be in a dialog that fits `room`.
int widestText(const DialogDesign& design, const DialogUnits& units, QSize room);

// Breaks every line wider than `width` into rows that fit: after a path
// separator, space or other punctuation where the row has one, anywhere
// otherwise. A line that would need more than `mostRows` rows keeps its
// beginning and its end with "…" between them. `measure` gives a text's
// width.
QString fitLines(const QString& text, int width, int mostRows,
                 const std::function<int(const QString&)>& measure);
