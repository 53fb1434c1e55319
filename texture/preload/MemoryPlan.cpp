#include "preload/MemoryPlan.h"

#include "FileDescriptor.h"
#include "ReadWrite.h"
#include "decode/Mipmaps.h"
#include "decode/TargaDecoder.h"
#include "decode/TextureRules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MemoryPlan {

namespace {

// A cgroup without a limit reports one near 2^63; anything this large is no
// limit at all.
constexpr std::uint64_t kNoLimitAbove = 1ull << 60;

std::uint64_t less(std::uint64_t limit, std::uint64_t used) {
    if (limit == kUnlimited)
        return kUnlimited;
    return limit > used ? limit - used : 0;
}

bool readText(const std::string& path, std::string& text) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

// The number after "key" at the start of a line of a "key value" file (the
// value in kB where `kilobytes`); false when there is no such line.
bool field(const std::string& text, const char* key, std::uint64_t& value, bool kilobytes = false) {
    const std::size_t length = std::strlen(key);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, length, key) != 0 || line.size() == length ||
            (line[length] != ' ' && line[length] != '\t'))
            continue;
        unsigned long long number = 0;
        if (std::sscanf(line.c_str() + length, " %llu", &number) != 1)
            return false;
        value = kilobytes ? number * 1024 : number;
        return true;
    }
    return false;
}

// A file holding one number, or "max" (no limit).
std::uint64_t number(const std::string& path, std::uint64_t otherwise) {
    std::string text;
    if (!readText(path, text))
        return otherwise;
    if (text.compare(0, 3, "max") == 0)
        return kUnlimited;
    unsigned long long value = 0;
    if (std::sscanf(text.c_str(), "%llu", &value) != 1)
        return otherwise;
    return value >= kNoLimitAbove ? kUnlimited : value;
}

bool isFolder(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The room of one cgroup folder and every folder above it up to `top`.
// `v2` names the files of the unified hierarchy, else those of the memory
// controller of the first version.
std::uint64_t cgroupRoom(const std::string& top, std::string relative, bool v2) {
    if (!isFolder(top + relative))
        relative.clear(); // a cgroup namespace: the mount's root is our own cgroup
    std::uint64_t room = kUnlimited;
    for (;;) {
        const std::string folder = top + relative;
        const std::uint64_t limit = v2 ? number(folder + "/memory.max", kUnlimited)
                                       : number(folder + "/memory.limit_in_bytes", kUnlimited);
        if (limit != kUnlimited) {
            const std::uint64_t usage =
                number(folder + (v2 ? "/memory.current" : "/memory.usage_in_bytes"), 0);
            std::string stat;
            std::uint64_t inactive = 0, active = 0;
            if (readText(folder + "/memory.stat", stat)) {
                field(stat, v2 ? "inactive_file" : "total_inactive_file", inactive);
                field(stat, v2 ? "active_file" : "total_active_file", active);
            }
            const std::uint64_t cache = std::min(usage, inactive + active);
            room = std::min(room, less(limit, usage - cache));
        }
        if (relative.empty() || relative == "/")
            break;
        const std::size_t slash = relative.find_last_of('/');
        relative.resize(slash == std::string::npos ? 0 : slash);
    }
    return room;
}

std::uint64_t rlimitRoom(int resource, std::uint64_t used) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kUnlimited;
    return less(static_cast<std::uint64_t>(limit.rlim_cur), used);
}

// The texture size of a picture with `halvings` more.
TextureRules::Size textureOf(const Extent& picture, const TextureOptions& options,
                             int maxTextureSize, int halvings) {
    const TextureRules::Size full = TextureRules::textureSize(picture.width, picture.height,
                                                              maxTextureSize, options.highQuality);
    return TextureRules::halved(full, allowedHalvings(std::max(full.width, full.height), halvings));
}

// The largest a picture decodes to for a texture of `size`: JPEG pictures at
// the smallest of the fast scales that covers it, the others whole.
std::uint64_t decodedBytes(const Extent& picture, TextureRules::Size size) {
    int w = picture.width, h = picture.height;
    if (picture.jpeg) {
        for (int scale = 8; scale > 1; scale /= 2) {
            const int sw = (picture.width + scale - 1) / scale;
            const int sh = (picture.height + scale - 1) / scale;
            if (sw >= size.width && sh >= size.height) {
                w = sw;
                h = sh;
                break;
            }
        }
    }
    return static_cast<std::uint64_t>(w) * h * 4;
}

