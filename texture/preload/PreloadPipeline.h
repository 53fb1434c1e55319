#pragma once

#include "decode/TextureDecode.h"
#include "preload/MemoryPlan.h"
#include "preload/TextureStore.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Loads a set's photographs: plans their memory, decodes them on worker
// threads (with none, on the calling thread) and hands each result to the
// GL stage on the thread of run(), in file order.
//
// The pipeline owns the size floor: the halvings every photograph decoded
// from now on gets at least, within its own 256-pixel limit. The floor rises
// when memory runs short for a decode or an upload, when a picture turns out
// other than planned, and when the room the process has left no longer
// holds the photographs still to come. A result waiting at more pixels than
// the floor allows it gives its memory back at once and is decoded again,
// and so does a texture uploaded earlier: the set stays at one size, and
// the process never grows into a limit the kernel would end it at.
//
// Each worker keeps at most MemoryPlan::kResultsPerWorker results waiting
// and reuses their buffers. Every worker has ended when the pipeline is
// destroyed.
class PreloadPipeline {
  public:
    // The GL stage, called on the thread of run(). `upload` makes the
    // texture of file `index` from `decoded`, whose pixels stay valid until
    // it returns, and says what became of it; after OutOfMemory it is called
    // again for the same file with a smaller result when there can be one.
    // `unload` (optional) gives back the texture of a file uploaded earlier,
    // which is then loaded again smaller. `done` (optional) is told once per
    // file, when its first upload is final.
    struct Stage {
        std::function<UploadOutcome(std::size_t index, const DecodedTexture& decoded)> upload = {};
        std::function<void(std::size_t index)> unload = {};
        std::function<void(std::size_t index)> done = {};
    };
    // What the process may take of the memory now.
    using RoomReader = std::function<MemoryPlan::Room()>;

    PreloadPipeline(std::vector<const char*> files, const TextureOptions& options,
                    int maxTextureSize, unsigned workers = defaultWorkers(),
                    std::shared_ptr<TextureStore> cache = nullptr);
    ~PreloadPipeline();
    PreloadPipeline(const PreloadPipeline&) = delete;
    PreloadPipeline& operator=(const PreloadPipeline&) = delete;

    // Plans for the memory `room` tells, and watches it from then on (it is
    // read again before each upload and when a picture turns out other than
    // planned): reads every file's header, calling `between` after each,
    // and chooses the halvings and how many of the workers take part.
    // `staging` is what a texture cache would hold besides; the plan's
    // `withStaging` says whether the set fits at full size with it (else it
    // is planned without, and a cache would be of no use). Without a call
    // nothing limits the preload.
    MemoryPlan::Plan plan(RoomReader room, std::uint64_t staging = 0,
                          const std::function<void()>& between = {});
    // A photograph whose entry still belongs to its file is read from the
    // cache, and every other one kept there once decoded at full size. Its
    // staging area counts as taken from then on. Before start().
    void useCache(std::shared_ptr<TextureStore> cache);

    // Lets the workers begin, so that they decode while the owner does other
    // work first. run() starts them when this has not been called.
    void start();
    // Hands every result to the stage in file order; returns when all are
    // uploaded (or rethrows what the stage threw, after stopping the
    // workers).
    void run(const Stage& stage);

    // The floor now.
    int halvings() const { return floor.load(); }

    // One worker per hardware thread, at least one.
    static unsigned defaultWorkers();

  private:
    struct Slot;
    struct Worker;
    void work(Worker& self);
    void decodeInto(std::size_t file, Worker& self, Slot& slot);
    DecodedTexture attempt(std::size_t file, const TextureOptions& current, Worker& self,
                           Slot& slot);
    int admit(std::size_t file, const MemoryPlan::Extent& real, int asked);
    void probeWaiting();
    MemoryPlan::Room room() const;
    MemoryPlan::Fit refloor(std::uint64_t* roomLeft = nullptr);
    MemoryPlan::Fit makeRoom(const Stage& stage, std::uint64_t& roomLeft);
    bool smallerWanted(const DecodedTexture& decoded) const;
    void raiseFloor(int halvings);
    const DecodedTexture& take(std::size_t job, std::size_t file, Slot*& slot);
    void uploadOne(const Stage& stage, std::size_t job);
    void stop();

    std::vector<const char*> files;
    TextureOptions options;
    int maxTextureSize;
    unsigned workerCount;
    std::shared_ptr<TextureStore> cache;
    RoomReader roomReader;
    std::uint64_t taken = 0;  // by the cache's staging area
    std::uint64_t margin = 0; // kept free of the room, as the plan keeps it
    std::atomic<int> floor{0};
    bool started = false;
    bool ended = false; // the cache has been told the preload is over

    std::mutex mutex;
    std::condition_variable resultReady;
    std::condition_variable slotFreed;
    // Under the mutex: the pictures as planned (and as found since), the
    // file of each job in upload order (a file loaded again smaller has a
    // second job), the result of each job, the next job for a worker and the
    // job being uploaded.
    std::vector<MemoryPlan::Extent> extents;
    std::vector<std::size_t> jobs;
    std::vector<Slot*> results;
    std::size_t nextJob = 0;
    std::size_t uploading = 0;
    bool stopping = false;
    Slot* current = nullptr; // the result being uploaded
    std::vector<std::unique_ptr<Worker>> pool;

    // The thread of run(): its own buffers, for what it decodes itself, the
    // texture each file has, and whether the stage has been told the file is
    // done.
    struct UploadedTexture {
        int halvings = -1; // none uploaded
        int longerSide = 0;
    };
    std::unique_ptr<Worker> own;
    std::vector<UploadedTexture> uploaded;
    std::vector<bool> reported;
};
