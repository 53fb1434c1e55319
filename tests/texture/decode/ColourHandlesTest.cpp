// Little CMS's profiles and transforms are freed when memory runs out in the
// middle of building a conversion: every C++ allocation of the build is made
// to fail in turn, and Little CMS's own blocks are counted through its memory
// plug-in.
#include "SamplePictures.h"
#include "decode/ColourProfile.h"

#include <lcms2_plugin.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

// Allocations on this thread until the one that fails; 0: none fails.
thread_local long allocationsToFailure = 0;

std::atomic<long> cmsBlocks{0};
void* cmsMalloc(cmsContext, cmsUInt32Number size) {
    ++cmsBlocks;
    return std::malloc(size);
}
void cmsFree(cmsContext, void* block) {
    if (block != nullptr)
        --cmsBlocks;
    std::free(block);
}
void* cmsRealloc(cmsContext, void* block, cmsUInt32Number size) {
    if (block == nullptr)
        ++cmsBlocks;
    return std::realloc(block, size);
}

void countCmsBlocks() {
    static cmsPluginMemHandler handler = [] {
        cmsPluginMemHandler h{};
        h.base.Magic = cmsPluginMagicNumber;
        h.base.ExpectedVersion = 2000;
        h.base.Type = cmsPluginMemHandlerSig;
        h.MallocPtr = cmsMalloc;
        h.FreePtr = cmsFree;
        h.ReallocPtr = cmsRealloc;
        return h;
    }();
    static const bool installed = cmsPlugin(&handler) != 0;
    ASSERT_TRUE(installed);
}

} // namespace

void* operator new(std::size_t size) {
    if (allocationsToFailure > 0 && --allocationsToFailure == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
// The forms that do not throw, replaced too: every block these delete must
// come from the same malloc (a sanitizer's own nothrow form would not).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
// Every block the program frees came from the malloc above; a compiler that
// inlines these into a vector's destructor sees only `new` paired with
// `free`, and would warn.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

TEST(ColourHandles, MemoryRunningOutWhileAConversionIsBuiltLeavesNoProfileOpen) {
    countCmsBlocks();
    const struct {
        const char* name;
        std::vector<std::uint8_t> profile;
        PixelKind kind;
    } cases[] = {
        {"Adobe RGB (tables and a matrix)",
         SamplePictures::iccProfile(SamplePictures::Space::AdobeRgb), PixelKind::Rgb},
        {"grey (a table)", SamplePictures::greyProfile(), PixelKind::Grey},
        {"CMYK (Little CMS's transform kept)", SamplePictures::cmykProfile(), PixelKind::Cmyk},
    };
    for (const auto& c : cases) {
        bool completed = false;
        for (long failing = 1; !completed && failing < 10000; ++failing) {
            const long before = cmsBlocks.load();
            {
                std::vector<std::uint8_t> pixels(64 * 4, 128);
                ColourConverter converter;
                allocationsToFailure = failing;
                try {
                    converter.toSrgb(c.profile.data(), c.profile.size(), c.kind, pixels.data(), 64);
                    completed = true;
                } catch (const std::bad_alloc&) {
                }
                allocationsToFailure = 0;
            }
            ASSERT_EQ(cmsBlocks.load(), before)
                << c.name << ": Little CMS blocks left after allocation " << failing << " failed";
        }
        EXPECT_TRUE(completed) << c.name;
    }
}
