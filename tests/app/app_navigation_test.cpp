// Navigation: keys step by keyStep in the camera's own axes, the seven drag modes by their
// formulas, Restrict Movement, RESET, the trackball and the spin timer.
#include <cmath>
#include <utility>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "app/trackball.h"
#include "app_test_support.h"
#include "platform/debug_output.h"

namespace strata::app {
namespace {

using geometry::Vector3;
using testing::DemoSet;
using testing::expectNear;
using testing::OpenedView;
using testing::TestView;

constexpr float kPi = 3.14159265f;

TEST(Trackball, DragTurnsByTheScaledDifference) {
    Trackball t;
    t.setSize(350, 350, 0.8f);
    t.setGain(0.5f);
    t.drag(0, 0, 175, 0, 0.25f);  // m / 2 to the right
    EXPECT_FLOAT_EQ(t.yaw, 0.0625f);
    EXPECT_FLOAT_EQ(t.pitch, 0.0f);
    EXPECT_NEAR(t.orientation.y, std::sin(0.03125), 1e-9);
    EXPECT_NEAR(t.orientation.w, std::cos(0.03125), 1e-9);
    const Trackball before = t;
    t.drag(40, 90, 40, 90, 0.25f);  // onto itself
    EXPECT_EQ(t.yaw, before.yaw);
    EXPECT_EQ(t.pitch, before.pitch);
    EXPECT_EQ(t.orientation, before.orientation);
    t.drag(0, 0, 0, 175, 0.25f);  // upward: pitch goes down
    EXPECT_FLOAT_EQ(t.pitch, -0.0625f);
    // Limits.
    t.pitch = 20.0f;
    t.turn(-1.0f, 0.0f);
    EXPECT_FLOAT_EQ(t.pitch, 20.0f);
    t.yaw = -19.9f;
    t.turn(0.0f, -1.0f);
    EXPECT_FLOAT_EQ(t.yaw, -20.0f);
    // A window without area, or a non-finite turn, changes nothing.
    Trackball empty;
    empty.drag(0, 0, 10, 10, 0.25f);
    EXPECT_EQ(empty.yaw, 0.0f);
    EXPECT_EQ(empty.orientation, geometry::Quaternion{});
    t.turn(std::nanf(""), 0.0f);
    EXPECT_FLOAT_EQ(t.pitch, 20.0f);
}

struct CameraAxes {
    Vector3 side;
    Vector3 up;
    Vector3 dir;
};

CameraAxes axesOf(const geometry::ViewCamera& c) {
    return {geometry::normalized(geometry::cross(c.dir, c.up)), c.up, c.dir};
}

TEST(AppNavigation, EachKeyStepsByKeyStepInTheCameraAxes) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    struct KeyCase {
        int key;
        float side, up, forward;
    };
    const KeyCase cases[] = {{vk::kLeft, -1, 0, 0}, {vk::kRight, 1, 0, 0}, {vk::kUp, 0, 0, 1},
                             {vk::kDown, 0, 0, -1}, {vk::kA, 0, 1, 0},     {vk::kZ, 0, -1, 0}};
    for (const bool turnedFirst : {false, true}) {
        TestView t;
        AppView& v = t.view;
        platform::DebugCapture quiet;
        ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
        if (turnedFirst) {  // the axes are the turned camera's
            v.OnLButtonDown(175, 175, false, false);
            v.OnMouseMove(215, 150);
            v.OnLButtonUp(215, 150);
        }
        for (const KeyCase& c : cases) {
            SCOPED_TRACE(c.key);
            const CameraAxes a = axesOf(v.viewCamera);
            const Vector3 before = v.viewCamera.pos;
            v.needsRedraw = false;
            v.OnKeyDown(c.key);
            const Vector3 expected =
                before + (a.side * c.side + a.up * c.up + a.dir * c.forward) * v.keyStep;
            expectNear(v.viewCamera.pos, expected, 2e-5f, "position");
            expectNear(v.viewCamera.dir, a.dir, 1e-6f, "direction unchanged");
            EXPECT_NEAR((v.viewCamera.pos - before).length(), v.keyStep, 2e-5f);
            EXPECT_TRUE(v.needsRedraw);
        }
    }
}

TEST(AppNavigation, KeysWithoutMotion) {
    TestView t;
    AppView& v = t.view;
    int started = 0;
    int killed = -1;
    v.onStartTimer = [&](int id, int ms) {
        EXPECT_EQ(id, 1);
        EXPECT_EQ(ms, 50);
        ++started;
    };
    v.onKillTimer = [&](int id) { killed = id; };
    const Vector3 pos = v.viewCamera.pos;
    v.keyMotion = {1, 2, 3};
    v.OnKeyDown(vk::kS);
    EXPECT_TRUE(v.freezeSelection);
    EXPECT_EQ(v.keyMotion, Vector3{});
    v.OnKeyDown(vk::kD);
    EXPECT_FALSE(v.freezeSelection);
    v.OnKeyDown(vk::kU);
    EXPECT_TRUE(v.upperToggle);
    v.OnKeyDown(vk::kL);
    EXPECT_TRUE(v.lowerToggle);
    EXPECT_FALSE(v.upperToggle);
    v.OnKeyDown(vk::kL);
    EXPECT_FALSE(v.lowerToggle);
    v.OnKeyDown(vk::kU);
    v.OnKeyDown(vk::kN);
    EXPECT_FALSE(v.upperToggle);
    EXPECT_FALSE(v.lowerToggle);
    v.OnKeyDown(vk::kT);
    EXPECT_EQ(v.orbitAboutPivot, 1);
    v.OnKeyDown(vk::kO);
    EXPECT_EQ(v.orbitAboutPivot, 0);
    for (const int keypad : {0x60, 0x63, 0x65}) {  // numeric keypad 0, 3, 5
        v.needsRedraw = false;
        v.freezeSelection = false;
        v.OnKeyDown(keypad);
        EXPECT_TRUE(v.freezeSelection) << keypad;
        EXPECT_TRUE(v.needsRedraw) << keypad;
    }
    v.freezeSelection = false;
    v.OnKeyDown(0x5F);  // one before keypad 0
    EXPECT_FALSE(v.freezeSelection);
    v.needsRedraw = false;
    v.OnKeyDown(0x66);  // one past keypad 5
    v.OnKeyDown(0x23);  // End, two before Left (Home before it is RESET)
    EXPECT_FALSE(v.needsRedraw);
    EXPECT_EQ(v.viewCamera.pos, pos);
    // R starts and stops the 50 ms timer; the angle keeps its value.
    v.OnKeyDown(vk::kR);
    EXPECT_TRUE(v.animate);
    EXPECT_EQ(started, 1);
    v.OnTimer(1);
    v.OnKeyDown(vk::kR);
    EXPECT_FALSE(v.animate);
    EXPECT_EQ(killed, 1);
    EXPECT_FLOAT_EQ(v.spinAngle, 0.01f);
}

TEST(AppNavigation, TimerTickAdvancesAndWrapsTheSpinAngle) {
    AppView v;
    v.spinAngle = 1.0f;
    v.OnTimer(1);
    EXPECT_FLOAT_EQ(v.spinAngle, 1.01f);
    EXPECT_TRUE(v.timerTick);
    v.spinAngle = 6.28f;
    v.OnTimer(1);
    EXPECT_NEAR(v.spinAngle, 6.29f - 6.283185308f, 1e-6f);
    EXPECT_GT(v.spinAngle, 0.0f);
    v.spinAngle = 6.27f;
    v.OnTimer(1);
    EXPECT_FLOAT_EQ(v.spinAngle, 6.28f);  // below 2 pi: no wrap
}

// Drags in the default view: the camera at the origin looking along -z with up +y, so the
// camera axes are the world axes and keyStep is 2 sqrt(3) / 300.
struct DragCase {
    const char* name;
    bool right;
    bool shift;
    bool control;
    int dx;
    int dyDown;     // client y grows downward
    Vector3 steps;  // expected move in keySteps
};

TEST(AppNavigation, MoveDragsByTheirFormulas) {
    const DragCase cases[] = {
        {"translate sideways", true, false, false, 10, 0, {-10, 0, 0}},
        {"translate up", true, false, false, 0, -10, {0, -10, 0}},
        // Within about 17 degrees of an axis a drag keeps to the axis; other drags move both
        // ways.
        {"translate at 45 degrees", true, false, false, 10, -10, {-10, -10, 0}},
        {"translate down and left", true, false, false, -20, 12, {20, 12, 0}},
        {"translate 16 degrees", true, false, false, 100, -29, {-100, 0, 0}},
        {"translate 18 degrees", true, false, false, 100, -32, {-100, -32, 0}},
        {"translate 72 degrees", true, false, false, 32, -100, {-32, -100, 0}},
        {"translate 74 degrees", true, false, false, 29, -100, {0, -100, 0}},
        {"translate nothing", true, false, false, 0, 0, {0, 0, 0}},
        {"dolly", true, true, false, 3, -10, {0, 0, -10}},
        {"push", true, true, true, 3, -10, {0, 0, 10}},
    };
    for (const DragCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestView t;
        AppView& v = t.view;
        const float k = v.keyStep;
        v.OnRButtonDown(100, 200, c.shift, c.control);
        v.OnMouseMove(100 + c.dx, 200 + c.dyDown);
        expectNear(v.viewCamera.pos, c.steps * k, 1e-6f, "position");
        expectNear(v.navPosition, c.steps * k, 1e-6f, "navigation position");
        EXPECT_EQ(v.lastMouseX, 100 + c.dx);
        EXPECT_EQ(v.lastMouseY, 350 - (200 + c.dyDown));
        v.OnRButtonUp(0, 0);
        EXPECT_EQ(v.mouseMode, MouseNone);
        EXPECT_EQ(v.keyMotion, Vector3{});
    }
    TestView t;
    t.view.OnRButtonDown(0, 0, true, true);
    EXPECT_EQ(t.view.mouseMode, MousePush);
    t.view.OnMouseMove(0, -5);
    EXPECT_TRUE(t.view.timerTick);
}

// In a wide or tall window the angle spans the smaller side and pixels stay square, at reset
// and after a zoom.
TEST(AppNavigation, WideAndTallWindowsKeepSquarePixels) {
    for (const auto& [w, h] : {std::pair{700, 350}, std::pair{350, 700}}) {
        TestView t;
        AppView& v = t.view;
        v.clientWidth = w;
        v.clientHeight = h;
        v.ResetView(w, h);
        const float ax = static_cast<float>(w) / 350.0f;
        const float ay = static_cast<float>(h) / 350.0f;
        const float t0 = std::tan(0.5f * 0.7853982f);
        EXPECT_EQ(v.warpProjection,
                  geometry::frustum(-t0 * ax, t0 * ax, -t0 * ay, t0 * ay, 1.0f, -1.0f));
        v.OnRButtonDown(100, 200, false, true);
        v.OnMouseMove(100, 190);
        const float tn = std::tan(0.5f * (0.7853982f - 0.05f));
        EXPECT_EQ(v.warpProjection,
                  geometry::frustum(-tn * ax, tn * ax, -tn * ay, tn * ay, 1.0f, -1.0f));
        EXPECT_EQ(v.clipProjection,
                  geometry::frustum(-tn * ax, tn * ax, -tn * ay, tn * ay, 1.0f, 1000.0f));
    }
}

TEST(AppNavigation, ZoomHasAFloor) {
    TestView t;
    AppView& v = t.view;
    v.OnRButtonDown(100, 200, false, true);
    EXPECT_EQ(v.mouseMode, MouseZoom);
    v.OnMouseMove(100, 190);  // up 10: narrower
    const float f = 0.7853982f - 0.05f;
    EXPECT_FLOAT_EQ(v.viewCamera.fov, f);
    const float tn = std::tan(f * 0.5f);
    EXPECT_EQ(v.warpProjection, geometry::frustum(-tn, tn, -tn, tn, 1.0f, -1.0f));
    EXPECT_EQ(v.clipProjection, geometry::frustum(-tn, tn, -tn, tn, 1.0f, 1000.0f));
    EXPECT_EQ(v.viewCamera.projection, v.warpProjection);
    EXPECT_EQ(v.warpMatrix, geometry::product(geometry::product(v.viewportMatrix, v.warpProjection),
                                              v.navViewMatrix));
    v.OnMouseMove(100, 40);  // up 150 more: far below the floor
    EXPECT_FLOAT_EQ(v.viewCamera.fov, 0.017f);
    v.OnMouseMove(100, 440);  // down 400: 2.017, above the start
    EXPECT_NEAR(v.viewCamera.fov, 2.017f, 1e-5f);
    v.OnMouseMove(100, 1440);  // never to pi or beyond
    EXPECT_LT(v.viewCamera.fov, kPi);
    EXPECT_TRUE(std::isfinite(v.warpMatrix(0, 0)));
}

TEST(AppNavigation, SpinDragAddsToTheAngle) {
    TestView t;
    AppView& v = t.view;
    v.OnLButtonDown(100, 100, true, true);
    EXPECT_EQ(v.mouseMode, MouseSpin);
    v.OnMouseMove(110, 120);
    EXPECT_FLOAT_EQ(v.spinAngle, 0.2f * v.keyStep * 10.0f);
    EXPECT_TRUE(v.timerTick);
    v.OnLButtonUp(110, 120);
    EXPECT_EQ(v.panRateX, 0.0f);
}

TEST(AppNavigation, PanTurnsAboutTheCameraPosition) {
    TestView t;
    AppView& v = t.view;
    v.OnLButtonDown(175, 175, false, false);
    EXPECT_EQ(v.mouseMode, MousePan);
    v.OnMouseMove(210, 175);  // 35 pixels right
    // yaw = 2 * 35 / 350 * 0.25 * 0.5 * gain 0.5
    const float yaw = 2.0f * 35.0f / 350.0f * 0.125f * 0.5f;
    EXPECT_FLOAT_EQ(v.trackball.yaw, yaw);
    EXPECT_EQ(v.orientation, v.trackball.orientation);
    expectNear(v.viewCamera.pos, {0, 0, 0}, 1e-6f, "position");
    EXPECT_NEAR(geometry::dot(v.viewCamera.dir, {0, 0, -1}), std::cos(yaw), 1e-6f);
    EXPECT_NEAR(v.viewCamera.dir.y, 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(v.panRateX, 35.0f / 175.0f);
    EXPECT_FLOAT_EQ(v.panRateY, 0.0f);
}

// Pan rates in a wide window: x against half the width, y against half the height, each clamped
// to its own half.
TEST(AppNavigation, PanRatesOfANonSquareWindow) {
    struct Case {
        int x;
        int y;
        float rateX;
        float rateY;
    };
    const Case cases[] = {
        {300, 40, 50.0f / 250.0f, 60.0f / 100.0f},
        {250, 100, 0.0f, 0.0f},
        {600, -50, 1.0f, 1.0f},  // clamped to each half
        {-20, 260, -1.0f, -1.0f},
        {0, 200, -1.0f, -1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << ", " << c.y);
        TestView t;
        AppView& v = t.view;
        v.clientWidth = 500;
        v.clientHeight = 200;
        v.OnLButtonDown(c.x, c.y, false, false);
        EXPECT_FLOAT_EQ(v.panRateX, c.rateX);
        EXPECT_FLOAT_EQ(v.panRateY, c.rateY);
        EXPECT_EQ(v.lastMouseY, 200 - c.y);
    }
}

TEST(AppNavigation, OrbitKeepsThePointAtMoveScale) {
    for (const int behind : {0, 1}) {
        SCOPED_TRACE(behind);
        TestView t;
        AppView& v = t.view;
        v.OnCommand(behind != 0 ? 35000 : 35001);
        const float m = v.moveScale;
        const Vector3 centre = v.viewCamera.pos + v.viewCamera.dir * (behind != 0 ? -m : m);
        v.OnLButtonDown(175, 175, true, false);
        EXPECT_EQ(v.mouseMode, MouseOrbit);
        v.OnMouseMove(177, 174);
        // The point at moveScale stays where it was, to second order in the small turn.
        const Vector3 after = v.viewCamera.pos + v.viewCamera.dir * (behind != 0 ? -m : m);
        const float turn = std::fabs(v.trackball.yaw) + std::fabs(v.trackball.pitch);
        ASSERT_GT(turn, 0.0f);
        EXPECT_LT((after - centre).length(), 2.0f * m * turn * turn);
        // And the camera moved on the sphere about it by the turn.
        EXPECT_NEAR((v.viewCamera.pos - centre).length(), m, m * turn * turn);
        EXPECT_GT(v.viewCamera.pos.length(), 0.5f * m * turn);
    }
}

// A drag of `steps` moves of 10 pixels from (x, y) by (dx, dy) per move, with the button held.
void dragBy(AppView& v, bool left, bool shift, int x, int y, int dx, int dy, int steps) {
    if (left) {
        v.OnLButtonDown(x, y, shift, false);
    } else {
        v.OnRButtonDown(x, y, shift, false);
    }
    for (int i = 1; i <= steps; ++i) {
        v.OnMouseMove(x + dx * i, y + dy * i);
    }
    if (left) {
        v.OnLButtonUp(x + dx * steps, y + dy * steps);
    } else {
        v.OnRButtonUp(x + dx * steps, y + dy * steps);
    }
}

// Long orbits: seven 320-pixel drags one way and seven back, then up and down, after moves and
// turns, in front and behind: the centre stays put and the eye keeps its distance from it.
TEST(AppNavigation, OrbitKeepsItsCentreAndDistanceOverLongDragSequences) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    for (const int behind : {0, 1}) {
        SCOPED_TRACE(behind);
        TestView t(350, 200);
        AppView& v = t.view;
        const platform::DebugCapture quiet;
        ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
        v.OnCommand(behind != 0 ? 35000 : 35001);
        // Moved and turned first.
        v.OnKeyDown(vk::kLeft);
        v.OnKeyDown(vk::kUp);
        dragBy(v, true, false, 175, 100, 3, -2, 10);
        const float m = v.moveScale;
        const float sign = behind != 0 ? -1.0f : 1.0f;
        const auto centreOf = [&] { return v.viewCamera.pos + v.viewCamera.dir * (sign * m); };
        const Vector3 centre = centreOf();
        const Vector3 start = v.viewCamera.pos;
        const auto check = [&](const char* what) {
            EXPECT_LT((centreOf() - centre).length(), 1e-3f * m) << what;
            EXPECT_NEAR((v.viewCamera.pos - centre).length(), m, 1e-3f * m) << what;
        };
        for (int i = 0; i < 7; ++i) {
            dragBy(v, true, true, 15, 100, 10, 0, 32);
            check("right");
        }
        EXPECT_GT((v.viewCamera.pos - start).length(), 0.5f * m);  // it did go round
        for (int i = 0; i < 7; ++i) {
            dragBy(v, true, true, 335, 100, -10, 0, 32);
            check("back");
        }
        expectNear(v.viewCamera.pos, start, 1e-3f * m, "back at the start");
        for (int i = 0; i < 3; ++i) {
            dragBy(v, true, true, 175, 190, 0, -10, 18);
            check("up");
        }
        for (int i = 0; i < 3; ++i) {
            dragBy(v, true, true, 175, 10, 7, 10, 18);
            check("down and sideways");
        }
    }
}

// Key T: turns go about the point 0.7 in front of the eye, the same way as without it; moves
// and the reset are those of the normal mode.
TEST(AppNavigation, PivotModeTurnsAboutThePointInFrontAndResetsAsTheNormalMode) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    TestView normal(200, 100);
    TestView pivot(200, 100);
    const platform::DebugCapture quiet;
    ASSERT_TRUE(normal.view.OpenFile(demo.file("ldibrtqp")));
    ASSERT_TRUE(pivot.view.OpenFile(demo.file("ldibrtqp")));
    pivot.view.OnKeyDown(vk::kT);
    const auto same = [&](const char* what, float tolerance) {
        expectNear(pivot.view.viewCamera.pos, normal.view.viewCamera.pos, tolerance, what);
        expectNear(pivot.view.viewCamera.dir, normal.view.viewCamera.dir, 1e-5f, what);
        expectNear(pivot.view.viewCamera.up, normal.view.viewCamera.up, 1e-5f, what);
    };
    for (const int key : {vk::kLeft, vk::kUp, vk::kA, vk::kDown}) {
        normal.view.OnKeyDown(key);
        pivot.view.OnKeyDown(key);
        same("key", 1e-5f);
    }
    // A pan: the view turns the same way in both modes; the pivot mode keeps the point 0.7 in
    // front of the eye where it was, the normal mode the eye.
    const Vector3 eye = normal.view.viewCamera.pos;
    const Vector3 point = pivot.view.viewCamera.pos + pivot.view.viewCamera.dir * 0.7f;
    dragBy(normal.view, true, false, 100, 50, 4, -1, 12);
    dragBy(pivot.view, true, false, 100, 50, 4, -1, 12);
    expectNear(pivot.view.viewCamera.dir, normal.view.viewCamera.dir, 1e-5f, "turned alike");
    expectNear(normal.view.viewCamera.pos, eye, 1e-5f, "normal: about the eye");
    expectNear(pivot.view.viewCamera.pos + pivot.view.viewCamera.dir * 0.7f, point, 1e-4f,
               "pivot: about the point in front");
    EXPECT_GT((pivot.view.viewCamera.pos - eye).length(), 0.01f);
    // The reset: the same camera and the same picture.
    normal.view.OnCommand(kIdReset);
    pivot.view.OnCommand(kIdReset);
    EXPECT_EQ(pivot.view.orbitAboutPivot, 1);  // the selector persists
    same("reset", 0.0f);
    normal.view.OnIdle();
    pivot.view.OnIdle();
    ASSERT_EQ(pivot.view.frameImage.pixelCount(), normal.view.frameImage.pixelCount());
    for (std::size_t i = 0; i < normal.view.frameImage.pixelCount(); ++i) {
        ASSERT_EQ(pivot.view.frameImage.pixels[i], normal.view.frameImage.pixels[i]) << i;
    }
}

