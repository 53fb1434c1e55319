#pragma once

#include <QObject>
#include <QTimer>

class QLabel;
class QListWidget;

// A series list while it lays itself out. A long list is laid out in steps
// between events, and until the last step its rows have no place on the
// screen: the list looks blank and a click finds no row. While that lasts
// the list shows a busy cursor and a line saying it is still filling; a
// click or key on it lays out the rest at once (the user waits for it) and
// then acts on the row meant. Every change of the list starts it again.
class ListFilling : public QObject {
    Q_OBJECT
  public:
    explicit ListFilling(QListWidget* list);

    // Whether rows are still without a place.
    bool filling() const;
    // Lays out the rest now.
    void finish();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void watch();
    void update();

    QListWidget* list;
    QLabel* note;
    QTimer timer;
};
