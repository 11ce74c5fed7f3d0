// The window as users of other 3D viewers expect it: the frame follows the window's size and
// equals `strata render` at that size, the wheel, the middle drags and the double click reach
// the view, the help overlay and Help > Keys and Mouse list every binding, the radio groups and
// Open Recent across a restart.
#include <QActionGroup>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QWheelEvent>
#include <filesystem>

#include "app/app_commands.h"
#include "app/input_table.h"
#include "viewer_test_support.h"

namespace strata::viewer {
namespace {

using testing::DemoSet;
using testing::openWindow;
using testing::settle;

// Resizes the window so that its view gets `size`, and draws what that asks for.
void resizeView(AppMainFrame& frame, QSize size) {
    frame.resize(size + (frame.size() - frame.viewWidget()->size()));
    QApplication::processEvents();
    settle(frame);
}

TEST(ViewerResize, TheFrameFollowsTheWindowAndEqualsStrataRender) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const platform::DebugCapture quiet;
    const std::string file = demo.file("ldibrtqp");
    auto frame = openWindow(file);
    for (const QSize size : {QSize(480, 300), QSize(260, 410), QSize(350, 350)}) {
        resizeView(*frame, size);
        ASSERT_EQ(frame->viewWidget()->size(), size);
        EXPECT_EQ(frame->view().frameWidth, size.width());
        EXPECT_EQ(frame->view().frameHeight, size.height());
        EXPECT_EQ(frame->viewWidget()->shownFrame().size(), size);
        const std::string png = (std::filesystem::path(demo.folder) / "resized.png").string();
        imageutil::RgbImage rendered;
        std::string error;
        ASSERT_TRUE(
            testing::renderWithStrata(file, size.width(), size.height(), png, rendered, error))
            << error;
        const QImage shown =
            frame->viewWidget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        // The default soft footprints weigh the samples' fractions; from the file's own camera
        // samples lie on pixel edges, and the window's and the command's matrices, equal but for
        // their last bits, may tip a few edge pixels.
        EXPECT_LE(testing::differingPixels(shown, rendered), size.width() * size.height() / 2000)
            << size.width() << "x" << size.height();
    }
}

TEST(ViewerResize, AGivenFrameSizeStaysFixed) {
    auto frame = openWindow({}, 200, 100);
    EXPECT_EQ(frame->viewWidget()->size(), QSize(200, 100));
    frame->resize(frame->size() + QSize(100, 100));
    settle(*frame);
    EXPECT_EQ(frame->viewWidget()->size(), QSize(200, 100));
    EXPECT_EQ(frame->view().frameWidth, 200);
}

TEST(ViewerMouse, WheelMiddleDragsAndDoubleClickReachTheView) {
    auto frame = openWindow(DemoSet::get().file("ldibrtqp"));
    app::AppView& v = frame->view();
    QWidget* w = frame->viewWidget();
    const float distance = (v.navPosition - v.pivot).length();
    QWheelEvent wheel(QPointF(100, 100), w->mapToGlobal(QPointF(100, 100)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &wheel);
    EXPECT_NEAR((v.navPosition - v.pivot).length(), 0.85f * distance, 1e-3f * distance);
    EXPECT_TRUE(frame->idlePending());
    settle(*frame);

    const geometry::Vector3 dir = v.viewCamera.dir;
    testing::drag(w, Qt::MiddleButton, Qt::NoModifier, QPoint(100, 100), QPoint(187, 100), 3);
    EXPECT_NEAR(
        std::acos(geometry::dot(geometry::normalized(dir), geometry::normalized(v.viewCamera.dir))),
        87.0f / 350.0f * 3.14159265f, 1e-4f);  // half a turn per frame width
    const geometry::Vector3 offset = v.navPosition - v.pivot;
    testing::drag(w, Qt::MiddleButton, Qt::ShiftModifier, QPoint(100, 100), QPoint(140, 90), 2);
    app::testing::expectNear(v.navPosition - v.pivot, offset, 1e-4f, "the pivot pans along");
    EXPECT_EQ(v.mouseMode, app::MouseNone);

    v.OnKeyDown(app::vk::kHome);
    settle(*frame);
    const geometry::Vector3 centre = v.pivot;
    QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(175, 175));
    EXPECT_GT((v.pivot - centre).length(), 0.0f) << "the pivot is the surface point now";
    const geometry::Vector3 picked = v.pivot;
    QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));  // background
    app::testing::expectNear(v.pivot, picked, 0.0f, "background keeps the pivot");
}

