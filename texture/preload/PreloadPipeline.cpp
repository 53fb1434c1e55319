#include "preload/PreloadPipeline.h"

#include <algorithm>
#include <malloc.h>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <utility>

// One decoded picture waiting for the GL thread; its pixels live in
// `pixels` and `mipmaps`.
struct PreloadPipeline::Slot {
    DecodedTexture decoded;
    PixelBuffer pixels;
    PixelBuffer mipmaps;
    bool busy = false;     // claimed by a job until its upload is over
    bool released = false; // its memory given back while it waited: decoded again

    void release() {
        decoded.ok = false;
        decoded.pixels = nullptr;
        decoded.mipmaps = nullptr;
        pixels.release();
        mipmaps.release();
        released = true;
    }
};

struct PreloadPipeline::Worker {
    TextureScratch scratch;
    int halvings = 0; // the floor its buffers were last sized for
    Slot slots[MemoryPlan::kResultsPerWorker];
    std::thread thread;

    Slot* freeSlot() {
        for (Slot& s : slots)
            if (!s.busy)
                return &s;
        return nullptr;
    }
    // The scratch buffers and those of every slot not waiting.
    void giveBack() {
        releaseBuffers(scratch);
        for (Slot& s : slots) {
            if (!s.busy) {
                s.pixels.release();
                s.mipmaps.release();
            }
        }
    }
};

PreloadPipeline::PreloadPipeline(std::vector<const char*> paths, const TextureOptions& o,
                                 int maxSize, unsigned count, std::shared_ptr<TextureStore> c)
    : files(std::move(paths)), options(o), maxTextureSize(maxSize), workerCount(count),
      extents(files.size()), results(files.size(), nullptr), own(std::make_unique<Worker>()),
      uploaded(files.size()), reported(files.size(), false) {
    useCache(std::move(c));
    floor = options.halvings;
    own->halvings = options.halvings;
    jobs.resize(files.size());
    for (std::size_t i = 0; i < jobs.size(); ++i)
        jobs[i] = i;
}

PreloadPipeline::~PreloadPipeline() {
    stop();
}

unsigned PreloadPipeline::defaultWorkers() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

MemoryPlan::Plan PreloadPipeline::plan(RoomReader reader, std::uint64_t staging,
                                       const std::function<void()>& between) {
    roomReader = std::move(reader);
    std::vector<MemoryPlan::Extent> found;
    found.reserve(files.size());
    {
        PictureDecoder decoder;
        for (const char* file : files) {
            found.push_back(MemoryPlan::probe(file, decoder));
            if (between)
                between();
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        extents = found;
    }
    const MemoryPlan::Room now = room();
    const MemoryPlan::Room withStaging = MemoryPlan::less(now, staging);
    MemoryPlan::Plan chosen =
        MemoryPlan::plan(found, options, maxTextureSize, workerCount, withStaging);
    // A cache only reads and keeps full-size textures: its staging area is
    // planned for only when the set loads at full size beside it.
    chosen.withStaging = staging > 0 && chosen.halvings == options.halvings;
    if (staging > 0 && !chosen.withStaging)
        chosen = MemoryPlan::plan(found, options, maxTextureSize, workerCount, now);
    options.halvings = chosen.halvings;
    floor = chosen.halvings;
    own->halvings = chosen.halvings;
    workerCount = chosen.workers;
    margin = chosen.reserve;
    return chosen;
}

void PreloadPipeline::useCache(std::shared_ptr<TextureStore> c) {
    cache = std::move(c);
    taken = cache ? cache->stagingBound() : 0;
}

MemoryPlan::Room PreloadPipeline::room() const {
    return MemoryPlan::less(roomReader ? roomReader() : MemoryPlan::Room(), taken);
}

bool PreloadPipeline::smallerWanted(const DecodedTexture& decoded) const {
    return decoded.ok && decoded.longerSide > 0 &&
           allowedHalvings(decoded.longerSide, floor.load()) > decoded.halvings;
}

void PreloadPipeline::raiseFloor(int halvings) {
    bool raised = false;
    for (int seen = floor.load(); seen < halvings && !raised;)
        raised = floor.compare_exchange_weak(seen, halvings);
    if (!raised)
        return;
    {
        // Results waiting with more pixels than the floor now allows give
        // their memory back; they are decoded again when their turn comes.
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t job = uploading; job < results.size(); ++job) {
            Slot* slot = results[job];
            if (slot != nullptr && slot != current && smallerWanted(slot->decoded))
                slot->release();
        }
    }
    slotFreed.notify_all(); // idle workers give back their buffers
}

