#pragma once

#include <string>

// The GL library keeps its compiled shaders in a folder of its own under the
// user's cache folder, and prints a complaint when it cannot make that
// folder. The program's start-up quietens it, before any thread and any GL
// call, since it changes the environment of the whole process.
namespace GlShaderCache {

// When the user has not chosen a place for those shaders and the folder
// they would go to can be neither had nor made, the GL library's shader
// cache is turned off, so that nothing is printed. A shader cache that works
// is left alone.
void quieten();

// Whether the GL library's shader cache folder can be had under the cache
// folder the environment names (XDG_CACHE_HOME, even a relative one, as the
// GL library takes it, else `home`/.cache).
bool usable(const char* cacheHome, const std::string& home);

} // namespace GlShaderCache
