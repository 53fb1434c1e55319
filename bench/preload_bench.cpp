// Prints how long the viewer's preloading takes per photograph, loading one
// by one and with the worker pipeline, next to its two limits: the CPU stage
// alone on all workers and the GL thread's uploads alone. Then the GL
// thread's busy time per photograph with the mipmaps built by GLU on that
// thread and built by the workers, uploading into fresh textures (as the
// preload does) and into one texture over and over (memory already touched,
// as on a machine whose driver keeps texture memory around), and the
// pipelined preload with either. Each figure comes from a process of its
// own, which also gives its peak memory. Last, the memory of three viewers of
// the 12 MP set started one after another in one process. Needs an X display
// (xvfb-run). Last, the texture cache: the first start with an empty cache
// against one with the cache off, and the second start in the same process
// and in a new one. `preload_bench --cache` prints only that part. Then the
// memory plan: the sizes a start of the 12 MP set loads at in memory cgroups
// of 900, 600 and 300 MB and with no limit, also when another program takes
// memory meanwhile, when the pictures grow after the plan and beside a targa
// file with a lying header (`preload_bench --memory` alone).
// ORBIVUE_BENCH_LOAD=N runs N busy processes of the same session beside the
// cache's figures, as a build in the same terminal would: a loaded machine
// that can be had again.
#include "FileDescriptor.h"
#include "MemoryCgroup.h"
#include "OrbivueGL.h"
#include "PhotoLikeJpeg.h"
#include "ReadWrite.h"
#include "StageReference.h"
#include "cache/TextureCache.h"
#include "decode/PictureDecoder.h"
#include "decode/TextureRules.h"
#include "gl/TextureLoader.h"
#include "preload/PreloadPipeline.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSeries = 3, kPerSeries = 15, kPhotos = kSeries * kPerSeries, kDistinct = 5;

struct Measure {
    double ms = 0; // per photograph
    double maxRssMb = 0;
};

// Reference: the plain reference pipeline; ReferenceWorkers: its workers
// alone, without GL; DecoderWorkers: workers that only decode.
enum class Mode {
    Serial,
    Pipelined,
    DecodeOnly,
    UploadOnly,
    Reference,
    ReferenceWorkers,
    DecoderWorkers
};

struct Run {
    Mode mode;
    bool gluMipmaps = false; // GLU builds the mipmaps on the GL thread
    bool warm = false;       // UploadOnly: one texture name for every upload
};

TextureOptions optionsFor(const Run& run) {
    TextureOptions o = viewerTextureOptions();
    o.prebuiltMipmaps = !run.gluMipmaps;
    return o;
}

