// The main window: the menu tree item by item, check marks that follow the view as menus open,
// title and status, the frame of a file opened from the command line against `strata render`,
// the About box, Save Frame As, drops, frame sizes and the idle pass.
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_commands.h"
#include "imageutil/bmp_file.h"
#include "imageutil/png_file.h"
#include "viewer_test_support.h"

namespace strata::viewer {
namespace {

using testing::DemoSet;
using testing::openWindow;
using testing::settle;

// One line per menu entry: "Menu > Submenu > text #id [x]" ("[ ]" unchecked, nothing when the
// item shows no check), "Menu > ---" for a separator.
void listMenu(const QMenu* menu, const std::string& path, std::vector<std::string>& out) {
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            out.push_back(path + " > ---");
        } else if (a->menu() != nullptr) {
            listMenu(a->menu(), path + " > " + a->text().toStdString(), out);
        } else {
            std::string line =
                path + " > " + a->text().toStdString() + " #" + std::to_string(a->data().toInt());
            if (a->isCheckable()) {
                line += a->isChecked() ? " [x]" : " [ ]";
            }
            out.push_back(line);
        }
    }
}

std::vector<std::string> menuLines(const AppMainFrame& frame) {
    std::vector<std::string> out;
    for (const QAction* top : frame.menuBar()->actions()) {
        listMenu(top->menu(), top->text().toStdString(), out);
    }
    return out;
}

// The menu an action sits in.
QMenu* menuOf(QAction* action) {
    for (QObject* w : action->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(w)) {
            return menu;
        }
    }
    return nullptr;
}

void openMenu(QMenu* menu) {
    emit menu->aboutToShow();
}

TEST(ViewerMenus, TreeItemByItemWithTheResourceChecks) {
    auto frame = openWindow();
    const std::vector<std::string> expected = {
        "&File > &Open... #57601",
        "&File > Open &Recent > (none) #0",
        "&File > Save &Frame As... #57603",
        "&File > Save &LDI As... #57604",
        "&File > Save View... #57620",
        "&File > Load View... #57621",
        "&File > ---",
        "&File > E&xit #57665",
        "Options > RESET #34000",
        "Options > Instrument #34001 [ ]",
        "Options > Use Single Precision #34002 [x]",
        "Options > Use Trunc #34003 [x]",
        "Options > Threads: Automatic #34004 [x]",
        "Options > Threads: 1 #34005 [ ]",
        "Options > Threads: 2 #34006 [ ]",
        "Options > Threads: 4 #34007 [ ]",
        "Options > ---",
        "Options > Restore Default Settings #34010",
        "Control > Orbit Behind #35000 [ ]",
        "Control > Orbit In Front #35001 [x]",
        "Control > Relative Mouse #35002 [x]",
        "Control > Constant Velocity Mouse #35003 [ ]",
        "Control > Restrict Movement #35004 [ ]",
        "LDIs > Use False Color #37000 [ ]",
        "LDIs > False Color > 1 - Depth from Camera 1 #37001 [ ]",
        "LDIs > False Color > 2 - Depth from Camera 2 #37002 [ ]",
        "LDIs > False Color > 3 - Backface cull #37003 [ ]",
        "LDIs > False Color > 4 - Normal #37004 [ ]",
        "LDIs > False Color > 5 - Size - Approximate #37005 [ ]",
        "LDIs > False Color > 6 - Size - Accurate #37006 [ ]",
        "LDIs > False Color > 7 - Size - Anisotropic #37007 [ ]",
        "LDIs > False Color > 8 - Layer #37008 [ ]",
        "LDIs > False Color > 9 - Uncovered #37009 [ ]",
        "LDIs > ---",
        "LDIs > Use Splat #36000 [x]",
        "LDIs > High Quality Splats #36020 [x]",
        "LDIs > Use Depth Correction #36001 [x]",
        "LDIs > ---",
        "LDIs > Backface Culling #36002 [ ]",
        "LDIs > Scanline Culling #36003 [ ]",
        "LDIs > Frustum Clipper #36004 [x]",
        "LDIs > ---",
        "LDIs > Front Sement #36005 [x]",
        "LDIs > Back Segment #36006 [x]",
        "LDIs > ---",
        "LDIs > Environment Map #36007 [ ]",
        "LDIs > LDP #36008 [ ]",
        "View > Background > Black #39000 [ ]",
        "View > Background > Grey #39001 [x]",
        "View > Background > White #39002 [ ]",
        "View > Background > Blue #39003 [ ]",
        "View > Background > Horizon #39004 [ ]",
        "View > Stereo > None #38000 [x]",
        "View > Stereo > Color #38002 [ ]",
        "View > Stereo > Monochromatic #38001 [ ]",
        "Bench > Run test #40000",
        "&Help > &Keys and Mouse... #57670",
        "&Help > &About StrataViewer... #57664",
    };
    EXPECT_EQ(menuLines(*frame), expected);
    EXPECT_EQ(frame->action(app::kIdFileOpen)->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
}

// The menu bar holds exactly these menus: an extra (even an empty) one is a fault the item list
// above cannot see.
TEST(ViewerMenus, TheMenuBarsTopLevelTitles) {
    auto frame = openWindow();
    std::vector<std::string> titles;
    for (const QAction* top : frame->menuBar()->actions()) {
        titles.push_back(top->text().toStdString());
        ASSERT_NE(top->menu(), nullptr) << titles.back();
        EXPECT_FALSE(top->menu()->actions().isEmpty()) << titles.back();
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"&File", "Options", "Control", "LDIs", "View",
                                                "Bench", "&Help"}));
}

