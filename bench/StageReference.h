#pragma once

#include "TurboJpegHandles.h"
#include "decode/AreaResampler.h"

#include <cstdint>
#include <sys/types.h>
#include <vector>

// What the texture stage is measured against, on one thread:
// - the decoder's floor: TurboJPEG's whole-picture decode at the scale the
//   texture needs, into a buffer reused from photo to photo, and nothing
//   else — a stage can take no less;
// - the plain reference pipeline: the same decode, then the stretch to the
//   texture by the SSE2 kernel over the whole decoded picture, as a loader
//   without row-by-row work does (its mipmaps are GLU's, on the GL thread).
class StageReference {
  public:
    // Milliseconds of one photo's decode alone, of a texture of at least
    // textureWidth x textureHeight.
    double decodeMs(const std::vector<std::uint8_t>& jpeg, int textureWidth, int textureHeight);
    // Milliseconds of the reference pipeline's CPU part for that texture.
    double referenceMs(const std::vector<std::uint8_t>& jpeg, int textureWidth, int textureHeight);
    // That CPU part itself, into `texture` (textureWidth x textureHeight,
    // four bytes a pixel): what a worker of the reference pipeline does.
    bool stretchInto(const std::vector<std::uint8_t>& jpeg, int textureWidth, int textureHeight,
                     std::uint8_t* texture);

    // The decode alone, into the buffer reused from photo to photo: what a
    // worker of the decoder's floor does.
    bool decode(const std::vector<std::uint8_t>& jpeg, int textureWidth, int textureHeight);

  private:
    TurboJpegHandles::Handle handle;
    std::vector<std::uint8_t> picture, texture;
    int width = 0, height = 0;
    AreaResampler resampler;
};

// Processes of the same session that keep a core busy each, until this
// ends: ORBIVUE_BENCH_LOAD=N of them, a loaded machine that can be had
// again at will.
class BusyProcesses {
  public:
    BusyProcesses(); // as many as ORBIVUE_BENCH_LOAD asks
    explicit BusyProcesses(int count);
    ~BusyProcesses();
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;
    std::size_t count() const { return children.size(); }

  private:
    std::vector<pid_t> children;
};

// The machine's load: runnable threads over the last minute.
double loadAverage();
