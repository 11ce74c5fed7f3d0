// strata-viewer: the desktop viewer. Parses its options, opens the main window and runs the event
// loop; --screenshot grabs the screen once the first frame is on it and quits.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "platform/folder_fence.h"
#include "viewer/main_window.h"
#include "viewer/view_widget.h"
#include "viewer/viewer_options.h"

namespace {

using strata::viewer::AppMainFrame;
using strata::viewer::ViewWidget;

// FILE with "-view" before its extension.
QString viewShotName(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QStringLiteral("png") : info.suffix();
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("-view.") + suffix);
}

// Resizes the window so that its view gets `size` (logical pixels).
void resizeView(AppMainFrame& frame, QSize size) {
    const QSize around = frame.size() - frame.viewWidget()->size();
    frame.resize(size + around);
}

// Once the first frame is shown, resizes the view to `resize` when it is valid.
void scheduleResize(AppMainFrame& frame, QSize resize) {
    auto* poll = new QTimer(&frame);
    QObject::connect(poll, &QTimer::timeout, &frame, [&frame, resize, poll] {
        if (frame.viewWidget()->framesShown() > 0 && frame.isVisible()) {
            poll->stop();
            resizeView(frame, resize);
        }
    });
    poll->start(50);
}

// Waits for a frame on screen (at the size asked for with --resize), grabs the whole screen to
// `path` and the view's part of it beside it, then ends the event loop with 0 (or 1 when no
// frame came or a save failed).
void scheduleScreenshot(AppMainFrame& frame, const QString& path, QSize resize) {
    auto* clock = new QElapsedTimer;
    clock->start();
    auto* poll = new QTimer(&frame);
    auto* sized = new qint64(resize.isValid() ? -1 : 0);  // when the view had its size
    QObject::connect(poll, &QTimer::timeout, &frame, [&frame, path, poll, clock, resize, sized] {
        ViewWidget* view = frame.viewWidget();
        if (*sized < 0 && view->size() == resize &&
            view->shownFrame().size() == view->deviceSize()) {
            *sized = clock->elapsed();
        }
        const bool ready = view->framesShown() > 0 && !frame.idlePending() && frame.isVisible() &&
                           *sized >= 0 && clock->elapsed() - *sized >= 500;
        // A little time after the first frame lets the window system put it on screen.
        if (!ready || clock->elapsed() < 1000) {
            if (clock->elapsed() > 20000) {
                std::fprintf(stderr, "strata-viewer: no frame to take a screenshot of\n");
                QCoreApplication::exit(1);
            }
            return;
        }
        poll->stop();
        QScreen* screen = frame.screen();
        const QPixmap shot = screen != nullptr ? screen->grabWindow(0) : QPixmap();
        const QPoint origin = frame.viewWidget()->mapToGlobal(QPoint(0, 0)) -
                              (screen != nullptr ? screen->geometry().topLeft() : QPoint());
        // The shot is in device pixels: on a scaled screen the view's part scales with it.
        const qreal ratio = shot.isNull() ? 1.0 : shot.devicePixelRatio();
        const QRect viewRect(origin * ratio, frame.viewWidget()->size() * ratio);
        const QString viewPath = viewShotName(path);
        const bool saved =
            !shot.isNull() && shot.save(path, "PNG") && shot.copy(viewRect).save(viewPath, "PNG");
        std::printf("screenshot: %s, view at %d,%d %dx%d in %s\n", qPrintable(path), viewRect.x(),
                    viewRect.y(), viewRect.width(), viewRect.height(), qPrintable(viewPath));
        std::printf("status: %s\n", qPrintable(frame.statusText()));
        std::fflush(stdout);
        delete clock;
        delete sized;
        QCoreApplication::exit(saved ? 0 : 1);
    });
    poll->start(50);
}

}  // namespace

int main(int argc, char** argv) {
    // The options are checked before the toolkit starts, so that a mistake is one line even
    // where no display can be opened.
    strata::viewer::ViewerOptions options;
    std::string error;
    if (!strata::viewer::parseViewerArguments(strata::viewer::withoutToolkitOptions(argc, argv),
                                              options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(strata::viewer::viewerUsage().c_str(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Strata Viewer"));
    // The installed icon (share/icons/hicolor), when the theme finds it.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("strata-viewer")));

    // The toolkit has taken its own options out: what is left is the viewer's.
    std::vector<std::string> arguments;
    const QStringList given = QApplication::arguments();
    for (qsizetype i = 1; i < given.size(); ++i) {
        arguments.push_back(given[i].toLocal8Bit().toStdString());
    }
    if (!strata::viewer::parseViewerArguments(arguments, options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (options.probeDisplay) {
        return 0;
    }
    strata::platform::setOutsidePathsAllowed(options.allowOutsidePaths);

    std::unique_ptr<AppMainFrame> frame = strata::viewer::createMainFrame(options);
    const QSize resize =
        options.resizeWidth > 0 ? QSize(options.resizeWidth, options.resizeHeight) : QSize();
    if (resize.isValid()) {
        scheduleResize(*frame, resize);
    }
    if (!options.screenshot.empty()) {
        scheduleScreenshot(*frame, QString::fromLocal8Bit(options.screenshot.c_str()), resize);
    }
    return QApplication::exec();
}