MemoryPlan::Fit PreloadPipeline::refloor(std::uint64_t* roomLeft) {
    if (roomLeft != nullptr)
        *roomLeft = MemoryPlan::kUnlimited;
    if (!roomReader)
        return {floor.load(), true};
    const std::uint64_t least = room().least();
    if (roomLeft != nullptr)
        *roomLeft = least;
    if (least == MemoryPlan::kUnlimited)
        return {floor.load(), true};
    const std::uint64_t free = least > margin ? least - margin : 0;
    std::vector<MemoryPlan::Extent> rest;
    {
        std::lock_guard<std::mutex> lock(mutex);
        rest.reserve(jobs.size() - std::min(uploading, jobs.size()));
        for (std::size_t job = uploading; job < jobs.size(); ++job)
            rest.push_back(extents[jobs[job]]);
    }
    const MemoryPlan::Fit fit =
        MemoryPlan::halvingsForRest(rest, options, maxTextureSize, floor.load(), free);
    raiseFloor(fit.halvings);
    return fit;
}

void PreloadPipeline::probeWaiting() {
    std::vector<std::size_t> waiting;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t job = nextJob; job < jobs.size(); ++job)
            waiting.push_back(jobs[job]);
    }
    PictureDecoder decoder;
    std::vector<MemoryPlan::Extent> found;
    found.reserve(waiting.size());
    for (const std::size_t file : waiting)
        found.push_back(MemoryPlan::probe(files[file], decoder));
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 0; i < waiting.size(); ++i)
        extents[waiting[i]] = found[i];
}

int PreloadPipeline::admit(std::size_t file, const MemoryPlan::Extent& real, int asked) {
    bool changed = false, unknown = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        MemoryPlan::Extent& planned = extents[file];
        unknown = planned.width <= 0;
        changed = !unknown && (planned.width != real.width || planned.height != real.height ||
                               planned.jpeg != real.jpeg);
        if (unknown || changed)
            planned = real;
    }
    // A picture other than its header said when the plan read it: the files
    // have changed since, and those not yet decoded are read again.
    if (changed)
        probeWaiting();
    if (unknown || changed)
        refloor();
    return std::max(asked, floor.load());
}

DecodedTexture PreloadPipeline::attempt(std::size_t file, const TextureOptions& current,
                                        Worker& self, Slot& slot) {
    const char* path = files[file];
    TextureScratch& scratch = self.scratch;
    DecodedTexture decoded;
    try {
        struct stat before{};
        const bool known = cache != nullptr && path != nullptr && current.halvings == 0 &&
                           ::stat(path, &before) == 0;
        if (known &&
            cache->fetch(path, before, current, maxTextureSize, slot.pixels, slot.mipmaps, decoded))
            return decoded;
        SizeCheck check;
        if (roomReader)
            check = [this, file](const MemoryPlan::Extent& real, int asked) {
                return admit(file, real, asked);
            };
        decodeTexture(path, current, maxTextureSize, scratch, decoded, check);
        if (known)
            cache->store(path, before, current, maxTextureSize, decoded);
        if (decoded.ok) {
            // The buffers that hold the result move into the slot (and the
            // slot's old ones back to the scratch); the memory does not move.
            PixelBuffer& holder =
                decoded.pixels == scratch.texture.data() ? scratch.texture : scratch.decoded;
            std::swap(holder, slot.pixels);
            if (decoded.mipmaps != nullptr)
                std::swap(scratch.mipmaps, slot.mipmaps);
        }
    } catch (const std::bad_alloc&) {
        // For want of memory: a smaller texture may still load.
        decoded.ok = false;
        decoded.outOfMemory = true;
        decoded.pixels = nullptr;
        decoded.mipmaps = nullptr;
    } catch (...) {
        // Anything else is this photograph's own failure: it shows white,
        // the others go on as they were.
        decoded.ok = false;
        decoded.outOfMemory = false;
        decoded.pixels = nullptr;
        decoded.mipmaps = nullptr;
    }
    return decoded;
}

