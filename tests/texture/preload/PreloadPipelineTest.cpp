#include "preload/PreloadPipeline.h"
#include "TestImages.h"
#include "decode/Mipmaps.h"
#include "decode/PictureDecoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

using namespace TestImages;

namespace {

struct Loaded {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<std::uint8_t> bytes;
};

Loaded copy(const DecodedTexture& d) {
    Loaded l;
    l.ok = d.ok;
    l.width = d.width;
    l.height = d.height;
    if (d.ok) {
        const std::size_t n = static_cast<std::size_t>(d.width) * d.height * d.bytesPerPixel;
        l.bytes.assign(d.pixels, d.pixels + n);
        const std::size_t m = Mipmaps::bytesBelow(d.width, d.height, d.bytesPerPixel);
        if (d.mipmaps != nullptr)
            l.bytes.insert(l.bytes.end(), d.mipmaps, d.mipmaps + m);
    }
    return l;
}

// A mix of photographs of different sizes, a targa file and broken files.
class Pipeline : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 14; ++i) {
            const std::string path = dir.file("p" + std::to_string(i) + ".jpg");
            const int w = 40 + 37 * i, h = 30 + 23 * i;
            ASSERT_TRUE(writeJpeg(path, quadrants(w, h, {std::uint8_t(i * 15), 0, 0}, {0, 255, 0},
                                                  {0, 0, 255}, {255, 255, std::uint8_t(i)})));
            paths.push_back(path);
        }
        std::vector<std::uint8_t> tga = targaHeader(2, 100, 3, 24);
        tga.resize(18 + 100 * 3 * 3, 90);
        ASSERT_TRUE(writeBytes(dir.file("t.tga"), tga));
        paths.insert(paths.begin() + 3, dir.file("t.tga"));
        paths.insert(paths.begin() + 5, dir.file("missing.jpg"));
        ASSERT_TRUE(writeBytes(dir.file("broken.jpg"), std::vector<std::uint8_t>(999, 3)));
        paths.push_back(dir.file("broken.jpg"));
        for (const std::string& p : paths)
            files.push_back(p.c_str());
    }
    std::vector<Loaded> serial() {
        TextureScratch scratch;
        std::vector<Loaded> out;
        for (const char* f : files) {
            DecodedTexture d;
            decodeTexture(f, viewerTextureOptions(), 4096, scratch, d);
            out.push_back(copy(d));
        }
        return out;
    }
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<const char*> files;
};

} // namespace

TEST_F(Pipeline, ResultsArriveInFileOrderAndEqualTheSerialLoads) {
    const std::vector<Loaded> expected = serial();
    for (unsigned workers : {1u, 2u, 3u, 8u}) {
        std::vector<std::size_t> order;
        std::vector<Loaded> got;
        PreloadPipeline(files, viewerTextureOptions(), 4096, workers)
            .run({.upload = [&](std::size_t index, const DecodedTexture& d) {
                order.push_back(index);
                got.push_back(copy(d));
                return UploadOutcome::Loaded;
            }});
        ASSERT_EQ(got.size(), expected.size()) << workers << " workers";
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(order[i], i);
            EXPECT_EQ(got[i].ok, expected[i].ok) << "file " << i;
            EXPECT_EQ(got[i].width, expected[i].width);
            EXPECT_EQ(got[i].height, expected[i].height);
            EXPECT_TRUE(got[i].bytes == expected[i].bytes)
                << "file " << i << ", " << workers << " workers";
        }
        EXPECT_FALSE(got[5].ok) << "a missing file keeps its place";
        EXPECT_FALSE(got.back().ok);
    }
}

TEST_F(Pipeline, AFailingConsumerEndsTheWorkersCleanly) {
    int seen = 0;
    EXPECT_THROW(PreloadPipeline(files, viewerTextureOptions(), 4096, 2)
                     .run({.upload =
                               [&](std::size_t index, const DecodedTexture&) {
                                   ++seen;
                                   if (index == 2)
                                       throw std::runtime_error("stop");
                                   return UploadOutcome::Loaded;
                               }}),
                 std::runtime_error);
    EXPECT_EQ(seen, 3);
}

