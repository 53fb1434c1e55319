#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Decodes a JPEG picture a few rows at a time, so that what follows the
// decode (the stretch to the texture size) takes each row while it is still
// in the processor's caches instead of from a whole decoded picture in main
// memory. It uses the row interface of the library behind TurboJPEG, with
// the settings TurboJPEG's whole-picture decode uses: the same pixels, byte
// for byte. Damaged but readable data decodes, as with TurboJPEG; nothing
// is written on the terminal.
class JpegRows {
  public:
    // Where the decoded rows go, and what is done with them.
    class Target {
      public:
        // How many rows from row `next` on may be written now (at least
        // one).
        virtual int room(int next) = 0;
        // Where row y goes.
        virtual std::uint8_t* row(int y) = 0;
        // Rows 0 .. rows - 1 are decoded.
        virtual void decoded(int rows) = 0;

      protected:
        ~Target() = default;
    };

    enum class Result { Ok, Failed, OutOfMemory };

    // How the pixels come: red, green, blue and a fourth byte of 255, or
    // red, green and blue.
    enum class Pixels { Rgbx, Rgb };

    // Decodes data scaled by numerator / denominator (as TurboJPEG's fast
    // scales). width and height must be the scaled size TurboJPEG gives for
    // that scale; the target's rows hold width pixels of 4 bytes (3 for
    // Pixels::Rgb).
    Result decode(const std::uint8_t* data, std::size_t size, int numerator, int denominator,
                  Pixels pixels, int width, int height, Target& target);

    JpegRows();
    ~JpegRows();
    JpegRows(const JpegRows&) = delete;
    JpegRows& operator=(const JpegRows&) = delete;

  private:
    struct State;
    std::unique_ptr<State> state;
};
