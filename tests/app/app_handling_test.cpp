// The controls beside the classic drags: a frame that follows the window, the wheel toward the
// pivot, the turntable and its pan, the double-click pick, fit, the key and mouse tables and
// their help, the averaged frame rate, numbered frames, radio groups and the default settings.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "app/input_table.h"
#include "app_test_support.h"
#include "geometry/frame_tangents.h"
#include "maker/demo_scene.h"
#include "maker/ray_caster.h"

namespace strata::app {
namespace {

using geometry::Vector3;
using geometry::Vector4;
using testing::DemoSet;
using testing::OpenedView;
using testing::TestView;

constexpr float kPi = 3.14159265f;

// Where the view's warp puts a world point: frame x, y (row 0 at the bottom) and its depth.
struct Projected {
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
};

Projected project(const AppView& v, const Vector3& p) {
    const Vector4 q = geometry::transform(v.warpMatrix, {p.x, p.y, p.z, 1.0f});
    return {q.x / q.w, q.y / q.w, q.w};
}

float angleBetween(const Vector3& a, const Vector3& b) {
    const float c = geometry::dot(geometry::normalized(a), geometry::normalized(b));
    return std::acos(std::clamp(c, -1.0f, 1.0f));
}

void middleDrag(AppView& v, int x0, int y0, int x1, int y1, bool shift = false) {
    v.OnMButtonDown(x0, y0, shift, false);
    v.OnMouseMove(x1, y1);
    v.OnMButtonUp(x1, y1);
}

// ---- The frame follows the window -----------------------------------------------------------

TEST(AppResize, RedrawsAtTheNewSizeAsAViewMadeAtThatSize) {
    for (const auto& [w, h] : {std::pair{480, 300}, std::pair{300, 480}, std::pair{350, 351}}) {
        OpenedView resized("ldibrtqp");
        ASSERT_TRUE(resized.opened);
        resized.view.OnIdle();
        resized.view.ResizeFrame(w, h);
        EXPECT_TRUE(resized.view.needsRedraw);
        resized.view.OnIdle();
        ASSERT_EQ(resized.view.frameImage.width, w);
        ASSERT_EQ(resized.view.frameImage.height, h);

        // A view made at that size from the start draws the same frame.
        TestView fresh(w, h);
        {
            const platform::DebugCapture quiet;
            ASSERT_TRUE(fresh.view.OpenFile(DemoSet::get().file("ldibrtqp")));
        }
        fresh.view.OnIdle();
        std::int64_t differing = 0;
        for (std::int32_t i = 0; i < w * h; ++i) {
            differing += resized.view.frameImage.pixels[i] != fresh.view.frameImage.pixels[i];
        }
        EXPECT_EQ(differing, 0) << w << "x" << h;
    }
}

TEST(AppResize, KeepsTheAngleOnTheSmallerSideWithSquarePixels) {
    for (const auto& [w, h] : {std::pair{350, 350}, std::pair{640, 400}, std::pair{200, 500}}) {
        OpenedView t("ldibrtqp");
        ASSERT_TRUE(t.opened);
        t.view.ResizeFrame(w, h);
        const AppView& v = t.view;
        const Vector3 dir = geometry::normalized(v.viewCamera.dir);
        const Vector3 up = geometry::normalized(v.viewCamera.up);
        const Vector3 side = geometry::cross(dir, up);
        const float half = std::tan(0.5f * v.viewCamera.fov);
        const float smaller = static_cast<float>(std::min(w, h));
        // Half the angle from the axis reaches the smaller side's edge; one pixel spans the same
        // angle across and up.
        const Projected top = project(v, v.viewCamera.pos + dir + up * half);
        const Projected right = project(v, v.viewCamera.pos + dir + side * half);
        // (Pixel centres stand on whole numbers: the frame spans -0.5 .. side - 0.5.)
        EXPECT_NEAR(top.y - 0.5f * (h - 1), 0.5f * smaller, 0.01f) << w << "x" << h;
        EXPECT_NEAR(right.x - 0.5f * (w - 1), 0.5f * smaller, 0.01f) << w << "x" << h;
    }
}

TEST(AppResize, KeepsTheCameraAndTakesSidesBelowOneAsOne) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    t.view.OnKeyDown(vk::kLeft);
    const Vector3 pos = t.view.viewCamera.pos;
    const Vector3 dir = t.view.viewCamera.dir;
    t.view.ResizeFrame(0, -5);
    EXPECT_EQ(t.view.frameImage.width, 1);
    EXPECT_EQ(t.view.frameImage.height, 1);
    t.view.OnIdle();
    t.view.ResizeFrame(700, 20);
    t.view.OnIdle();
    testing::expectNear(t.view.viewCamera.pos, pos, 1e-5f, "position");
    testing::expectNear(t.view.viewCamera.dir, dir, 1e-5f, "direction");
    EXPECT_EQ(t.view.trackball.width, 700);
}

// ---- Wheel, turntable, pan ------------------------------------------------------------------

TEST(AppWheel, StepsTowardThePivotNeverReachOrPassIt) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    AppView& v = t.view;
    const Vector3 start = v.navPosition - v.pivot;
    float last = start.length();
    for (const int delta : {120, 120, 240, 120 * 50, 120 * 1000, 1}) {
        v.OnMouseWheel(0, 0, delta);
        const Vector3 offset = v.navPosition - v.pivot;
        EXPECT_GT(geometry::dot(offset, start), 0.0f) << "passed the pivot at " << delta;
        EXPECT_LE(offset.length(), last) << delta;
        EXPECT_GT(offset.length(), 0.0f);
        last = offset.length();
    }
    // One notch back undoes one notch forward; the direction of view stays.
    OpenedView u("ldibrtqp");
    const float before = (u.view.navPosition - u.view.pivot).length();
    const Vector3 dir = u.view.viewCamera.dir;
    u.view.OnMouseWheel(0, 0, 120);
    EXPECT_NEAR((u.view.navPosition - u.view.pivot).length(), 0.85f * before, 1e-4f * before);
    u.view.OnMouseWheel(0, 0, -120);
    EXPECT_NEAR((u.view.navPosition - u.view.pivot).length(), before, 1e-4f * before);
    testing::expectNear(u.view.viewCamera.dir, dir, 1e-5f, "direction");
    EXPECT_TRUE(u.view.needsRedraw);
}

