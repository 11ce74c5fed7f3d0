// A seeded storm of random keys, drags and menu commands on every demo file: nothing may crash
// (the sanitizer build runs this too), and the window must still answer afterwards.
#include <QMenu>
#include <filesystem>
#include <random>
#include <vector>

#include "app/app_commands.h"
#include "viewer_test_support.h"

namespace strata::viewer {
namespace {

using testing::DemoSet;

TEST(ViewerRandomInput, SeededStormOnEveryDemoFileAndTheWindowStillAnswers) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    platform::DebugCapture quiet;
    auto frame = testing::openWindow();
    app::AppView& v = frame->view();
    v.dumpFolder = demo.folder;
    QWidget* w = frame->viewWidget();

    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(demo.folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("demo.", 0) == 0) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 3u);

    const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_A,
                            Qt::Key_Z,    Qt::Key_D,  Qt::Key_S,     Qt::Key_L,    Qt::Key_U,
                            Qt::Key_N,    Qt::Key_O,  Qt::Key_T,     Qt::Key_R,    Qt::Key_0,
                            Qt::Key_3,    Qt::Key_5,  Qt::Key_Space, Qt::Key_H};
    std::vector<int> commands;
    for (const app::CommandInfo& c : app::commandTable()) {
        // The benchmark runs many counted frames; a few are enough. The view-file commands
        // open a file dialog.
        if (c.id != app::kIdRunTest && c.menu != app::kTopMenus[0]) {
            commands.push_back(c.id);
        }
    }
    const Qt::KeyboardModifiers modifierSets[] = {
        {}, Qt::ShiftModifier, Qt::ControlModifier, Qt::ShiftModifier | Qt::ControlModifier};

    std::mt19937 random(20261209u);
    const auto pick = [&random](std::size_t n) {
        return static_cast<std::size_t>(
            std::uniform_int_distribution<std::size_t>(0, n - 1)(random));
    };
    constexpr int kEventsPerFile = 400;
    int events = 0;
    int dumps = 0;
    for (const std::string& file : files) {
        frame->openFile(QString::fromStdString(file));
        for (int i = 0; i < kEventsPerFile; ++i, ++events) {
            switch (pick(4)) {
                case 0: {
                    Qt::Key key = keys[pick(std::size(keys))];
                    // The dump draws nine frames: keep it rare.
                    if (key == Qt::Key_H && dumps++ > 1) {
                        key = Qt::Key_N;
                    }
                    const Qt::KeyboardModifiers m =
                        pick(3) == 0 ? Qt::KeypadModifier : Qt::KeyboardModifiers();
                    QTest::keyClick(w, key, m);
                    break;
                }
                case 1: {
                    const Qt::MouseButton button = pick(2) == 0 ? Qt::LeftButton : Qt::RightButton;
                    // Points inside, on the edge of and outside the view (the grab keeps moves
                    // coming while a button is held).
                    const auto point = [&] {
                        return QPoint(static_cast<int>(pick(500)) - 75,
                                      static_cast<int>(pick(500)) - 75);
                    };
                    testing::drag(w, button, modifierSets[pick(4)], point(), point(),
                                  1 + static_cast<int>(pick(6)));
                    break;
                }
                case 2:
                    frame->action(commands[pick(commands.size())])->trigger();
                    break;
                default:
                    testing::sendMouse(
                        w, QEvent::MouseMove,
                        QPoint(static_cast<int>(pick(350)), static_cast<int>(pick(350))),
                        Qt::NoButton, {});
                    break;
            }
            if (i % 16 == 0) {
                testing::settle(*frame);
            }
        }
        testing::settle(*frame);
        ASSERT_TRUE(std::isfinite(v.viewCamera.pos.x)) << file;
    }
    frame->action(app::kIdRunTest)->trigger();
    EXPECT_GE(events, 2000);

    // Still answering: back to a plain view of an LDI, a reset and a key draw frames that show
    // the scene, and the camera moves by one step.
    if (v.animate) {
        QTest::keyClick(w, Qt::Key_R);
    }
    QTest::keyClick(w, Qt::Key_O);
    QTest::keyClick(w, Qt::Key_N);
    if (v.restrictMovement) {
        frame->action(35004)->trigger();
    }
    for (int id : {39001, 38000, 34000}) {
        frame->action(id)->trigger();
    }
    if (v.useFalseColor) {
        frame->action(37000)->trigger();
    }
    // Single pixels of the 64 x 64 demo cover too little of the frame for the check below.
    if (!v.useSplat) {
        frame->action(36000)->trigger();
    }
    ASSERT_TRUE(frame->openFile(QString::fromStdString(demo.file("ldibrtqp"))));
    testing::settle(*frame);
    const long shown = frame->viewWidget()->framesShown();
    const geometry::Vector3 before = v.viewCamera.pos;
    QTest::keyClick(w, Qt::Key_Up);
    testing::settle(*frame);
    EXPECT_GT(frame->viewWidget()->framesShown(), shown);
    EXPECT_NEAR((v.viewCamera.pos - before).length(), v.keyStep, 1e-3f * v.keyStep + 1e-6f);
    EXPECT_TRUE(frame->statusText().startsWith(QStringLiteral("hz: ")));
    long scene = 0;
    const QImage& picture = frame->viewWidget()->shownFrame();
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            scene += (picture.pixel(x, y) & 0xFFFFFFu) != 0xB2B2B2u;
        }
    }
    EXPECT_GT(scene, picture.width() * picture.height() / 20);
}

}  // namespace
}  // namespace strata::viewer
