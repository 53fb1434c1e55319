// The animation timer: runs the ticks that are due by the clock and asks for
// a redraw only when they changed what is seen.
#include "OrbivueGL.h"

#include <GL/freeglut.h>

#include <cmath>

namespace OrbivueGL {

static_assert(kKeyLeft == GLUT_KEY_LEFT && kKeyUp == GLUT_KEY_UP && kKeyRight == GLUT_KEY_RIGHT &&
              kKeyDown == GLUT_KEY_DOWN);
static_assert(kButtonMiddle == GLUT_MIDDLE_BUTTON && kButtonRight == GLUT_RIGHT_BUTTON);

namespace {

// The pose last asked to be drawn; none before the first tick of a start.
ViewPose posted;
bool anyPosted = false;

} // namespace

void armAnimationTimer(int milliseconds) {
    anyPosted = false;
    nextTickDue = glutGet(GLUT_ELAPSED_TIME) + milliseconds;
    glutTimerFunc(static_cast<unsigned int>(milliseconds), TimerFunction, 1);
}

void TimerFunction(std::int32_t /*value*/) {
    // A tick that falls due in the same pass in which the user closed the
    // window finds no window: posting a redisplay then would end the program.
    if (glutGetWindow() == 0)
        return;
    // Each tick is one fixed step; when a frame took longer than the period,
    // the ticks that fell due meanwhile run now, so that a move lasts its
    // tick count times the period whatever a frame costs.
    const int now = glutGet(GLUT_ELAPSED_TIME);
    const int ticks = ticksDue(now, nextTickDue, kTickPeriodMs, kMostTicksAtOnce);
    for (int i = 0; i < ticks; ++i)
        animationStep();
    ticksRun += static_cast<std::uint64_t>(ticks);

    // A still picture is not drawn again: at rest the viewer sleeps.
    const ViewPose pose = currentPose();
    if (!anyPosted || !(pose == posted)) {
        posted = pose;
        anyPosted = true;
        glutPostRedisplay();
    }

    nextTickDue += ticks * kTickPeriodMs;
    if (nextTickDue <= now - kTickPeriodMs) // further behind than one call catches up
        nextTickDue = now + kTickPeriodMs;
    const int wait = nextTickDue > now ? nextTickDue - now : 0;
    glutTimerFunc(static_cast<unsigned int>(wait), TimerFunction, 1);
}

} // namespace OrbivueGL
