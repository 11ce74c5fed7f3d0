#include "viewer/view_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <cmath>

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
        case Qt::Key_Home:
            return app::vk::kHome;
        case Qt::Key_F1:
            return app::vk::kF1;
        case Qt::Key_F12:
            return app::vk::kF12;
        case Qt::Key_Question:
            return app::vk::kQuestion;
        default:
            return 0;
    }
}

ViewWidget::ViewWidget(app::AppView& view, std::function<void()> afterInput, bool fixedSize,
                       QWidget* parent)
    : QWidget(parent),
      view_(view),
      afterInput_(std::move(afterInput)),
      fixedSize_(fixedSize),
      hint_(view.frameWidth, view.frameHeight) {
    if (fixedSize_) {
        setFixedSize(hint_);
    } else {
        setMinimumSize(64, 64);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    shown_ = QImage(view_.frameWidth, view_.frameHeight, QImage::Format_RGB32);
    shown_.fill(Qt::black);
}

QSize ViewWidget::sizeHint() const {
    return hint_;
}

QSize ViewWidget::deviceSize() const {
    const qreal ratio = devicePixelRatioF();
    return {static_cast<int>(std::lround(width() * ratio)),
            static_cast<int>(std::lround(height() * ratio))};
}

QPoint ViewWidget::toClient(const QPointF& p) const {
    const qreal ratio = fixedSize_ ? 1.0 : devicePixelRatioF();
    return {static_cast<int>(std::floor(p.x() * ratio)),
            static_cast<int>(std::floor(p.y() * ratio))};
}

void ViewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (fixedSize_) {
        return;
    }
    const QSize size = deviceSize();
    if (size.width() != view_.frameWidth || size.height() != view_.frameHeight) {
        view_.ResizeFrame(size.width(), size.height());
        afterInput_();
    }
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
    // Device pixels one to one: a 2x screen shows a frame of twice the sides at the same size.
    shown_.setDevicePixelRatio(fixedSize_ ? 1.0 : devicePixelRatioF());
    ++framesShown_;
    update();
}

void ViewWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, shown_);
    // Until the next frame arrives after a resize, the rest of the widget stays dark.
    const QSizeF shown = shown_.deviceIndependentSize();
    if (shown.width() < width()) {
        painter.fillRect(QRectF(shown.width(), 0, width() - shown.width(), height()), Qt::black);
    }
    if (shown.height() < height()) {
        painter.fillRect(QRectF(0, shown.height(), width(), height() - shown.height()), Qt::black);
    }
    if (view_.helpOverlay) {
        paintHelp(painter);
    }
}

void ViewWidget::paintHelp(QPainter& painter) {
    const std::vector<std::string> lines = view_.HelpLines();
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.height();
    int keysWidth = 0;
    int whatWidth = 0;
    for (const std::string& line : lines) {
        const QString text = QString::fromStdString(line);
        keysWidth = std::max(keysWidth, metrics.horizontalAdvance(text.section(u'\t', 0, 0)));
        whatWidth = std::max(whatWidth, metrics.horizontalAdvance(text.section(u'\t', 1)));
    }
    const int margin = lineHeight / 2;
    const QSizeF panel(keysWidth + whatWidth + 4 * margin,
                       static_cast<int>(lines.size() + 1) * lineHeight + 2 * margin);
    // A small view shows the whole list smaller.
    const qreal scale = std::min({1.0, (width() - 2.0 * margin) / panel.width(),
                                  (height() - 2.0 * margin) / panel.height()});
    painter.save();
    painter.translate(margin, margin);
    painter.scale(scale, scale);
    painter.fillRect(QRectF(QPointF(0, 0), panel), QColor(0, 0, 0, 190));
    painter.setPen(Qt::white);
    int y = margin + metrics.ascent();
    painter.drawText(margin, y, QStringLiteral("Keys and mouse (F1 or ? hides)"));
    for (const std::string& line : lines) {
        y += lineHeight;
        const QString text = QString::fromStdString(line);
        painter.drawText(margin, y, text.section(u'\t', 0, 0));
        painter.drawText(3 * margin + keysWidth, y, text.section(u'\t', 1));
    }
    painter.restore();
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
    const QPoint p = toClient(event->position());
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const bool control = event->modifiers().testFlag(Qt::ControlModifier);
    if (event->button() == Qt::LeftButton) {
        view_.OnLButtonDown(p.x(), p.y(), shift, control);
    } else if (event->button() == Qt::RightButton) {
        view_.OnRButtonDown(p.x(), p.y(), shift, control);
    } else if (event->button() == Qt::MiddleButton) {
        view_.OnMButtonDown(p.x(), p.y(), shift, control);
    } else {
        QWidget::mousePressEvent(event);
        return;
    }
    afterInput_();
}

void ViewWidget::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = toClient(event->position());
    if (event->button() == Qt::LeftButton) {
        view_.OnLButtonUp(p.x(), p.y());
    } else if (event->button() == Qt::RightButton) {
        view_.OnRButtonUp(p.x(), p.y());
    } else if (event->button() == Qt::MiddleButton) {
        view_.OnMButtonUp(p.x(), p.y());
    } else {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    afterInput_();
}

void ViewWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = toClient(event->position());
    view_.OnMouseMove(p.x(), p.y());
    afterInput_();
}

void ViewWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint p = toClient(event->position());
    view_.OnLButtonDblClk(p.x(), p.y());
    afterInput_();
}

void ViewWidget::wheelEvent(QWheelEvent* event) {
    const QPoint p = toClient(event->position());
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    view_.OnMouseWheel(p.x(), p.y(), delta);
    afterInput_();
}

}  // namespace strata::viewer
