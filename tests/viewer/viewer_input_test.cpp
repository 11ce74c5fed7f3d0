// Keys and drags sent to the window reach the view: the camera moves by the step each input
// stands for, in the camera's own axes.
#include <cmath>

#include "geometry/vector.h"
#include "viewer_test_support.h"

namespace strata::viewer {
namespace {

using geometry::Vector3;
using testing::DemoSet;
using testing::drag;
using testing::openWindow;

// The camera's axes before an input: side (right), up and viewing direction.
struct Axes {
    Vector3 side;
    Vector3 up;
    Vector3 dir;
};

Axes axesOf(const app::AppView& v) {
    const Vector3 dir = geometry::normalized(v.viewCamera.dir);
    const Vector3 up = geometry::normalized(v.viewCamera.up);
    return {geometry::normalized(geometry::cross(dir, up)), up, dir};
}

void expectMoved(const Vector3& before, const Vector3& after, const Vector3& expected, float step,
                 const std::string& what) {
    const Vector3 moved = after - before;
    const float tolerance = 1e-3f * step + 1e-6f;
    EXPECT_NEAR(moved.x, expected.x, tolerance) << what;
    EXPECT_NEAR(moved.y, expected.y, tolerance) << what;
    EXPECT_NEAR(moved.z, expected.z, tolerance) << what;
}

TEST(ViewerInput, KeysMoveTheCameraByOneStepInItsOwnAxes) {
    platform::DebugCapture quiet;
    auto frame = openWindow(DemoSet::get().file("ldibrtqp"));
    app::AppView& v = frame->view();
    struct Case {
        Qt::Key key;
        float side;
        float up;
        float forward;
    };
    const Case cases[] = {
        {Qt::Key_Left, -1, 0, 0}, {Qt::Key_Right, 1, 0, 0}, {Qt::Key_Up, 0, 0, 1},
        {Qt::Key_Down, 0, 0, -1}, {Qt::Key_A, 0, 1, 0},     {Qt::Key_Z, 0, -1, 0},
    };
    for (const Case& c : cases) {
        const Axes a = axesOf(v);
        const Vector3 before = v.viewCamera.pos;
        const float step = v.keyStep;
        ASSERT_GT(step, 0.0f);
        QTest::keyClick(frame->viewWidget(), c.key);
        const Vector3 expected =
            a.side * (c.side * step) + a.up * (c.up * step) + a.dir * (c.forward * step);
        expectMoved(before, v.viewCamera.pos, expected, step,
                    QKeySequence(c.key).toString().toStdString());
        EXPECT_TRUE(frame->idlePending());
        frame->runIdle();
    }
}

TEST(ViewerInput, LetterAndKeypadKeysReachTheView) {
    platform::DebugCapture quiet;
    auto frame = openWindow(DemoSet::get().file("ldibrtqp"));
    app::AppView& v = frame->view();
    QWidget* w = frame->viewWidget();
    QTest::keyClick(w, Qt::Key_S);
    EXPECT_TRUE(v.freezeSelection);
    QTest::keyClick(w, Qt::Key_D);
    EXPECT_FALSE(v.freezeSelection);
    // Keypad digits pick a level (and freeze the choice); the digits of the main block do not.
    QTest::keyClick(w, Qt::Key_2);
    EXPECT_FALSE(v.freezeSelection);
    QTest::keyClick(w, Qt::Key_2, Qt::KeypadModifier);
    EXPECT_TRUE(v.freezeSelection);
    QTest::keyClick(w, Qt::Key_L);
    EXPECT_TRUE(v.lowerToggle);
    QTest::keyClick(w, Qt::Key_U);
    EXPECT_TRUE(v.upperToggle);
    EXPECT_FALSE(v.lowerToggle);
    QTest::keyClick(w, Qt::Key_T);
    EXPECT_EQ(v.orbitAboutPivot, 1);
    QTest::keyClick(w, Qt::Key_O);
    EXPECT_EQ(v.orbitAboutPivot, 0);
    // R starts the 50 ms spin timer, whose ticks turn the spin angle; R again stops it.
    QTest::keyClick(w, Qt::Key_R);
    EXPECT_TRUE(frame->spinTimerRunning());
    const float angle = v.spinAngle;
    QTest::qWait(200);
    EXPECT_GT(v.spinAngle, angle + 0.015f);
    QTest::keyClick(w, Qt::Key_R);
    EXPECT_FALSE(frame->spinTimerRunning());
    const float stopped = v.spinAngle;
    QTest::qWait(120);
    EXPECT_EQ(v.spinAngle, stopped);
}

TEST(ViewerInput, KeyCodesOfTheToolkitKeys) {
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        int code;
    };
    const Case cases[] = {
        {Qt::Key_Left, {}, 0x25},
        {Qt::Key_Up, {}, 0x26},
        {Qt::Key_Right, {}, 0x27},
        {Qt::Key_Down, {}, 0x28},
        {Qt::Key_Left, Qt::KeypadModifier, 0x25},
        {Qt::Key_A, {}, 0x41},
        {Qt::Key_A, Qt::ShiftModifier, 0x41},
        {Qt::Key_Z, {}, 0x5A},
        {Qt::Key_0, Qt::KeypadModifier, 0x60},
        {Qt::Key_5, Qt::KeypadModifier, 0x65},
        {Qt::Key_9, Qt::KeypadModifier, 0x69},
        {Qt::Key_0, {}, 0x30},
        {Qt::Key_5, {}, 0x35},
        {Qt::Key_Space, {}, 0},
        {Qt::Key_Escape, {}, 0},
        // The keys other viewers taught users.
        {Qt::Key_Home, {}, 0x24},
        {Qt::Key_F1, {}, 0x70},
        {Qt::Key_F2, {}, 0},
        {Qt::Key_F12, {}, 0x7B},
        {Qt::Key_Question, Qt::ShiftModifier, 0xBF},
        {Qt::Key_Slash, {}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(virtualKeyFor(c.key, c.modifiers), c.code) << std::hex << c.key;
    }
}

TEST(ViewerInput, DragsMoveTurnZoomAndSpinByTheirSteps) {
    platform::DebugCapture quiet;
    auto frame = openWindow(DemoSet::get().file("ldibrtqp"));
    app::AppView& v = frame->view();
    QWidget* w = frame->viewWidget();
    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    const Qt::KeyboardModifiers control = Qt::ControlModifier;
    struct Case {
        const char* name;
        Qt::KeyboardModifiers modifiers;
        QPoint to;  // from (100, 175); y counted downward as the window reports it
        float side;
        float up;
        float forward;  // in pixels of drag times the step
    };
    // Right-button drags: translate sideways or up and down, dolly, push.
    const Case cases[] = {
        {"translate right", none, {110, 175}, -10, 0, 0},
        {"translate left", none, {93, 175}, 7, 0, 0},
        {"translate up", none, {100, 165}, 0, -10, 0},
        {"translate almost sideways", none, {120, 170}, -20, 0, 0},
        {"translate diagonal", none, {110, 165}, -10, -10, 0},
        {"dolly up", shift, {100, 165}, 0, 0, 10},
        {"dolly down", shift, {100, 181}, 0, 0, -6},
        {"push up", shift | control, {100, 165}, 0, 0, -10},
    };
    for (const Case& c : cases) {
        const Axes a = axesOf(v);
        const Vector3 before = v.viewCamera.pos;
        const float step = v.keyStep;
        drag(w, Qt::RightButton, c.modifiers, QPoint(100, 175), c.to);
        const Vector3 expected =
            a.side * (c.side * step) + a.up * (c.up * step) + a.dir * (c.forward * step);
        expectMoved(before, v.viewCamera.pos, expected, step, c.name);
        EXPECT_EQ(v.mouseMode, app::MouseNone) << c.name;
        frame->runIdle();
    }

    // Pan: the camera turns about its own position.
    frame->runIdle();
    const Vector3 position = v.viewCamera.pos;
    const Vector3 dir = v.viewCamera.dir;
    drag(w, Qt::LeftButton, none, QPoint(175, 175), QPoint(215, 175), 4);
    expectMoved(position, v.viewCamera.pos, Vector3{}, v.keyStep, "pan keeps the position");
    EXPECT_GT((v.viewCamera.dir - dir).length(), 1e-3f);

    // Zoom: the field of view narrows by 0.005 per pixel dragged upward.
    const float fov = v.viewCamera.fov;
    drag(w, Qt::RightButton, control, QPoint(100, 175), QPoint(100, 165));
    EXPECT_NEAR(v.viewCamera.fov, fov - 0.05f, 1e-5f);

    // Spin: Shift and Control with the left button turn the spin angle by 0.2 steps per pixel.
    const float angle = v.spinAngle;
    drag(w, Qt::LeftButton, shift | control, QPoint(100, 175), QPoint(130, 175));
    EXPECT_NEAR(v.spinAngle, angle + 0.2f * v.keyStep * 30.0f, 1e-6f);
}

TEST(ViewerInput, MovesWithoutAButtonAreTracked) {
    auto frame = openWindow();
    QWidget* w = frame->viewWidget();
    EXPECT_TRUE(w->hasMouseTracking());
    testing::sendMouse(w, QEvent::MouseMove, QPoint(40, 50), Qt::NoButton, {});
    EXPECT_EQ(frame->view().lastMouseX, 40);
    EXPECT_EQ(frame->view().lastMouseY, 350 - 50);
}

}  // namespace
}  // namespace strata::viewer
