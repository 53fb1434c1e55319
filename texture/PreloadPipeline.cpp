#include "PreloadPipeline.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// One decoded picture waiting for the caller; its pixels live in `pixels`.
struct Slot {
    DecodedTexture decoded;
    PixelBuffer pixels;
    bool busy = false; // claimed by a job, until the caller has taken it
};

struct Worker {
    TextureScratch scratch;
    Slot slots[2];
    std::thread thread;

    Slot* freeSlot() {
        for (Slot& s : slots)
            if (!s.busy)
                return &s;
        return nullptr;
    }
};

// Runs the CPU stage of one file into `slot`, moving the buffer that holds
// the result into the slot (and the slot's old buffer back to the scratch).
void decodeInto(const char* file, const TextureOptions& options, int maxTextureSize,
                TextureScratch& scratch, Slot& slot) {
    DecodedTexture decoded;
    try {
        decodeTexture(file, options, maxTextureSize, scratch, decoded);
        if (decoded.ok) {
            PixelBuffer& holder =
                decoded.pixels == scratch.texture.data() ? scratch.texture : scratch.decoded;
            std::swap(holder, slot.pixels); // the memory itself does not move
        }
    } catch (...) {
        // Out of memory, for instance: this picture fails, the others go on.
        const DecodedTexture partial = decoded;
        decoded = DecodedTexture();
        decoded.imageTypeKnown = partial.imageTypeKnown;
        decoded.imageType = partial.imageType;
    }
    slot.decoded = decoded;
}

} // namespace

PreloadPipeline::PreloadPipeline(std::vector<const char*> paths, const TextureOptions& o,
                                 int maxSize, unsigned count)
    : files(std::move(paths)), options(o), maxTextureSize(maxSize),
      workers(count == 0 ? 1 : count) {}

unsigned PreloadPipeline::defaultWorkers() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

void PreloadPipeline::run(const Consumer& consume) {
    const std::size_t count = files.size();
    std::mutex mutex;
    std::condition_variable resultReady, slotFreed;
    std::size_t nextJob = 0;
    bool stopping = false;
    std::vector<Slot*> results(count, nullptr);
    std::vector<std::unique_ptr<Worker>> pool;

    auto work = [&](Worker& self) {
        for (;;) {
            Slot* slot = nullptr;
            std::size_t job = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                slotFreed.wait(lock, [&] {
                    return stopping || nextJob >= count || self.freeSlot() != nullptr;
                });
                if (stopping || nextJob >= count)
                    return;
                job = nextJob++;
                slot = self.freeSlot();
                slot->busy = true;
            }
            decodeInto(files[job], options, maxTextureSize, self.scratch, *slot);
            {
                std::lock_guard<std::mutex> lock(mutex);
                results[job] = slot;
            }
            resultReady.notify_all();
        }
    };

    // Ends and joins every worker, whatever happens on this thread.
    struct Joiner {
        std::vector<std::unique_ptr<Worker>>& pool;
        std::mutex& mutex;
        bool& stopping;
        std::condition_variable& slotFreed;
        ~Joiner() {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stopping = true;
            }
            slotFreed.notify_all();
            for (auto& w : pool)
                if (w->thread.joinable())
                    w->thread.join();
        }
    } joiner{pool, mutex, stopping, slotFreed};

    for (unsigned i = 0; i < workers && i < count; ++i) {
        auto worker = std::make_unique<Worker>();
        try {
            Worker& w = *worker;
            worker->thread = std::thread([&work, &w] { work(w); });
        } catch (const std::system_error&) {
            break; // no more threads to be had: fewer workers
        }
        pool.push_back(std::move(worker));
    }

    if (pool.empty()) {
        // Not a single thread could be started: decode here, one by one.
        Worker self;
        for (std::size_t i = 0; i < count; ++i) {
            decodeInto(files[i], options, maxTextureSize, self.scratch, self.slots[0]);
            consume(i, self.slots[0].decoded);
        }
        return;
    }

    for (std::size_t i = 0; i < count; ++i) {
        Slot* slot = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex);
            resultReady.wait(lock, [&] { return results[i] != nullptr; });
            slot = results[i];
        }
        consume(i, slot->decoded);
        {
            std::lock_guard<std::mutex> lock(mutex);
            results[i] = nullptr;
            slot->busy = false;
        }
        slotFreed.notify_all();
    }
}