// `bytes` and the reserve beside them, without overflowing.
std::uint64_t withReserve(std::uint64_t bytes, std::uint64_t reserve) {
    return bytes > kUnlimited - reserve ? kUnlimited : bytes + reserve;
}

} // namespace

std::uint64_t levelBytes(int width, int height, const TextureOptions& options) {
    const std::uint64_t level0 = static_cast<std::uint64_t>(width) * height * 4;
    if (!wantsMipmaps(options))
        return level0;
    return level0 + Mipmaps::bytesBelow(width, height, 4);
}

std::uint64_t Room::least() const {
    return std::min({cgroup, available, addressSpace, data});
}

Room less(Room room, std::uint64_t bytes) {
    for (std::uint64_t* limit : {&room.cgroup, &room.available, &room.addressSpace, &room.data})
        *limit = less(*limit, bytes);
    return room;
}

Room readRoom(const Sources& sources) {
    Room room;
    std::string text;
    if (readText(sources.proc + "/meminfo", text)) {
        std::uint64_t available = 0;
        if (field(text, "MemAvailable:", available, true))
            room.available = available;
    }
    if (sources.resourceLimits && readText(sources.proc + "/self/status", text)) {
        std::uint64_t size = 0, data = 0;
        if (field(text, "VmSize:", size, true))
            room.addressSpace = rlimitRoom(RLIMIT_AS, size);
        if (field(text, "VmData:", data, true))
            room.data = rlimitRoom(RLIMIT_DATA, data);
    }
    if (readText(sources.proc + "/self/cgroup", text)) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            // hierarchy-ID:controllers:path
            const std::size_t first = line.find(':');
            const std::size_t second =
                first == std::string::npos ? std::string::npos : line.find(':', first + 1);
            if (second == std::string::npos)
                continue;
            const std::string controllers = line.substr(first + 1, second - first - 1);
            const std::string path = line.substr(second + 1);
            std::uint64_t found = kUnlimited;
            if (line.compare(0, first, "0") == 0 && controllers.empty()) {
                const std::string top = isFolder(sources.cgroups + "/unified")
                                            ? sources.cgroups + "/unified"
                                            : sources.cgroups;
                found = cgroupRoom(top, path, /*v2=*/true);
            } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
                found = cgroupRoom(sources.cgroups + "/memory", path, /*v2=*/false);
            }
            room.cgroup = std::min(room.cgroup, found);
        }
    }
    return room;
}

Extent probe(const char* path, PictureDecoder& decoder) {
    Extent extent;
    if (path == nullptr)
        return extent;
    PixelBuffer head;
    std::size_t size = 0;
    // Not waiting on a FIFO or device named like a picture: only a regular
    // file is read.
    const FileDescriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info{};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return extent;
    extent.fileBytes = static_cast<std::uint64_t>(info.st_size);
    if (TextureRules::isTargaPath(path)) {
        std::uint8_t bytes[18] = {};
        Targa::Header header;
        if (ReadWrite::readUpTo(file.get(), bytes, sizeof bytes) == sizeof bytes &&
            Targa::readHeader(bytes, sizeof bytes, header) &&
            Targa::check(header, extent.fileBytes, PictureDecoder::decodedBytesLimit() / 4) ==
                Targa::Result::Ok) {
            extent.width = header.width;
            extent.height = header.height;
        }
        return extent;
    }
    // The header lies at the start, behind the metadata a camera writes
    // there (some tens of kilobytes, a colour profile more): a first look,
    // and a longer one when that was not enough.
    for (const std::size_t look : {std::size_t(64) << 10, std::size_t(1) << 20}) {
        const std::size_t want = std::min<std::size_t>(look, extent.fileBytes);
        std::uint8_t* bytes = head.reserve(want);
        if (bytes == nullptr)
            break;
        const ssize_t got = ::lseek(file.get(), 0, SEEK_SET) == 0
                                ? ReadWrite::readUpTo(file.get(), bytes, want)
                                : -1;
        size = got > 0 ? static_cast<std::size_t>(got) : 0;
        int w = 0, h = 0;
        if (decoder.open(bytes, size, w, h) && w > 0 && h > 0) {
            extent.width = w;
            extent.height = h;
            extent.jpeg = decoder.isJpegPicture();
            break;
        }
        if (want == extent.fileBytes)
            break;
    }
    return extent;
}

