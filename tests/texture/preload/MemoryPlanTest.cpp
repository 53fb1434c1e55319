#include "preload/MemoryPlan.h"
#include "SamplePictures.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

constexpr std::uint64_t MiB = 1ull << 20;

// 45 photographs of 12 MP (4000 x 3000 JPEG files of 3 MB): textures of
// 2048 x 2048 with the viewer's options.
std::vector<MemoryPlan::Extent> twelveMegapixels(int count = 45) {
    MemoryPlan::Extent photo;
    photo.width = 4000;
    photo.height = 3000;
    photo.jpeg = true;
    photo.fileBytes = 3 * MiB;
    return std::vector<MemoryPlan::Extent>(count, photo);
}

MemoryPlan::Room roomOf(std::uint64_t bytes) {
    MemoryPlan::Room room;
    room.cgroup = bytes;
    return room;
}

} // namespace

// The halvings chosen for a set by the room the process has: none when it
// fits (or nothing limits it), one size for every photograph otherwise, and
// never a photograph below 256 pixels on its longer side.
TEST(MemoryPlan, OneSizeForTheWholeSetThatFitsTheRoom) {
    const TextureOptions viewer = viewerTextureOptions();
    const struct {
        std::uint64_t room;
        int halvings;
    } cases[] = {
        {MemoryPlan::kUnlimited, 0},
        {8192 * MiB, 0},
        {900 * MiB, 1},
        {600 * MiB, 1},
        {300 * MiB, 2},
        {1 * MiB, 3}, // 256 pixels: no further
    };
    const std::vector<MemoryPlan::Extent> set = twelveMegapixels();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.room / MiB);
        const MemoryPlan::Plan plan = MemoryPlan::plan(set, viewer, 16384, 2, roomOf(c.room));
        EXPECT_EQ(plan.halvings, c.halvings);
        if (plan.halvings < 3) {
            EXPECT_LE(plan.planned + plan.reserve, c.room);
        }
    }
    // A full set needs about 1 GB of texture levels at full size.
    const std::uint64_t levels = MemoryPlan::textureBytes(set, viewer, 16384, 0);
    EXPECT_NEAR(static_cast<double>(levels), 45 * (16 + 16 / 3.0) * MiB, MiB);
    // The address space also pays for the workers' threads: fewer of them
    // beside the set, and one by one on the GL thread when even one does not
    // fit (the workers then cannot take what the GL library needs).
    const struct {
        std::uint64_t addressSpace;
        int halvings;
        unsigned workers;
    } spaces[] = {{1200 * MiB, 1, 7}, {500 * MiB, 1, 1}, {250 * MiB, 2, 0}, {100 * MiB, 3, 0}};
    for (const auto& c : spaces) {
        MemoryPlan::Room space;
        space.addressSpace = c.addressSpace;
        const MemoryPlan::Plan plan = MemoryPlan::plan(set, viewer, 16384, 8, space);
        EXPECT_EQ(plan.halvings, c.halvings) << c.addressSpace / MiB;
        EXPECT_EQ(plan.workers, c.workers) << c.addressSpace / MiB;
    }
    EXPECT_EQ(MemoryPlan::plan(set, viewer, 16384, 8, roomOf(1200 * MiB)).workers, 8u);

    // A small picture beside the large ones keeps 256 pixels when they halve.
    EXPECT_EQ(allowedHalvings(2048, 3), 3);
    EXPECT_EQ(allowedHalvings(256, 3), 0);
    EXPECT_EQ(allowedHalvings(1024, 5), 2);
    EXPECT_EQ(allowedHalvings(0, 5), 3);
    // During the preload the rest of the set is planned for the room left;
    // when not even the smallest size fits, the most halvings, not fitting.
    const struct {
        int rest, floor;
        std::uint64_t available;
        int halvings;
        bool fits;
    } rests[] = {{5, 0, 136 * MiB, 0, true},
                 {25, 0, 136 * MiB, 1, true},
                 {25, 2, 136 * MiB, 2, true},
                 {25, 0, 1 * MiB, 3, false}};
    for (const auto& c : rests) {
        const MemoryPlan::Fit fit = MemoryPlan::halvingsForRest(twelveMegapixels(c.rest), viewer,
                                                                16384, c.floor, c.available);
        EXPECT_EQ(fit.halvings, c.halvings) << c.rest << " photographs in " << c.available / MiB;
        EXPECT_EQ(fit.fits, c.fits) << c.rest << " photographs in " << c.available / MiB;
    }
}