TEST(ViewerMenus, ChecksAreTheFieldsOnceAMenuOpens) {
    auto frame = openWindow();
    QAction* back = frame->action(36006);
    openMenu(menuOf(back));
    // The resource marks Back Segment, but its field starts off.
    EXPECT_FALSE(back->isChecked());
    for (const app::CommandInfo& c : app::commandTable()) {
        QAction* a = frame->action(c.id);
        ASSERT_NE(a, nullptr) << c.id;
        openMenu(menuOf(a));
        EXPECT_EQ(a->isChecked(), frame->view().IsChecked(c.id)) << c.text;
    }
}

TEST(ViewerMenus, ToggleFlipsItsCheckTheNextTimeTheMenuOpens) {
    auto frame = openWindow();
    for (const app::CommandInfo& c : app::commandTable()) {
        if (c.kind != app::CommandKind::toggle) {
            continue;
        }
        QAction* a = frame->action(c.id);
        QMenu* menu = menuOf(a);
        openMenu(menu);
        const bool before = a->isChecked();
        a->trigger();
        openMenu(menu);
        EXPECT_NE(a->isChecked(), before) << c.text;
        a->trigger();
        openMenu(menu);
        EXPECT_EQ(a->isChecked(), before) << c.text;
    }
    // The stereo group: one check, the chosen mode.
    frame->action(38001)->trigger();
    openMenu(menuOf(frame->action(38001)));
    EXPECT_FALSE(frame->action(38000)->isChecked());
    EXPECT_FALSE(frame->action(38002)->isChecked());
    EXPECT_TRUE(frame->action(38001)->isChecked());
    EXPECT_EQ(frame->view().stereoMode, 2);
    // A field changed outside the menu shows at the next opening.
    frame->view().useSplat = false;
    openMenu(menuOf(frame->action(36000)));
    EXPECT_FALSE(frame->action(36000)->isChecked());
}

TEST(ViewerMenus, EveryCommandReachesTheViewWithItsRedraw) {
    auto frame = openWindow(DemoSet::get().file("ldibrtqp"));
    platform::DebugCapture quiet;
    frame->action(39000)->trigger();
    EXPECT_EQ(frame->view().backgroundColor, 0x000000u);
    EXPECT_TRUE(frame->idlePending());
    settle(*frame);
    EXPECT_FALSE(frame->idlePending());
    // Control commands draw nothing and arm nothing.
    frame->action(35000)->trigger();
    EXPECT_EQ(frame->view().orbitBehind, 1);
    EXPECT_FALSE(frame->idlePending());
    frame->action(37006)->trigger();
    EXPECT_EQ(frame->view().falseColorMode, 6);
    EXPECT_EQ(frame->view().sizeAccurate, 1);
}

