#pragma once

#include "TextureCache.h"
#include "TextureDecode.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Decodes many image files on worker threads while the thread that owns the
// GL context takes the results in file order: the CPU stage of each load runs
// ahead on the workers, the GL stage stays on the owning thread.
//
// Each worker keeps at most two decoded pictures waiting and recycles their
// buffers, so memory stays bounded however many files there are.
// Every worker has ended when the pipeline is destroyed.
class PreloadPipeline {
  public:
    // Called on the thread of run(), once per file, in file order. The
    // pixels stay valid until it returns.
    using Consumer = std::function<void(std::size_t index, const DecodedTexture& decoded)>;

    // With a cache, a photograph whose entry still belongs to its file is
    // read from the cache, and every other one is kept there once decoded.
    PreloadPipeline(std::vector<const char*> files, const TextureOptions& options,
                    int maxTextureSize, unsigned workers = defaultWorkers(),
                    std::shared_ptr<TextureCache> cache = nullptr);
    ~PreloadPipeline();
    PreloadPipeline(const PreloadPipeline&) = delete;
    PreloadPipeline& operator=(const PreloadPipeline&) = delete;

    // Lets the workers begin, so that they decode while the owner does other
    // work first. run() starts them when this has not been called.
    void start();
    // Hands every result to `consume` in file order; returns when all are
    // taken (or rethrows what `consume` threw, after stopping the workers).
    void run(const Consumer& consume);
    // Called from within `consume`: gives back the memory of the result it
    // was handed, whose pixels are not to be read after this.
    void releaseCurrent();

    // Halvings every file decoded from now on gets at least (within the
    // 256-pixel floor of each): raised by the workers when memory runs short
    // for a file, and by the owner when it does for an upload or when the
    // memory left no longer holds the rest at the size so far. Raising it
    // gives back at once what the workers hold at the old size and the
    // memory of the results they decoded ahead at it, which the owner then
    // finds marked as out of memory, to be decoded again smaller.
    void shrinkTo(int halvings);
    int halvings() const { return floor.load(); }

    // One worker per hardware thread, at least one.
    static unsigned defaultWorkers();

  private:
    struct Slot;
    struct Worker;
    void work(Worker& self);
    void decodeInto(const char* file, TextureScratch& scratch, Slot& slot, int& last);
    void giveBack(Worker& self);
    void stop();

    std::vector<const char*> files;
    TextureOptions options;
    int maxTextureSize;
    unsigned workerCount;
    std::shared_ptr<TextureCache> cache;
    std::atomic<int> floor{0};
    bool started = false;
    bool ended = false; // the cache has been told the preload is over

    std::mutex mutex;
    std::condition_variable resultReady;
    std::condition_variable slotFreed;
    std::size_t nextJob = 0;
    bool stopping = false;
    std::vector<Slot*> results;
    Slot* current = nullptr; // the result being consumed
    std::vector<std::unique_ptr<Worker>> pool;
};
