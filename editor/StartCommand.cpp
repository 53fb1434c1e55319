#include "StartCommand.h"

#include "Form1.h"
#include "OrbivueGL.h"
#include "Toolkit.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QRadioButton>
#include <QSlider>

bool isCompleteSet(int lower, int centric, int upper) {
    return lower > 0 && (centric == 0 || centric == lower) && (upper == 0 || upper == lower);
}

std::unique_ptr<ViewerRecord> makeViewerRecord(const EditorSet& set) {
    auto record = std::make_unique<ViewerRecord>();
    OrbivueSettings& s = record->settings;
    s.setClockwise1(set.clockwise1);
    s.setClockwise2(set.clockwise2);
    s.setClockwise3(set.clockwise3);
    s.setSkyscraper(set.skyscraper);
    s.setZoom(set.zoom);
    s.setSpeed(set.speed);
    // Paths in the file system's narrow encoding, as the image loader opens them.
    auto narrow = [&](const QString& path) {
        record->paths.push_back(QFile::encodeName(path));
        return record->paths.back().constData();
    };
    for (int i = 0; i < set.lower.size(); ++i) {
        s.addFileName1(narrow(set.lower[i]));
        if (!set.centric.isEmpty())
            s.addFileName2(narrow(set.centric.value(i)));
        if (!set.upper.isEmpty())
            s.addFileName3(narrow(set.upper.value(i)));
    }
    return record;
}

namespace {} // namespace

bool Form1::setIsComplete() const {
    return isCompleteSet(listBox1->count(), listBox5->count(), listBox6->count());
}

void Form1::button25_Click() {
    if (!setIsComplete()) {
        showError();
        return;
    }
    EditorSet set;
    set.lower = listEntries(listBox1);
    set.centric = listEntries(listBox5);
    set.upper = listEntries(listBox6);
    // Only the Clockwise buttons count: a series with neither button
    // selected is passed as not clockwise.
    set.clockwise1 = radioButton1->isChecked();
    set.clockwise2 = radioButton14->isChecked();
    set.clockwise3 = radioButton10->isChecked();
    set.skyscraper = checkBox1->isChecked();
    set.zoom = checkBox2->isChecked();
    set.speed = trackBar1->value();
    const std::unique_ptr<ViewerRecord> record = makeViewerRecord(set);

    hide();
    // Let the window system take the editor away before the viewer blocks
    // this thread; no user input is handled meanwhile.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (viewerLauncher)
        viewerLauncher(&record->settings);
    else
        OrbivueGL::start(&record->settings);
    show();
}
