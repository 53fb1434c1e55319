#include "cache/TextureCache.h"
#include "TestImages.h"
#include "cache/PixelPacking.h"
#include "decode/Mipmaps.h"
#include "preload/PreloadPipeline.h"

#include <gtest/gtest.h>
#include <jconfig.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace TestImages;

namespace {

constexpr int kMaxSize = 4096;

struct Loaded {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<std::uint8_t> bytes; // level 0, then the mipmap levels
    bool operator==(const Loaded&) const = default;
};

Loaded copy(const DecodedTexture& d) {
    Loaded l{d.ok, d.width, d.height, {}};
    if (d.ok) {
        l.bytes.assign(d.pixels, d.pixels + CacheEntry::pixelBytes(d));
        if (d.mipmaps != nullptr)
            l.bytes.insert(l.bytes.end(), d.mipmaps,
                           d.mipmaps + Mipmaps::bytesBelow(d.width, d.height, d.bytesPerPixel));
    }
    return l;
}

// A few photographs as the viewer loads them: JPEGs of several sizes, an
// uncompressed targa file (three bytes per pixel) and a missing file.
class Cache : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 4; ++i) {
            paths.push_back(dir.file("p" + std::to_string(i) + ".jpg"));
            ASSERT_TRUE(writeJpeg(paths.back(),
                                  quadrants(90 + 40 * i, 70 + 20 * i, {std::uint8_t(60 * i), 0, 0},
                                            {0, 200, 0}, {0, 0, 200}, {250, 250, 10})));
        }
        paths.push_back(dir.file("t.tga"));
        ASSERT_TRUE(writeBytes(paths.back(), targa(90)));
        paths.push_back(dir.file("missing.jpg"));
        expected = load(nullptr);
    }
    static std::vector<std::uint8_t> targa(std::uint8_t shade) {
        std::vector<std::uint8_t> t = targaHeader(2, 100, 60, 24);
        for (int i = 0; i < 100 * 60 * 3; ++i)
            t.push_back(static_cast<std::uint8_t>(shade + i % 7));
        return t;
    }
    std::shared_ptr<TextureCache> open(std::uint64_t limit = 1ull << 30) {
        return TextureCache::open(dir.file("cache"), limit);
    }
    std::vector<Loaded> load(const std::shared_ptr<TextureCache>& cache, bool settle = true) {
        std::vector<const char*> files;
        for (const std::string& p : paths)
            files.push_back(p.c_str());
        std::vector<Loaded> got;
        PreloadPipeline(files, viewerTextureOptions(), kMaxSize, 2, cache)
            .run({.upload = [&](std::size_t, const DecodedTexture& d) {
                got.push_back(copy(d));
                return UploadOutcome::Loaded;
            }});
        if (cache && settle)
            cache->settle();
        return got;
    }
    std::string entryOf(const std::string& photo) {
        struct stat info{};
        EXPECT_EQ(::stat(photo.c_str(), &info), 0);
        const CacheEntry::Key key =
            CacheEntry::keyFor(photo.c_str(), info, viewerTextureOptions(), kMaxSize);
        return dir.file("cache/" + CacheEntry::entryName(key));
    }
    std::size_t loadable() const { return paths.size() - 1; }

    TempDir dir;
    std::vector<std::string> paths;
    std::vector<Loaded> expected;
};