// Restrict Movement with the maker's camera outside the scene's box: the walk from the start
// goes forward through the scene until the wall, then all the way back.
TEST(AppNavigation, RestrictedWalkFromTheStartHitsTheWallAndWalksBack) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    TestView t(200, 100);
    AppView& v = t.view;
    const platform::DebugCapture quiet;
    ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
    const Vector3 start = v.viewCamera.pos;
    ASSERT_FALSE(start.z < v.boundsMax.z);  // the reference eye is outside the scene's box
    v.OnCommand(35004);
    const auto insideBoth = [&](const Vector3& p) {
        return v.movementMin.x < p.x && p.x < v.movementMax.x && v.movementMin.y < p.y &&
               p.y < v.movementMax.y && v.movementMin.z < p.z && p.z < v.movementMax.z;
    };
    EXPECT_TRUE(insideBoth(start));
    for (const Vector3& corner : {v.boundsMin, v.boundsMax}) {
        EXPECT_TRUE(insideBoth(corner));
    }
    // Back and sideways from the start are open too.
    v.OnKeyDown(vk::kDown);
    EXPECT_NE(v.viewCamera.pos, start);
    v.OnKeyDown(vk::kUp);
    v.OnKeyDown(vk::kLeft);
    EXPECT_NE(v.viewCamera.pos, start);
    v.OnKeyDown(vk::kRight);
    expectNear(v.viewCamera.pos, start, 1e-4f, "start");
    int forward = 0;
    for (int i = 0; i < 5000; ++i) {
        const Vector3 before = v.viewCamera.pos;
        v.OnKeyDown(vk::kUp);
        if (v.viewCamera.pos == before) {
            break;
        }
        ++forward;
        ASSERT_TRUE(insideBoth(v.viewCamera.pos));
    }
    EXPECT_GT(forward, 300);   // through the scene: its depth is about 130 steps
    EXPECT_LT(forward, 5000);  // and the wall stops it
    EXPECT_LT(v.viewCamera.pos.z, v.boundsMin.z);
    for (int i = 0; i < forward; ++i) {
        const Vector3 before = v.viewCamera.pos;
        v.OnKeyDown(vk::kDown);
        ASSERT_NE(v.viewCamera.pos, before) << i;
    }
    expectNear(v.viewCamera.pos, start, 1e-3f, "back at the start");
}