// The limits as the system shows them: a memory cgroup of either version
// (and the ones above it, less the page cache, which the kernel reclaims
// first), the available memory, and what a folder that is no cgroup gives.
TEST(MemoryPlan, RoomIsReadFromTheCgroupAndTheSystem) {
    TestImages::TempDir dir;
    const auto write = [&](const std::string& name, const std::string& text) {
        std::filesystem::create_directories((dir.path / name).parent_path());
        std::ofstream(dir.path / name) << text;
    };
    write("proc/meminfo", "MemTotal: 16000000 kB\nMemAvailable:    8000000 kB\n");
    const struct {
        const char* cgroupLine;
        std::vector<std::pair<std::string, std::string>> files;
        std::uint64_t room;
    } cases[] = {
        {"0::/user/app\n",
         {{"sys/user/app/memory.max", "max\n"},
          {"sys/user/memory.max", "1048576000\n"},
          {"sys/user/memory.current", "700000000\n"},
          {"sys/user/memory.stat", "anon 1\ninactive_file 100000000\nactive_file 50000000\n"}},
         1048576000 - 550000000},
        {"4:memory:/a/b\n1:cpu:/\n",
         {{"sys/memory/a/b/memory.limit_in_bytes", "943718400\n"},
          {"sys/memory/a/b/memory.usage_in_bytes", "300000000\n"},
          {"sys/memory/a/b/memory.stat", "total_inactive_file 0\ntotal_active_file 0\n"},
          {"sys/memory/a/memory.limit_in_bytes", "9223372036854771712\n"}},
         943718400 - 300000000},
        {"0::/gone\n", {}, MemoryPlan::kUnlimited},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cgroupLine);
        std::filesystem::remove_all(dir.path / "sys");
        std::filesystem::create_directories(dir.path / "sys");
        write("proc/self/cgroup", c.cgroupLine);
        for (const auto& [name, text] : c.files)
            write(name, text);
        MemoryPlan::Sources sources;
        sources.proc = (dir.path / "proc").string();
        sources.cgroups = (dir.path / "sys").string();
        sources.resourceLimits = false;
        const MemoryPlan::Room room = MemoryPlan::readRoom(sources);
        EXPECT_EQ(room.cgroup, c.room);
        EXPECT_EQ(room.available, 8000000ull * 1024);
    }
}

// Sizes are read from the headers of pictures as cameras and other programs
// write them, without decoding; what is no picture has none.
TEST(MemoryPlan, PicturesAreSizedFromTheirHeaders) {
    TestImages::TempDir dir;
    ASSERT_TRUE(TestImages::writeJpeg(dir.file("a.jpg"), TestImages::solid(300, 200, {1, 2, 3})));
    ASSERT_TRUE(TestImages::writeBytes(
        dir.file("b.png"), SamplePictures::png(30, 20, 2, 8, std::vector<std::uint16_t>(1800, 9))));
    std::vector<std::uint8_t> tga = TestImages::targaHeader(2, 70, 50, 24);
    tga.resize(18 + 70 * 50 * 3, 9);
    ASSERT_TRUE(TestImages::writeBytes(dir.file("c.tga"), tga));
    // A header that promises more than its file holds: 65535 x 65535 pixels
    // of three bytes over 1 KB.
    std::vector<std::uint8_t> lying = TestImages::targaHeader(2, 65535, 65535, 24);
    lying.resize(1024, 9);
    ASSERT_TRUE(TestImages::writeBytes(dir.file("e.tga"), lying));
    ASSERT_TRUE(TestImages::writeBytes(dir.file("d.jpg"), std::vector<std::uint8_t>(100, 7)));
    PictureDecoder decoder;
    const struct {
        const char* name;
        int width, height;
        bool jpeg;
    } cases[] = {{"a.jpg", 300, 200, true}, {"b.png", 30, 20, false}, {"c.tga", 70, 50, false},
                 {"d.jpg", 0, 0, false},    {"e.tga", 0, 0, false},   {"none.jpg", 0, 0, false}};
    for (const auto& c : cases) {
        const MemoryPlan::Extent e = MemoryPlan::probe(dir.file(c.name).c_str(), decoder);
        EXPECT_EQ(e.width, c.width) << c.name;
        EXPECT_EQ(e.height, c.height) << c.name;
        EXPECT_EQ(e.jpeg, c.jpeg) << c.name;
    }
}