bool asRoot() {
    return ::geteuid() == 0;
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true; // the sanitizers reserve more address space than any limit
#else
constexpr bool kSanitized = false;
#endif

// The address space the process has mapped now, in bytes.
std::uint64_t mappedBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// Runs `body` in a child process; its exit code.
template <typename Body> int inChild(Body body) {
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

} // namespace

TEST_F(Cache, SecondStartsReadEveryPhotographBackByteForByte) {
    // Two viewers at once fill the cache, then two more read it.
    for (int round = 0; round < 2; ++round) {
        std::vector<Loaded> one, two;
        auto first = open(), second = open();
        ASSERT_TRUE(first && second);
        std::thread other([&] { two = load(second); });
        one = load(first);
        other.join();
        EXPECT_TRUE(one == expected && two == expected) << "round " << round;
        if (round == 1) {
            EXPECT_EQ(first->fetched() + second->fetched(), 2 * loadable());
        }
    }
    EXPECT_TRUE(expected[4].ok && expected[4].bytes.size() % 3 == 0) << "targa kept as RGB";
}

// Four-byte pixels whose alpha is 255 throughout are kept as three and come
// back as they were; one other alpha anywhere keeps them as four. Counts
// around the packing steps (4, 16 and 64 pixels) and its blocks.
TEST(CacheEntryPixels, OpaquePixelsComeBackExactlyAndAnyOtherAlphaKeepsFourBytes) {
    std::uint32_t state = 12345;
    auto next = [&] {
        return static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 16);
    };
    for (const std::size_t count : {1u, 3u, 15u, 16u, 17u, 47u, 63u, 64u, 65u, 1365u, 4099u}) {
        SCOPED_TRACE(count);
        std::vector<std::uint8_t> rgba(count * 4);
        for (std::size_t i = 0; i < rgba.size(); ++i)
            rgba[i] = i % 4 == 3 ? 255 : next();
        DecodedTexture d;
        d.ok = true;
        d.width = static_cast<int>(count);
        d.height = 1;
        d.format = PixelFormat::Rgba;
        d.bitsPerPixel = 32;
        d.bytesPerPixel = 4;
        d.pixels = rgba.data();
        const std::vector<std::uint8_t> head = CacheEntry::header({}, d, true);
        std::vector<std::uint8_t> entry = head;
        entry.resize(head.size() + count * 3 + 8);
        std::uint64_t check = 0;
        ASSERT_TRUE(PixelPacking::packOpaque(rgba.data(), count, entry.data() + head.size(),
                                             PixelPacking::fingerprint(head.data(), head.size(), 0),
                                             check));
        std::memcpy(entry.data() + head.size() + count * 3, &check, 8);
        PixelBuffer pixels, mipmaps;
        DecodedTexture back;
        ASSERT_TRUE(
            CacheEntry::readFromMemory(entry.data(), entry.size(), nullptr, pixels, mipmaps, back));
        EXPECT_TRUE(std::equal(rgba.begin(), rgba.end(), back.pixels));

        std::vector<std::uint8_t> out(count * 3);
        int packed = 0;
        for (std::size_t at = 0; at < count; at += 1 + at / 8) {
            rgba[at * 4 + 3] = static_cast<std::uint8_t>(at % 255);
            packed += PixelPacking::packOpaque(rgba.data(), count, out.data(), 0, check);
            rgba[at * 4 + 3] = 255;
        }
        EXPECT_EQ(packed, 0) << "pixels with another alpha packed as opaque";
    }
}

TEST_F(Cache, APhotographRewrittenInPlaceWithItsOldTimesShowsItsNewPixels) {
    load(open());
    struct stat old{};
    ASSERT_EQ(::stat(paths[4].c_str(), &old), 0);
    {
        // Same inode, same size; the modification time put back afterwards.
        std::fstream f(paths[4], std::ios::in | std::ios::out | std::ios::binary);
        const std::vector<std::uint8_t> changed = targa(200);
        f.write(reinterpret_cast<const char*>(changed.data()), std::streamsize(changed.size()));
    }
    const timespec times[2] = {old.st_atim, old.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, paths[4].c_str(), times, 0), 0);

    const std::vector<Loaded> fresh = load(nullptr);
    ASSERT_NE(fresh[4], expected[4]);
    EXPECT_EQ(load(open())[4], fresh[4]);
}

