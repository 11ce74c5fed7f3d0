// Shared pieces of the viewer window tests: a window on the demo files with its frames drawn,
// and the input events a user would send.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <memory>

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

}  // namespace strata::viewer::testing
