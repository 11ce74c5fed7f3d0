// Shared pieces of the viewer window tests: a window on the demo files with its frames drawn,
// and the input events a user would send.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <cstdio>
#include <memory>
#include <string>

#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"

#include "app/app_test_support.h"
#include "platform/debug_output.h"
#include "viewer/main_window.h"
#include "viewer/view_widget.h"

namespace strata::viewer::testing {

using app::testing::DemoSet;

// A shown window, optionally on a file, with pending frames drawn.
inline std::unique_ptr<AppMainFrame> openWindow(const std::string& file = {},
                                                std::int32_t width = 350,
                                                std::int32_t height = 350) {
    ViewerOptions options;
    options.file = file;
    options.frameWidth = width;
    options.frameHeight = height;
    // Another size than the default is fixed, as --frame-size fixes it.
    options.frameSizeGiven = width != 350 || height != 350;
    auto frame = createMainFrame(options);
    frame->runIdle();
    QApplication::processEvents();
    return frame;
}

// Runs the idle passes the window has armed, then paints.
inline void settle(AppMainFrame& frame) {
    for (int i = 0; i < 4 && frame.idlePending(); ++i) {
        frame.runIdle();
    }
    QApplication::processEvents();
}

inline void sendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::KeyboardModifiers modifiers) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::MouseButtons();
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, held, modifiers);
    QApplication::sendEvent(widget, &event);
}

// A press at `from`, moves to `to` in `steps` steps, and the release there.
inline void drag(QWidget* widget, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                 QPoint from, QPoint to, int steps = 1) {
    sendMouse(widget, QEvent::MouseButtonPress, from, button, modifiers);
    for (int i = 1; i <= steps; ++i) {
        const QPoint at = from + (to - from) * i / steps;
        sendMouse(widget, QEvent::MouseMove, at, Qt::NoButton, modifiers);
    }
    sendMouse(widget, QEvent::MouseButtonRelease, to, button, modifiers);
}

// Runs `strata render FILE --size WxH` (and any further arguments) into png and reads it back.
// False with the command's output in `error` when it fails.
inline bool renderWithStrata(const std::string& file, int width, int height, const std::string& png,
                             imageutil::RgbImage& rendered, std::string& error,
                             const std::string& more = {}) {
    const std::string command = std::string(STRATA_EXE) + " render " + file + " --size " +
                                std::to_string(width) + "x" + std::to_string(height) + " -o " +
                                png + " " + more + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        error = "cannot run " + command;
        return false;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        error += line;
    }
    if (::pclose(pipe) != 0) {
        return false;
    }
    return imageutil::readPng(png, rendered, &error);
}

// Pixels where the picture (top row first) and the rendered frame (row 0 at the bottom)
// differ; -1 when their sizes differ.
inline long differingPixels(const QImage& shown, const imageutil::RgbImage& rendered) {
    if (shown.width() != rendered.width || shown.height() != rendered.height) {
        return -1;
    }
    long differing = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            differing += (rendered.at(x, rendered.height - 1 - y) & 0xFFFFFFu) !=
                         (shown.pixel(x, y) & 0xFFFFFFu);
        }
    }
    return differing;
}

}  // namespace strata::viewer::testing
