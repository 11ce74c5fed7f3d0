// What a frame draws with: the bench traversal and the half keys only for the QP kinds, every
// setting on every pyramid level and set member drawn, and no state left over from an earlier
// choice or before a RESET.
#include <set>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "app_test_support.h"
#include "platform/debug_output.h"

namespace strata::app {
namespace {

using geometry::Vector3;
using testing::DemoSet;
using testing::TestView;

std::vector<std::uint32_t> pixelsOf(const imageutil::RgbImage& image) {
    return {image.pixels, image.pixels + image.pixelCount()};
}

// A frame of the view as it stands.
std::vector<std::uint32_t> frameOf(AppView& v) {
    v.needsRedraw = true;
    v.OnIdle();
    return pixelsOf(v.frameImage);
}

// A 200 x 100 view of a demo file, moved a little so that no traversal is the trivial one.
struct Opened : TestView {
    explicit Opened(const std::string& extension) : TestView(200, 100) {
        const platform::DebugCapture quiet;
        opened = view.OpenFile(DemoSet::get().file(extension));
        view.OnKeyDown(vk::kLeft);
        view.OnKeyDown(vk::kA);
    }
    bool opened = false;
};

TEST(AppSettings, BenchRunAndHalfKeysChangeOnlyQpPictures) {
    ASSERT_TRUE(DemoSet::get().ok);
    struct Kind {
        const char* extension;
        bool qp;
    };
    for (const Kind kind : {Kind{"ldibrtqp", true}, Kind{"ldirtffqp", true}, Kind{"ldiquad", true},
                            Kind{"ldibrtcp", false}, Kind{"ldirtffcp", false},
                            Kind{"ldibrtmrqp", false}, Kind{"ldirtffmrqp", false}}) {
        SCOPED_TRACE(kind.extension);
        Opened t(kind.extension);
        ASSERT_TRUE(t.opened) << t.view.statusNote;
        AppView& v = t.view;
        const platform::DebugCapture quiet;
        const std::vector<std::uint32_t> plain = frameOf(v);
        v.OnCommand(kIdRunTest);
        EXPECT_EQ(frameOf(v) != plain, kind.qp) << "after one run";
        EXPECT_EQ(v.ldi->options.benchFlag, kind.qp ? 1 : 0);
        v.OnCommand(kIdRunTest);
        EXPECT_EQ(frameOf(v), plain) << "after two runs";
        for (const int key : {vk::kL, vk::kU}) {
            v.OnKeyDown(key);
            EXPECT_EQ(frameOf(v) != plain, kind.qp) << key;
            v.OnKeyDown(vk::kN);
        }
        EXPECT_EQ(frameOf(v), plain);
    }
    // A CP or MRQP file opened after an odd number of runs draws its ordinary picture.
    for (const char* extension : {"ldibrtcp", "ldibrtmrqp"}) {
        SCOPED_TRACE(extension);
        Opened fresh(extension);
        const std::vector<std::uint32_t> plain = frameOf(fresh.view);
        Opened t("ldibrtqp");
        const platform::DebugCapture quiet;
        t.view.OnCommand(kIdRunTest);
        ASSERT_TRUE(t.view.OpenFile(DemoSet::get().file(extension)));
        t.view.OnKeyDown(vk::kLeft);
        t.view.OnKeyDown(vk::kA);
        EXPECT_EQ(frameOf(t.view), plain);
    }
}

// The menu settings against the render options of whatever level or member a frame draws.
void expectSettingsOn(const AppView& v, const ldi::LdiBase& drawn, const std::string& what) {
    const ldi::LdiRenderOptions& o = drawn.options;
    EXPECT_EQ(o.useDepthCorrection, v.useDepthCorrection ? 1 : 0) << what;
    EXPECT_EQ(o.scanlineCulling, v.scanlineCulling ? 1 : 0) << what;
    EXPECT_EQ(o.frustumClipper, v.frustumClipper ? 1 : 0) << what;
    EXPECT_EQ(o.backfaceCulling, v.backfaceCulling ? 1 : 0) << what;
    EXPECT_EQ(o.useFalseColor, v.useFalseColor ? 1 : 0) << what;
    EXPECT_EQ(o.falseColorMode, v.falseColorMode) << what;
    EXPECT_EQ(o.sizeAccurate, v.sizeAccurate) << what;
    EXPECT_EQ(o.useSplat, v.useSplat ? 1 : 0) << what;
}

TEST(AppSettings, ReachEveryPyramidLevelAndSetMemberDrawn) {
    ASSERT_TRUE(DemoSet::get().ok);
    for (const char* extension : {"ldipyr", "ldiset"}) {
        SCOPED_TRACE(extension);
        Opened t(extension);
        ASSERT_TRUE(t.opened) << t.view.statusNote;
        AppView& v = t.view;
        // From far away, so that the frame draws another level than the current LDI the
        // commands below hand their settings to.
        const Vector3 centre = (v.boundsMin + v.boundsMax) * 0.5f;
        const float reach = (v.boundsMax - v.boundsMin).length();
        v.PlaceCamera(centre + Vector3{0.0f, 0.2f, 16.0f * reach}, {0, -0.2f, -1}, {0, 1, 0});
        frameOf(v);
        ASSERT_NE(v.drawLdi, v.ldi);
        v.OnCommand(36001);  // depth correction off
        v.OnCommand(36003);  // scanline culling on
        v.OnCommand(36004);  // frustum clipper off
        v.OnCommand(37000);  // false colour on
        v.OnCommand(37006);  // accurate sizes
        // Views from every side and from near and far, so that every member and level is
        // drawn.
        std::set<const ldi::LdiBase*> drawn;
        for (const float distance : {1.0f, 4.0f, 16.0f}) {
            for (int i = 0; i < 8; ++i) {
                const float a = 0.785398f * static_cast<float>(i);
                const Vector3 back{std::sin(a), 0.2f, std::cos(a)};
                v.PlaceCamera(centre + back * (distance * reach), -back, {0, 1, 0});
                frameOf(v);
                ASSERT_NE(v.drawLdi, nullptr);
                drawn.insert(v.drawLdi);
                expectSettingsOn(v, *v.drawLdi, std::to_string(distance) + " " + std::to_string(i));
            }
        }
        EXPECT_GE(drawn.size(), 2u);
        if (v.ldiSet) {
            for (const auto& member : v.ldiSet->members) {
                bool seen = false;
                for (const auto& level : member->levels) {
                    seen = seen || drawn.count(level.get()) != 0;
                }
                EXPECT_TRUE(seen);
            }
        } else {
            for (const auto& level : v.pyramid->levels) {
                EXPECT_EQ(drawn.count(level.get()), 1u);
            }
        }
    }
}

TEST(AppSettings, NoStateLeftOverFromAnEarlierChoiceOrBeforeReset) {
    ASSERT_TRUE(DemoSet::get().ok);
    // False colour 6 switches accurate sizes on; another mode switches them off again.
    for (const int mode : {37001, 37002, 37003, 37004, 37005, 37007, 37008, 37009}) {
        SCOPED_TRACE(mode);
        Opened direct("ldibrtmrqp");
        direct.view.OnCommand(37000);
        direct.view.OnCommand(mode);
        Opened after("ldibrtmrqp");
        after.view.OnCommand(37000);
        after.view.OnCommand(37006);
        EXPECT_EQ(after.view.sizeAccurate, 1);
        after.view.OnCommand(mode);
        EXPECT_EQ(after.view.sizeAccurate, 0);
        EXPECT_EQ(frameOf(after.view), frameOf(direct.view));
    }
    // The spin angle belongs to the spin on screen: it stays while the spun picture is shown,
    // and once a navigation step brings the navigation view back, a later spin frame starts
    // from that view instead of the old angle.
    Opened t("ldibrtqp");
    AppView& v = t.view;
    const std::vector<std::uint32_t> still = frameOf(v);
    v.OnKeyDown(vk::kR);
    for (int i = 0; i < 30; ++i) {
        v.OnTimer(kSpinTimerId);
        v.OnIdle();
    }
    const std::vector<std::uint32_t> spun = pixelsOf(v.frameImage);
    EXPECT_NE(spun, still);
    v.OnKeyDown(vk::kR);  // stop
    EXPECT_GT(v.spinAngle, 0.0f);
    EXPECT_EQ(frameOf(v), spun);
    v.OnKeyDown(vk::kLeft);
    v.OnKeyDown(vk::kRight);
    EXPECT_EQ(v.spinAngle, 0.0f);
    EXPECT_EQ(frameOf(v), still);
    v.OnRButtonDown(100, 50, true, true);  // a push drag of nothing draws a spin frame
    v.OnMouseMove(100, 50);
    v.OnRButtonUp(100, 50);
    ASSERT_TRUE(v.timerTick);
    v.OnIdle();
    EXPECT_EQ(pixelsOf(v.frameImage), still);
    // RESET clears the spin angle and the bench traversal (the toggles, the frozen selection,
    // the orbit selector and the animation persist).
    v.spinAngle = 1.0f;
    {
        const platform::DebugCapture quiet;
        v.OnCommand(kIdRunTest);
    }
    v.OnKeyDown(vk::kT);
    v.OnKeyDown(vk::kS);
    v.OnKeyDown(vk::kR);  // spinning: the spin goes on from the reset view
    v.OnCommand(kIdReset);
    EXPECT_EQ(v.spinAngle, 0.0f);
    EXPECT_FALSE(v.benchFlag);
    EXPECT_EQ(v.orbitAboutPivot, 1);
    EXPECT_TRUE(v.freezeSelection);
    EXPECT_TRUE(v.animate);
    v.OnKeyDown(vk::kR);
    Opened fresh("ldibrtqp");
    fresh.view.OnCommand(kIdReset);
    v.timerTick = true;
    v.OnIdle();
    EXPECT_EQ(pixelsOf(v.frameImage), frameOf(fresh.view));
}

}  // namespace
}  // namespace strata::app