TEST(ViewerWindow, TitleStatusAndFrameOfAFileFromTheCommandLine) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    platform::DebugCapture quiet;
    auto frame = openWindow();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Strata Viewer"));
    const std::string file = demo.file("ldibrtqp");
    frame = openWindow(file);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Strata Viewer -- demo.ldibrtqp"));
    EXPECT_TRUE(frame->statusText().startsWith(QStringLiteral("hz: ")))
        << frame->statusText().toStdString();
    EXPECT_TRUE(frame->statusText().contains(QLatin1Char('<')));
    EXPECT_GT(frame->viewWidget()->framesShown(), 0);

    // The default, the high-quality splats, then the basic mode one click away: each as
    // `strata render` draws it.
    EXPECT_TRUE(frame->view().highQualitySplats);
    for (const char* quality : {"high", "basic"}) {
        SCOPED_TRACE(quality);
        if (std::string(quality) == "basic") {
            frame->action(36020)->trigger();
            settle(*frame);
            ASSERT_FALSE(frame->view().highQualitySplats);
        }
        const std::string png =
            (std::filesystem::path(demo.folder) / "viewer_reference.png").string();
        const std::string command = std::string(STRATA_EXE) + " render " + file +
                                    " --size 350x350 --quality " + quality + " -o " + png + " 2>&1";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[512];
        std::string out;
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            out += line;
        }
        ASSERT_EQ(::pclose(pipe), 0) << out;
        imageutil::RgbImage rendered;
        std::string error;
        ASSERT_TRUE(imageutil::readPng(png, rendered, &error)) << error;

        // What the window shows, as a user sees it: the widget's own picture, top row first.
        const QImage shown =
            frame->viewWidget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.width(), rendered.width);
        ASSERT_EQ(shown.height(), rendered.height);
        long differing = 0;
        long background = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const std::uint32_t want = rendered.at(x, rendered.height - 1 - y) & 0xFFFFFFu;
                const std::uint32_t got = shown.pixel(x, y) & 0xFFFFFFu;
                differing += want != got;
                background += got == frame->view().backgroundColor;
            }
        }
        // The blended footprints land on whole pixels. Soft footprints weigh the samples'
        // fractions, and from the file's own camera samples lie on pixel edges: the window's
        // and the command's matrices, equal but for their last bits, may tip a few edge pixels.
        const long tipped =
            std::string(quality) == "high" ? shown.width() * shown.height() / 2000 : 0;
        EXPECT_LE(differing, tipped);
        EXPECT_LT(background, shown.width() * shown.height() * 9 / 10) << "the frame is background";
    }

    // Another file: the title follows; a file that fails keeps it and says why in the status.
    ASSERT_TRUE(frame->openFile(QString::fromStdString(demo.file("ldibrtcp"))));
    settle(*frame);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Strata Viewer -- demo.ldibrtcp"));
    const std::string missing = demo.folder + "/missing.ldibrtqp";
    EXPECT_FALSE(frame->openFile(QString::fromStdString(missing)));
    settle(*frame);
    EXPECT_TRUE(frame->statusText().contains(QStringLiteral("missing.ldibrtqp")))
        << frame->statusText().toStdString();
}

// The picture the widget shows, top row first.
std::vector<QRgb> shownPixels(const AppMainFrame& frame) {
    const QImage shown = frame.viewWidget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::vector<QRgb> pixels;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            pixels.push_back(shown.pixel(x, y) & 0xFFFFFFu);
        }
    }
    return pixels;
}

