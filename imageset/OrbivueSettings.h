#pragma once

#include <cstdint>
#include <vector>

// The record that carries one image set from the editor to the viewer: the
// image paths of the lower (1), centric (2) and upper (3) series, the capture
// direction of each series and the view options.
//
// The path lists hold the pointers they are given, never copies of the text:
// whoever adds a path owns the string and keeps it alive for as long as the
// record, or a list obtained from it, is in use.
class OrbivueSettings {
  public:
    using FileNameList = std::vector<const char*>;

    OrbivueSettings();

    // Copies of the series' pointer lists: same pointers, same order, but
    // independent of the record afterwards.
    FileNameList getFileNames1() const { return fileNames1; }
    FileNameList getFileNames2() const { return fileNames2; }
    FileNameList getFileNames3() const { return fileNames3; }

    void addFileName1(const char* fileName) { fileNames1.push_back(fileName); }
    void addFileName2(const char* fileName) { fileNames2.push_back(fileName); }
    void addFileName3(const char* fileName) { fileNames3.push_back(fileName); }

    void setClockwise1(bool value) { clockwise1 = value; }
    void setClockwise2(bool value) { clockwise2 = value; }
    void setClockwise3(bool value) { clockwise3 = value; }
    bool isClockwise1() const { return clockwise1; }
    bool isClockwise2() const { return clockwise2; }
    bool isClockwise3() const { return clockwise3; }

    void setSkyscraper(bool value) { skyscraper = value; }
    bool isSkyscraper() const { return skyscraper; }

    // Camera zoom between series in skyscraper mode; nothing sets it, so it
    // is false in every record.
    bool isSkyscraperZoom() const { return skyscraperZoom; }

    void setZoom(bool value) { zoom = value; }
    bool isZoom() const { return zoom; }

    // Stored unchanged; the editor supplies 1 (slow) to 9 (fast).
    void setSpeed(std::int32_t value) { speed = value; }
    std::int32_t getSpeed() const { return speed; }

  private:
    FileNameList fileNames1;
    FileNameList fileNames2;
    FileNameList fileNames3;
    bool clockwise1;
    bool clockwise2;
    bool clockwise3;
    bool skyscraper;
    bool skyscraperZoom;
    bool zoom;
    std::int32_t speed;
};
