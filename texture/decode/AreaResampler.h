#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What is done to each row a stretch writes: apply(context, row, width).
struct ResampledRowFinish {
    void (*apply)(void* context, std::uint8_t* row, int width) = nullptr;
    void* context = nullptr;
};

// Stretches a picture of four bytes per pixel to a new size: an area average
// where an axis shrinks and a linear interpolation where it grows, in 14-bit
// fixed point, with AVX-512, AVX2 or SSE2 where the processor has them. The output
// rows are written bottom row first, the order in which a texture expects
// them. Every kernel gives the same bytes.
class AreaResampler {
  public:
    AreaResampler();

    // src: sw x sh pixels, srcStride bytes per row.
    // dst: dw x dh pixels, dw * 4 bytes per row, in the reverse row order of
    // src (a top-row-first picture becomes bottom row first), or in the same
    // order when reverseRows is false. With `opaque` the fourth byte of every
    // output pixel is 255 whatever the source's fourth bytes are. With
    // `halfLevel` (dw and dh even) the level below dst, as
    // Mipmaps::halveRows() makes it, is written there too, from each pair
    // of output rows while it is still in the processor's caches.
    //
    // `finish`, when set, is applied to each output row once it is written
    // and before the level below is made of it (a colour conversion that
    // then runs on pixels still in the processor's caches).
    using RowFinish = ResampledRowFinish;
    void resample(const std::uint8_t* src, int sw, int sh, std::size_t srcStride, std::uint8_t* dst,
                  int dw, int dh, bool reverseRows = true, bool opaque = false,
                  std::uint8_t* halfLevel = nullptr, RowFinish finish = {});

    // The same, with the source rows given one strip at a time, as a decoder
    // that writes a few rows at once makes them. begin() sets the sizes and
    // the destination; then the caller makes the source rows available from
    // the top, a strip at a time, and after each strip calls consume() with
    // the number of rows available so far and a function that gives the
    // address of any of them from firstRowKept() on (the rows before it are
    // read no more, and rowsReadAtOnce() rows and a strip are enough to keep).
    // Each consume() writes the output rows those source rows complete.
    // The source rows may also be of three bytes per pixel (sourceChannels
    // 3: red, green and blue), and the output is then opaque.
    void begin(int sw, int sh, std::uint8_t* dst, int dw, int dh, bool reverseRows, bool opaque,
               std::uint8_t* halfLevel = nullptr, RowFinish finish = {}, int sourceChannels = 4);
    // The first source row that the rows still to be written read.
    int firstRowKept() const;
    // The most source rows one output row reads, after begin().
    int rowsReadAtOnce() const { return mostRowsRead; }
    template <typename RowAt> void consume(int rowsAvailable, RowAt rowAt) {
        const int taps = vertical.taps;
        std::vector<const std::uint8_t*>& rows = rowPointers;
        while (nextRow < outHeight) {
            const std::size_t base = static_cast<std::size_t>(nextRow) * taps;
            if (lastSourceRow[nextRow] >= rowsAvailable)
                return;
            for (int t = 0; t < taps; ++t)
                rows[t] = rowAt(vertical.index[base + t]);
            writeRow(rows.data());
            ++nextRow;
        }
    }

    // The kernels, for comparing them with each other: the fastest the
    // processor has is used unless another is asked for. A kernel the
    // processor lacks is not used: available() tells which it has.
    // Avx512 is Avx2 with the horizontal pass of three-byte rows, where each
    // pixel has at most four taps, done by AVX-512 byte permutes.
    enum class Kernel { Plain, Sse2, Avx2, Avx512 };
    static bool available(Kernel kernel);
    void useKernel(Kernel kernel);

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

    // The horizontal taps as AVX2 takes them: for each destination pixel
    // the first of its source pixels, and its weights in groups of four
    // consecutive source pixels, each group as 16 weights: the first two
    // four times, then the last two four times, the order in which the
    // kernel pairs red, green, blue and alpha of neighbouring pixels.
    struct GroupedTaps {
        int groups = 0; // per destination pixel
        std::vector<int> first;
        std::vector<std::int16_t> weights; // groups * 16 per destination pixel
    };
    static void groupTaps(const AxisTaps& taps, GroupedTaps& grouped);

    // The horizontal taps of three-byte rows as the AVX-512 kernel takes
    // them: sixteen destination pixels a step, their 48 channel values in
    // three runs of sixteen. Each run's source sums lie in a window of 64
    // 16-bit sums from its first source pixel on, so that one byte permute
    // across two registers puts the sums of a pair of taps side by side for
    // one multiply-add; runs of the same shape share their permute. `usable`
    // is false where a run's taps go past its window or a pixel has more
    // than four.
    struct WindowedTaps {
        bool usable = false;
        int pairs = 0;                      // pairs of taps per destination pixel
        std::vector<int> first;             // per run: its first source pixel
        std::vector<std::uint16_t> shape;   // per run and pair: its permute
        std::vector<std::uint8_t> permutes; // 64 byte indices each
        std::vector<std::uint32_t> weights; // per step and pair: 16 pixels' pair weights
    };
    static void windowTaps(const AxisTaps& taps, WindowedTaps& windowed);

  private:
    void prepare(int sw, int sh, int dw, int dh);
    void writeRow(const std::uint8_t* const* rows);

    Kernel kernel;
    AxisTaps horizontal;
    AxisTaps vertical;
    GroupedTaps grouped;
    WindowedTaps windowed;
    std::vector<int> lastSourceRow; // per destination row
    std::vector<const std::uint8_t*> rowPointers;
    std::vector<std::int16_t> rowSums; // one source-width row, 6 fractional bits, and padding
    int horizontalFrom = -1, horizontalTo = -1, verticalFrom = -1, verticalTo = -1;
    int mostRowsRead = 0;
    // The row-by-row state of begin() and consume().
    std::uint8_t* out = nullptr;
    std::uint8_t* half = nullptr;
    RowFinish finishing;
    int outWidth = 0, outHeight = 0, inWidth = 0, inChannels = 4, nextRow = 0;
    bool reverse = true, opaqueOut = false;
};
