#include "viewer/view_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/app_view.h"

namespace strata::viewer {

int virtualKeyFor(int key, Qt::KeyboardModifiers modifiers) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        const int digit = key - Qt::Key_0;
        return modifiers.testFlag(Qt::KeypadModifier) ? 0x60 + digit : 0x30 + digit;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return 0x41 + (key - Qt::Key_A);
    }
    switch (key) {
        case Qt::Key_Left:
            return 0x25;
        case Qt::Key_Up:
            return 0x26;
        case Qt::Key_Right:
            return 0x27;
        case Qt::Key_Down:
            return 0x28;
        default:
            return 0;
    }
}

ViewWidget::ViewWidget(app::AppView& view, std::function<void()> afterInput, QWidget* parent)
    : QWidget(parent), view_(view), afterInput_(std::move(afterInput)) {
    setFixedSize(view_.frameWidth, view_.frameHeight);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    shown_ = QImage(view_.frameWidth, view_.frameHeight, QImage::Format_RGB32);
    shown_.fill(Qt::black);
}

void ViewWidget::showFrame() {
    const imageutil::RgbImage& frame = view_.frameImage;
    if (frame.empty()) {
        return;
    }
    // The frame's row 0 is its bottom row: show it mirrored.
    const QImage wrapped(reinterpret_cast<const uchar*>(frame.pixels), frame.width, frame.height,
                         static_cast<qsizetype>(frame.width) * 4, QImage::Format_RGB32);
    shown_ = wrapped.mirrored(false, true);
    ++framesShown_;
    update();
}

void ViewWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, shown_);
}

void ViewWidget::keyPressEvent(QKeyEvent* event) {
    const int code = virtualKeyFor(event->key(), event->modifiers());
    if (code == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    view_.OnKeyDown(code);
    afterInput_();
}

void ViewWidget::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const bool control = event->modifiers().testFlag(Qt::ControlModifier);
    if (event->button() == Qt::LeftButton) {
        view_.OnLButtonDown(p.x(), p.y(), shift, control);
    } else if (event->button() == Qt::RightButton) {
        view_.OnRButtonDown(p.x(), p.y(), shift, control);
    } else {
        QWidget::mousePressEvent(event);
        return;
    }
    afterInput_();
}

void ViewWidget::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        view_.OnLButtonUp(p.x(), p.y());
    } else if (event->button() == Qt::RightButton) {
        view_.OnRButtonUp(p.x(), p.y());
    } else {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    afterInput_();
}

void ViewWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    view_.OnMouseMove(p.x(), p.y());
    afterInput_();
}

}  // namespace strata::viewer