TEST(ViewerHelp, TheOverlayAndTheDialogListEveryBinding) {
    auto frame = openWindow(DemoSet::get().file("ldibrtqp"));
    const QImage before = frame->viewWidget()->grab().toImage();
    QTest::keyClick(frame->viewWidget(), Qt::Key_F1);
    settle(*frame);
    EXPECT_TRUE(frame->view().helpOverlay);
    const QImage with = frame->viewWidget()->grab().toImage();
    if (!qEnvironmentVariableIsEmpty("STRATA_HELP_SHOT")) {
        with.save(qEnvironmentVariable("STRATA_HELP_SHOT"));  // to look at
    }
    EXPECT_NE(before, with) << "the overlay shows over the frame";
    QTest::keyClick(frame->viewWidget(), Qt::Key_Question, Qt::ShiftModifier);
    settle(*frame);
    EXPECT_FALSE(frame->view().helpOverlay);
    EXPECT_EQ(frame->viewWidget()->grab().toImage(), before);

    const std::unique_ptr<QDialog> keys = frame->createKeysDialog();
    QString texts;
    for (const QLabel* label : keys->findChildren<QLabel*>()) {
        texts += label->text() + QLatin1Char('\n');
    }
    for (const app::KeyBinding& k : app::keyTable()) {
        EXPECT_TRUE(texts.contains(QString::fromUtf8(k.keys.data(), k.keys.size()))) << k.keys;
        EXPECT_TRUE(texts.contains(QString::fromUtf8(k.what.data(), k.what.size()))) << k.what;
    }
    for (const app::MouseBinding& m : app::mouseTable()) {
        EXPECT_TRUE(texts.contains(QString::fromUtf8(m.keys.data(), m.keys.size()))) << m.keys;
        EXPECT_TRUE(texts.contains(QString::fromUtf8(m.what.data(), m.what.size()))) << m.what;
    }
    ASSERT_NE(frame->action(kIdHelpKeys), nullptr);
}

TEST(ViewerMenus, RadioGroupsAreExclusiveAndRestoreDefaultsResetsThem) {
    auto frame = openWindow();
    QAction* blue = frame->action(39003);
    ASSERT_NE(blue->actionGroup(), nullptr);
    EXPECT_TRUE(blue->actionGroup()->isExclusive());
    blue->trigger();
    EXPECT_TRUE(blue->isChecked());
    EXPECT_FALSE(frame->action(39001)->isChecked());
    EXPECT_EQ(frame->view().backgroundColor, 0x7F9FEFu);
    frame->action(app::kIdRestoreDefaults)->trigger();
    EXPECT_EQ(frame->view().backgroundColor, 0xB2B2B2u);
    auto* menu = qobject_cast<QMenu*>(frame->action(39001)->parent());
    ASSERT_NE(menu, nullptr);
    frame->refreshChecks(menu);
    EXPECT_TRUE(frame->action(39001)->isChecked());
    EXPECT_FALSE(blue->isChecked());
}

TEST(ViewerRecent, OpenRecentSurvivesARestartAndDropsMissingFiles) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const platform::DebugCapture quiet;
    QSettings(QStringLiteral("Strata"), QStringLiteral("Strata Viewer"))
        .clear();  // other tests' files
    const QString gone = QString::fromStdString(demo.folder + "/gone.ldibrtqp");
    QFile::remove(gone);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(demo.file("ldibrtqp")), gone));
    {
        auto frame = openWindow();
        ASSERT_TRUE(frame->openFile(gone));
        ASSERT_TRUE(frame->openFile(QString::fromStdString(demo.file("ldibrtcp"))));
    }
    auto frame = openWindow();
    const auto entries = [&] {
        QStringList paths;
        for (const QAction* a : frame->recentMenu()->actions()) {
            paths.append(a->data().toString());
        }
        return paths;
    };
    emit frame->recentMenu()->aboutToShow();
    ASSERT_EQ(entries().size(), 2);
    EXPECT_EQ(entries()[0], QString::fromStdString(demo.file("ldibrtcp")));
    EXPECT_EQ(entries()[1], gone);
    QFile::remove(gone);
    emit frame->recentMenu()->aboutToShow();
    EXPECT_EQ(entries(), QStringList{QString::fromStdString(demo.file("ldibrtcp"))});
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("gone.ldibrtqp")));
    // The dialog's filters: everything, each kind, all files.
    const QStringList filters = AppMainFrame::openFilters();
    ASSERT_GE(filters.size(), 3);
    EXPECT_TRUE(filters.front().contains(QStringLiteral("*.ldibrtqp")));
    EXPECT_TRUE(filters.front().contains(QStringLiteral("*.ldipyr")));
    EXPECT_TRUE(filters.front().contains(QStringLiteral("*.vox")));
    EXPECT_EQ(filters.back(), QStringLiteral("All files (*)"));
    // At most ten.
    for (int i = 0; i < 11; ++i) {
        const QString copy =
            QString::fromStdString(demo.folder + "/copy" + std::to_string(i) + ".ldibrtqp");
        QFile::remove(copy);
        ASSERT_TRUE(QFile::copy(QString::fromStdString(demo.file("ldibrtqp")), copy));
        ASSERT_TRUE(frame->openFile(copy));
    }
    emit frame->recentMenu()->aboutToShow();
    ASSERT_EQ(entries().size(), 10);
    EXPECT_TRUE(entries().front().endsWith(QStringLiteral("copy10.ldibrtqp")));
    EXPECT_TRUE(entries().back().endsWith(QStringLiteral("copy1.ldibrtqp")));
}

