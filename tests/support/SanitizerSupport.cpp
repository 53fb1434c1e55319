// Linked into every test program. In builds with the leak checker, Mesa's
// software GL driver is kept loaded for the whole process: freeglut closes its
// display connection after each viewer, the driver would be unloaded with it,
// and the memory its globals still hold would then look leaked.
#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>

#include <initializer_list>

namespace {

struct KeepGlDriverLoaded {
    KeepGlDriverLoaded() {
        for (const char* path :
             {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "/usr/lib/dri/swrast_dri.so"}) {
            if (dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) != nullptr)
                break;
        }
    }
} keepGlDriverLoaded;

} // namespace
#endif
