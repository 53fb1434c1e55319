#pragma once

#include <turbojpeg.h>

#include <memory>

// TurboJPEG's compressors and decompressors, and the buffers it allocates,
// each freed by its own call when its owner goes. Include only where
// TurboJPEG is linked.
namespace TurboJpegHandles {
struct Destroy {
    void operator()(void* handle) const noexcept { tjDestroy(handle); }
};
struct Free {
    void operator()(unsigned char* buffer) const noexcept { tjFree(buffer); }
};
using Handle = std::unique_ptr<void, Destroy>;
using Buffer = std::unique_ptr<unsigned char, Free>;
} // namespace TurboJpegHandles
