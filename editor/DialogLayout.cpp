#include "DialogLayout.h"

#include <QStringList>

#include <algorithm>

namespace {

// Margins of the designed dialogs at the reference font: at least this much
// right of the text, between the text and "OK", and below "OK".
constexpr int kRightMargin = 9;
constexpr int kTextToButton = 6;
constexpr int kBelowButton = 12;
constexpr QSize kButton{75, 23};

const QChar kEllipsis(0x2026);

// The longest start of `line` from `from` whose width fits; at least one
// character, so that every row makes progress. Searches upwards from a short
// row first: a row is a small part of a long line.
int longestFitting(const QString& line, int from, int width,
                   const std::function<int(const QString&)>& measure) {
    const int left = static_cast<int>(line.size()) - from;
    int low = 1, high = std::min(left, 32);
    while (high < left && measure(line.mid(from, high)) <= width) {
        low = high;
        high = std::min(left, high * 2);
    }
    if (measure(line.mid(from, high)) <= width)
        return high;
    while (high - low > 1) {
        const int mid = (low + high) / 2;
        (measure(line.mid(from, mid)) <= width ? low : high) = mid;
    }
    return low;
}

bool breaksAfter(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c.isSpace() ||
           c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.') ||
           c == QLatin1Char(',') || c == QLatin1Char(';') || c == QLatin1Char(':');
}

// `line` shortened in its middle until it is no wider than `budget`.
QString elideMiddle(const QString& line, int budget,
                    const std::function<int(const QString&)>& measure) {
    int low = 0, high = static_cast<int>(line.size()) / 2;
    auto shortened = [&](int keep) { return line.left(keep) + kEllipsis + line.right(keep); };
    while (low < high) {
        const int mid = (low + high + 1) / 2;
        if (measure(shortened(mid)) <= budget)
            low = mid;
        else
            high = mid - 1;
    }
    return shortened(low);
}

QStringList rowsOf(const QString& line, int width,
                   const std::function<int(const QString&)>& measure) {
    QStringList rows;
    int from = 0;
    while (from < line.size()) {
        int take = longestFitting(line, from, width, measure);
        if (from + take < line.size()) {
            // Break after the last separator of the row, unless that leaves
            // most of the row empty.
            for (int i = take - 1; i > take / 2; --i) {
                if (breaksAfter(line[from + i])) {
                    take = i + 1;
                    break;
                }
            }
        }
        rows << line.mid(from, take);
        from += take;
    }
    return rows;
}

} // namespace

DialogLayout layoutDialog(const DialogDesign& design, const DialogUnits& units, QSize textNeeded,
                          QSize room) {
    const QSize least = units.size(design.client.width(), design.client.height());
    const QPoint textAt(units.x(design.textAt.x()), units.y(design.textAt.y()));
    const QSize button = units.size(kButton.width(), kButton.height());
    const QSize needed(textAt.x() + textNeeded.width() + units.x(kRightMargin),
                       textAt.y() + textNeeded.height() + units.y(kTextToButton) + button.height() +
                           units.y(kBelowButton));
    DialogLayout layout;
    layout.client = least.expandedTo(needed).boundedTo(room);
    // "OK" keeps its distance from the bottom right corner, but stays inside.
    const QPoint fromCorner(least.width() - units.x(design.okAt.x()),
                            least.height() - units.y(design.okAt.y()));
    const QPoint okAt(std::max(0, layout.client.width() - fromCorner.x()),
                      std::max(0, layout.client.height() - fromCorner.y()));
    layout.ok = QRect(okAt, button);
    layout.text = QRect(textAt, QSize(layout.client.width() - textAt.x() - units.x(kRightMargin),
                                      okAt.y() - units.y(kTextToButton) - textAt.y()));
    layout.scrolls =
        textNeeded.width() > layout.text.width() || textNeeded.height() > layout.text.height();
    return layout;
}

int widestText(const DialogDesign& design, const DialogUnits& units, QSize room) {
    return room.width() - units.x(design.textAt.x()) - units.x(kRightMargin);
}

QString fitLines(const QString& text, int width, int mostRows,
                 const std::function<int(const QString&)>& measure) {
    if (width <= 0)
        return text;
    QStringList out;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (measure(line) <= width) {
            out << line;
            continue;
        }
        QStringList rows;
        if (measure(line) <= width * mostRows)
            rows = rowsOf(line, width, measure);
        if (rows.isEmpty() || rows.size() > mostRows) {
            // A row per row given up, so that the shortened line keeps within
            // `mostRows` even where breaks at separators leave rows short.
            int budgetRows = mostRows;
            do {
                rows = rowsOf(elideMiddle(line, width * --budgetRows, measure), width, measure);
            } while (rows.size() > mostRows && budgetRows > 1);
        }
        out << rows;
    }
    return out.join(QLatin1Char('\n'));
}