TEST(PipelineEdges, NoFilesAndMoreWorkersThanFiles) {
    int calls = 0;
    PreloadPipeline({}, TextureOptions(), 1024, 4)
        .run({.upload = [&](std::size_t, const DecodedTexture&) {
            ++calls;
            return UploadOutcome::Loaded;
        }});
    EXPECT_EQ(calls, 0);
}

namespace {

constexpr std::uint64_t MiB = 1ull << 20;

// Photographs of three sizes in turn, whose textures have a longer side of
// 1024, 512 and 256 pixels with the viewer's options: halved at most twice,
// once and never for want of memory.
class MixedSizes : public ::testing::Test {
  protected:
    static constexpr int kFiles = 15;
    void SetUp() override {
        for (int i = 0; i < kFiles; ++i) {
            paths.push_back(dir.file("m" + std::to_string(i) + ".jpg"));
            ASSERT_TRUE(write(i, sizes[i % 3]));
        }
        for (const std::string& p : paths)
            files.push_back(p.c_str());
    }
    bool write(int i, const int (&size)[2]) {
        const std::uint8_t shade = static_cast<std::uint8_t>(i * 16);
        return writeJpeg(paths[i], quadrants(size[0], size[1], {shade, 0, 0}, {0, 255, shade},
                                             {0, shade, 255}, {255, 255, 255}));
    }
    // File `i` decoded on its own with `halvings` asked for.
    Loaded alone(std::size_t i, int halvings) {
        TextureOptions o = viewerTextureOptions();
        o.halvings = halvings;
        DecodedTexture d;
        decodeTexture(files[i], o, 4096, scratch, d);
        return copy(d);
    }
    static MemoryPlan::Room available(std::uint64_t bytes) {
        MemoryPlan::Room room;
        room.available = bytes;
        return room;
    }
    const int sizes[3][2] = {{1500, 1100}, {1000, 700}, {700, 500}};
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<const char*> files;
    TextureScratch scratch;
};

} // namespace

// Memory that runs short twice in the middle of a preload: the room the
// process has (what it may take less the textures it holds) drops after 4
// and after 9 photographs to what holds the rest one and two halvings
// smaller, while the workers hold results decoded ahead at the old size.
// Every photograph ends whole, and the set even: at exactly the size the
// last floor allows each (the 256-pixel ones at their own size throughout),
// byte for byte as decoded alone at that size.
TEST_F(MixedSizes, AFloorRaisedTwiceMidwayLeavesEverySlotAtTheSizeItAllows) {
    const TextureOptions viewer = viewerTextureOptions();
    std::vector<MemoryPlan::Extent> extents;
    PictureDecoder decoder;
    for (const char* f : files)
        extents.push_back(MemoryPlan::probe(f, decoder));
    const std::uint64_t kPlanned = 4096 * MiB, margin = MemoryPlan::reserveOf(kPlanned);
    for (const unsigned workers : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        std::size_t done = 0;
        std::uint64_t held = 0, limit = kPlanned;
        const auto room = [&] { return available(limit - held); };
        // After 4 and after 9 photographs the limit drops to what the
        // textures held now and the rest one more time halved take.
        std::size_t dropped = 0;
        const auto tighten = [&] {
            const std::pair<std::size_t, int> drops[] = {{4, 1}, {9, 2}};
            if (dropped < 2 && done == drops[dropped].first) {
                const std::vector<MemoryPlan::Extent> rest(extents.begin() + done, extents.end());
                limit = held + margin +
                        MemoryPlan::textureBytes(rest, viewer, 4096, drops[dropped].second);
                ++dropped;
            }
        };
        PreloadPipeline pipeline(files, viewer, 4096, workers);
        ASSERT_EQ(pipeline.plan(room).halvings, 0);
        std::vector<Loaded> last(files.size());
        std::vector<int> uploads(files.size(), 0);
        std::vector<std::uint64_t> bytes(files.size(), 0);
        pipeline.run({.upload =
                          [&](std::size_t file, const DecodedTexture& d) {
                              last[file] = copy(d);
                              ++uploads[file];
                              bytes[file] = MemoryPlan::levelBytes(d.width, d.height, viewer);
                              held += bytes[file];
                              return d.ok ? UploadOutcome::Loaded : UploadOutcome::Unreadable;
                          },
                      .unload =
                          [&](std::size_t file) {
                              held -= bytes[file];
                              bytes[file] = 0;
                          },
                      .done =
                          [&](std::size_t) {
                              ++done;
                              tighten();
                          }});
        EXPECT_EQ(pipeline.halvings(), 2);
        for (std::size_t k = 0; k < files.size(); ++k) {
            SCOPED_TRACE("file " + std::to_string(k));
            const Loaded expected = alone(k, 2);
            ASSERT_TRUE(last[k].ok) << "a photograph left white";
            EXPECT_EQ(last[k].width, expected.width);
            EXPECT_EQ(last[k].height, expected.height);
            EXPECT_TRUE(last[k].bytes == expected.bytes);
        }
        // The first photograph, 1024 pixels, was loaded again smaller; the
        // last one, after the second drop, once.
        EXPECT_GE(uploads[0], 2);
        EXPECT_EQ(uploads[files.size() - 1], 1);
    }
}