TEST(AppTurntable, LongDragsKeepTheDistanceAndWorldUpUpright) {
    for (const std::string& file : {DemoSet::get().file("ldibrtqp"), DemoSet::get().zUpFile()}) {
        TestView t;
        {
            const platform::DebugCapture quiet;
            ASSERT_TRUE(t.view.OpenFile(file));
        }
        AppView& v = t.view;
        const float distance = (v.navPosition - v.pivot).length();
        std::mt19937 random(23);
        std::uniform_int_distribution<int> step(-120, 120);
        int x = 175;
        int y = 175;
        v.OnMButtonDown(x, y, false, false);
        for (int i = 0; i < 2000; ++i) {
            x += step(random);
            y += step(random) / 2;
            v.OnMouseMove(x, y);
            const Vector3 dir = geometry::normalized(v.viewCamera.dir);
            const Vector3 side = geometry::cross(dir, v.viewCamera.up);
            ASSERT_NEAR((v.navPosition - v.pivot).length(), distance, 1e-3f * distance) << i;
            ASSERT_NEAR(geometry::dot(side, v.worldUp), 0.0f, 1e-3f) << "rolled at " << i;
            ASSERT_GT(geometry::dot(v.viewCamera.up, v.worldUp), 0.08f) << "upside down at " << i;
            ASSERT_LE(std::fabs(geometry::dot(dir, v.worldUp)), std::sin(85.01f * kPi / 180.0f));
        }
        v.OnMButtonUp(x, y);
    }
}

TEST(AppTurntable, HalfATurnPerFrameWidthAboutThePivot) {
    for (const int width : {350, 500}) {
        OpenedView t("ldibrtqp");
        ASSERT_TRUE(t.opened);
        AppView& v = t.view;
        v.ResizeFrame(width, 300);
        const Vector3 dir = v.viewCamera.dir;
        const Vector3 pivotOnScreen = v.pivot;
        const Projected before = project(v, pivotOnScreen);
        middleDrag(v, 10, 150, 10 + width / 2, 150);  // a quarter turn to the right
        EXPECT_NEAR(angleBetween(dir, v.viewCamera.dir), 0.5f * kPi, 1e-3f) << width;
        // The scene turns right: the eye goes left about world up and looks along the old
        // view's right.
        const Vector3 oldSide = geometry::cross(dir, v.worldUp);
        EXPECT_GT(geometry::dot(v.viewCamera.dir, oldSide), 0.9f);
        EXPECT_LT(geometry::dot(v.viewCamera.pos - v.pivot, oldSide), 0.0f);
        // The pivot stays where it was on screen.
        const Projected after = project(v, pivotOnScreen);
        EXPECT_NEAR(after.x, before.x, 0.05f);
        EXPECT_NEAR(after.y, before.y, 0.05f);
    }
}