TEST(AppNavigation, ConstantVelocityMouseTurnsByTheCursorOffset) {
    TestView t;
    AppView& v = t.view;
    v.OnCommand(35003);
    v.OnLButtonDown(175, 175, false, false);
    v.OnMouseMove(175, 175);
    v.OnMouseMove(175, 175);
    EXPECT_EQ(v.trackball.yaw, 0.0f);  // at the centre: no turn
    EXPECT_EQ(v.trackball.pitch, 0.0f);
    v.OnMouseMove(275, 175);  // 100 right of the centre: int(100 * 100 / 175) = 57
    const float once = 2.0f * 57.0f / 350.0f * 0.125f * 0.5f;
    EXPECT_FLOAT_EQ(v.trackball.yaw, once);
    v.OnMouseMove(275, 175);  // no motion, the same turn again
    EXPECT_FLOAT_EQ(v.trackball.yaw, 2.0f * once);
}

TEST(AppNavigation, RestrictMovementRefusesStepsOutOfTheBox) {
    TestView t;
    AppView& v = t.view;
    v.OnCommand(35004);
    ASSERT_TRUE(v.restrictMovement);
    // From the centre of the box of side 2, forward until the face at z = -1.
    int taken = 0;
    for (int i = 0; i < 200; ++i) {
        const Vector3 before = v.viewCamera.pos;
        const geometry::Matrix4 warp = v.warpMatrix;
        v.OnKeyDown(vk::kUp);
        if (v.viewCamera.pos == before) {
            EXPECT_EQ(v.warpMatrix, warp);  // a refused step changes nothing
        } else {
            ++taken;
        }
    }
    EXPECT_EQ(taken, static_cast<int>(1.0f / v.keyStep));
    EXPECT_GT(v.viewCamera.pos.z, -1.0f);
    EXPECT_LT(v.viewCamera.pos.z, -1.0f + v.keyStep);
    // Turning is refused the same way once the eye would leave the box; with the option off
    // the step is taken.
    v.OnCommand(35004);
    v.OnKeyDown(vk::kUp);
    EXPECT_LT(v.viewCamera.pos.z, -1.0f);
    EXPECT_TRUE(v.InsideMovementBox({5, 5, 5}));
    v.restrictMovement = true;
    // Strict on every face.
    for (const Vector3& face : {Vector3{-1, 0, 0}, Vector3{1, 0, 0}, Vector3{0, -1, 0},
                                Vector3{0, 1, 0}, Vector3{0, 0, -1}, Vector3{0, 0, 1}}) {
        EXPECT_FALSE(v.InsideMovementBox(face)) << face.x << " " << face.y << " " << face.z;
    }
    EXPECT_TRUE(v.InsideMovementBox({0.99f, -0.99f, 0.99f}));
}