TEST_F(Cache, EntriesThatDoNotBelongAreRemovedAndThePhotographDecoded) {
    // Rewrites a whole entry under another key, with a sound fingerprint.
    auto rekeyed = [](const std::string& entry, auto change) {
        const std::vector<std::uint8_t> bytes = readBytes(entry);
        PixelBuffer pixels, mipmaps;
        DecodedTexture d;
        CacheEntry::Key key;
        if (!CacheEntry::readFromMemory(bytes.data(), bytes.size(), nullptr, pixels, mipmaps, d,
                                        &key))
            return false;
        change(key);
        std::vector<std::uint8_t> out = CacheEntry::header(key, d);
        std::uint64_t h = PixelPacking::fingerprint(out.data(), out.size(), 0);
        out.insert(out.end(), d.pixels, d.pixels + CacheEntry::pixelBytes(d));
        h = PixelPacking::fingerprint(d.pixels, CacheEntry::pixelBytes(d), h);
        const auto* trailer = reinterpret_cast<const std::uint8_t*>(&h);
        out.insert(out.end(), trailer, trailer + 8);
        return writeBytes(entry, out);
    };
    const struct {
        const char* what;
        bool needsRoot;
        std::function<bool(const std::string& entry)> spoil;
    } cases[] = {
        {"a damaged pixel", false,
         [](const std::string& e) {
             std::vector<std::uint8_t> b = readBytes(e);
             b[b.size() / 2] ^= 1;
             return writeBytes(e, b);
         }},
        {"cut short", false, [](const std::string& e) { return ::truncate(e.c_str(), 900) == 0; }},
        {"empty", false, [](const std::string& e) { return ::truncate(e.c_str(), 0) == 0; }},
        {"a byte more", false,
         [](const std::string& e) {
             std::ofstream(e, std::ios::app) << 'x';
             return true;
         }},
        {"another decoding version", false,
         [&](const std::string& e) {
             return rekeyed(e, [](CacheEntry::Key& k) { ++k.decodingVersion; });
         }},
        {"another file's", false,
         [&](const std::string& e) { return rekeyed(e, [](CacheEntry::Key& k) { ++k.inode; }); }},
        {"another version of the JPEG library", false,
         [&](const std::string& e) {
             return rekeyed(e, [](CacheEntry::Key& k) {
                 const std::string ours = "jpeg " + std::to_string(LIBJPEG_TURBO_VERSION_NUMBER);
                 // Unchanged (and used) when the key names no JPEG version.
                 if (const std::size_t at = k.libraries.find(ours); at != std::string::npos)
                     k.libraries.replace(at, ours.size(), "jpeg 1");
             });
         }},
        {"readable by others", false,
         [](const std::string& e) { return ::chmod(e.c_str(), 0644) == 0; }},
        {"another user's", true,
         [](const std::string& e) { return ::lchown(e.c_str(), 65534, 65534) == 0; }},
        {"a link to a good entry", false,
         [](const std::string& e) {
             const std::string moved = e + ".elsewhere";
             return ::rename(e.c_str(), moved.c_str()) == 0 &&
                    ::symlink(moved.c_str(), e.c_str()) == 0;
         }},
        {"a named pipe", false,
         [](const std::string& e) {
             return ::unlink(e.c_str()) == 0 && ::mkfifo(e.c_str(), 0600) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !asRoot())
            continue;
        std::filesystem::remove_all(dir.file("cache"));
        load(open());
        const std::string entry = entryOf(paths[1]);
        ASSERT_TRUE(c.spoil(entry));
        auto cache = open();
        EXPECT_EQ(load(cache), expected);
        EXPECT_EQ(cache->fetched(), loadable() - 1) << "the spoilt entry was used";
        // In its place now: a sound entry of the photograph as it is.
        struct stat info{};
        ASSERT_EQ(::lstat(entry.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                    (info.st_mode & 0777) == 0600);
        auto again = open();
        load(again);
        EXPECT_EQ(again->fetched(), loadable());
    }
}

// The cache's thread is held at its first entry until the preload is over,
// with room to stage one entry: the other decodes are not kept, and what is
// kept is whole.
TEST_F(Cache, WritingThatCannotKeepUpKeepsOnlyWholeEntries) {
    std::mutex m;
    std::condition_variable cv;
    bool held = true;
    const std::thread::id opener = std::this_thread::get_id();
    const TextureCache::RoomProbe probe = [&](int fd, struct statvfs& fs) {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return !held || std::this_thread::get_id() == opener; });
        return ::fstatvfs(fd, &fs) == 0;
    };
    auto cache = TextureCache::open(dir.file("cache"), 1ull << 30, probe, 1);
    EXPECT_EQ(load(cache, false), expected);
    {
        std::lock_guard<std::mutex> lock(m);
        held = false;
    }
    cv.notify_all();
    cache->settle();
    EXPECT_EQ(cache->stored(), 1u);
    EXPECT_EQ(cache->dropped(), loadable() - 1);
    std::size_t files = 0;
    for (const auto& f : std::filesystem::directory_iterator(dir.file("cache")))
        files += CacheEntry::isEntryName(f.path().filename().c_str()) ? 1 : 100;
    EXPECT_EQ(files, 1u) << "temporaries or other files left";
    auto again = open();
    EXPECT_EQ(load(again), expected);
    EXPECT_EQ(again->fetched(), 1u);
}

