#include "decode/DecoderVersions.h"

#include <QtGlobal>
#include <jconfig.h>
#include <lcms2.h>
#include <png.h>
#include <turbojpeg.h>

#include <dlfcn.h>
#include <sys/stat.h>

#ifndef LIBJPEG_TURBO_VERSION_NUMBER
#error "the JPEG library's headers do not say its version"
#endif

namespace DecoderVersions {

namespace {

// The JPEG library says its version only to the compiler; the file it is
// loaded from tells a library replaced since the build (an update of the
// same version that decodes differently), by its size and modification time.
std::string jpegLibrary() {
    std::string text = "jpeg " + std::to_string(LIBJPEG_TURBO_VERSION_NUMBER);
    Dl_info where{};
    struct stat info{};
    if (::dladdr(reinterpret_cast<void*>(&tjDecompress2), &where) != 0 &&
        where.dli_fname != nullptr && ::stat(where.dli_fname, &info) == 0)
        text += " (" + std::to_string(info.st_size) + " bytes, " +
                std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) +
                ")";
    return text;
}

} // namespace

std::string libraries() {
    return jpegLibrary() + ", lcms " + std::to_string(cmsGetEncodedCMMversion()) + ", png " +
           std::to_string(png_access_version_number()) + ", qt " + qVersion();
}

} // namespace DecoderVersions
