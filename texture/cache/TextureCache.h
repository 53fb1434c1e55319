#pragma once

#include "FileDescriptor.h"
#include "MemoryMapping.h"
#include "cache/CacheEntry.h"
#include "preload/TextureStore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/statvfs.h>
#include <thread>

// Texture levels kept on disk between starts of the viewer, so that a
// photograph that has not changed is read back instead of decoded again.
//
// The cache is a folder of the user's own (mode 0700), one entry file (0600)
// per photograph and set of options; see CacheEntry for what an entry holds
// and when it counts as the file's. Every file in the folder is opened
// relative to the folder, never through a link; an entry that does not
// match, is damaged or is not the user's is removed and the photograph is
// decoded as if there were no cache. Failures of any kind (no home, a full
// or read-only disk, a folder of another user) leave the cache silent and
// the viewer exactly as without one.
//
// Entries are written under a temporary name by the thread that decoded the
// photograph; a thread of the cache's own flushes them to the disk and gives
// them their name once the preload is over. The same thread trims the
// cache to its bound when asked (when a viewer closes), removing the entries
// used longest ago. fetch and store may be called from several threads.
class TextureCache : public TextureStore {
  public:
    // Bytes the cache keeps by default.
    static constexpr std::uint64_t kDefaultLimit = 2ull << 30;

    // Fills in the state of the file system the folder (an open descriptor)
    // is on, as fstatvfs does; false when it cannot be had.
    using RoomProbe = std::function<bool(int folderFd, struct statvfs& state)>;

    // The user's cache: $XDG_CACHE_HOME/orbivue (an absolute
    // XDG_CACHE_HOME), else ~/.cache/orbivue, bounded by ORBIVUE_CACHE_SIZE
    // (see parseLimit). Null when the size is 0 or the folder cannot be had.
    static std::shared_ptr<TextureCache> forUser();
    // Bytes of entries copied and waiting for the cache's thread to write
    // them, at most: four textures of 12 MP photographs.
    static constexpr std::size_t kDefaultStaging = 64u << 20;

    // A cache in `folder`, made (0700) when missing, its parent too. Null
    // when the folder cannot be made or opened, is a link, or is not the
    // user's, or when `limit` is 0. `probe` tells the room on its file
    // system (fstatvfs when none is given); `staging` bounds the entries
    // waiting to be written.
    static std::shared_ptr<TextureCache> open(const std::string& folder, std::uint64_t limit,
                                              RoomProbe probe = nullptr,
                                              std::size_t staging = kDefaultStaging);

    // The folder the user's cache lives in, by the environment as it is now.
    static std::string userFolder();
    // The user's home folder: HOME when absolute, else the password
    // entry's; empty when neither gives one.
    static std::string homeFolder();
    // The bound a setting such as "2G", "500 MB", "0.5GiB", "750000k",
    // "300" (MiB) or "0" (off) gives: binary units in any spelling and case,
    // decimals after a point or a comma, a size too large to count the
    // largest there is. The default when there is no setting, and when the
    // setting is no size (then `complaint`, when given, gets the one line to
    // tell the user so).
    static std::uint64_t parseLimit(const char* setting, std::string* complaint = nullptr);

    ~TextureCache() override;
    TextureCache(const TextureCache&) = delete;
    TextureCache& operator=(const TextureCache&) = delete;

    // Fills `result`, its pixels in `pixels` and `mipmaps`, from the entry
    // of the file when it still belongs to the file as `file` (a stat of
    // `path` taken now) describes it. False when there is none that does (a
    // mismatching or damaged one is removed).
    bool fetch(const char* path, const struct stat& file, const TextureOptions& options,
               int maxTextureSize, PixelBuffer& pixels, PixelBuffer& mipmaps,
               DecodedTexture& result) override;
    // Keeps `decoded` for the file, which `before` (a stat of `path` taken
    // before it was read) describes; nothing when the file has changed since,
    // when the decode is not a whole, full-size one, or when the cache has no
    // room for it: within its bound, and with a tenth of its file system
    // still free once the entry's space is taken (looked at before every
    // entry, so that other writers on the same file system are seen).
    void store(const char* path, const struct stat& before, const TextureOptions& options,
               int maxTextureSize, const DecodedTexture& decoded) override;
    // While a preload runs, entries are written but not yet flushed: the
    // flushes wait until every preload of the process has ended, so that
    // they never hold up the writing of the next entry.
    void preloadStarted() override;
    void preloadEnded() override;
    // Asks the cache's thread to trim the cache to its bound once the
    // entries written so far are in place. Does not wait.
    void trim();
    // Waits until every entry written so far is in place and any trim asked
    // for is done.
    void settle();

    // Photographs read from the cache, and entries put in place, so far.
    std::uint64_t fetched() const { return fetchCount; }
    std::uint64_t stored() const { return storeCount; }
    // Decodes not kept because the writing had not kept up.
    std::uint64_t dropped() const { return dropCount; }

    // The bytes the entries and temporary files take on disk now.
    std::uint64_t sizeOnDisk();
    const std::string& folderPath() const { return folder; }
    std::uint64_t bound() const { return limit; }
    // The most the entries waiting to be written hold in memory (one entry
    // larger than that is still taken, alone).
    std::uint64_t stagingBound() const override { return staging; }

  private:
    TextureCache(FileDescriptor folderFd, std::string folder, std::uint64_t limit, RoomProbe probe,
                 std::size_t staging);
    struct Pending {
        FileDescriptor fd;
        std::string temporary, name;
    };
    // Memory an entry is copied to, for the cache's thread to write.
    struct Stage {
        MemoryMapping memory; // mapped when first used
        std::size_t capacity = 0;
        bool busy = false; // from the copy until the entry is written
    };
    struct Staged {
        Stage* stage;
        std::size_t length;
        std::string temporary, name;
    };
    Stage* takeStage(std::size_t bytes, std::vector<Stage>& unused);
    bool stagesIdle() const;
    void write(const Staged& entry);
    void commitLoop();
    void commit(Pending& p);
    void trimNow();
    std::uint64_t effectiveLimit(std::uint64_t current) const;
    bool roomFor(int fd, std::uint64_t bytes) const;
    void remove(const std::string& name);

    FileDescriptor dirFd;
    std::string folder;
    std::uint64_t limit;
    RoomProbe probe;

    std::mutex mutex;
    std::condition_variable wake, idle;
    // Entries copied and waiting to be written, in stages of at most
    // `staging` bytes together; a decode that finds no room there is not
    // kept.
    std::size_t staging;
    std::list<Stage> stages;
    std::deque<Staged> staged;
    std::deque<Pending> pending;
    // The temporary file of each pending entry by entry name, so that a
    // start before the flush reads it there.
    std::map<std::string, std::string> unnamed;
    bool trimWanted = false;
    int preloads = 0; // running now
    bool busy = false;
    bool stopping = false;
    bool storing = true;           // off after a full disk or a failed write
    std::uint64_t storedBytes = 0; // written since the last trim
    std::uint64_t roomBytes = 0;   // what may be written before the next trim
    unsigned counter = 0;          // for temporary names
    std::atomic<std::uint64_t> fetchCount{0}, storeCount{0}, dropCount{0};
    std::thread committer;
};
