#pragma once

#include "TextureDecode.h"

#include <cstddef>
#include <functional>
#include <vector>

// Decodes many image files on worker threads while the calling thread (the
// one with the GL context) takes the results in file order: the CPU stage of
// each load runs ahead on the workers, the GL stage stays on the caller.
//
// Each worker keeps at most two decoded pictures waiting for the caller and
// recycles their buffers, so memory stays bounded however many files there
// are. Every worker has ended when run() returns, also when it throws.
class PreloadPipeline {
public:
    // Called on the thread of run(), once per file, in file order. The
    // pixels stay valid until it returns.
    using Consumer = std::function<void(std::size_t index, const DecodedTexture& decoded)>;

    PreloadPipeline(std::vector<const char*> files, const TextureOptions& options,
                    int maxTextureSize, unsigned workers = defaultWorkers());

    void run(const Consumer& consume);

    // One worker per hardware thread, at least one.
    static unsigned defaultWorkers();

private:
    std::vector<const char*> files;
    TextureOptions options;
    int maxTextureSize;
    unsigned workers;
};
