#include "PreloadPipeline.h"

#include <algorithm>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

// One decoded picture waiting for the owner; its pixels live in `pixels`.
struct PreloadPipeline::Slot {
    DecodedTexture decoded;
    PixelBuffer pixels;
    PixelBuffer mipmaps;
    bool busy = false; // claimed by a job until the owner has taken it
};

struct PreloadPipeline::Worker {
    TextureScratch scratch;
    int halvings = 0; // of the last file decoded
    Slot slots[2];
    std::thread thread;

    Slot* freeSlot() {
        for (Slot& s : slots)
            if (!s.busy)
                return &s;
        return nullptr;
    }
};

namespace {

// One attempt at the CPU stage of a file into `slot`, moving the buffer that
// holds the result into the slot (and the slot's old buffers back to the
// scratch). With a cache, a full-size load reads the entry of the file
// instead when there is one, and keeps a fresh decode for the next time.
template <typename Slot>
DecodedTexture attempt(const char* file, const TextureOptions& options, int maxTextureSize,
                       TextureScratch& scratch, Slot& slot, TextureCache* cache) {
    DecodedTexture decoded;
    try {
        struct stat before{};
        const bool known = cache != nullptr && file != nullptr && options.halvings == 0 &&
                           ::stat(file, &before) == 0;
        if (known &&
            cache->fetch(file, before, options, maxTextureSize, slot.pixels, slot.mipmaps, decoded))
            return decoded;
        decodeTexture(file, options, maxTextureSize, scratch, decoded);
        if (known)
            cache->store(file, before, options, maxTextureSize, decoded);
        if (decoded.ok) {
            PixelBuffer& holder =
                decoded.pixels == scratch.texture.data() ? scratch.texture : scratch.decoded;
            std::swap(holder, slot.pixels); // the memory itself does not move
            if (decoded.mipmaps != nullptr)
                std::swap(scratch.mipmaps, slot.mipmaps);
        }
    } catch (...) {
        // What throws here is an allocation: this picture fails for want of
        // memory (a smaller texture may still load), the others go on.
        DecodedTexture failed;
        failed.imageTypeKnown = decoded.imageTypeKnown;
        failed.imageType = decoded.imageType;
        failed.longerSide = decoded.longerSide;
        failed.halvings = options.halvings;
        failed.outOfMemory = true;
        decoded = failed;
    }
    return decoded;
}

} // namespace

PreloadPipeline::PreloadPipeline(std::vector<const char*> paths, const TextureOptions& o,
                                 int maxSize, unsigned count, std::shared_ptr<TextureCache> c)
    : files(std::move(paths)), options(o), maxTextureSize(maxSize),
      workerCount(count == 0 ? 1 : count), cache(std::move(c)), results(files.size(), nullptr) {}

PreloadPipeline::~PreloadPipeline() {
    stop();
}

// The CPU stage of one file at no larger a size than the floor allows. When
// memory runs short, what the attempt held is given back and the file is
// decoded again at half the size, down to 256 pixels on the longer side; the
// files after it then get that size at most, so that the set grows softer
// evenly rather than in holes.
void PreloadPipeline::decodeInto(const char* file, TextureScratch& scratch, Slot& slot, int& last) {
    TextureOptions current = options;
    current.halvings = std::max(options.halvings, floor.load());
    if (current.halvings > last) {
        // The buffers grew to the larger size and would otherwise stay so.
        releaseBuffers(scratch);
        slot.pixels.release();
        slot.mipmaps.release();
    }
    for (;;) {
        last = current.halvings;
        slot.decoded = attempt(file, current, maxTextureSize, scratch, slot, cache.get());
        if (!slot.decoded.outOfMemory || !mayShrink(slot.decoded.longerSide, current.halvings + 1))
            return;
        releaseBuffers(scratch);
        slot.pixels.release();
        slot.mipmaps.release();
        ++current.halvings;
        shrinkTo(current.halvings);
    }
}

void PreloadPipeline::giveBack(Worker& self) {
    releaseBuffers(self.scratch);
    for (Slot& s : self.slots) {
        if (!s.busy) {
            s.pixels.release();
            s.mipmaps.release();
        }
    }
}

unsigned PreloadPipeline::defaultWorkers() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