// The CPU stage of one file at no larger a size than the floor allows. When
// memory runs short, what the attempt held is given back and the file is
// decoded again at half the size, down to 256 pixels on its longer side; the
// floor rises with it, so that the set grows softer evenly rather than in
// holes.
void PreloadPipeline::decodeInto(std::size_t file, Worker& self, Slot& slot) {
    TextureOptions current = options;
    current.halvings = std::max(options.halvings, floor.load());
    if (current.halvings > self.halvings) {
        // The buffers grew to the larger size and would otherwise stay so.
        releaseBuffers(self.scratch);
        slot.pixels.release();
        slot.mipmaps.release();
    }
    slot.released = false;
    for (;;) {
        self.halvings = std::max(self.halvings, current.halvings);
        slot.decoded = attempt(file, current, self, slot);
        const DecodedTexture& d = slot.decoded;
        if (smallerWanted(d)) { // the floor rose meanwhile
            current.halvings = std::max(current.halvings, floor.load());
            continue;
        }
        const int next = d.halvings + 1;
        if (!d.outOfMemory || !mayShrink(d.longerSide, next))
            return;
        releaseBuffers(self.scratch);
        slot.pixels.release();
        slot.mipmaps.release();
        raiseFloor(next);
        current.halvings = std::max(next, floor.load());
    }
}

void PreloadPipeline::work(Worker& self) {
    // The workers keep the process's own priority. A lower one yields to
    // the owning thread, but also to every busy process of the user's
    // session: beside four busy processes, a preload took thirty times as
    // long.
    for (;;) {
        Slot* slot = nullptr;
        std::size_t job = 0, file = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                if (stopping) {
                    releaseBuffers(self.scratch);
                    return;
                }
                // Memory ran short meanwhile: what this worker holds at the
                // old size goes back at once, not at its next file.
                if (floor.load() > self.halvings) {
                    self.giveBack();
                    self.halvings = floor.load();
                }
                if (nextJob < jobs.size()) {
                    slot = self.freeSlot();
                    if (slot != nullptr)
                        break;
                } else {
                    // Nothing to decode now: the buffers go, not when the
                    // preload ends. Textures given back to be loaded again
                    // smaller may still bring work.
                    self.giveBack();
                }
                slotFreed.wait(lock);
            }
            job = nextJob++;
            file = jobs[job];
            slot->busy = true;
        }
        decodeInto(file, self, *slot);
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
        worker->halvings = options.halvings;
        Worker& w = *worker;
        try {
            w.thread = std::thread([this, &w] { work(w); });
        } catch (const std::system_error&) {
            break; // no more threads to be had: fewer workers
        }
        pool.push_back(std::move(worker));
    }
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

