#pragma once

#include "decode/TextureDecode.h"

#include <cstdint>
#include <string>
#include <vector>

// Planning the memory of a preload before its first photograph is decoded.
//
// The viewer runs in the editor's process, and with a software renderer (and
// many drivers) its textures live in that process's memory. On Linux an
// allocation rarely fails when memory runs out: the kernel ends the process
// that takes too much, the editor and its unsaved set with it. So the
// preload works out beforehand what the set needs at full size and what the
// process may still take, and when the set does not fit, it loads every
// photograph the same number of times halved, chosen so that it does.
namespace MemoryPlan {

constexpr std::uint64_t kUnlimited = UINT64_MAX;

// What this process may still take, by each limit that can end or refuse
// it; kUnlimited where there is no such limit (or it cannot be read).
struct Room {
    // The memory cgroup's limit less what its processes use (the page cache,
    // which the kernel reclaims before it ends anything, not counted), the
    // tightest of the cgroup and the cgroups above it.
    std::uint64_t cgroup = kUnlimited;
    // The system's MemAvailable.
    std::uint64_t available = kUnlimited;
    // RLIMIT_AS less the address space mapped now, RLIMIT_DATA less the data
    // mapped now.
    std::uint64_t addressSpace = kUnlimited;
    std::uint64_t data = kUnlimited;

    std::uint64_t least() const;
};

// Where the limits are read from: the proc file system and the folder the
// cgroup file systems are mounted in (tests point both at folders of their
// own).
struct Sources {
    std::string proc = "/proc";
    std::string cgroups = "/sys/fs/cgroup";
    bool resourceLimits = true; // RLIMIT_AS and RLIMIT_DATA of this process
};
Room readRoom(const Sources& sources = Sources());
// The room left under each limit once `bytes` more are taken.
Room less(Room room, std::uint64_t bytes);

// A picture's size as its header gives it, read without decoding it; width 0
// when the file cannot be read, no decoder knows it, or (a targa file) its
// header promises more than the file can hold.
using Extent = PictureExtent;
// `decoder` is reused from picture to picture.
Extent probe(const char* path, PictureDecoder& decoder);

// Decoded results each worker keeps waiting for the GL thread at most.
constexpr unsigned kResultsPerWorker = 2;

// What the plan keeps free of the room it found: for the GL implementation
// itself (a software renderer compiles its shaders while drawing, and ends
// the process when it cannot), the loading screen and the C library's own
// bookkeeping. An eighth of the room, at least 128 MiB.
std::uint64_t reserveOf(std::uint64_t room);
// Address space each worker thread maps besides its buffers: its stack and
// the C library's arena for it.
constexpr std::uint64_t kThreadAddressSpace = 72ull << 20;

struct Plan {
    int halvings = 0;           // more for every photograph, within the 256-pixel floor
    unsigned workers = 0;       // threads that decode ahead; 0: one by one on the GL thread
    std::uint64_t fullSize = 0; // bytes the set needs at full size, in flight included
    std::uint64_t planned = 0;  // bytes at the chosen size
    std::uint64_t room = 0;     // what the process may take (kUnlimited: no limit)
    std::uint64_t reserve = 0;  // kept free of it
    bool withStaging = false;   // a texture cache's staging area fits beside, at full size
};

// Bytes a preload of these pictures needs with `halvings` more for each:
// the texture levels of every slot, and what each of `workers` holds in
// flight (the file, the decoded picture, the texture and its levels, and
// kResultsPerWorker results waiting for the GL thread).
std::uint64_t need(const std::vector<Extent>& pictures, const TextureOptions& options,
                   int maxTextureSize, unsigned workers, int halvings);
// The texture levels alone, of one picture and of all of them.
std::uint64_t textureBytes(const Extent& picture, const TextureOptions& options, int maxTextureSize,
                           int halvings);
std::uint64_t textureBytes(const std::vector<Extent>& pictures, const TextureOptions& options,
                           int maxTextureSize, int halvings);
// The bytes of a texture of width x height with the levels the options want.
std::uint64_t levelBytes(int width, int height, const TextureOptions& options);
// The most halvings any of the pictures takes before reaching 256 pixels,
// and no fewer than `least`.
int mostHalvings(const std::vector<Extent>& pictures, const TextureOptions& options,
                 int maxTextureSize, int least);

// The fewest halvings with which the set fits in `room` less its reserve,
// with as many of `workers` as fit beside it (each costs its buffers in
// flight and, under an address-space limit, its thread): when none fits,
// one by one on the GL thread. The most the pictures allow (none smaller
// than 256 pixels on its longer side), one by one, when nothing fits.
Plan plan(const std::vector<Extent>& pictures, const TextureOptions& options, int maxTextureSize,
          unsigned workers, const Room& room);

// During a preload: the fewest halvings, no fewer than `floor`, with which
// the textures of the pictures still to come fit in `available` bytes; when
// none does, the most they allow and `fits` false.
struct Fit {
    int halvings = 0;
    bool fits = true;
};
Fit halvingsForRest(const std::vector<Extent>& rest, const TextureOptions& options,
                    int maxTextureSize, int floor, std::uint64_t available);

} // namespace MemoryPlan
