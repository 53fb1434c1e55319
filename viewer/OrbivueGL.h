#pragma once

#include "GLFrame.h"
#include "OrbivueSettings.h"
#include "gl/TextureRecord.h"

#include <cstdint>
#include <string>
#include <vector>

// The viewer: a freeglut window that preloads every photograph of a set as a
// texture behind a loading screen, then lets the user orbit the object with
// the arrow keys, cross-fading from photograph to photograph.
//
// It is a module of free functions over the module-level state below; the
// state is declared here so that tests can set it and call the callbacks.
// This header needs no GL: the arithmetic (state derivation, frame
// composition, animation, keys and mouse) is built and tested without one.
class TextureLoader;

namespace OrbivueGL {

// freeglut's key and button codes, as the callbacks receive them.
constexpr std::int32_t kKeyLeft = 100, kKeyUp = 101, kKeyRight = 102, kKeyDown = 103;
constexpr std::int32_t kButtonMiddle = 1, kButtonRight = 2, kWheelForward = 3, kWheelBackward = 4;

// ---- Viewer state. Angles named alpha are radians; seriesAngle and every
// angle handed to OpenGL are degrees; distances are world units.
extern OrbivueSettings* settings; // the set being shown, owned by the caller
extern std::int32_t numImages;    // images per series (N)
extern std::int32_t numSeries;    // series shown, 1 to 3
extern bool clockwise1, clockwise2, clockwise3;
extern bool skyscraper;          // series stacked vertically instead of tilted
extern bool skyscraperZoom;      // camera zoom also between series in skyscraper mode
extern bool zoom;                // pull the camera back while it moves
extern float beta;               // angle between neighbouring images
extern float alphaActual;        // current camera angle, not wrapped
extern float alphaAim;           // target camera angle, whole image steps, not wrapped
extern float seriesAct;          // current series position, 0 = lower series
extern float seriesAim;          // target series, whole number
extern float seriesHeight;       // vertical spacing of the series in skyscraper mode
extern float seriesAngle;        // tilt between neighbouring series otherwise
extern float radius0Def;         // default camera distance
extern float radius0;            // camera distance at rest (mouse wheel)
extern float radiusMax;          // largest radius0
extern float radius1Fac;         // divisor of the zoom-out amplitude
extern float radius1;            // zoom-out amplitude, 0 without zoom
extern float dist;               // camera distance of the current frame
extern float speed;              // base speed
extern float accel;              // boost factor mid-move
extern float cameraSpeed;        // smallest angle moved per tick
extern float cameraAccel;        // extra angle per tick at mid-move
extern float seriesSpeed;        // smallest series distance moved per tick
extern float seriesAccel;        // extra series distance per tick at mid-move
extern float alphaFac;           // contrast of the cross-fades
extern float aspectRatio;        // width / height of every picture
extern std::int32_t screenSize;  // window height in pixels
extern float panX, panY;         // camera shift, to its right and downwards
extern float lastPanX, lastPanY; // shift when the current drag began
extern std::int32_t refX, refY;  // pointer when the current drag began
extern std::vector<const char*> textureNames1, textureNames2, textureNames3;
extern std::vector<glTexture> glTextures1, glTextures2, glTextures3; // slot order
extern TextureLoader* pTextureLoader;
extern GLFrame frameCamera;
extern std::int32_t loadedCount, totalCount; // preloading progress
// Threads that decode photographs ahead of the uploads during preloading;
// 0 loads them one by one on this thread. One per hardware thread by default.
extern unsigned preloadWorkers;
// What the preload may take of the memory, in bytes, when set (tests,
// measurements); otherwise it reads the process's limits, its memory
// cgroup's and the system's available memory.
extern std::uint64_t (*preloadRoom)();
// The halvings the last preload chose for all its photographs before it
// decoded the first, so that the set fits in that memory (0: full size).
extern int preloadPlannedHalvings;
// The scale factor of the editor's window (2 on a high-density screen): the
// viewer's window and its loading text take it, so that both stand as large
// beside the editor as at scale 1. At 1, exactly 733 x 550 pixels and the
// bitmap font.
extern double viewerScale;
// The viewer window's size in pixels for the scale factor: 733 x 550 at 1.
void viewerWindowSize(double scale, int& width, int& height);
// Told every fraction the loading screen shows, when set (tests, measurements).
extern void (*loaderObserver)(float fraction);
// When the next animation tick is due, in freeglut's elapsed milliseconds.
extern int nextTickDue;
// Animation ticks run since the program started (tests, measurements).
extern std::uint64_t ticksRun;

// ---- Start-up and preloading.
// Runs the viewer on a filled record until its window is closed; returns 0.
std::int32_t start(OrbivueSettings* settings);
// Derives the viewer state from `settings`.
void startupFunction();
// Initialises freeglut and opens the viewer window with its callbacks (the
// part of start between deriving the state and preloading). False when no
// display can be opened.
bool openViewerWindow();
// Runs the window's events, timers and redraws until the user closes it,
// then shuts freeglut down so that the next start can initialise it again.
void runViewerLoop();
// Closes the viewer window (if still open) and shuts freeglut down.
void closeViewerWindow();
// Arms the animation timer and notes when its tick is due.
void armAnimationTimer(int milliseconds);
void SetupRC();
void LoadOneJPEG(const char* fileName, std::int32_t slot, std::int32_t series);
// Appends a texture record to series 1, 2 or 3 (any other number: nothing).
void storeTexture(const glTexture& record, std::int32_t series);
void printLoader(float fraction);
void ChangeSize(std::int32_t width, std::int32_t height);
// Lets the texture cache put in place what the preloads have written and
// trims it, then closes it; the program calls it before it ends. The next
// start opens the cache again.
void closeTextureCache();

// The file shown in `slot` of a series of `count` images: the capture order
// for a clockwise series, the reverse for a counter-clockwise one.
std::size_t captureIndexForSlot(std::size_t slot, std::size_t count, bool clockwise);
// The percentage of the loading screen, right-aligned in three characters.
std::string loaderPercentText(float fraction);
// The message in front of it.
extern const char* const kLoadingMessage;

// ---- Rendering.
// One picture of a frame, drawn in list order over the ones before it.
struct FramePicture {
    int series;   // 0 lower, 1 centric, 2 upper
    int slot;     // 0 .. N - 1
    float alpha;  // opacity, clamped by GL to 0 .. 1
    bool raise;   // skyscraper mode: raised by `height` instead of tilted
    float height; // world units, with raise
    float tilt;   // degrees about Frame::tiltAxis, without raise
    float turn;   // degrees about the vertical axis: the image's own angle
};
struct Frame {
    float tiltAxis[3] = {0, 0, 0};
    std::vector<FramePicture> pictures; // at most four
};
// Which pictures a frame shows, with which opacities and transforms; also
// places frameCamera for it. No GL call.
Frame composeFrame();
void RenderScene();
void DrawOneImage(std::int32_t slot, float alpha, float series);

// ---- Navigation and animation.
// The animation timer's period, and the most ticks one timer call catches up
// on when frames took longer than that (300 ms: a stalled machine jumps
// ahead instead of running away).
constexpr int kTickPeriodMs = 3;
constexpr int kMostTicksAtOnce = 100;
// The state change of one animation tick, without redisplay or timer.
void animationStep();
// How many ticks a timer call at `now` runs when its tick was due at `due`:
// the one due and every period that has passed since, at most `most`.
int ticksDue(int now, int due, int period, int most);
// What a frame shows depends on these; a tick that leaves them as they were
// asks for no redraw.
struct ViewPose {
    float alphaActual = 0, seriesAct = 0, dist = 0, panX = 0, panY = 0;
    bool operator==(const ViewPose&) const = default;
};
ViewPose currentPose();
void TimerFunction(std::int32_t value);
void SpecialKeys(std::int32_t key, std::int32_t x, std::int32_t y);
void mouseButton(std::int32_t button, std::int32_t state, std::int32_t x, std::int32_t y);
void activeMouse(std::int32_t x, std::int32_t y);
void passiveMouse(std::int32_t x, std::int32_t y);

// The angle between neighbouring images in double precision.
double imageStep();

} // namespace OrbivueGL