TEST(AppTurntable, TiltStopsShortOfThePoles) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    AppView& v = t.view;
    middleDrag(v, 100, 300, 100, -3000);  // far upward
    const float up = std::asin(geometry::dot(geometry::normalized(v.viewCamera.dir), v.worldUp));
    EXPECT_NEAR(up, 85.0f * kPi / 180.0f, 1e-3f);
    middleDrag(v, 100, 0, 100, 5000);  // far downward
    const float down = std::asin(geometry::dot(geometry::normalized(v.viewCamera.dir), v.worldUp));
    EXPECT_NEAR(down, -85.0f * kPi / 180.0f, 1e-3f);
}

TEST(AppSlide, ThePivotMovesWithTheViewAndFollowsTheCursor) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    AppView& v = t.view;
    v.ResizeFrame(400, 300);
    const Vector3 offset = v.navPosition - v.pivot;
    const Projected before = project(v, v.pivot);
    const Vector3 oldPivot = v.pivot;
    middleDrag(v, 100, 100, 130, 80, true);  // 30 right, 20 up
    testing::expectNear(v.navPosition - v.pivot, offset, 1e-4f, "eye to pivot");
    const Projected old = project(v, oldPivot);
    EXPECT_NEAR(old.x - before.x, 30.0f, 0.05f);
    EXPECT_NEAR(old.y - before.y, 20.0f, 0.05f);
}

// ---- Pick and fit ---------------------------------------------------------------------------

TEST(AppPick, DoubleClickSetsThePivotOnTheSurfaceUnderTheCursor) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    AppView& v = t.view;
    v.OnIdle();
    const maker::Scene scene = maker::buildDemoScene();
    std::string error;
    const auto caster = maker::RayCaster::create(scene, error);
    ASSERT_TRUE(caster) << error;
    const Vector3 eye = v.viewCamera.pos;
    const Vector3 dir = geometry::normalized(v.viewCamera.dir);
    const Vector3 up = geometry::normalized(v.viewCamera.up);
    const Vector3 side = geometry::cross(dir, up);
    const float half = std::tan(0.5f * v.viewCamera.fov);
    const float w = static_cast<float>(v.clientWidth);
    const float h = static_cast<float>(v.clientHeight);
    // The angle of one LDI sample: the 64-pixel grid across the reference camera's angle.
    const float perSample = 2.0f * half / 64.0f;
    int hits = 0;
    int misses = 0;
    for (int y = 10; y < 350; y += 23) {
        for (int x = 12; x < 350; x += 29) {
            const float sx = (static_cast<float>(x) + 0.5f - 0.5f * w) / (0.5f * w) * half;
            const float sy = (0.5f * h - static_cast<float>(y) - 0.5f) / (0.5f * h) * half;
            const Vector3 ray = geometry::normalized(dir + side * sx + up * sy);
            const Vector3 before = v.pivot;
            const bool picked = v.OnLButtonDblClk(x, y);
            // The rays one LDI sample to each side: what each meets.
            const auto meets = [&](float ox, float oy, maker::SurfaceHit& hit) {
                const Vector3 r = geometry::normalized(ray + (side * ox + up * oy) * perSample);
                return caster->nearest(eye, r, 0.0f, 1e30f, hit);
            };
            constexpr std::pair<float, float> kAround[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
            maker::SurfaceHit hit;
            if (meets(0, 0, hit)) {
                EXPECT_TRUE(picked) << x << "," << y;
                // One sample on the surface: the farthest point the rays around meet; pixels
                // by a silhouette (a ray around meets another mesh or nothing) are left out.
                float span = 0.0f;
                bool inside = true;
                for (const auto& [ox, oy] : kAround) {
                    maker::SurfaceHit near;
                    inside = inside && meets(ox, oy, near) && near.mesh == hit.mesh;
                    span = std::max(span, (near.position - hit.position).length());
                }
                if (inside) {
                    EXPECT_LT((v.pivot - hit.position).length(), span) << x << "," << y;
                    ++hits;
                }
                continue;
            }
            bool clear = true;  // a sample away from any surface
            for (const auto& [ox, oy] : kAround) {
                maker::SurfaceHit near;
                clear = clear && !meets(ox, oy, near);
            }
            if (clear) {
                EXPECT_FALSE(picked) << x << "," << y;
                testing::expectNear(v.pivot, before, 0.0f, "background leaves the pivot");
                ++misses;
            }
        }
    }
    EXPECT_GT(hits, 20);
    EXPECT_GT(misses, 0);
}