TEST(AppNavigation, ResetStartsOver) {
    OpenedView t("ldibrtcp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    const geometry::ViewCamera reference = v.viewCamera;
    const geometry::Matrix4 referenceWarp = v.warpMatrix;
    v.OnKeyDown(vk::kLeft);
    v.OnLButtonDown(175, 175, true, false);
    v.OnMouseMove(230, 120);
    v.OnLButtonUp(230, 120);
    v.OnRButtonDown(10, 10, false, true);
    v.OnMouseMove(10, 0);
    v.OnRButtonUp(10, 0);
    ASSERT_NE(v.viewCamera.pos, reference.pos);
    v.needsRedraw = false;
    v.OnCommand(kIdReset);
    EXPECT_TRUE(v.needsRedraw);
    EXPECT_EQ(v.viewCamera.pos, reference.pos);
    EXPECT_EQ(v.viewCamera.dir, reference.dir);
    EXPECT_EQ(v.viewCamera.up, reference.up);
    EXPECT_EQ(v.viewCamera.fov, reference.fov);
    EXPECT_EQ(v.warpMatrix, referenceWarp);
    EXPECT_EQ(v.trackball.yaw, 0.0f);
    EXPECT_EQ(v.trackball.pitch, 0.0f);
    EXPECT_FLOAT_EQ(v.trackball.gain, 0.5f);
    EXPECT_FLOAT_EQ(v.trackball.radius, 0.8f);
    // Restrict Movement does not stop the reset from placing the camera outside the box.
    v.OnCommand(35004);
    v.OnKeyDown(vk::kRight);
    v.OnCommand(kIdReset);
    EXPECT_EQ(v.viewCamera.pos, reference.pos);
}

TEST(AppNavigation, ResetBoxFromTheSamplesWhereTheFileHasNone) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    const Vector3 fileMin = v.boundsMin;
    const Vector3 fileMax = v.boundsMax;
    const Vector3 extent = fileMax - fileMin;
    v.ldi->header.boundsMin = {};
    v.ldi->header.boundsMax = {};
    v.OnCommand(kIdReset);
    // The samples' box: inside the maker's box of all samples, and nearly as large.
    const float slack = 0.02f * extent.length();
    for (int axis = 0; axis < 3; ++axis) {
        const float lo = axis == 0 ? v.boundsMin.x : (axis == 1 ? v.boundsMin.y : v.boundsMin.z);
        const float hi = axis == 0 ? v.boundsMax.x : (axis == 1 ? v.boundsMax.y : v.boundsMax.z);
        const float fileLo = axis == 0 ? fileMin.x : (axis == 1 ? fileMin.y : fileMin.z);
        const float fileHi = axis == 0 ? fileMax.x : (axis == 1 ? fileMax.y : fileMax.z);
        EXPECT_GE(lo, fileLo - slack) << axis;
        EXPECT_LE(hi, fileHi + slack) << axis;
        EXPECT_GT(hi - lo, 0.5f * (fileHi - fileLo)) << axis;
    }
    // An inverted box is no box either.
    v.ldi->header.boundsMin = {1, 1, 1};
    v.ldi->header.boundsMax = {-1, 2, 2};
    v.OnCommand(kIdReset);
    EXPECT_LT(v.boundsMin.x, v.boundsMax.x);
}

TEST(AppNavigation, NarrowWindowsDoNotPoisonTheCamera) {
    TestView t;
    AppView& v = t.view;
    v.clientWidth = 1;  // a window narrower than two pixels
    v.clientHeight = 350;
    v.ResetView(1, 350);
    v.OnLButtonDown(0, 0, false, false);
    EXPECT_TRUE(std::isfinite(v.panRateX));
    EXPECT_TRUE(std::isfinite(v.panRateY));
    v.OnMouseMove(1, 1);
    EXPECT_TRUE(std::isfinite(v.panRateX));
    EXPECT_TRUE(std::isfinite(v.viewCamera.dir.x));
    EXPECT_TRUE(std::isfinite(v.warpMatrix(0, 0)));
}

}  // namespace
}  // namespace strata::app
