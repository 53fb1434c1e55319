// Writes the ready-to-load set of the sample object: a settings file and its
// three list files, with absolute paths to the 24 photographs of each series
// (sample/render.sh makes them).
//
//   make_sample_set IMAGES_DIR SETTINGS_FILE [STAGING_ROOT]
//
// IMAGES_DIR is the folder the set refers to (where the pictures are, or
// will be once installed); SETTINGS_FILE is where the set belongs. With a
// STAGING_ROOT (a packaging folder standing for /), the files are written
// below it but still name each other by their final paths.
#include "IniProfile.h"
#include "SetFile.h"

#include <cstdio>
#include <filesystem>
#include <string>

// Photographs of each series, 15 degrees apart.
constexpr int kPositions = 24;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_sample_set IMAGES_DIR SETTINGS_FILE [STAGING_ROOT]\n");
        return 2;
    }
    const std::string images = std::filesystem::absolute(argv[1]).lexically_normal().string();
    const std::filesystem::path finalSettings = std::filesystem::absolute(argv[2]);
    const std::string staging = argc == 4 ? argv[3] : "";
    const std::filesystem::path settings = staging + finalSettings.string();
    std::filesystem::create_directories(settings.parent_path());
    // A fresh file each time: saving over one would keep keys of an older set.
    std::filesystem::remove(settings);

    SetFile::StoredSet set;
    const char* series[3] = {"lower", "centric", "upper"};
    for (int s = 0; s < 3; ++s) {
        for (int i = 0; i < kPositions; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%s-%02d.jpg", series[s], i);
            set.lists[s].push_back(images + "/" + name);
        }
    }
    const SetFile::SaveResult result = SetFile::save(settings.string(), set);
    if (result.problem != SetFile::SaveResult::None) {
        std::fprintf(stderr, "make_sample_set: could not write %s\n", result.path.c_str());
        return 1;
    }
    if (!staging.empty()) {
        const char* sections[3] = {"Lower Series", "Centric Series", "Upper Series"};
        for (int n = 0; n < 3; ++n) {
            if (!IniProfile::write(settings.string(), sections[n],
                                   "ImageList" + std::to_string(n + 1),
                                   SetFile::listFilePath(finalSettings.string(), n + 1))) {
                std::fprintf(stderr, "make_sample_set: could not write %s\n", settings.c_str());
                return 1;
            }
        }
    }
    return 0;
}