TEST(AppFit, EveryCornerOfTheSceneInsideTheFrame) {
    for (const auto& [w, h] : {std::pair{350, 350}, std::pair{640, 300}, std::pair{200, 500}}) {
        OpenedView t("ldibrtqp");
        ASSERT_TRUE(t.opened);
        AppView& v = t.view;
        v.ResizeFrame(w, h);
        middleDrag(v, 0, 100, 90, 40);
        for (int i = 0; i < 20; ++i) {
            v.OnMouseWheel(0, 0, 120);  // close in: corners leave the frame
        }
        v.OnKeyDown(vk::kF);
        EXPECT_TRUE(v.needsRedraw);
        const Vector3 centre = (v.boundsMin + v.boundsMax) * 0.5f;
        testing::expectNear(v.pivot, centre, 1e-5f, "pivot");
        float widest = 0.0f;
        for (int c = 0; c < 8; ++c) {
            const Vector3 k{(c & 1) ? v.boundsMax.x : v.boundsMin.x,
                            (c & 2) ? v.boundsMax.y : v.boundsMin.y,
                            (c & 4) ? v.boundsMax.z : v.boundsMin.z};
            const Projected p = project(v, k);
            EXPECT_GT(p.w, 0.0f);
            EXPECT_GE(p.x, 0.0f) << w << "x" << h << " corner " << c;
            EXPECT_LE(p.x, static_cast<float>(w)) << w << "x" << h << " corner " << c;
            EXPECT_GE(p.y, 0.0f) << w << "x" << h << " corner " << c;
            EXPECT_LE(p.y, static_cast<float>(h)) << w << "x" << h << " corner " << c;
            widest = std::max({widest, std::fabs(p.x - 0.5f * (w - 1)) / (0.5f * w),
                               std::fabs(p.y - 0.5f * (h - 1)) / (0.5f * h)});
        }
        // The tightest corner fills nine tenths of the half frame on its axis.
        EXPECT_NEAR(widest, 0.9f, 0.01f) << w << "x" << h;
    }
}

// ---- Keys, help, frame rate, files, menus ---------------------------------------------------

// A help line's second column as it stands in the joined lines.
std::string asWhat(std::string_view what) {
    std::string text(1, '\t');
    text.append(what);
    text.push_back('\n');
    return text;
}

// Whatever a key can change, as one comparable record.
std::vector<double> keyState(const AppView& v) {
    return {v.navPosition.x,
            v.navPosition.y,
            v.navPosition.z,
            v.viewCamera.dir.x,
            v.viewCamera.dir.y,
            static_cast<double>(v.freezeSelection),
            static_cast<double>(v.lowerToggle),
            static_cast<double>(v.upperToggle),
            static_cast<double>(v.orbitAboutPivot),
            static_cast<double>(v.animate),
            static_cast<double>(v.helpOverlay),
            static_cast<double>(v.needsRedraw),
            static_cast<double>(v.lastSavedFrame.size()),
            static_cast<double>(v.ldi == nullptr ? 0 : v.ldi->width())};
}

