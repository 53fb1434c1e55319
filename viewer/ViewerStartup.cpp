// Viewer start-up: deriving the state and preloading every image behind the
// loading screen while answering the window system, the texture cache's
// lifetime, and the reshape callback. The window itself: ViewerWindow.cpp.
#include "OrbivueGL.h"

#include "MemoryPlan.h"
#include "PreloadPipeline.h"
#include "TextureCache.h"
#include "TextureLoader.h"
#include "ViewerWindow.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace OrbivueGL {

namespace {

// The share of images loaded, for repainting the loading screen.
float preloadFraction = 0;

// The user closed the window while the images were loading.
struct PreloadCancelled {};

// The texture cache of the user, kept from one start to the next (its thread
// may still be flushing the entries of the last start), and made anew when
// the place or size the environment names has changed.
std::shared_ptr<TextureCache> textureCache;

std::shared_ptr<TextureCache> userTextureCache() {
    const std::uint64_t limit = TextureCache::parseLimit(std::getenv("ORBIVUE_CACHE_SIZE"));
    if (textureCache && textureCache->folderPath() == TextureCache::userFolder() &&
        textureCache->bound() == limit)
        return textureCache;
    textureCache.reset();
    textureCache = TextureCache::forUser();
    return textureCache;
}

// Draws the loading screen with its text in white: texturing is off while the
// text is drawn, or the bitmap would be tinted by the last photograph loaded.
void drawLoadingScreen(float fraction) {
    const GLboolean textured = glIsEnabled(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_2D);
    glClear(GL_COLOR_BUFFER_BIT);
    glRasterPos2f(-0.5f, 0.0f);
    const unsigned char* message = reinterpret_cast<const unsigned char*>(kLoadingMessage);
    glutBitmapString(GLUT_BITMAP_TIMES_ROMAN_24, message);
    const std::string percent = loaderPercentText(fraction);
    glutBitmapString(GLUT_BITMAP_TIMES_ROMAN_24,
                     reinterpret_cast<const unsigned char*>(percent.c_str()));
    glutBitmapString(GLUT_BITMAP_TIMES_ROMAN_24, reinterpret_cast<const unsigned char*>("%"));
    if (textured)
        glEnable(GL_TEXTURE_2D);
    glutSwapBuffers();
}

// While the images load, the window repaints its loading screen, keeps the
// projection the loading screen draws with, and drops keys and mouse input.
void repaintLoadingScreen() {
    drawLoadingScreen(preloadFraction);
}
void resizeLoadingScreen(int width, int height) {
    glViewport(0, 0, width, height);
}
void registerPreloadCallbacks() {
    glutReshapeFunc(resizeLoadingScreen);
    glutDisplayFunc(repaintLoadingScreen);
    glutSpecialFunc(nullptr);
    glutMouseFunc(nullptr);
    glutMotionFunc(nullptr);
    glutPassiveMotionFunc(nullptr);
}

// Handles what the window system has sent since the last photograph; a close
// request ends the preload.
void answerWindowSystem() {
    glutMainLoopEvent();
    if (!viewerWindowOpen())
        throw PreloadCancelled{};
}

// What the preload may take of the memory now: the process's limits and the
// system's, or what a test or measurement says.
MemoryPlan::Room memoryRoom() {
    if (preloadRoom == nullptr)
        return MemoryPlan::readRoom();
    MemoryPlan::Room room;
    room.available = preloadRoom();
    return room;
}

// The preload's memory: the sizes of its pictures, read from their headers
// before anything is decoded, and the halvings chosen for all of them.
struct PreloadMemory {
    std::vector<MemoryPlan::Extent> pictures;
    TextureOptions options;
    int maxTextureSize = 0;
    unsigned workers = 0;
    // What the texture cache may hold besides, copies of textures waiting to
    // be written: planned as taken.
    std::uint64_t staging = 0;

