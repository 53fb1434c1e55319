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
    // src: sw x sh pixels, top row first, srcStride bytes per row.
    // dst: dw x dh pixels, dw * 4 bytes per row, bottom row first.
    void resample(const std::uint8_t* src, int sw, int sh, std::size_t srcStride,
                  std::uint8_t* dst, int dw, int dh);

    // The contributions of source pixels to each destination pixel of one
    // axis; weights of one destination pixel add up to 1 << 14.
    struct AxisTaps {
        std::vector<int> first;           // first source index per destination index
        std::vector<int> count;           // number of source indices
        std::vector<int> offset;          // start of the weights in `weights`
        std::vector<std::int16_t> weights;
        int maxCount = 0;
    };
    static void computeTaps(int sourceSize, int destinationSize, AxisTaps& taps);

private:
    AxisTaps horizontal;
    AxisTaps vertical;
    std::vector<std::int16_t> rowSums; // one source-width row, 6 fractional bits
    int horizontalFrom = -1, horizontalTo = -1, verticalFrom = -1, verticalTo = -1;
};