TEST(AppKeys, EveryKeyThatActsHasARowAndTheHelpListsEveryRow) {
    OpenedView t("ldipyr");
    ASSERT_TRUE(t.opened);
    AppView& v = t.view;
    const std::filesystem::path folder = DemoSet::get().folder + "/keys";
    std::filesystem::create_directories(folder);
    v.dumpFolder = folder.string();
    v.OnIdle();
    const auto files = [&folder] {
        return std::distance(std::filesystem::directory_iterator(folder),
                             std::filesystem::directory_iterator());
    };
    for (int key = 0; key < 256; ++key) {
        // From two states, each switch set one way and then the other.
        bool acted = false;
        for (const bool state : {false, true}) {
            v.OnKeyDown(vk::kHome);
            v.freezeSelection = state;
            v.orbitAboutPivot = state ? 1 : 0;
            v.lowerToggle = state;
            v.needsRedraw = false;
            const std::vector<double> before = keyState(v);
            const auto dumped = files();
            {
                const platform::DebugCapture quiet;
                v.OnKeyDown(key);
            }
            acted = acted || keyState(v) != before || files() != dumped;
            if (v.animate) {
                v.OnKeyDown(vk::kR);  // the spin off again
            }
        }
        EXPECT_EQ(acted, findKey(key) != nullptr) << "key 0x" << std::hex << key;
    }
    // Every row's keys and what they do are in the help, each once.
    const std::vector<std::string> lines = v.HelpLines();
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    const auto count = [&all](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = all.find(text); at != std::string::npos;
             at = all.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    for (const KeyBinding& k : keyTable()) {
        EXPECT_NE(count(std::string(k.keys)), 0u) << k.keys;
        EXPECT_NE(count(asWhat(k.what)), 0u) << k.what;
    }
    for (const MouseBinding& m : mouseTable()) {
        EXPECT_NE(count(std::string(m.keys)), 0u) << m.keys;
        EXPECT_NE(count(asWhat(m.what)), 0u) << m.what;
    }
    // Rows that do the same share a line.
    EXPECT_EQ(count("\tshow or hide this help\n"), 1u);
    EXPECT_NE(count("F1, ?\t"), 0u);
    EXPECT_LT(lines.size(), keyTable().size() + mouseTable().size());
}

TEST(AppKeys, HomeResetsAndF1AndQuestionToggleTheHelp) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    AppView& v = t.view;
    const Vector3 start = v.navPosition;
    middleDrag(v, 0, 0, 80, 30);
    v.OnMouseWheel(0, 0, 360);
    v.OnKeyDown(vk::kHome);
    testing::expectNear(v.navPosition, start, 1e-5f, "reset");
    v.OnKeyDown(vk::kF1);
    EXPECT_TRUE(v.helpOverlay);
    v.OnKeyDown(vk::kQuestion);
    EXPECT_FALSE(v.helpOverlay);
}

TEST(AppMouseTable, TheClassicDragsKeepTheirModes) {
    struct Row {
        MouseButton button;
        bool shift;
        bool control;
        std::int32_t mode;
    };
    for (const Row& r : {Row{MouseButton::left, false, false, MousePan},
                         Row{MouseButton::left, false, true, MousePan},
                         Row{MouseButton::left, true, false, MouseOrbit},
                         Row{MouseButton::left, true, true, MouseSpin},
                         Row{MouseButton::right, false, false, MouseTranslate},
                         Row{MouseButton::right, true, false, MouseDolly},
                         Row{MouseButton::right, false, true, MouseZoom},
                         Row{MouseButton::right, true, true, MousePush},
                         Row{MouseButton::middle, false, false, MouseTurntable},
                         Row{MouseButton::middle, true, false, MouseSlide},
                         Row{MouseButton::middle, false, true, MouseNone}}) {
        EXPECT_EQ(dragModeFor(r.button, r.shift, r.control), r.mode)
            << static_cast<int>(r.button) << r.shift << r.control;
    }
}

TEST(AppFrameRate, AveragesTheFramesOfTheLastHalfSecond) {
    FrameRateMeter m;
    EXPECT_EQ(m.perSecond(), 0.0);
    constexpr std::int64_t ms = 1'000'000;
    // Frames of 10 ms back to back: 100 a second.
    std::int64_t t = 0;
    for (int i = 0; i < 30; ++i, t += 10 * ms) {
        m.add(t, t + 10 * ms);
    }
    EXPECT_NEAR(m.perSecond(), 100.0, 1e-9);
    // A pause does not count; frames older than half a second drop out.
    t += 2000 * ms;
    m.add(t, t + 4 * ms);
    EXPECT_NEAR(m.perSecond(), 250.0, 1e-9);
    // A frame that ends 500 ms after another keeps it; 501 ms drops it.
    m.add(t + 502 * ms, t + 504 * ms);
    EXPECT_NEAR(m.perSecond(), 2.0 / 0.006, 1e-6);
    m.add(t + 1003 * ms, t + 1005 * ms);
    EXPECT_NEAR(m.perSecond(), 2.0 / 0.004, 1e-6);
    // More frames than the meter holds in the window: the newest are kept.
    FrameRateMeter many;
    for (int i = 0; i < 1000; ++i) {
        many.add(i * ms / 10, i * ms / 10 + ms / 20);
    }
    EXPECT_NEAR(many.perSecond(), 20000.0, 1e-6);
}