    PreloadMemory(const std::vector<const char*>& files, const TextureOptions& o, int maxSize,
                  unsigned threads)
        : options(o), maxTextureSize(maxSize), workers(threads) {
        PictureDecoder decoder;
        pictures.reserve(files.size());
        for (const char* file : files)
            pictures.push_back(MemoryPlan::probe(file, decoder));
    }
    MemoryPlan::Room room() const {
        MemoryPlan::Room r = memoryRoom();
        for (std::uint64_t* limit : {&r.cgroup, &r.available, &r.addressSpace, &r.data})
            if (*limit != MemoryPlan::kUnlimited)
                *limit = *limit > staging ? *limit - staging : 0;
        return r;
    }
    // The halvings for all the photographs and the workers that fit beside
    // them; the workers are taken at their word from then on.
    MemoryPlan::Plan planned() {
        const MemoryPlan::Plan plan =
            MemoryPlan::plan(pictures, options, maxTextureSize, workers, room());
        workers = plan.workers;
        return plan;
    }
    // After photograph `done` has been uploaded with `floor` halvings: the
    // halvings the photographs after it need to fit in what is left. Those
    // the workers decoded ahead are already in memory.
    int halvingsAfter(std::size_t done, int floor) const {
        return MemoryPlan::halvingsForRest(pictures, done + 1 + 2 * std::size_t(workers), options,
                                           maxTextureSize, floor, room());
    }
};

} // namespace

void registerViewerCallbacks() {
    glutReshapeFunc(ChangeSize);
    glutDisplayFunc(RenderScene);
    glutSpecialFunc(SpecialKeys);
    glutMouseFunc(mouseButton);
    glutMotionFunc(activeMouse);
    glutPassiveMotionFunc(passiveMouse);
}

void trimTextureCache() {
    // On the cache's own thread, never while photographs load.
    if (textureCache)
        textureCache->trim();
}

std::int32_t start(OrbivueSettings* record) {
    settings = record;
    // The angle step divides by the number of images: without any there is
    // nothing to show, and no window is opened.
    if (settings == nullptr || settings->getFileNames1().empty())
        return 0;
    startupFunction();
    if (!openViewerWindow())
        return 0;
    SetupRC();
    if (!viewerWindowOpen()) { // closed while the images were loading
        closeViewerWindow();
        return 0;
    }
    armAnimationTimer(33);
    runViewerLoop();
    return 0;
}

