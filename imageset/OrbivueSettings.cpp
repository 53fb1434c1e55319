#include "OrbivueSettings.h"

OrbivueSettings::OrbivueSettings()
    : clockwise1(true), clockwise2(true), clockwise3(true), skyscraper(false),
      skyscraperZoom(false), zoom(true), speed(5) {}