void closeOpenFailure(AppMainFrame& frame) {
    if (frame.openFailure() != nullptr) {
        frame.openFailure()->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A failed open says why in a box, in full; the window keeps its title, camera and picture. A
// failed first file shows the background.
TEST(ViewerWindow, FailedOpenShowsTheWholeReasonAndKeepsWhatIsShown) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    platform::DebugCapture quiet;
    const std::string first = demo.folder + "/a folder of a long name that a status bar cuts/x.ldi";
    auto frame = openWindow(first, 200, 100);
    settle(*frame);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Strata Viewer"));
    ASSERT_NE(frame->openFailure(), nullptr);
    EXPECT_TRUE(frame->openFailure()->isVisible());
    EXPECT_EQ(frame->openFailure()->text().toStdString(), frame->view().statusNote);
    EXPECT_NE(frame->openFailure()->text().toStdString().find(first), std::string::npos);
    for (const QRgb pixel : shownPixels(*frame)) {
        ASSERT_EQ(pixel, frame->view().backgroundColor);
    }
    closeOpenFailure(*frame);
    EXPECT_EQ(frame->openFailure(), nullptr);

    ASSERT_TRUE(frame->openFile(QString::fromStdString(demo.file("ldibrtqp"))));
    EXPECT_EQ(frame->openFailure(), nullptr);
    QTest::keyClick(frame->viewWidget(), Qt::Key_Left);
    settle(*frame);
    const QString title = frame->windowTitle();
    const geometry::Vector3 pos = frame->view().viewCamera.pos;
    const std::vector<QRgb> picture = shownPixels(*frame);
    const std::string failed = demo.folder + "/missing.ldiset";
    EXPECT_FALSE(frame->openFile(QString::fromStdString(failed)));
    settle(*frame);
    EXPECT_EQ(frame->windowTitle(), title);
    EXPECT_EQ(frame->view().viewCamera.pos, pos);
    EXPECT_EQ(shownPixels(*frame), picture);
    ASSERT_NE(frame->openFailure(), nullptr);
    EXPECT_NE(frame->openFailure()->text().toStdString().find(failed), std::string::npos);
    closeOpenFailure(*frame);
}

// Menus opening and their items under the mouse leave the status line as the frame set it.
TEST(ViewerWindow, MenusLeaveTheStatusLineAlone) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    platform::DebugCapture quiet;
    auto frame = openWindow(demo.file("ldibrtqp"));
    settle(*frame);
    const QString status = frame->statusText();
    ASSERT_TRUE(status.startsWith(QStringLiteral("hz: ")));
    for (QAction* top : frame->menuBar()->actions()) {
        top->showStatusText(frame->menuBar());
        openMenu(top->menu());
        for (QAction* item : top->menu()->actions()) {
            item->showStatusText(frame->menuBar());
        }
        EXPECT_EQ(frame->statusText(), status) << top->text().toStdString();
    }
}

TEST(ViewerWindow, AboutBoxCaptionVersionAndHelp) {
    auto frame = openWindow();
    const std::unique_ptr<QDialog> about = frame->createAboutDialog();
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About StrataViewer"));
    EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("version"))->text(),
              QStringLiteral("StrataViewer Version 1.0"));
    EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("help"))->text(),
              QStringLiteral("Left Mouse -- pan\nShift-Left Mouse -- orbit\nRight Mouse -- "
                             "translate\nShift-Right Mouse -- dolly\nControl-Right Mouse -- "
                             "Zoom\nOptions - RESET starts over\nFalse Color 8 - Layer: front "
                             "red, 2nd green, 3rd blue, 4th yellow, 5th cyan, 6th orange, 7th "
                             "purple, farther white\nFalse Color 9 - Uncovered: pixels no sample "
                             "reached in magenta\nHigh Quality Splats is on by default: each "
                             "surface hides what lies behind it. Off, the LDIs draw the basic "
                             "blended splats, which show hidden surfaces through nearer ones"));
}

TEST(ViewerWindow, StatusBarPanes) {
    auto frame = openWindow();
    for (const char* pane : {"CAPS", "NUM", "SCRL"}) {
        const auto* label = frame->statusBar()->findChild<QLabel*>(QString::fromLatin1(pane));
        ASSERT_NE(label, nullptr) << pane;
        EXPECT_EQ(label->text(), QString::fromLatin1(pane));
    }
}

