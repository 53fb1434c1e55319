// Viewer start-up: deriving the state from the record, opening the window,
// preloading every image behind the loading screen, and the reshape callback.
#include "OrbivueGL.h"

#include "PreloadPipeline.h"

#include <GL/freeglut.h>
#include <GL/glu.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sys/select.h>

namespace OrbivueGL {

OrbivueSettings* settings = nullptr;
std::int32_t numImages = 0;
std::int32_t numSeries = 0;
bool clockwise1 = false, clockwise2 = false, clockwise3 = false;
bool skyscraper = false;
bool skyscraperZoom = false;
bool zoom = false;
float beta = 0;
float alphaActual = 0;
float alphaAim = 0;
float seriesAct = 0;
float seriesAim = 0;
float seriesHeight = 0;
float seriesAngle = 0;
float radius0Def = 0;
float radius0 = 0;
float radiusMax = 0;
float radius1Fac = 0;
float radius1 = 0;
float dist = 0;
float speed = 0;
float accel = 0;
float cameraSpeed = 0;
float cameraAccel = 0;
float seriesSpeed = 0;
float seriesAccel = 0;
float alphaFac = 0;
float aspectRatio = 0;
std::int32_t screenSize = 0;
float panX = 0, panY = 0;
float lastPanX = 0, lastPanY = 0;
std::int32_t refX = 0, refY = 0;
std::vector<const char*> textureNames1, textureNames2, textureNames3;
std::vector<glTexture> glTextures1, glTextures2, glTextures3;
TextureLoader* pTextureLoader = nullptr;
GLFrame frameCamera;
std::int32_t loadedCount = 0, totalCount = 0;
unsigned preloadWorkers = PreloadPipeline::defaultWorkers();
void (*loaderObserver)(float fraction) = nullptr;

const char* const kLoadingMessage = "Orbivue is loading your images ... ";

namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;

// Sets the pointer shape of the viewer window. freeglut's own cursor cache
// outlives its display connection, so after the first viewer has closed it
// would hand the next one a cursor that no longer exists, and the X error
// would end the program; the shape is therefore made on the current
// connection each time.
// The display connection of the open viewer window, and whether it is open.
Display* viewerDisplay = nullptr;
bool viewerOpen = false;
// When the next animation tick is due, in freeglut's elapsed milliseconds.
int nextTickDue = 0;

void onViewerClosed() {
    viewerOpen = false;
}

void setPointer(unsigned int shape) {
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable window = glXGetCurrentDrawable();
    if (display == nullptr || window == 0)
        return;
    const Cursor cursor = XCreateFontCursor(display, shape);
    XDefineCursor(display, window, cursor);
    XFreeCursor(display, cursor);
    XFlush(display);
}

} // namespace

double imageStep() {
    return (360.0 / numImages) * kDegreesToRadians;
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
    armAnimationTimer(33);
    runViewerLoop();
    return 0;
}

void startupFunction() {
    refX = refY = 0;
    panX = panY = lastPanX = lastPanY = 0;
    seriesAct = seriesAim = 0;
    alphaActual = alphaAim = 0;

    textureNames1 = settings->getFileNames1();
    clockwise1 = settings->isClockwise1();
    numSeries = 1;
    numImages = static_cast<std::int32_t>(textureNames1.size());

    // A second or third series is shown only with as many images as the
    // first, and the third only when the second is shown.
    textureNames2 = settings->getFileNames2();
    clockwise2 = settings->isClockwise2();
    if (static_cast<std::int32_t>(textureNames2.size()) == numImages)
        numSeries = 2;
    if (numSeries == 2) {
        textureNames3 = settings->getFileNames3();
        clockwise3 = settings->isClockwise3();
        if (static_cast<std::int32_t>(textureNames3.size()) == numImages)
            numSeries = 3;
    }

    beta = static_cast<float>((360.0 / numImages) * kDegreesToRadians);
    skyscraper = settings->isSkyscraper();
    skyscraperZoom = settings->isSkyscraperZoom();

    seriesHeight = static_cast<float>(2.0 * 0.6);
    seriesAngle = 30;
    radius0Def = 2.8f;
    radiusMax = static_cast<float>(1.5 * radius0Def);

    zoom = settings->isZoom();
    radius0 = radius0Def;
    radius1Fac = 3;
    radius1 = zoom ? static_cast<float>(static_cast<double>(radius0) / radius1Fac) : 0.0f;

    speed = static_cast<float>(0.04 * (settings->getSpeed() / 5.0));
    accel = 2;
    cameraSpeed = static_cast<float>(static_cast<double>(speed) / numImages);
    cameraAccel = static_cast<float>(static_cast<double>(cameraSpeed) * accel);

    seriesSpeed = static_cast<float>(0.005 * (settings->getSpeed() / 5.0));
    seriesAccel = static_cast<float>(static_cast<double>(seriesSpeed) * accel);

    alphaFac = 1.3f;
    aspectRatio = static_cast<float>(4.0 / 3.0);
    screenSize = 550;
}