// Between the plan and the decode the files are replaced by photographs four
// times as large each way, which do not fit at full size: each decode sees
// its picture's real size before allocating for it, the rest are read again,
// and the whole set loads at one smaller size, none white. A targa file whose
// header claims 65535 x 65535 pixels over 1 KB of data moves no plan.
TEST_F(MixedSizes, PicturesThatGrowAfterThePlanAndALyingHeaderKeepTheSetEven) {
    std::vector<std::uint8_t> lying = targaHeader(2, 65535, 65535, 24);
    lying.resize(1024, 7);
    ASSERT_TRUE(writeBytes(dir.file("lying.tga"), lying));
    std::vector<const char*> set = files;
    set.insert(set.begin() + 2, paths.emplace_back(dir.file("lying.tga")).c_str());
    const TextureOptions viewer = viewerTextureOptions();
    // Beside the plan's margin of 128 MiB, room for the small set at full
    // size (1.3 MB of textures) and the large one halved once (5.2 MB), not
    // for the large one at full size (21 MB).
    const std::uint64_t room = 138 * MiB;
    for (const unsigned workers : {0u, 2u}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        for (int i = 0; i < kFiles; ++i)
            ASSERT_TRUE(write(i, {sizes[2][0] / 2, sizes[2][1] / 2}));
        PreloadPipeline pipeline(set, viewer, 4096, workers);
        ASSERT_EQ(pipeline.plan([&] { return available(room); }).halvings, 0)
            << "the lying header made the plan smaller";
        for (int i = 0; i < kFiles; ++i)
            ASSERT_TRUE(write(i, {sizes[2][0] * 2, sizes[2][1] * 2}));
        std::vector<int> widths;
        pipeline.run({.upload = [&](std::size_t file, const DecodedTexture& d) {
            if (file != 2)
                widths.push_back(d.ok ? d.width : 0);
            return d.ok ? UploadOutcome::Loaded : UploadOutcome::Unreadable;
        }});
        ASSERT_EQ(widths.size(), static_cast<std::size_t>(kFiles));
        EXPECT_GT(pipeline.halvings(), 0);
        for (const int w : widths)
            EXPECT_EQ(w, widths.front()) << "one size for the whole set, none white";
        EXPECT_LT(widths.front(), 1024);
        EXPECT_GT(widths.front(), 0);
    }
}
