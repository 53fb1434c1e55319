#include "PreloadPipeline.h"
#include "Mipmaps.h"
#include "TestImages.h"

#include <gtest/gtest.h>

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
            .run([&](std::size_t index, const DecodedTexture& d) {
                order.push_back(index);
                got.push_back(copy(d));
            });
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
                     .run([&](std::size_t index, const DecodedTexture&) {
                         ++seen;
                         if (index == 2)
                             throw std::runtime_error("stop");
                     }),
                 std::runtime_error);
    EXPECT_EQ(seen, 3);
}

TEST(PipelineEdges, NoFilesAndMoreWorkersThanFiles) {
    int calls = 0;
    PreloadPipeline({}, TextureOptions(), 1024, 4).run([&](std::size_t, const DecodedTexture&) {
        ++calls;
    });
    EXPECT_EQ(calls, 0);
}