bool openViewerWindow() {
    // freeglut ends the whole program when it cannot reach a display; the
    // editor must survive that, so look first.
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XCloseDisplay(display);

    int argc = 0;
    char empty[] = "";
    char* argv[] = {empty, nullptr};
    glutInit(&argc, argv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(static_cast<int>(static_cast<double>(screenSize) * aspectRatio), screenSize);
    glutCreateWindow("Orbivue");
    viewerDisplay = glXGetCurrentDisplay();
    viewerOpen = true;
    glutCloseFunc(onViewerClosed);
    glutReshapeFunc(ChangeSize);
    glutDisplayFunc(RenderScene);
    glutSpecialFunc(SpecialKeys);
    glutMouseFunc(mouseButton);
    glutMotionFunc(activeMouse);
    glutPassiveMotionFunc(passiveMouse);
    return true;
}

void armAnimationTimer(int milliseconds) {
    nextTickDue = glutGet(GLUT_ELAPSED_TIME) + milliseconds;
    glutTimerFunc(static_cast<unsigned int>(milliseconds), TimerFunction, 1);
}

void runViewerLoop() {
    // freeglut's own main loop would close the display connection while the
    // destroyed window's context is still current, and the next viewer's
    // first context switch would then touch freed memory. This loop does the
    // same work (events, timers, redisplays, sleeping until the next tick or
    // event) but releases the context before freeglut shuts down.
    while (viewerOpen) {
        glutMainLoopEvent();
        if (!viewerOpen)
            break;
        const int wait = nextTickDue - glutGet(GLUT_ELAPSED_TIME);
        if (wait > 0 && XPending(viewerDisplay) == 0) {
            const int fd = ConnectionNumber(viewerDisplay);
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(fd, &readable);
            timeval timeout{0, static_cast<suseconds_t>(std::min(wait, 100)) * 1000};
            select(fd + 1, &readable, nullptr, nullptr, &timeout);
        }
    }
    closeViewerWindow();
}

void closeViewerWindow() {
    if (viewerDisplay == nullptr)
        return;
    if (viewerOpen) {
        glutDestroyWindow(glutGetWindow());
        while (viewerOpen)
            glutMainLoopEvent();
    }
    glXMakeCurrent(viewerDisplay, None, nullptr);
    viewerDisplay = nullptr;
    glutExit();
}

std::size_t captureIndexForSlot(std::size_t slot, std::size_t count, bool clockwise) {
    return clockwise ? slot : count - 1 - slot;
}

std::string loaderPercentText(float fraction) {
    const int percent = static_cast<int>(std::ceil(static_cast<double>(fraction) * 100.0));
    char text[16];
    std::snprintf(text, sizeof text, "%3d", percent);
    return text;
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
    const TextureOptions options = pTextureLoader->options();
    std::unique_ptr<PreloadPipeline> pipeline;
    if (preloadWorkers > 0) {
        pipeline = std::make_unique<PreloadPipeline>(files, options, queryMaxTextureSize(),
                                                     preloadWorkers);
        pipeline->start();
    }

    setPointer(XC_watch); // the wait cursor while images load
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

    auto loaded = [] {
        loadedCount += 1;
        printLoader(static_cast<float>(loadedCount) / static_cast<float>(totalCount));
    };
    if (!pipeline) {
        for (std::size_t k = 0; k < files.size(); ++k) {
            LoadOneJPEG(files[k], static_cast<std::int32_t>(k % numImages), seriesOf[k]);
            loaded();
        }
    } else {
        // The workers decode ahead; this thread uploads in display order and
        // draws the loading screen after each image, as the serial loop does.
        pipeline->run([&](std::size_t k, const DecodedTexture& decoded) {
            glTexture record;
            uploadDecodedTexture(decoded, options, &record);
            storeTexture(record, seriesOf[k]);
            loaded();
        });
        pipeline.reset();
    }

    // These reach only the texture bound now, the last one uploaded.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    // Nothing loads after this; the loader's buffers can go.
    delete pTextureLoader;
    pTextureLoader = nullptr;

    setPointer(XC_left_ptr);
}

void LoadOneJPEG(const char* fileName, std::int32_t /*slot*/, std::int32_t series) {
    // Every image takes its slot, loaded or not, so that the others keep
    // their places; a failed one keeps texture name 0 and draws untextured.
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
    glClear(GL_COLOR_BUFFER_BIT);
    glRasterPos2f(-0.5f, 0.0f);
    const unsigned char* message = reinterpret_cast<const unsigned char*>(kLoadingMessage);
    glutBitmapString(GLUT_BITMAP_TIMES_ROMAN_24, message);
    const std::string percent = loaderPercentText(fraction);
    glutBitmapString(GLUT_BITMAP_TIMES_ROMAN_24,
                     reinterpret_cast<const unsigned char*>(percent.c_str()));
    glutBitmapString(GLUT_BITMAP_TIMES_ROMAN_24, reinterpret_cast<const unsigned char*>("%"));
    glutSwapBuffers();
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
