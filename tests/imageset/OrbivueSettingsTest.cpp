#include "OrbivueSettings.h"

#include <gtest/gtest.h>

TEST(OrbivueSettings, FreshRecordHoldsTheDefaults) {
    const OrbivueSettings s;
    EXPECT_TRUE(s.getFileNames1().empty());
    EXPECT_TRUE(s.getFileNames2().empty());
    EXPECT_TRUE(s.getFileNames3().empty());
    EXPECT_TRUE(s.isClockwise1());
    EXPECT_TRUE(s.isClockwise2());
    EXPECT_TRUE(s.isClockwise3());
    EXPECT_FALSE(s.isSkyscraper());
    EXPECT_FALSE(s.isSkyscraperZoom());
    EXPECT_TRUE(s.isZoom());
    EXPECT_EQ(s.getSpeed(), 5);
}

TEST(OrbivueSettings, ListsAreCopiesOfThePointersNotOfTheText) {
    OrbivueSettings s;
    const char* a = "/photos/a.jpg";
    const char* b = "/photos/b.jpg";
    s.addFileName1(a);
    s.addFileName1(b);
    s.addFileName1(a); // duplicates are kept, in call order
    OrbivueSettings::FileNameList list = s.getFileNames1();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], a);
    EXPECT_EQ(list[1], b);
    EXPECT_EQ(list[2], a);

    s.addFileName1(b);
    EXPECT_EQ(list.size(), 3u) << "an obtained list does not follow the record";
    list.push_back(a);
    EXPECT_EQ(s.getFileNames1().size(), 4u) << "the record does not follow the list";
    EXPECT_TRUE(s.getFileNames2().empty());
}

TEST(OrbivueSettings, EachSeriesAndOptionIsStoredOnItsOwn) {
    OrbivueSettings s;
    s.setClockwise2(false);
    EXPECT_TRUE(s.isClockwise1());
    EXPECT_FALSE(s.isClockwise2());
    EXPECT_TRUE(s.isClockwise3());
    s.setClockwise3(false);
    s.setClockwise1(false);
    EXPECT_FALSE(s.isClockwise1());
    s.addFileName3("/c.jpg");
    EXPECT_TRUE(s.getFileNames2().empty());
    EXPECT_EQ(s.getFileNames3().size(), 1u);
    s.setSkyscraper(true);
    s.setZoom(false);
    EXPECT_TRUE(s.isSkyscraper());
    EXPECT_FALSE(s.isZoom());
    EXPECT_FALSE(s.isSkyscraperZoom()) << "nothing turns skyscraper zoom on";
    for (int speed : {0, 12, -3, 9}) {
        s.setSpeed(speed);
        EXPECT_EQ(s.getSpeed(), speed);
    }
}
