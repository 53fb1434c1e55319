#pragma once

#include "OrbivueSettings.h"
#include "SetFile.h"

#include <QByteArray>
#include <QStringList>

#include <deque>
#include <memory>

// A set is complete when the lower series has images and each of the other
// two is empty or exactly as long as the lower one.
bool isCompleteSet(int lower, int centric, int upper);

// A record for the viewer together with the narrow path strings it points
// to: both live exactly as long as this object.
struct ViewerRecord {
    OrbivueSettings settings;
    std::deque<QByteArray> paths; // a deque never moves its elements
};

// Fills a new record from a complete set, in the order the viewer expects:
// flags and options first, then the series position by position. Only the
// Clockwise buttons count: a series with neither button selected is passed
// as not clockwise.
std::unique_ptr<ViewerRecord> makeViewerRecord(const SetFile::StoredSet& set);