// A cube of side 2 about the origin, its faces wound every which way, as an OBJ file.
std::string writeCube(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return {};
    }
    std::fputs(
        "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
        "f 1 2 3 4\nf 5 6 7 8\nf 1 5 8 4\nf 2 3 7 6\nf 4 3 7 8\nf 1 2 6 5\n",
        f);
    std::fclose(f);
    return path;
}

// Polls the window's make until it ends (or a minute passes).
void finishMake(AppMainFrame& frame) {
    for (int i = 0; i < 1200 && frame.meshRunning(); ++i) {
        QTest::qWait(50);
    }
    settle(frame);
}

TEST(ViewerMesh, AMeshOpensAsAMadeLdiAndSavesAsOne) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const platform::DebugCapture quiet;
    const std::string cube = writeCube(demo.folder + "/cube.OBJ");
    ASSERT_FALSE(cube.empty());
    auto frame = openWindow();
    ASSERT_TRUE(frame->openFile(QString::fromStdString(cube)));
    ASSERT_TRUE(frame->view().meshJob);
    const std::string made = frame->view().meshJob->output();
    finishMake(*frame);
    ASSERT_EQ(frame->view().ldiLoaded, 1) << frame->view().statusNote;
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Strata Viewer -- cube.OBJ"));
    EXPECT_FALSE(std::filesystem::exists(made)) << "the made file goes once loaded";
    // The cube fills part of the frame.
    const QImage shown = frame->viewWidget()->shownFrame();
    long covered = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            covered += (shown.pixel(x, y) & 0xFFFFFFu) != frame->view().backgroundColor;
        }
    }
    EXPECT_GT(covered, shown.width() * shown.height() / 20);

    // Save LDI As... writes what is shown; opened again it draws the same frame.
    const std::string saved = demo.folder + "/cube.ldibrtqp";
    std::string error;
    ASSERT_TRUE(frame->view().SaveLdi(saved, error)) << error;
    auto again = openWindow(saved);
    EXPECT_EQ(again->viewWidget()->shownFrame(), shown);
    // A pyramid is not a single LDI.
    ASSERT_TRUE(again->openFile(QString::fromStdString(demo.file("ldipyr"))));
    EXPECT_FALSE(again->view().SaveLdi(demo.folder + "/pyr.ldibrtqp", error));
    EXPECT_FALSE(std::filesystem::exists(demo.folder + "/pyr.ldibrtqp"));
}

TEST(ViewerMesh, ACancelledMakeLeavesNoFileAndThePreviousPicture) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const platform::DebugCapture quiet;
    const std::string cube = writeCube(demo.folder + "/cancelled.obj");
    auto frame = openWindow(demo.file("ldibrtqp"));
    const QImage before = frame->viewWidget()->shownFrame();
    const QString title = frame->windowTitle();
    ASSERT_TRUE(frame->openFile(QString::fromStdString(cube)));
    const std::string made = frame->view().meshJob->output();
    frame->cancelMesh();
    EXPECT_FALSE(frame->meshRunning());
    frame->view().WaitForMeshJobs();
    settle(*frame);
    EXPECT_FALSE(std::filesystem::exists(made));
    EXPECT_EQ(frame->windowTitle(), title);
    EXPECT_EQ(frame->viewWidget()->shownFrame(), before);
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("cancelled")));
    // A mesh that does not read: the box says why, the picture stays.
    const std::string broken = demo.folder + "/broken.obj";
    std::FILE* f = std::fopen(broken.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("this is no mesh\n", f);
    std::fclose(f);
    ASSERT_TRUE(frame->openFile(QString::fromStdString(broken)));
    finishMake(*frame);
    EXPECT_EQ(frame->windowTitle(), title);
    ASSERT_NE(frame->openFailure(), nullptr);
    EXPECT_TRUE(frame->openFailure()->text().contains(QStringLiteral("broken.obj")))
        << frame->openFailure()->text().toStdString();
    frame->openFailure()->close();
}

}  // namespace
}  // namespace strata::viewer
