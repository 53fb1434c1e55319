#include "StartCommand.h"
#include "FakeToolkit.h"
#include "Form1.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

// What the viewer was handed, copied while the record was alive.
struct Launch {
    std::vector<std::string> lists[3];
    bool clockwise[3] = {};
    bool skyscraper = false, skyscraperZoom = true, zoom = false;
    int speed = 0;
    bool editorVisible = true;
};

class StartCommand : public ::testing::Test {
  protected:
    StartCommand() {
        form.setViewerLauncher([this](OrbivueSettings* s) {
            Launch l;
            const OrbivueSettings::FileNameList lists[] = {s->getFileNames1(), s->getFileNames2(),
                                                           s->getFileNames3()};
            for (int i = 0; i < 3; ++i)
                for (const char* p : lists[i])
                    l.lists[i].push_back(p);
            l.clockwise[0] = s->isClockwise1();
            l.clockwise[1] = s->isClockwise2();
            l.clockwise[2] = s->isClockwise3();
            l.skyscraper = s->isSkyscraper();
            l.skyscraperZoom = s->isSkyscraperZoom();
            l.zoom = s->isZoom();
            l.speed = s->getSpeed();
            l.editorVisible = form.isVisible();
            launches.push_back(l);
            return 0;
        });
        form.show();
    }
    void series(int lower, int centric, int upper) {
        const int counts[] = {lower, centric, upper};
        QListWidget* lists[] = {form.listBox1, form.listBox5, form.listBox6};
        for (int s = 0; s < 3; ++s) {
            lists[s]->clear();
            for (int i = 0; i < counts[s]; ++i)
                lists[s]->addItem(QStringLiteral("/photos/%1/%2.jpg").arg(s + 1).arg(i));
        }
    }
    FakeToolkit toolkit;
    Form1 form{DialogUnits::reference()};
    std::vector<Launch> launches;
};

} // namespace

TEST(Completeness, LowerSeriesRulesTheOthers) {
    EXPECT_FALSE(isCompleteSet(0, 5, 5));
    EXPECT_FALSE(isCompleteSet(0, 0, 0));
    EXPECT_TRUE(isCompleteSet(5, 0, 0));
    EXPECT_TRUE(isCompleteSet(5, 5, 0));
    EXPECT_TRUE(isCompleteSet(5, 0, 5));
    EXPECT_TRUE(isCompleteSet(5, 5, 5));
    EXPECT_FALSE(isCompleteSet(5, 4, 0));
    EXPECT_FALSE(isCompleteSet(5, 5, 6));
}

TEST_F(StartCommand, IncompleteSetsGetTheErrorDialogAndNoViewer) {
    const int cases[][3] = {{0, 5, 5}, {5, 4, 0}, {5, 5, 6}, {0, 0, 0}};
    for (const auto& c : cases) {
        series(c[0], c[1], c[2]);
        form.button25->click();
    }
    EXPECT_TRUE(launches.empty());
    ASSERT_EQ(toolkit.shown.size(), 4u);
    for (const auto& d : toolkit.shown)
        EXPECT_EQ(d.name, QStringLiteral("Error"));
    EXPECT_TRUE(form.isVisible());
}

TEST_F(StartCommand, RecordHoldsTheSeriesInListOrder) {
    series(5, 0, 0);
    form.button25->click();
    series(5, 5, 0);
    form.button25->click();
    series(5, 0, 5);
    form.button25->click();
    ASSERT_EQ(launches.size(), 3u);
    EXPECT_EQ(launches[0].lists[0].size(), 5u);
    EXPECT_TRUE(launches[0].lists[1].empty());
    EXPECT_TRUE(launches[0].lists[2].empty());
    EXPECT_EQ(launches[1].lists[1].size(), 5u);
    EXPECT_TRUE(launches[1].lists[2].empty());
    EXPECT_TRUE(launches[2].lists[1].empty());
    ASSERT_EQ(launches[2].lists[2].size(), 5u);
    EXPECT_EQ(launches[2].lists[0][3], "/photos/1/3.jpg");
    EXPECT_EQ(launches[2].lists[2][4], "/photos/3/4.jpg");
    EXPECT_TRUE(toolkit.shown.empty());
}

TEST_F(StartCommand, FlagsOptionsAndSpeedFromTheControls) {
    series(2, 2, 2);
    form.radioButton2->setChecked(true);        // lower counter-clockwise
    setRadioChecked(form.radioButton14, false); // centric: neither button
    form.checkBox1->setChecked(true);
    form.checkBox2->setChecked(false);
    form.trackBar1->setValue(1);
    form.button25->click();
    form.trackBar1->setValue(9);
    form.button25->click();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_FALSE(launches[0].clockwise[0]);
    EXPECT_FALSE(launches[0].clockwise[1]) << "neither button counts as not clockwise";
    EXPECT_TRUE(launches[0].clockwise[2]);
    EXPECT_TRUE(launches[0].skyscraper);
    EXPECT_FALSE(launches[0].skyscraperZoom);
    EXPECT_FALSE(launches[0].zoom);
    EXPECT_EQ(launches[0].speed, 1);
    EXPECT_EQ(launches[1].speed, 9);
}

TEST_F(StartCommand, EditorHiddenWhileTheViewerRunsAndUnchangedAfter) {
    series(3, 3, 0);
    form.listBox1->setCurrentRow(2);
    form.radioButton13->setChecked(true);
    form.button25->click();
    form.button25->click();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_FALSE(launches[0].editorVisible);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.listBox1->count(), 3);
    EXPECT_EQ(form.listBox5->count(), 3);
    EXPECT_EQ(form.listBox1->currentRow(), 2);
    EXPECT_TRUE(form.radioButton13->isChecked());
    EXPECT_EQ(form.trackBar1->value(), 5);
}

TEST(ViewerRecordTest, NonAsciiPathsInTheNarrowEncoding) {
    SetFile::StoredSet set;
    set.lists[0] = {"/fotos/Stra\xC3\x9F"
                    "e/h\xC3\xA4user.jpg"};
    const auto record = makeViewerRecord(set);
    const auto list = record->settings.getFileNames1();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_STREQ(list[0], "/fotos/Stra\xC3\x9F"
                          "e/h\xC3\xA4user.jpg");
}