double elapsedMs(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Runs `body` in a child process and returns what it made (a plain value),
// or `failed` when the child did not deliver it.
template <typename T, typename Body> T inChild(Body body, T failed = T()) {
    int channel[2];
    if (pipe(channel) != 0)
        return failed;
    FileDescriptor reading(channel[0]), writing(channel[1]);
    std::fflush(stdout); // the child must not print what the parent has buffered
    const pid_t child = fork();
    if (child == 0) {
        reading.reset();
        const T made = body();
        _exit(ReadWrite::writeAll(writing.get(), &made, sizeof made) ? 0 : 1);
    }
    writing.reset();
    T made = failed;
    if (ReadWrite::readUpTo(reading.get(), &made, sizeof made) != sizeof made)
        made = failed;
    reading.reset();
    waitpid(child, nullptr, 0);
    return made;
}

// The set as three series of kPerSeries photographs.
void fillRecord(OrbivueSettings& record, const std::vector<std::string>& photos) {
    for (int i = 0; i < kPerSeries; ++i) {
        record.addFileName1(photos[i].c_str());
        record.addFileName2(photos[kPerSeries + i].c_str());
        record.addFileName3(photos[2 * kPerSeries + i].c_str());
    }
}

// The plain reference pipeline run as a program runs it, in the viewer's
// window: the workers read each photo, decode it whole with TurboJPEG and
// stretch it with the SSE2 kernel; the GL thread uploads each with GLU's
// mipmaps behind the same loading screen (without `upload`, the workers
// alone: their textures are handed back untouched; without `stretch`, the
// workers only decode, the decoder's floor at work). Each worker has two
// textures, so that it decodes the next photo while the GL thread uploads the
// last. Its time is measured under whatever else the machine runs, as the
// viewer's is. Milliseconds for the set.
double referencePipeline(const std::vector<const char*>& files, const TextureOptions& options,
                         bool upload, bool stretch) {
    using OrbivueGL::printLoader;
    constexpr int kSide = 2048; // the texture of the 12 MP photos
    const int workers = PreloadPipeline::defaultWorkers();
    std::vector<std::vector<std::uint8_t>> textures(
        2 * workers, std::vector<std::uint8_t>(std::size_t(kSide) * kSide * 4));
    std::vector<int> unused; // textures free for a worker
    for (int i = 0; i < 2 * workers; ++i)
        unused.push_back(i);
    std::deque<std::pair<int, bool>> done; // texture, decoded
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    if (upload) {
        glEnable(GL_TEXTURE_2D);
        glColor3f(1, 1, 1);
    }
    const auto start = Clock::now();
    if (upload)
        printLoader(0);
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&] {
            StageReference reference;
            for (std::size_t k; (k = next++) < files.size();) {
                std::ifstream in(files[k], std::ios::binary);
                const std::vector<std::uint8_t> jpeg{std::istreambuf_iterator<char>(in),
                                                     std::istreambuf_iterator<char>()};
                int texture = 0;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    changed.wait(lock, [&] { return !unused.empty(); });
                    texture = unused.back();
                    unused.pop_back();
                }
                const bool ok =
                    stretch ? reference.stretchInto(jpeg, kSide, kSide, textures[texture].data())
                            : reference.decode(jpeg, kSide, kSide);
                std::lock_guard<std::mutex> lock(mutex);
                done.emplace_back(texture, ok);
                changed.notify_all();
            }
        });
    for (std::size_t n = 0; n < files.size(); ++n) {
        std::pair<int, bool> got;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !done.empty(); });
            got = done.front();
            done.pop_front();
        }
        if (upload && got.second) {
            DecodedTexture decoded;
            decoded.ok = true;
            decoded.width = decoded.height = kSide;
            decoded.bitsPerPixel = 32;
            decoded.pixels = textures[got.first].data();
            glTexture t;
            uploadDecoded(decoded, options, &t);
        }
        if (upload)
            printLoader(static_cast<float>(n + 1) / files.size());
        std::lock_guard<std::mutex> lock(mutex);
        unused.push_back(got.first);
        changed.notify_all();
    }
    for (std::thread& t : threads)
        t.join();
    if (upload)
        glFinish();
    return elapsedMs(start);
}

// Runs one mode on the set; the milliseconds per photograph.
double runMode(const Run& run, const std::vector<std::string>& photos) {
    const Mode mode = run.mode;
    const TextureOptions options = optionsFor(run);
    OrbivueSettings record;
    fillRecord(record, photos);
    std::vector<const char*> files;
    for (const std::string& p : photos)
        files.push_back(p.c_str());

    if (mode == Mode::DecodeOnly) {
        const auto start = Clock::now();
        PreloadPipeline pipeline(files, options, 16384);
        pipeline.run(
            {.upload = [](std::size_t, const DecodedTexture&) { return UploadOutcome::Loaded; }});
        return elapsedMs(start) / kPhotos;
    }

    if (mode == Mode::ReferenceWorkers || mode == Mode::DecoderWorkers)
        return referencePipeline(files, options, false, mode == Mode::ReferenceWorkers) / kPhotos;

    using namespace OrbivueGL;
    settings = &record;
    startupFunction();
    if (!openViewerWindow())
        return -1;
    double ms = 0;
    if (mode == Mode::Reference) {
        ms = referencePipeline(files, options, true, true) / kPhotos;
    } else if (mode == Mode::UploadOnly) {
        // Decode first, then time only what the GL thread does per
        // photograph: the upload with its mipmaps and the loading screen.
        // The 45 photographs are five pictures under nine names each, so the
        // five decoded ones stand for all.
        std::vector<TextureScratch> scratches(kDistinct);
        std::vector<DecodedTexture> decoded(kDistinct);
        const int maxSize = queryMaxTextureSize();
        for (int i = 0; i < kDistinct; ++i)
            decodeTexture(files[i], options, maxSize, scratches[i], decoded[i]);
        glEnable(GL_TEXTURE_2D);
        glColor3f(1, 1, 1);
        glTexture t;
        if (run.warm) // one texture, its memory touched once before timing
            uploadDecodedTexture(decoded[0], options, &t);
        // As in the preload: the first loading screen, then upload and screen
        // for each photograph.
        const auto start = Clock::now();
        printLoader(0);
        for (int i = 0; i < kPhotos; ++i) {
            if (run.warm)
                uploadMipmapped(decoded[i % kDistinct]); // the same texture again
            else
                uploadDecodedTexture(decoded[i % kDistinct], options, &t);
            printLoader(static_cast<float>(i + 1) / kPhotos);
        }
        glFinish();
        ms = elapsedMs(start) / kPhotos;
    } else if (mode == Mode::Pipelined) {
        // The viewer's pipelined preload (SetupRC) with the chosen mipmaps.
        glEnable(GL_TEXTURE_2D);
        glColor3f(1, 1, 1);
        const auto start = Clock::now();
        PreloadPipeline pipeline(files, options, queryMaxTextureSize());
        pipeline.start();
        printLoader(0);
        pipeline.run({.upload = [&](std::size_t k, const DecodedTexture& decoded) {
            glTexture t;
            const UploadOutcome outcome = uploadDecoded(decoded, options, &t);
            printLoader(static_cast<float>(k + 1) / kPhotos);
            return outcome;
        }});
        glFinish();
        ms = elapsedMs(start) / kPhotos;
    } else {
        preloadWorkers = 0;
        const auto start = Clock::now();
        SetupRC();
        glFinish();
        ms = elapsedMs(start) / kPhotos;
    }
    closeViewerWindow();
    return ms;
}