std::uint64_t reserveOf(std::uint64_t room) {
    if (room == kUnlimited)
        return 0;
    return std::max<std::uint64_t>(128ull << 20, room / 8);
}

std::uint64_t textureBytes(const Extent& picture, const TextureOptions& options, int maxTextureSize,
                           int halvings) {
    if (picture.width <= 0 || picture.height <= 0)
        return 0;
    const TextureRules::Size size = textureOf(picture, options, maxTextureSize, halvings);
    return levelBytes(size.width, size.height, options);
}

std::uint64_t textureBytes(const std::vector<Extent>& pictures, const TextureOptions& options,
                           int maxTextureSize, int halvings) {
    std::uint64_t total = 0;
    for (const Extent& picture : pictures)
        total += textureBytes(picture, options, maxTextureSize, halvings);
    return total;
}

std::uint64_t need(const std::vector<Extent>& pictures, const TextureOptions& options,
                   int maxTextureSize, unsigned workers, int halvings) {
    std::uint64_t inFlight = 0;
    for (const Extent& picture : pictures) {
        if (picture.width <= 0 || picture.height <= 0)
            continue;
        const TextureRules::Size size = textureOf(picture, options, maxTextureSize, halvings);
        const std::uint64_t levels = levelBytes(size.width, size.height, options);
        // The file, the decoded picture, the texture with its levels being
        // made, and the results waiting.
        inFlight = std::max(inFlight, picture.fileBytes + decodedBytes(picture, size) + levels +
                                          kResultsPerWorker * levels);
    }
    return textureBytes(pictures, options, maxTextureSize, halvings) +
           inFlight * std::max(workers, 1u);
}

int mostHalvings(const std::vector<Extent>& pictures, const TextureOptions& options,
                 int maxTextureSize, int least) {
    int most = least;
    for (const Extent& picture : pictures) {
        if (picture.width <= 0 || picture.height <= 0)
            continue;
        const TextureRules::Size full = TextureRules::textureSize(
            picture.width, picture.height, maxTextureSize, options.highQuality);
        most = std::max(most, allowedHalvings(std::max(full.width, full.height), 64));
    }
    return most;
}

Fit halvingsForRest(const std::vector<Extent>& rest, const TextureOptions& options,
                    int maxTextureSize, int floor, std::uint64_t available) {
    const int most = mostHalvings(rest, options, maxTextureSize, floor);
    for (int halvings = floor;; ++halvings) {
        if (textureBytes(rest, options, maxTextureSize, halvings) <= available)
            return {halvings, true};
        if (halvings >= most)
            return {most, false};
    }
}

Plan plan(const std::vector<Extent>& pictures, const TextureOptions& options, int maxTextureSize,
          unsigned workers, const Room& room) {
    Plan chosen;
    chosen.room = room.least();
    chosen.reserve = reserveOf(chosen.room);
    chosen.fullSize =
        need(pictures, options, maxTextureSize, std::max(workers, 1u), options.halvings);
    const int most = mostHalvings(pictures, options, maxTextureSize, options.halvings);
    for (int halvings = options.halvings;; ++halvings) {
        for (unsigned threads = workers;; --threads) {
            const std::uint64_t bytes =
                need(pictures, options, maxTextureSize, std::max(threads, 1u), halvings);
            const std::uint64_t mapped = bytes + threads * kThreadAddressSpace;
            chosen.halvings = halvings;
            chosen.workers = threads;
            chosen.planned = bytes;
            const bool fits =
                withReserve(bytes, chosen.reserve) <= chosen.room &&
                (room.addressSpace == kUnlimited ||
                 withReserve(mapped, reserveOf(room.addressSpace)) <= room.addressSpace);
            if (fits || (halvings >= most && threads == 0))
                return chosen;
            if (threads == 0)
                break;
        }
    }
}

} // namespace MemoryPlan
