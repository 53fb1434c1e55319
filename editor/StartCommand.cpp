#include "StartCommand.h"

#include "Form1.h"

#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QWindow>

bool isCompleteSet(int lower, int centric, int upper) {
    return lower > 0 && (centric == 0 || centric == lower) && (upper == 0 || upper == lower);
}

std::unique_ptr<ViewerRecord> makeViewerRecord(const SetFile::StoredSet& set) {
    auto record = std::make_unique<ViewerRecord>();
    OrbivueSettings& s = record->settings;
    s.setClockwise1(set.clockwise[0]);
    s.setClockwise2(set.clockwise[1]);
    s.setClockwise3(set.clockwise[2]);
    s.setSkyscraper(set.skyscraper);
    s.setZoom(set.zoom);
    s.setSpeed(set.speed);
    // Paths in the file system's narrow encoding, as the image loader opens
    // them (the set holds them as text, in UTF-8).
    auto narrow = [&](const std::vector<std::string>& list, std::size_t i) {
        const std::string& path = i < list.size() ? list[i] : std::string();
        record->paths.push_back(
            QFile::encodeName(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()))));
        return record->paths.back().constData();
    };
    const auto& [lower, centric, upper] = set.lists;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        s.addFileName1(narrow(lower, i));
        if (!centric.empty())
            s.addFileName2(narrow(centric, i));
        if (!upper.empty())
            s.addFileName3(narrow(upper, i));
    }
    return record;
}

bool Form1::setIsComplete() const {
    return isCompleteSet(listBox1->count(), listBox5->count(), listBox6->count());
}

void Form1::button25_Click() {
    if (!setIsComplete()) {
        showError();
        return;
    }
    const std::unique_ptr<ViewerRecord> record = makeViewerRecord(currentSet());

    // Where the user left the window, inside its frame: shown again, it
    // would otherwise be placed anew by window managers that place every
    // window they map. Given to the window itself, the position is one the
    // program asks for, which they keep.
    const QPoint place = geometry().topLeft();
    hide();
    // Let the window system take the editor away before the viewer blocks
    // this thread; no user input is handled meanwhile.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (viewerLauncher)
        viewerLauncher(&record->settings);
    if (QWindow* window = windowHandle())
        window->setPosition(place);
    show();
}