void PreloadPipeline::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    slotFreed.notify_all();
    for (auto& w : pool)
        if (w->thread.joinable())
            w->thread.join();
    if (cache && started && !ended) {
        ended = true;
        cache->preloadEnded();
    }
}

void PreloadPipeline::work(Worker& self) {
    // The workers keep the process's own priority. A lower one yields to
    // the owning thread, but also to every busy process of the user's
    // session: beside four busy processes, a preload took thirty times as
    // long.
    for (;;) {
        Slot* slot = nullptr;
        std::size_t job = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                if (stopping || nextJob >= files.size()) {
                    // Nothing more to decode: the scratch buffers go now,
                    // not when the preload ends.
                    releaseBuffers(self.scratch);
                    return;
                }
                // Memory ran short meanwhile: what this worker holds at the
                // old size goes back at once, not at its next file.
                if (floor.load() > self.halvings) {
                    giveBack(self);
                    self.halvings = floor.load();
                }
                slot = self.freeSlot();
                if (slot != nullptr)
                    break;
                slotFreed.wait(lock);
            }
            job = nextJob++;
            slot->busy = true;
        }
        // A picture decoded at a size the floor has since left behind would
        // only be made again smaller by the GL thread.
        do {
            decodeInto(files[job], self.scratch, *slot, self.halvings);
        } while (slot->decoded.ok && slot->decoded.halvings < floor.load());
        {
            std::lock_guard<std::mutex> lock(mutex);
            results[job] = slot;
        }
        resultReady.notify_all();
    }
}

void PreloadPipeline::start() {
    if (started)
        return;
    started = true;
    // The cache flushes what this preload writes once it is over.
    if (cache)
        cache->preloadStarted();
    for (unsigned i = 0; i < workerCount && i < files.size(); ++i) {
        auto worker = std::make_unique<Worker>();
        Worker& w = *worker;
        try {
            w.thread = std::thread([this, &w] { work(w); });
        } catch (const std::system_error&) {
            break; // no more threads to be had: fewer workers
        }
        pool.push_back(std::move(worker));
    }
}

void PreloadPipeline::shrinkTo(int halvings) {
    bool raised = false;
    for (int seen = floor.load(); seen < halvings && !raised;)
        raised = floor.compare_exchange_weak(seen, halvings);
    if (!raised)
        return;
    {
        // Results decoded ahead at a larger size give their memory back now;
        // the GL thread makes them again at the new size when it comes to them.
        std::lock_guard<std::mutex> lock(mutex);
        for (Slot* slot : results) {
            if (slot == nullptr || slot == current || slot->decoded.halvings >= halvings ||
                !slot->decoded.ok)
                continue;
            slot->decoded.ok = false;
            slot->decoded.outOfMemory = true;
            slot->decoded.pixels = nullptr;
            slot->decoded.mipmaps = nullptr;
            slot->pixels.release();
            slot->mipmaps.release();
        }
    }
    slotFreed.notify_all(); // idle workers give back their buffers
}

void PreloadPipeline::releaseCurrent() {
    if (current == nullptr)
        return;
    current->decoded.pixels = nullptr;
    current->decoded.mipmaps = nullptr;
    current->pixels.release();
    current->mipmaps.release();
}

void PreloadPipeline::run(const Consumer& consume) {
    start();
    if (pool.empty()) {
        // Not a single thread could be started: decode here, one by one.
        Worker self;
        for (std::size_t i = 0; i < files.size(); ++i) {
            decodeInto(files[i], self.scratch, self.slots[0], self.halvings);
            current = &self.slots[0];
            consume(i, self.slots[0].decoded);
            current = nullptr;
        }
        return;
    }
    try {
        for (std::size_t i = 0; i < files.size(); ++i) {
            Slot* slot = nullptr;
            {
                // `current` under the lock: a worker that raises the floor
                // must not release the result being consumed.
                std::unique_lock<std::mutex> lock(mutex);
                resultReady.wait(lock, [&] { return results[i] != nullptr; });
                slot = results[i];
                current = slot;
            }
            consume(i, slot->decoded);
            {
                std::lock_guard<std::mutex> lock(mutex);
                current = nullptr;
                results[i] = nullptr;
                slot->busy = false;
            }
            slotFreed.notify_all();
        }
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = nullptr;
        }
        stop();
        throw;
    }
    stop();
}