TEST_F(Cache, AFullOrReadOnlyCacheLoadsAsWithoutOne) {
    const struct {
        const char* what;
        bool needsRoot;
        std::function<bool()> limit; // run in the child before the cache opens
    } cases[] = {
        {"full disk", false,
         [] {
             // Writes past 4 KiB fail as on a full disk.
             std::signal(SIGXFSZ, SIG_IGN);
             const rlimit small{4096, 4096};
             return ::setrlimit(RLIMIT_FSIZE, &small) == 0;
         }},
        {"read-only folder", true,
         [this] {
             const std::string folder = dir.file("cache");
             return ::chown(dir.path.c_str(), 65534, 65534) == 0 &&
                    ::chown(folder.c_str(), 65534, 65534) == 0 &&
                    ::chmod(folder.c_str(), 0500) == 0 && ::setgid(65534) == 0 &&
                    ::setuid(65534) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !asRoot())
            continue;
        std::filesystem::remove_all(dir.file("cache"));
        ASSERT_TRUE(open());
        const int code = inChild([&] {
            if (!c.limit())
                return 10;
            auto cache = open();
            if (!cache)
                return 11;
            if (load(cache) != expected)
                return 12;
            return cache->stored() == 0 && cache->sizeOnDisk() == 0 ? 0 : 13;
        });
        EXPECT_EQ(code, 0) << "10: set-up, 11: no cache, 12: wrong pictures, 13: files left";
    }
}

TEST_F(Cache, AReadThatRunsOutOfMemoryKeepsTheEntry) {
    if (kSanitized)
        GTEST_SKIP() << "no address-space limit under a sanitizer";
    // At full size its level 0 (48 MB) is larger than any block the C
    // library keeps free for reuse: reading it must map new memory.
    const std::string photo = dir.file("large.jpg");
    ASSERT_TRUE(writeJpeg(photo, solid(4096, 4096, {200, 60, 60})));
    TextureOptions options = viewerTextureOptions();
    options.highQuality = true;
    struct stat info{};
    ASSERT_EQ(::stat(photo.c_str(), &info), 0);
    {
        auto cache = open();
        TextureScratch scratch;
        DecodedTexture d;
        decodeTexture(photo.c_str(), options, kMaxSize, scratch, d);
        cache->store(photo.c_str(), info, options, kMaxSize, d);
        cache->settle();
        ASSERT_EQ(cache->stored(), 1u);
    }
    const int code = inChild([&] {
        auto cache = open();
        PixelBuffer pixels, mipmaps;
        DecodedTexture d;
        if (!cache)
            return 10;
        // Room for a few pages more, not for the texture's levels.
        rlimit space{};
        ::getrlimit(RLIMIT_AS, &space);
        const rlimit saved = space;
        space.rlim_cur = mappedBytes() + (4u << 20);
        ::setrlimit(RLIMIT_AS, &space);
        const bool read = cache->fetch(photo.c_str(), info, options, kMaxSize, pixels, mipmaps, d);
        ::setrlimit(RLIMIT_AS, &saved);
        if (read || d.ok)
            return 11;
        return cache->fetch(photo.c_str(), info, options, kMaxSize, pixels, mipmaps, d) ? 0 : 12;
    });
    EXPECT_EQ(code, 0) << "10: set-up, 11: read with no memory, 12: the entry was removed";
}

TEST_F(Cache, TrimmingKeepsTheBoundAndTheEntriesUsedLast) {
    load(open());
    std::vector<std::string> entries;
    std::vector<std::uint64_t> sizes;
    for (std::size_t i = 0; i < loadable(); ++i) {
        entries.push_back(entryOf(paths[i]));
        // Used in file order, a minute apart.
        const timespec t{1000000 + 60 * static_cast<long>(i), 0}, times[2] = {t, t};
        ASSERT_EQ(::utimensat(AT_FDCWD, entries.back().c_str(), times, 0), 0);
        struct stat info{};
        ::stat(entries.back().c_str(), &info);
        sizes.push_back(static_cast<std::uint64_t>(info.st_blocks) * 512);
    }
    // The first photograph is used again, then a viewer closes.
    {
        auto cache = open();
        PixelBuffer p, m;
        DecodedTexture d;
        struct stat info{};
        ::stat(paths[0].c_str(), &info);
        ASSERT_TRUE(
            cache->fetch(paths[0].c_str(), info, viewerTextureOptions(), kMaxSize, p, m, d));
    }
    // A file under an entry's name that the cache did not write (readable by
    // others: entries are the user's alone), used last of all, goes first.
    const std::filesystem::path junk =
        std::filesystem::path(entries[0]).parent_path() / "ffffffffffffffff.tex";
    std::filesystem::copy_file(entries[0], junk);
    ASSERT_EQ(::chmod(junk.c_str(), 0644), 0);
    // Room for the two used last and not for the one before them.
    const std::uint64_t bound = sizes[0] + sizes[4] + sizes[3] - 1;
    auto bounded = open(bound);
    bounded->trim();
    bounded->settle();
    EXPECT_LE(bounded->sizeOnDisk(), bound);
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(std::filesystem::exists(entries[i]), i == 0 || i + 1 == entries.size())
            << "entry " << i;
    EXPECT_FALSE(std::filesystem::exists(junk));
}

// Temporary files left by a process that ended count for nothing and go at
// the next trim; those of a running one count against the bound and stay.
TEST_F(Cache, TemporariesOfADeadProcessAreRemovedAndTheLivingCounted) {
    load(open());
    auto cache = open();
    const std::uint64_t entries = cache->sizeOnDisk();
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = dir.file("cache/.tmp-" + std::to_string(gone) + "-0-a.tex");
    const std::string living = dir.file("cache/.tmp-1-0-a.tex"); // the first process runs
    for (const std::string& t : {dead, living}) {
        ASSERT_TRUE(writeBytes(t, std::vector<std::uint8_t>(8192, 7)));
        ASSERT_EQ(::chmod(t.c_str(), 0600), 0); // as the cache makes them
    }
    // Room for the entries, or for the living temporary and most of them.
    auto bounded = open(entries + 4096);
    bounded->trim();
    bounded->settle();
    EXPECT_FALSE(std::filesystem::exists(dead));
    EXPECT_TRUE(std::filesystem::exists(living));
    EXPECT_LE(bounded->sizeOnDisk(), entries + 4096);
}

// Blocks taken by the files in the folders, as a file system counts them.
// The caches rename entries while the folders are read, and a name renamed
// before it is looked at, or behind the reading, would go uncounted: the
// folders are read until two readings in a row agree.
std::uint64_t blocksIn(const std::vector<std::string>& folders) {
    auto read = [&] {
        std::map<std::pair<dev_t, ino_t>, std::uint64_t> files;
        std::error_code ignored;
        for (const std::string& folder : folders)
            for (const auto& f : std::filesystem::directory_iterator(folder, ignored)) {
                struct stat info{};
                if (::lstat(f.path().c_str(), &info) == 0)
                    files[{info.st_dev, info.st_ino}] =
                        static_cast<std::uint64_t>(info.st_blocks) * 512;
            }
        return files;
    };
    auto last = read();
    for (int i = 0; i < 1000; ++i) {
        auto now = read();
        if (now == last)
            break;
        last = std::move(now);
    }
    std::uint64_t bytes = 0;
    for (const auto& [file, blocks] : last)
        bytes += blocks;
    return bytes;
}

TEST_F(Cache, TwoCachesFillingOneSmallFileSystemKeepATenthFree) {
    load(open());
    const std::uint64_t set = open()->sizeOnDisk();
    // A file system holding the two caches alone, whose tenth kept free
    // leaves room for one and a half sets of entries.
    const std::uint64_t size = set * 15 / 9, unit = 4096;
    const std::string folders[2] = {dir.file("one/cache"), dir.file("two/cache")};
    const auto used = [&] { return blocksIn({folders[0], folders[1]}); };
    // The folders are read once a look: read twice, the other cache could
    // take blocks in between and the room left would wrap round.
    const TextureCache::RoomProbe probe = [&](int, struct statvfs& fs) {
        const std::uint64_t taken = used();
        fs = {};
        fs.f_frsize = fs.f_bsize = unit;
        fs.f_blocks = size / unit;
        fs.f_bavail = fs.f_bfree = size > taken ? (size - taken) / unit : 0;
        return true;
    };
    auto one = TextureCache::open(folders[0], 1ull << 30, probe);
    auto two = TextureCache::open(folders[1], 1ull << 30, probe);
    ASSERT_TRUE(one && two);
    std::vector<Loaded> first, second;
    std::thread other([&] { second = load(two); });
    first = load(one);
    other.join();
    EXPECT_TRUE(first == expected && second == expected);
    EXPECT_LE(used(), size - size / 10);
    EXPECT_GT(one->stored() + two->stored(), loadable()) << "less kept than there was room for";
}

TEST(CacheFolder, OnlyAFolderOfTheUsersOwnIsUsed) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("real"));
    ASSERT_EQ(::symlink(dir.file("real").c_str(), dir.file("link").c_str()), 0);
    ASSERT_TRUE(writeText(dir.file("file"), "x"));
    std::filesystem::create_directory(dir.file("theirs"));
    const bool root = asRoot();
    if (root) {
        ASSERT_EQ(::chown(dir.file("theirs").c_str(), 65534, 65534), 0);
    }
    EXPECT_FALSE(TextureCache::open(dir.file("link"), 1 << 20)) << "a link";
    EXPECT_FALSE(TextureCache::open(dir.file("file"), 1 << 20)) << "a file";
    EXPECT_FALSE(TextureCache::open("relative/cache", 1 << 20));
    EXPECT_FALSE(TextureCache::open(dir.file("new"), 0)) << "size 0 turns it off";
    if (root) {
        EXPECT_FALSE(TextureCache::open(dir.file("theirs"), 1 << 20)) << "another user's";
    }
    // Missing folders are made for the user alone.
    ASSERT_TRUE(TextureCache::open(dir.file("a/b/cache"), 1 << 20));
    for (const char* made : {"a", "a/b", "a/b/cache"})
        EXPECT_EQ(std::filesystem::status(dir.file(made)).permissions(),
                  std::filesystem::perms::owner_all)
            << made;
}

