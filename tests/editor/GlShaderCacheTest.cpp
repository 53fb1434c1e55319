#include "GlShaderCache.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace TestImages;

// The GL library's shader cache, under the cache folder it is given: a
// folder it may write in or make, not a file, not below one, not an empty
// or unreadable name.
TEST(GlShaderCache, UsableWhereTheGlLibraryCanMakeItsFolder) {
    TempDir cache;
    ASSERT_TRUE(writeText(cache.file("file"), "x"));
    const std::string in = cache.path.string();
    const struct {
        std::optional<std::string> cacheHome; // XDG_CACHE_HOME
        std::string home;
        bool usable;
    } shaders[] = {{in, "", true},
                   {std::nullopt, in, true}, // its .cache made
                   {cache.file("new"), "", true},
                   {cache.file("file"), in, false},
                   {cache.file("file/below"), in, false},
                   {cache.file("missing/below"), in, false},
                   {"", in, false},
                   {std::nullopt, "", false},
                   {"/proc/self/no", in, false}};
    for (const auto& c : shaders)
        EXPECT_EQ(GlShaderCache::usable(c.cacheHome ? c.cacheHome->c_str() : nullptr, c.home),
                  c.usable)
            << c.cacheHome.value_or("unset") << " " << c.home;
}
