#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Stretches a picture of four bytes per pixel to a new size: an area average
// where an axis shrinks and a linear interpolation where it grows, in 14-bit
// fixed point, with SSE2 where the processor has it. The output rows are
// written bottom row first, the order in which a texture expects them.
class AreaResampler {
  public:
    // src: sw x sh pixels, srcStride bytes per row.
    // dst: dw x dh pixels, dw * 4 bytes per row, in the reverse row order of
    // src (a top-row-first picture becomes bottom row first), or in the same
    // order when reverseRows is false.
    void resample(const std::uint8_t* src, int sw, int sh, std::size_t srcStride, std::uint8_t* dst,
                  int dw, int dh, bool reverseRows = true);

    // The source pixels that make up each destination pixel of one axis.
    // Every destination pixel has the same even number of taps, padded with
    // zero weights, so that the inner loops have no branches; the weights of
    // one destination pixel add up to 1 << 14.
    struct AxisTaps {
        int taps = 0;                      // stride per destination pixel, even
        std::vector<int> count;            // taps in use per destination pixel, even
        std::vector<int> index;            // taps source indices per destination pixel
        std::vector<std::int16_t> weights; // taps weights per destination pixel
        std::vector<std::uint32_t> pairs;  // the weights two by two, for SSE2
    };
    // Source indices stay within 0 .. sourceSize - 1 (padding taps repeat a
    // valid index).
    static void computeTaps(int sourceSize, int destinationSize, AxisTaps& taps);

  private:
    AxisTaps horizontal;
    AxisTaps vertical;
    std::vector<std::int16_t> rowSums; // one source-width row, 6 fractional bits
    int horizontalFrom = -1, horizontalTo = -1, verticalFrom = -1, verticalTo = -1;
};