// Runs a mode in a child process: its time and peak memory.
Measure once(const Run& run, const std::vector<std::string>& photos) {
    Measure failed;
    failed.ms = -1;
    return inChild<Measure>(
        [&] {
            Measure m;
            m.ms = runMode(run, photos);
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            m.maxRssMb = usage.ru_maxrss / 1024.0;
            return m;
        },
        failed);
}

// The process's resident size now, in MB.
double residentMb() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// Three viewers of the set in one process, one after another, as an editor
// session starts them: the resident size before, after each close, and the
// peak.
struct Kept {
    double before = 0, afterClose[3] = {}, peak = 0;
};

Kept threeStarts(const std::vector<std::string>& photos) {
    return inChild<Kept>([&] {
        OrbivueSettings record;
        fillRecord(record, photos);
        Kept k;
        k.before = residentMb();
        using namespace OrbivueGL;
        for (double& after : k.afterClose) {
            // start() without its event loop: the window closes as soon as
            // the photographs are in.
            settings = &record;
            startupFunction();
            if (!openViewerWindow())
                _exit(1);
            SetupRC();
            closeViewerWindow();
            after = residentMb();
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        k.peak = usage.ru_maxrss / 1024.0;
        return k;
    });
}

// CPU seconds the process has used so far, all threads.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One viewer start as the editor makes it, without the event loop: the
// preload's milliseconds, from the first loading screen to the last upload.
double timedStart(OrbivueSettings& record) {
    using namespace OrbivueGL;
    settings = &record;
    startupFunction();
    if (!openViewerWindow())
        return -1;
    const auto start = Clock::now();
    SetupRC();
    glFinish();
    const double ms = elapsedMs(start);
    closeViewerWindow();
    return ms;
}

// The CPU stage of the preload alone, without GL: the milliseconds the
// workers take for the whole set.
double timedDecode(const std::vector<std::string>& photos) {
    std::vector<const char*> files;
    for (const std::string& p : photos)
        files.push_back(p.c_str());
    const auto start = Clock::now();
    PreloadPipeline pipeline(files, viewerTextureOptions(), 16384,
                             PreloadPipeline::defaultWorkers(), TextureCache::forUser());
    pipeline.run(
        {.upload = [](std::size_t, const DecodedTexture&) { return UploadOutcome::Loaded; }});
    return elapsedMs(start);
}

// Runs `starts` viewer starts of the set (or CPU stages alone) in a child
// process with the cache in `folder` bounded by `size`: the milliseconds and
// CPU seconds of each (at most three), the resident size before the first and
// after each, and the cache's bytes on disk once the child's cache has settled.
struct CacheRun {
    double ms[3] = {-1, -1, -1};
    double cpu[3] = {0, 0, 0};
    double residentMb[4] = {0, 0, 0, 0}; // before the first start, after each close
    double cacheMb = 0;
};

CacheRun cacheStarts(const std::vector<std::string>& photos, const std::string& folder,
                     const char* size, int starts, bool decodeOnly = false) {
    return inChild<CacheRun>([&] {
        setenv("XDG_CACHE_HOME", folder.c_str(), 1);
        setenv("ORBIVUE_CACHE_SIZE", size, 1);
        OrbivueSettings record;
        fillRecord(record, photos);
        CacheRun r;
        r.residentMb[0] = residentMb();
        for (int i = 0; i < starts; ++i) {
            const double cpu = cpuSeconds();
            r.ms[i] = decodeOnly ? timedDecode(photos) : timedStart(record);
            r.cpu[i] = cpuSeconds() - cpu;
            r.residentMb[i + 1] = residentMb(); // what the closed viewer keeps
        }
        OrbivueGL::closeTextureCache(); // as the editor does when it ends
        if (auto cache = TextureCache::forUser()) {
            cache->settle();
            r.cacheMb = static_cast<double>(cache->sizeOnDisk()) / 1048576.0;
        }
        return r;
    });
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The whole file, for the measurements of one thread.
std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The texture cache on the 12 MP set: each round starts with an empty cache,
// and the runs of a round take their turns, so that a slow moment of the
// machine falls on all of them alike. The floor is what GL alone takes for the
// set: the same number of prepared textures with all their levels, taken in a
// fresh process; no start can go below it.
void cacheFigures(const std::vector<std::string>& photos, const std::filesystem::path& dir) {
    const char* rounds = std::getenv("ORBIVUE_BENCH_ROUNDS");
    const int kRounds = rounds != nullptr && std::atoi(rounds) > 0 ? std::atoi(rounds) : 5;
    const BusyProcesses beside;
    std::vector<std::vector<std::uint8_t>> distinct;
    for (int i = 0; i < kDistinct; ++i)
        distinct.push_back(fileBytes(photos[i]));
    StageReference reference;
    std::vector<double> decodeAlone, referenceCpu, gluFloor, referenceRun, referenceWorkers,
        decoderWorkers;
    std::vector<double> off, first, sameProcess, newProcess, offCpu, firstCpu, newCpu, decodeOff,
        decodeWarm, floor, load, keptOff, keptFirst, keptWarm, keptThird;
    double cacheMb = 0;
    for (int round = 0; round < kRounds; ++round) {
        load.push_back(loadAverage());
        const std::string folder = (dir / ("cache-" + std::to_string(round))).string();
        const CacheRun plain = cacheStarts(photos, folder, "0", 1);
        off.push_back(plain.ms[0]);
        offCpu.push_back(plain.cpu[0]);
        keptOff.push_back(plain.residentMb[1] - plain.residentMb[0]);
        floor.push_back(once({Mode::UploadOnly}, photos).ms * kPhotos);
        gluFloor.push_back(once({Mode::UploadOnly, true}, photos).ms * kPhotos);
        referenceRun.push_back(once({Mode::Reference, true}, photos).ms * kPhotos);
        referenceWorkers.push_back(once({Mode::ReferenceWorkers}, photos).ms * kPhotos);
        decoderWorkers.push_back(once({Mode::DecoderWorkers}, photos).ms * kPhotos);
        for (const std::vector<std::uint8_t>& jpeg : distinct) {
            decodeAlone.push_back(reference.decodeMs(jpeg, 2048, 2048));
            referenceCpu.push_back(reference.referenceMs(jpeg, 2048, 2048));
        }
        const CacheRun fresh = cacheStarts(photos, folder, "", 3);
        first.push_back(fresh.ms[0]);
        firstCpu.push_back(fresh.cpu[0]);
        sameProcess.push_back(fresh.ms[1]);
        keptFirst.push_back(fresh.residentMb[1] - fresh.residentMb[0]);
        keptThird.push_back(fresh.residentMb[3] - fresh.residentMb[0]);
        const CacheRun again = cacheStarts(photos, folder, "", 1);
        newProcess.push_back(again.ms[0]);
        newCpu.push_back(again.cpu[0]);
        keptWarm.push_back(again.residentMb[1] - again.residentMb[0]);
        cacheMb = again.cacheMb;
        decodeOff.push_back(cacheStarts(photos, folder, "0", 1, true).ms[0]);
        decodeWarm.push_back(cacheStarts(photos, folder, "", 1, true).ms[0]);
        std::filesystem::remove_all(folder);
    }
    const double offMs = median(off), firstMs = median(first), floorMs = median(floor);
    // The two limits of two cores: the plain reference pipeline's (its
    // decode and stretch on the workers, GLU's mipmaps on the GL thread),
    // and the decoder's floor (a CPU stage that were the decode alone, the
    // GL thread taking prepared levels).
    // Each from one-thread figures (the work spread over free cores), and
    // from the workers measured at work together in a process of their own,
    // which meet the machine as the starts' workers do: where other programs
    // take the cores, the one-thread figures make no limit.
    const double cores = static_cast<double>(PreloadPipeline::defaultWorkers());
    const double glu = median(gluFloor);
    const double referenceLimit = std::max(glu, (median(referenceCpu) * kPhotos + glu) / cores);
    const double decoderFloor =
        std::max(floorMs, (median(decodeAlone) * kPhotos + floorMs) / cores);
    const double workersLimit = std::max(glu, median(referenceWorkers) + glu / cores);
    const double workersFloor = std::max(floorMs, median(decoderWorkers) + floorMs / cores);
    std::printf(
        "\nTexture cache, %d photographs of 12 MP, median of %d rounds taken by turns, ms "
        "per start\n(CPU seconds of all threads in brackets; load average %.1f, from %.1f "
        "to %.1f, on %ld cores, %zu busy processes beside):\n"
        "cache off %.0f (%.2f s); first start, empty cache %.0f (%.2f s), %.3f x off;\n"
        "second start, same process %.0f (%.3f x first), new process %.0f (%.2f s), "
        "%.3f x first;\n"
        "GL floor (%d prepared textures with all levels, fresh process) %.0f; second start "
        "in a new process %.3f x the floor;\n"
        "the CPU stage alone (workers, no GL): cache off %.0f, warm cache %.0f (%.3f x);\n"
        "memory kept after the viewer closed: cache off %.0f MB; first start %.0f MB, after "
        "two more in the same process %.0f MB; second start in a new process %.0f MB;\n"
        "cache on disk %.0f MB.\n",
        kPhotos, kRounds, median(load), *std::min_element(load.begin(), load.end()),
        *std::max_element(load.begin(), load.end()), sysconf(_SC_NPROCESSORS_ONLN), beside.count(),
        offMs, median(offCpu), firstMs, median(firstCpu), firstMs / offMs, median(sameProcess),
        median(sameProcess) / firstMs, median(newProcess), median(newCpu),
        median(newProcess) / firstMs, kPhotos, floorMs, median(newProcess) / floorMs,
        median(decodeOff), median(decodeWarm), median(decodeWarm) / median(decodeOff),
        median(keptOff), median(keptFirst), median(keptThird), median(keptWarm), cacheMb);
    std::printf(
        "two-core limit of the plain reference pipeline from one-thread figures %.0f "
        "(decode and stretch %.1f ms a photo on one thread, GL thread with GLU's mipmaps "
        "%.0f): cache off %.3f x, first start %.3f x;\n"
        "the same from its workers at work together (%.0f for the set, fresh process) %.0f: "
        "cache off %.3f x, first start %.3f x;\n"
        "the plain reference pipeline run whole (its workers and GL thread, fresh process) "
        "%.0f, %.3f x that limit: cache off %.3f x, first start %.3f x;\n"
        "the decoder's floor, a CPU stage that were the decode alone, from one-thread "
        "figures %.0f (the decode %.1f ms a photo on one thread, the GL floor beside): "
        "cache off %.3f x, first start %.3f x;\n"
        "the same from decoding workers at work together (%.0f for the set) %.0f: cache "
        "off %.3f x, first start %.3f x.\n",
        referenceLimit, median(referenceCpu), glu, offMs / referenceLimit, firstMs / referenceLimit,
        median(referenceWorkers), workersLimit, offMs / workersLimit, firstMs / workersLimit,
        median(referenceRun), median(referenceRun) / workersLimit, offMs / median(referenceRun),
        firstMs / median(referenceRun), decoderFloor, median(decodeAlone), offMs / decoderFloor,
        firstMs / decoderFloor, median(decoderWorkers), workersFloor, offMs / workersFloor,
        firstMs / workersFloor);
}

// The median time of several runs, and the largest peak memory.
Measure measured(const Run& run, const std::vector<std::string>& photos, int runs) {
    std::vector<double> times;
    Measure result;
    for (int r = 0; r < runs; ++r) {
        const Measure m = once(run, photos);
        times.push_back(m.ms);
        if (m.maxRssMb > result.maxRssMb)
            result.maxRssMb = m.maxRssMb;
    }
    std::sort(times.begin(), times.end());
    result.ms = times[times.size() / 2];
    return result;
}

// How memory behaves during one measured start.
struct Scenario {
    const char* name;
    int limitMb;             // the memory cgroup (none for 0)
    int takeMb = 0;          // another program of the cgroup takes this much, from a fifth on
    bool grow = false;       // the pictures are 640 x 480 at the plan and 12 MP when decoded
    bool lyingTarga = false; // one of them a targa file claiming 65535 x 65535 over 1 KB
};

// A viewer start in a child process of its own: the halvings the preload
// planned, the smallest and largest texture widths, the slots left white,
// the preload's milliseconds and the peak resident size. Ended by the kernel
// (which, for the figures, ends the viewer first), it reports -1 ms.
struct Planned {
    int halvings = -1, narrowest = 0, widest = 0, white = 0;
    double ms = -1, peakMb = 0;
};

// Another program in the cgroup: told to begin, it takes 20 MB every 20 ms
// up to what it was given, as a program starting beside the preload would.
pid_t taker = -1;
int takerGo = -1;
void beginTaking(float fraction) {
    if (fraction >= 0.2f && takerGo >= 0) {
        const char c = 't';
        if (write(takerGo, &c, 1) != 1)
            std::perror("taker");
        close(takerGo);
        takerGo = -1;
    }
}
void startTaker(int mb) {
    int go[2];
    if (pipe(go) != 0)
        return;
    taker = fork();
    if (taker == 0) {
        close(go[1]);
        char c = 0;
        if (read(go[0], &c, 1) == 1) {
            for (int got = 0; got < mb; got += 20) {
                if (void* block = std::malloc(20u << 20))
                    std::memset(block, 1, 20u << 20);
                usleep(20000);
            }
            pause();
        }
        _exit(0);
    }
    close(go[0]);
    takerGo = go[1];
}

// The pictures renamed over by larger ones once the first has been
// uploaded: after the plan, before most are decoded.
std::vector<std::string> renameFrom, renameTo;
void replacePictures(float fraction) {
    if (fraction <= 0.0f || renameFrom.empty())
        return;
    for (std::size_t i = 0; i < renameFrom.size() && i < renameTo.size(); ++i)
        std::rename(renameFrom[i].c_str(), renameTo[i].c_str());
    renameFrom.clear();
}

Planned plannedStart(const std::vector<std::string>& large, const Scenario& scenario,
                     const std::filesystem::path& dir) {
    MemoryCgroup cgroup(static_cast<std::uint64_t>(scenario.limitMb) << 20);
    if (scenario.limitMb > 0 && !cgroup.made())
        return Planned();
    std::vector<std::string> photos = large;
    std::vector<std::string> replacements;
    if (scenario.grow) {
        // Small pictures under the names of the set, and a link to a large
        // one for each, renamed over it while the preload runs.
        const std::vector<std::uint8_t> small = makePhotoLikeJpeg(640, 480, 1);
        for (std::size_t i = 0; i < photos.size(); ++i) {
            photos[i] = (dir / ("grow-" + std::to_string(i) + ".jpg")).string();
            std::ofstream(photos[i], std::ios::binary)
                .write(reinterpret_cast<const char*>(small.data()),
                       static_cast<std::streamsize>(small.size()));
            replacements.push_back(photos[i] + ".new");
            std::filesystem::remove(replacements.back());
            std::filesystem::create_hard_link(large[i], replacements.back());
        }
    }
    if (scenario.lyingTarga) {
        photos[2] = (dir / "lying.tga").string();
        std::vector<char> tga(1024, 7);
        tga[2] = 2;
        tga[12] = tga[13] = tga[14] = tga[15] = static_cast<char>(0xFF);
        tga[16] = 24;
        std::ofstream(photos[2], std::ios::binary).write(tga.data(), 1024);
    }
    return inChild<Planned>([&] {
        Planned p;
        if (scenario.limitMb > 0 && !cgroup.enter())
            return p;
        if (scenario.takeMb > 0) {
            startTaker(scenario.takeMb);
            std::ofstream("/proc/self/oom_score_adj") << 1000 << std::endl;
            OrbivueGL::loaderObserver = beginTaking;
        }
        OrbivueSettings record;
        fillRecord(record, photos);
        if (scenario.grow) {
            renameFrom = replacements;
            renameTo = photos;
            OrbivueGL::loaderObserver = replacePictures;
        }
        p.ms = timedStart(record);
        if (taker > 0) {
            kill(taker, SIGKILL);
            waitpid(taker, nullptr, 0);
        }
        p.halvings = OrbivueGL::preloadPlannedHalvings;
        p.narrowest = 1 << 30;
        for (const auto* list :
             {&OrbivueGL::glTextures1, &OrbivueGL::glTextures2, &OrbivueGL::glTextures3}) {
            for (const glTexture& t : *list) {
                p.white += t.textureId == 0;
                if (t.textureId != 0) {
                    p.narrowest = std::min(p.narrowest, t.width);
                    p.widest = std::max(p.widest, t.width);
                }
            }
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        p.peakMb = usage.ru_maxrss / 1024.0;
        return p;
    });
}

void memoryFigures(const std::vector<std::string>& photos, const std::filesystem::path& dir) {
    std::printf("\nThe memory plan: %d photographs of 12 MP, cache off, one start per row\n",
                kPhotos);
    std::printf("%-52s %9s %14s %6s %10s %8s\n", "memory", "planned", "texture px", "white",
                "preload ms", "peak MB");
    const Scenario scenarios[] = {
        {"no cgroup", 0},
        {"cgroup 900 MB", 900},
        {"cgroup 600 MB", 600},
        {"cgroup 600 MB, another program takes 300 MB at 20 %", 600, 300},
        {"cgroup 600 MB, another program takes 350 MB at 20 %", 600, 350},
        {"cgroup 300 MB, 640 x 480 renamed over by 12 MP at 2 %", 300, 0, true},
        {"cgroup 600 MB, one a targa file with a lying header", 600, 0, false, true},
    };
    for (const Scenario& scenario : scenarios) {
        const Planned p = plannedStart(photos, scenario, dir);
        if (p.ms < 0) {
            std::printf("%-52s %s\n", scenario.name,
                        p.halvings < 0 ? "no cgroup to be had, or ended by the kernel" : "failed");
            continue;
        }
        std::printf("%-52s %9d %6d..%-6d %6d %10.0f %8.0f\n", scenario.name, p.halvings,
                    p.narrowest, p.widest, p.white, p.ms, p.peakMb);
    }
}

} // namespace

// The 45 photographs of one size: five different ones, each under nine names.
std::vector<std::string> photoSet(const std::filesystem::path& dir, int w, int h) {
    std::vector<std::string> photos;
    std::vector<std::vector<std::uint8_t>> distinct;
    for (std::uint32_t seed = 1; seed <= kDistinct; ++seed)
        distinct.push_back(makePhotoLikeJpeg(w, h, seed));
    for (int i = 0; i < kPhotos; ++i) {
        const std::string path =
            (dir / (std::to_string(w) + "-" + std::to_string(i) + ".jpg")).string();
        const auto& bytes = distinct[i % distinct.size()];
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        photos.push_back(path);
    }
    return photos;
}

int main(int argc, char** argv) {
    const struct {
        int w, h, runs;
    } sizes[] = {{640, 480, 7}, {1920, 1080, 5}, {4000, 3000, 3}};
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("orbivue-preload-bench-" + std::to_string(getpid())); // two runs at once keep apart
    std::filesystem::create_directories(dir);
    PictureDecoder::setUpProcess();
    // Every figure but the cache's own is of first starts: no cache.
    setenv("ORBIVUE_CACHE_SIZE", "0", 1);
    if (argc > 1 && std::string(argv[1]) == "--memory") {
        memoryFigures(photoSet(dir, 4000, 3000), dir);
        std::filesystem::remove_all(dir);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--cache") {
        cacheFigures(photoSet(dir, 4000, 3000), dir);
        std::filesystem::remove_all(dir);
        return 0;
    }

    std::printf("Viewer preload of %d photographs (3 series of %d), %u workers, median ms per "
                "photo\n",
                kPhotos, kPerSeries, PreloadPipeline::defaultWorkers());
    std::printf("%-10s %8s %9s %8s %8s %8s %8s %8s %8s %8s %8s   peak MB: %6s %6s\n", "photo",
                "serial", "pipelined", "decode", "upload", "floor", "p/s", "p/limit", "p/floor",
                "dfloor", "p/dfloor", "serial", "piped");
    struct GlRow {
        std::string name;
        double warmGlu, warmWorkers, freshGlu, freshWorkers, pipeGlu, pipeWorkers;
    };
    std::vector<GlRow> gl;
    Kept kept;
    std::vector<std::string> largest;
    for (const auto& s : sizes) {
        const std::vector<std::string> photos = photoSet(dir, s.w, s.h);
        const Measure serial = measured({Mode::Serial}, photos, s.runs);
        const Measure piped = measured({Mode::Pipelined}, photos, s.runs);
        const Measure decode = measured({Mode::DecodeOnly}, photos, s.runs);
        const Measure upload = measured({Mode::UploadOnly}, photos, s.runs);
        const double limit = decode.ms > upload.ms ? decode.ms : upload.ms;
        // The workers and the GL thread share the cores: decoding on all of
        // them plus uploading on one cannot take less than the two added up
        // and spread over every core.
        const double cores = PreloadPipeline::defaultWorkers();
        const double floor = std::max(limit, (decode.ms * cores + upload.ms) / cores);
        // The decoder's floor: the same with a CPU stage that were the
        // decode alone, measured on one thread.
        StageReference reference;
        std::vector<double> alone;
        const TextureRules::Size texture = TextureRules::textureSize(s.w, s.h, 16384, false);
        for (int round = 0; round < 3; ++round)
            for (int i = 0; i < kDistinct; ++i)
                alone.push_back(
                    reference.decodeMs(fileBytes(photos[i]), texture.width, texture.height));
        const double decoderFloor = std::max(upload.ms, (median(alone) + upload.ms) / cores);
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", s.w, s.h);
        std::printf("%-10s %8.2f %9.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f   %15.0f "
                    "%6.0f\n",
                    name, serial.ms, piped.ms, decode.ms, upload.ms, floor, piped.ms / serial.ms,
                    piped.ms / limit, piped.ms / floor, decoderFloor, piped.ms / decoderFloor,
                    serial.maxRssMb, piped.maxRssMb);
        std::fflush(stdout);
        if (s.w == 4000) {
            kept = threeStarts(photos);
            largest = photos;
        }
        gl.push_back({name, measured({Mode::UploadOnly, true, true}, photos, s.runs).ms,
                      measured({Mode::UploadOnly, false, true}, photos, s.runs).ms,
                      measured({Mode::UploadOnly, true, false}, photos, s.runs).ms, upload.ms,
                      measured({Mode::Pipelined, true}, photos, s.runs).ms, piped.ms});
    }
    std::printf("decode: the CPU stage alone on all workers; upload: the GL thread alone\n"
                "(uploads with worker-built mipmaps and the loading screen); floor: the larger\n"
                "of the two, or both added up over all cores when they must share them; p/s:\n"
                "pipelined / serial; p/limit: pipelined / the larger limit; p/floor:\n"
                "pipelined / floor; dfloor: the decoder's floor, the floor with a CPU stage\n"
                "that were TurboJPEG's decode alone (one thread, spread over the cores).\n\n");
    std::printf(
        "GL thread per photo (upload, mipmaps, loading screen) and pipelined preload, ms\n");
    std::printf("%-10s %9s %9s %6s %9s %9s %6s %9s %9s\n", "photo", "warm GLU", "warm wrk", "ratio",
                "fresh GLU", "fresh wrk", "ratio", "pipe GLU", "pipe wrk");
    for (const GlRow& r : gl)
        std::printf("%-10s %9.2f %9.2f %6.2f %9.2f %9.2f %6.2f %9.2f %9.2f\n", r.name.c_str(),
                    r.warmGlu, r.warmWorkers, r.warmWorkers / r.warmGlu, r.freshGlu, r.freshWorkers,
                    r.freshWorkers / r.freshGlu, r.pipeGlu, r.pipeWorkers);
    std::printf("GLU: gluBuild2DMipmaps on the GL thread; wrk: levels built by the workers,\n"
                "only uploaded on the GL thread; warm: every photo specified again into one\n"
                "texture, its memory already touched; fresh: a new texture per photo, as the\n"
                "preload makes.\n");
    std::printf("\nThree viewers of the 12 MP set in one process, resident MB: before %.0f,\n"
                "after each close %.0f, %.0f, %.0f; peak %.0f.\n",
                kept.before, kept.afterClose[0], kept.afterClose[1], kept.afterClose[2], kept.peak);
    cacheFigures(largest, dir);
    memoryFigures(largest, dir);
    std::filesystem::remove_all(dir);
    return 0;
}
