// Viewer start-up: deriving the state and preloading every image behind the
// loading screen while answering the window system, the texture cache's
// lifetime, and the reshape callback. The window itself: ViewerWindow.cpp.
#include "OrbivueGL.h"

#include "ViewerWindow.h"
#include "cache/TextureCache.h"
#include "gl/TextureLoader.h"
#include "preload/MemoryPlan.h"
#include "preload/PreloadPipeline.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

// The bound ORBIVUE_CACHE_SIZE sets. One that is no size is said once on
// standard error, with what is used instead, not at every start.
std::uint64_t textureCacheLimit() {
    static std::string told;
    std::string complaint;
    const std::uint64_t limit =
        TextureCache::parseLimit(std::getenv("ORBIVUE_CACHE_SIZE"), &complaint);
    if (!complaint.empty() && complaint != told) {
        std::fprintf(stderr, "%s\n", complaint.c_str());
        told = complaint;
    }
    return limit;
}

std::shared_ptr<TextureCache> userTextureCache() {
    const std::uint64_t limit = textureCacheLimit();
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
    const std::string percent = loaderPercentText(fraction);
    const unsigned char* parts[] = {reinterpret_cast<const unsigned char*>(kLoadingMessage),
                                    reinterpret_cast<const unsigned char*>(percent.c_str()),
                                    reinterpret_cast<const unsigned char*>("%")};
    int width = 0, height = 0;
    viewerWindowSize(viewerScale, width, height);
    if (height == screenSize) {
        glRasterPos2f(-0.5f, 0.0f);
        for (const unsigned char* part : parts)
            glutBitmapString(GLUT_BITMAP_TIMES_ROMAN_24, part);
    } else {
        // At another scale the bitmap font would stand as small as at 1: the
        // same text in freeglut's stroke font, as large beside the window as
        // the bitmap font at 1 (its 24 pixels for the stroke font's height
        // of 152.38 units), from the same place.
        const double pixel = 24.0 * height / screenSize / 152.38;
        const GLint viewport[4] = {0, 0, glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT)};
        glPushMatrix();
        glTranslatef(-0.5f, 0.0f, 0.0f);
        glScaled(2.0 * pixel / std::max(viewport[2], 1), 2.0 * pixel / std::max(viewport[3], 1),
                 1.0);
        glPushAttrib(GL_LINE_BIT);
        glLineWidth(static_cast<GLfloat>(std::max(1.0, 1.5 * height / screenSize)));
        // A space as wide as half a digit, as in the bitmap font: the
        // stroke font's own is a whole one.
        for (const unsigned char* part : parts)
            for (const unsigned char* c = part; *c != '\0'; ++c) {
                if (*c == ' ')
                    glTranslatef(0.5f * glutStrokeWidth(GLUT_STROKE_ROMAN, '0'), 0.0f, 0.0f);
                else
                    glutStrokeCharacter(GLUT_STROKE_ROMAN, *c);
            }
        glPopAttrib();
        glPopMatrix();
    }
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

// The record of file `k` of the preload: slot k % numImages of series
// k / numImages + 1, appended the first time and replaced when the file is
// loaded again.
glTexture* slotRecord(std::size_t k) {
    std::vector<glTexture>* lists[] = {&glTextures1, &glTextures2, &glTextures3};
    std::vector<glTexture>& list = *lists[k / static_cast<std::size_t>(numImages)];
    const std::size_t slot = k % static_cast<std::size_t>(numImages);
    if (slot >= list.size())
        list.resize(slot + 1);
    return &list[slot];
}

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
    // The loader first: its options decide what the preload does.
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
    for (int series = 0; series < numSeries; ++series)
        for (std::int32_t i = 0; i < numImages; ++i)
            files.push_back((*names[series])[captureIndexForSlot(i, numImages, clockwise[series])]);
    const TextureOptions options = pTextureLoader->options();
    PreloadPipeline pipeline(files, options, queryMaxTextureSize(), preloadWorkers);

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

    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    glTextures1.clear();
    glTextures2.clear();
    glTextures3.clear();
    // Room for every slot now: appending one must not need memory later.
    for (std::vector<glTexture>* list : {&glTextures1, &glTextures2, &glTextures3})
        list->reserve(static_cast<std::size_t>(numImages));

    // The GL stage: every file takes its slot, loaded or not, so that the
    // others keep their places; a failed one keeps texture name 0 and draws
    // untextured, white.
    PreloadPipeline::Stage stage;
    stage.upload = [&](std::size_t k, const DecodedTexture& decoded) {
        glTexture record;
        const UploadOutcome outcome = uploadDecoded(decoded, options, &record);
        *slotRecord(k) = record;
        return outcome;
    };
    stage.unload = [](std::size_t k) {
        glTexture* record = slotRecord(k);
        if (record->textureId != 0)
            glDeleteTextures(1, &record->textureId);
        *record = glTexture();
    };
    stage.done = [answering](std::size_t) {
        loadedCount += 1;
        printLoader(static_cast<float>(loadedCount) / static_cast<float>(totalCount));
        if (answering)
            answerWindowSystem();
    };
    try {
        if (answering)
            answerWindowSystem();
        // Before anything is decoded, with the loading screen up and the
        // window system answered meanwhile: the size of every photograph
        // from its header, whether the set fits in the memory this process
        // may take at full size, and if not, one smaller size for all. The
        // workers begin after the first loading screen, whose drawing makes
        // the GL library compile its first shaders in the memory the plan
        // kept for it.
        const bool caching = textureCacheLimit() > 0;
        const MemoryPlan::Plan plan =
            pipeline.plan(memoryRoom, caching ? TextureCache::kDefaultStaging : 0, [answering] {
                if (answering)
                    answerWindowSystem();
            });
        preloadPlannedHalvings = plan.halvings;
        // The cache is opened only when it will be read or filled.
        if (plan.withStaging)
            pipeline.useCache(userTextureCache());
        pipeline.start();
        pipeline.run(stage);
    } catch (const PreloadCancelled&) {
        // The window and its context are gone, and with them every texture;
        // the workers are stopped and joined when the pipeline goes.
        delete pTextureLoader;
        pTextureLoader = nullptr;
        return;
    }

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
    // Every image takes its slot, loaded or not; a failed one keeps texture
    // name 0 and draws untextured, white.
    glTexture record;
    pTextureLoader->LoadTextureFromDisk(fileName, &record);
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