void SetupRC() {
    // The loader first: its options decide what the preloading workers do,
    // and they can start decoding while the first loading screen is drawn.
    const TextureOptions viewer = viewerTextureOptions();
    pTextureLoader = new TextureLoader();
    pTextureLoader->SetAlphaMatch(viewer.alphaMatch, viewer.matchRed, viewer.matchGreen,
                                  viewer.matchBlue);
    pTextureLoader->SetHighQualityTextures(viewer.highQuality);
    pTextureLoader->SetMipMapping(viewer.mipMapping);
    pTextureLoader->SetTextureFilter(viewer.textureFilter);

    // Every image of every shown series, in display order.
    const std::vector<const char*>* names[] = {&textureNames1, &textureNames2, &textureNames3};
    const bool clockwise[] = {clockwise1, clockwise2, clockwise3};
    std::vector<const char*> files;
    std::vector<std::int32_t> seriesOf;
    for (int series = 0; series < numSeries; ++series) {
        for (std::int32_t i = 0; i < numImages; ++i) {
            files.push_back((*names[series])[captureIndexForSlot(i, numImages, clockwise[series])]);
            seriesOf.push_back(series + 1);
        }
    }
    // Before anything is decoded: whether the set fits in the memory this
    // process may take at full size, and if not, one smaller size for all.
    TextureOptions options = pTextureLoader->options();
    const int maxTextureSize = queryMaxTextureSize();
    const std::shared_ptr<TextureCache> cache = preloadWorkers > 0 ? userTextureCache() : nullptr;
    PreloadMemory memory(files, options, maxTextureSize, preloadWorkers);
    memory.staging = cache ? cache->stagingBound() : 0;
    const MemoryPlan::Plan plan = memory.planned();
    options.halvings = plan.halvings;
    preloadPlannedHalvings = options.halvings;
    pTextureLoader->ShrinkPhotographs(options.halvings);
    // Without room for a worker beside the set, the photographs load one by
    // one on this thread.
    std::unique_ptr<PreloadPipeline> pipeline;
    if (plan.workers > 0)
        pipeline =
            std::make_unique<PreloadPipeline>(files, options, maxTextureSize, plan.workers, cache);

    // In the viewer's own window the window system is answered between
    // photographs (repaints, a close request); keys and mouse wait.
    const bool answering = viewerWindowOpen();
    if (answering)
        registerPreloadCallbacks();

    setPointer(GLUT_CURSOR_WAIT); // while images load
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glColor3f(1.0f, 1.0f, 1.0f);

    loadedCount = 0;
    totalCount = numSeries * numImages;
    printLoader(0);
    // The workers begin once the first loading screen is drawn: drawing it
    // makes the GL library compile its first shaders, for which it must
    // find the memory the plan kept for it.
    if (pipeline)
        pipeline->start();

    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    glTextures1.clear();
    glTextures2.clear();
    glTextures3.clear();
    // Room for every slot now: appending one must not need memory later.
    for (std::vector<glTexture>* list : {&glTextures1, &glTextures2, &glTextures3})
        list->reserve(static_cast<std::size_t>(numImages));

    auto loaded = [answering] {
        loadedCount += 1;
        printLoader(static_cast<float>(loadedCount) / static_cast<float>(totalCount));
        if (answering)
            answerWindowSystem();
    };
    try {
        if (answering)
            answerWindowSystem();
        if (!pipeline) {
            for (std::size_t k = 0; k < files.size(); ++k) {
                LoadOneJPEG(files[k], static_cast<std::int32_t>(k % numImages), seriesOf[k]);
                pTextureLoader->ShrinkPhotographs(
                    memory.halvingsAfter(k, pTextureLoader->PhotographHalvings()));
                loaded();
            }
        } else {
            // The workers decode ahead; this thread uploads in display order
            // and draws the loading screen after each image, as the serial
            // loop does. The pipeline holds the size floor: what an upload
            // had to take, and what the memory left calls for, raise it.
            pipeline->run([&](std::size_t k, const DecodedTexture& decoded) {
                glTexture record;
                int halvings = pipeline->halvings();
                try {
                    pTextureLoader->UploadPhotograph(files[k], decoded, &record, halvings,
                                                     [&] { pipeline->releaseCurrent(); });
                } catch (const std::bad_alloc&) {
                    ++halvings; // the slot stays white; the rest load smaller
                }
                pipeline->shrinkTo(halvings);
                pipeline->shrinkTo(memory.halvingsAfter(k, pipeline->halvings()));
                storeTexture(record, seriesOf[k]);
                loaded();
            });
        }
    } catch (const PreloadCancelled&) {
        // The window and its context are gone, and with them every texture;
        // the workers have been stopped and joined by the pipeline.
        pipeline.reset();
        delete pTextureLoader;
        pTextureLoader = nullptr;
        return;
    }
    pipeline.reset();

    // These reach only the texture bound now, the last one uploaded.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    // Nothing loads after this; the loader's buffers can go.
    delete pTextureLoader;
    pTextureLoader = nullptr;

    setPointer(GLUT_CURSOR_LEFT_ARROW);
    if (answering) {
        // Any resize during the preload reaches the scene's projection now.
        registerViewerCallbacks();
        ChangeSize(glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
        glutPostRedisplay();
    }
}

void closeTextureCache() {
    textureCache.reset();
}

void LoadOneJPEG(const char* fileName, std::int32_t /*slot*/, std::int32_t series) {
    // Every image takes its slot, loaded or not, so that the others keep
    // their places; a failed one keeps texture name 0 and draws untextured,
    // white. One that memory is short for loads smaller if it can.
    glTexture record;
    pTextureLoader->LoadPhotograph(fileName, &record);
    storeTexture(record, series);
}

void storeTexture(const glTexture& record, std::int32_t series) {
    if (series == 1)
        glTextures1.push_back(record);
    else if (series == 2)
        glTextures2.push_back(record);
    else if (series == 3)
        glTextures3.push_back(record);
}

void printLoader(float fraction) {
    if (loaderObserver != nullptr)
        loaderObserver(fraction);
    preloadFraction = fraction;
    drawLoadingScreen(fraction);
}

void ChangeSize(std::int32_t width, std::int32_t height) {
    if (height == 0)
        height = 1;
    screenSize = height;
    glViewport(0, 0, width, height);
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(35.0, aspect, 0.099, 50.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

} // namespace OrbivueGL