TEST(AppFrameRate, TheStatusLineShowsTheAverage) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    t.view.OnIdle();
    ASSERT_FALSE(t.statusLines.empty());
    EXPECT_NE(t.statusLines.back().find("\tfps: "), std::string::npos) << t.statusLines.back();
    EXPECT_EQ(t.statusLines.back().rfind("hz: ", 0), 0u);
}

TEST(AppNumberedFrames, F12NumbersOnBesideTheLastOneSaved) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    AppView& v = t.view;
    v.OnIdle();
    const std::filesystem::path folder = DemoSet::get().folder + "/numbered";
    std::filesystem::create_directories(folder);
    v.dumpFolder = folder.string();
    struct Case {
        std::string last;  // "" = none saved yet
        std::string next;
    };
    for (const Case& c :
         {Case{"", "frame-0001.png"}, Case{"shot.png", "shot-0001.png"},
          Case{"shot-0009.png", "shot-0010.png"}, Case{"take12345.png", "take12346.png"},
          Case{"run-9999.png", "run-10000.png"},
          Case{"x-1234567890.png", "x-1234567890-0001.png"}}) {
        v.lastSavedFrame = c.last.empty() ? std::string() : (folder / c.last).string();
        ASSERT_TRUE(v.SaveNumberedFrame()) << c.last;
        EXPECT_EQ(std::filesystem::path(v.lastSavedFrame).filename().string(), c.next) << c.last;
        EXPECT_TRUE(std::filesystem::exists(folder / c.next));
    }
    // A name already taken is passed over.
    v.lastSavedFrame = (folder / "shot-0009.png").string();
    ASSERT_TRUE(v.SaveNumberedFrame());
    EXPECT_EQ(std::filesystem::path(v.lastSavedFrame).filename().string(), "shot-0011.png");
    // A folder that is not there: the status line says so and nothing is kept.
    v.lastSavedFrame = (folder / "missing" / "a.png").string();
    EXPECT_FALSE(v.SaveNumberedFrame());
    EXPECT_NE(t.statusLines.back().find("not saved"), std::string::npos);
}

TEST(AppMenus, EveryRadioGroupShowsExactlyOneChoice) {
    TestView t;
    std::map<std::string, std::vector<int>> groups;
    for (const CommandInfo& c : commandTable()) {
        if (c.check == CheckKind::equals) {
            groups[std::string(c.menu) + "/" + std::string(c.field)].push_back(c.id);
        }
    }
    EXPECT_EQ(groups.size(), 6u);  // threads, orbit side, mouse, false colour, background, stereo
    for (const auto& [name, ids] : groups) {
        for (const int chosen : ids) {
            t.view.OnCommand(chosen);
            int checked = 0;
            for (const int id : ids) {
                checked += t.view.IsChecked(id) ? 1 : 0;
            }
            EXPECT_EQ(checked, 1) << name << " after " << chosen;
            EXPECT_TRUE(t.view.IsChecked(chosen)) << name;
        }
    }
}

TEST(AppMenus, RestoreDefaultSettingsUndoesEveryMenuChoice) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened);
    TestView fresh;
    std::vector<bool> defaults;
    for (const CommandInfo& c : commandTable()) {
        defaults.push_back(fresh.view.IsChecked(c.id));
    }
    for (const CommandInfo& c : commandTable()) {
        if (c.kind != CommandKind::action) {
            t.view.OnCommand(c.id);
        }
    }
    t.view.OnCommand(37005);
    ASSERT_EQ(t.view.falseColorMode, 5);
    t.view.needsRedraw = false;
    t.view.OnCommand(kIdRestoreDefaults);
    EXPECT_TRUE(t.view.needsRedraw);
    std::size_t i = 0;
    for (const CommandInfo& c : commandTable()) {
        EXPECT_EQ(t.view.IsChecked(c.id), defaults[i++]) << c.text;
    }
    EXPECT_EQ(t.view.falseColorMode, fresh.view.falseColorMode);
    EXPECT_EQ(t.view.ldi->options.useFalseColor, 0);
}

}  // namespace
}  // namespace strata::app