TEST(ViewerWindow, SaveFrameWritesPngAndBmpOfTheFrame) {
    const DemoSet& demo = DemoSet::get();
    platform::DebugCapture quiet;
    auto frame = openWindow(demo.file("ldibrtqp"));
    const imageutil::RgbImage& image = frame->view().frameImage;
    QString error;
    const std::string png = demo.folder + "/saved frame.png";
    const std::string bmp = demo.folder + "/saved frame.BMP";
    ASSERT_TRUE(frame->saveFrame(QString::fromStdString(png), error)) << error.toStdString();
    ASSERT_TRUE(frame->saveFrame(QString::fromStdString(bmp), error)) << error.toStdString();
    imageutil::RgbImage fromPng;
    std::string why;
    ASSERT_TRUE(imageutil::readPng(png, fromPng, &why)) << why;
    std::unique_ptr<std::uint32_t[]> fromBmp;
    std::int32_t w = 0;
    std::int32_t h = 0;
    ASSERT_EQ(imageutil::ImageUtilLoadBMP(bmp, fromBmp, w, h), 1);
    ASSERT_EQ(fromPng.width, image.width);
    ASSERT_EQ(w, image.width);
    ASSERT_EQ(h, image.height);
    for (std::size_t i = 0; i < image.pixelCount(); ++i) {
        ASSERT_EQ(fromPng.pixels[i] & 0xFFFFFFu, image.pixels[i] & 0xFFFFFFu) << i;
        ASSERT_EQ(fromBmp[i] & 0xFFFFFFu, image.pixels[i] & 0xFFFFFFu) << i;
    }
    // A folder that does not exist: refused with a reason.
    EXPECT_FALSE(frame->saveFrame(QString::fromStdString(demo.folder + "/no/such/f.png"), error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ViewerWindow, DroppedFileOpens) {
    const DemoSet& demo = DemoSet::get();
    platform::DebugCapture quiet;
    auto frame = openWindow();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(demo.file("ldibrtcp")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &drop);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Strata Viewer -- demo.ldibrtcp"));
    EXPECT_EQ(frame->view().displayMode, app::ModeLdiCp);
    // Text without a file is not taken.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    refused.setAccepted(false);
    QApplication::sendEvent(frame.get(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST(ViewerWindow, FrameSizeSetsTheViewAndTheWindowFitsIt) {
    auto frame = openWindow({}, 500, 300);
    EXPECT_EQ(frame->viewWidget()->size(), QSize(500, 300));
    EXPECT_EQ(frame->view().frameImage.width, 500);
    EXPECT_EQ(frame->view().frameImage.height, 300);
    EXPECT_EQ(frame->view().clientWidth, 500);
    EXPECT_EQ(frame->viewWidget()->shownFrame().size(), QSize(500, 300));
    EXPECT_GE(frame->width(), 500);
    EXPECT_GE(frame->height(), 300);
}

TEST(ViewerWindow, IdlePassOnlyWhileSomethingIsPendingAndPaintDrawsNoFrame) {
    platform::DebugCapture quiet;
    auto frame = openWindow(DemoSet::get().file("ldibrtqp"));
    settle(*frame);
    EXPECT_FALSE(frame->idlePending());
    const long shown = frame->viewWidget()->framesShown();
    // Exposes only show the last frame.
    frame->viewWidget()->repaint();
    frame->repaint();
    QApplication::processEvents();
    EXPECT_EQ(frame->viewWidget()->framesShown(), shown);
    EXPECT_FALSE(frame->idlePending());
    EXPECT_FALSE(frame->view().needsRedraw);
    // A key arms one pass, which draws one frame and disarms.
    QTest::keyClick(frame->viewWidget(), Qt::Key_Left);
    EXPECT_TRUE(frame->idlePending());
    QTest::qWait(50);
    EXPECT_FALSE(frame->idlePending());
    EXPECT_EQ(frame->viewWidget()->framesShown(), shown + 1);
}

}  // namespace
}  // namespace strata::viewer