TEST(CacheFolder, PlaceAndSizeComeFromTheEnvironment) {
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    ::setenv("HOME", "/home/someone", 1);
    const struct {
        const char* xdg;
        const char* folder;
    } places[] = {{"/var/cache/me", "/var/cache/me/orbivue"},
                  {"relative", "/home/someone/.cache/orbivue"},
                  {"", "/home/someone/.cache/orbivue"}};
    for (const auto& p : places) {
        ::setenv("XDG_CACHE_HOME", p.xdg, 1);
        EXPECT_EQ(TextureCache::userFolder(), p.folder) << p.xdg;
    }
    ::unsetenv("XDG_CACHE_HOME");
    ::setenv("HOME", savedHome.c_str(), 1);

    // Sizes as a person writes them, and what is no size: the default, and
    // one line that names the setting and what is used instead.
    const std::uint64_t standard = TextureCache::kDefaultLimit;
    const struct {
        const char* setting;
        std::uint64_t bytes;
        bool understood;
    } sizes[] = {{nullptr, standard, true},
                 {"", standard, true},
                 {" \t", standard, true},
                 {"0", 0, true},
                 {"300", 300ull << 20, true},
                 {"500M", 500ull << 20, true},
                 {"500 mb", 500ull << 20, true},
                 {"4G", 4ull << 30, true},
                 {"4GiB", 4ull << 30, true},
                 {"4gib", 4ull << 30, true},
                 {"64k", 64ull << 10, true},
                 {"0.5G", 512ull << 20, true},
                 {"1,5g", 1536ull << 20, true},
                 {" 2.25 T ", 2304ull << 30, true},
                 {"4096B", 4096, true},
                 {"99999999999999T", ~0ull, true},
                 {"99999999999999999999", ~0ull, true},
                 {"-5", standard, false},
                 {"abc", standard, false},
                 {"5X", standard, false},
                 {"1.", standard, false},
                 {"G", standard, false},
                 {"2 G B", standard, false}};
    for (const auto& s : sizes) {
        std::string complaint;
        EXPECT_EQ(TextureCache::parseLimit(s.setting, &complaint), s.bytes)
            << (s.setting ? s.setting : "unset");
        if (s.understood) {
            EXPECT_EQ(complaint, "") << s.setting;
        } else {
            EXPECT_NE(complaint.find(std::string("\"") + s.setting + "\""), std::string::npos)
                << complaint;
            EXPECT_NE(complaint.find("default of 2 GiB"), std::string::npos) << complaint;
            EXPECT_EQ(complaint.find('\n'), std::string::npos) << "one line";
        }
    }
}