// Before each upload: the photographs still to come, planned for the room
// the process has now. Once the floor has risen, every texture uploaded
// earlier with more pixels than the floor allows it is given back and loaded
// again at the floor's size next, before the files no worker has taken yet:
// the set stays even, what a tightening limit calls for is freed at once,
// and the loading screen reaches its end with the last file.
MemoryPlan::Fit PreloadPipeline::makeRoom(const Stage& stage, std::uint64_t& roomLeft) {
    const MemoryPlan::Fit fit = refloor(&roomLeft);
    if (!stage.unload)
        return fit;
    const int now = floor.load();
    std::vector<std::size_t> larger;
    for (std::size_t file = 0; file < uploaded.size(); ++file) {
        const UploadedTexture& t = uploaded[file];
        if (t.halvings >= 0 && t.longerSide > 0 && allowedHalvings(t.longerSide, now) > t.halvings)
            larger.push_back(file);
    }
    if (larger.empty())
        return fit;
    for (const std::size_t file : larger) {
        stage.unload(file);
        uploaded[file] = UploadedTexture();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto at = static_cast<std::ptrdiff_t>(std::max(nextJob, uploading + 1));
        jobs.insert(jobs.begin() + at, larger.begin(), larger.end());
        results.insert(results.begin() + at, larger.size(), nullptr);
    }
    malloc_trim(0); // what the textures held goes back to the system now
    slotFreed.notify_all();
    return refloor(&roomLeft);
}

const DecodedTexture& PreloadPipeline::take(std::size_t job, std::size_t file, Slot*& slot) {
    if (!pool.empty()) {
        std::unique_lock<std::mutex> lock(mutex);
        resultReady.wait(lock, [&] { return results[job] != nullptr; });
        slot = results[job];
        // `current` under the lock: a floor raised now leaves this one alone.
        current = slot;
        if (!slot->released && !smallerWanted(slot->decoded))
            return slot->decoded;
        slot->release();
    }
    // Given back while it waited, or decoded at more pixels than the floor
    // now allows: made again here, at the floor.
    Slot& mine = own->slots[0];
    decodeInto(file, *own, mine);
    return mine.decoded;
}

void PreloadPipeline::uploadOne(const Stage& stage, std::size_t job) {
    std::size_t file = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        file = jobs[job];
        uploading = job;
    }
    std::uint64_t roomLeft = MemoryPlan::kUnlimited;
    const MemoryPlan::Fit fit = makeRoom(stage, roomLeft);
    Slot* slot = nullptr;
    const DecodedTexture* decoded = &take(job, file, slot);
    UploadOutcome outcome = UploadOutcome::Unreadable;
    DecodedTexture refused;
    for (;;) {
        // Even the smallest size does not fit beside what is loaded, and
        // this texture would eat into the last half of the margin: the
        // photograph stays white rather than the process growing into its
        // limit.
        if (!fit.fits && decoded->ok &&
            MemoryPlan::levelBytes(decoded->width, decoded->height, options) + margin / 2 >
                roomLeft) {
            refused = *decoded;
            refused.ok = false;
            refused.outOfMemory = true;
            refused.pixels = nullptr;
            refused.mipmaps = nullptr;
            decoded = &refused;
        }
        try {
            outcome = stage.upload(file, *decoded);
        } catch (const std::bad_alloc&) {
            outcome = UploadOutcome::OutOfMemory;
        }
        if (outcome != UploadOutcome::OutOfMemory || decoded == &refused)
            break;
        // Memory ran short for this photograph: what it holds goes back,
        // and it is loaded again smaller if it may be.
        const int next = decoded->halvings + 1;
        const int longerSide = decoded->longerSide;
        if (slot != nullptr) {
            std::lock_guard<std::mutex> lock(mutex);
            slot->release();
        }
        own->giveBack();
        if (!mayShrink(longerSide, next))
            break;
        raiseFloor(next);
        decodeInto(file, *own, own->slots[0]);
        decoded = &own->slots[0].decoded;
    }
    if (outcome == UploadOutcome::Loaded)
        uploaded[file] = {decoded->halvings, decoded->longerSide};
    else
        uploaded[file] = UploadedTexture();
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = nullptr;
        results[job] = nullptr;
        if (slot != nullptr)
            slot->busy = false;
    }
    slotFreed.notify_all();
    // A file loaded again smaller was done already.
    if (!reported[file]) {
        reported[file] = true;
        if (stage.done)
            stage.done(file);
    }
}

void PreloadPipeline::run(const Stage& stage) {
    start();
    try {
        for (std::size_t job = 0;; ++job) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (job >= jobs.size())
                    break;
            }
            uploadOne(stage, job);
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
