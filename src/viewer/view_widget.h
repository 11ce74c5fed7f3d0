// The view area of the main window: shows the last frame of AppView and hands keys (as
// virtual-key codes) and mouse input (in client coordinates, device pixels) to AppView. Unless
// the frame size is fixed, the frame follows the widget's size in device pixels, so a 2x screen
// gets a frame of twice the sides, shown sharp. It never draws a frame itself: painting only
// shows the frame AppView last handed out, with the key and mouse help over it when asked for.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

namespace strata::app {
class AppView;
}

namespace strata::viewer {

// The virtual-key code of a key (arrows 0x25..0x28, letters 0x41..0x5A, digits 0x30..0x39,
// keypad digits 0x60..0x69, Home 0x24, F1..F12 0x70..0x7B, ? 0xBF), or 0 for a key that has
// none.
int virtualKeyFor(int key, Qt::KeyboardModifiers modifiers);

class ViewWidget : public QWidget {
    Q_OBJECT

  public:
    // `afterInput` runs after every input handed to the view (the shell arms its idle pass).
    // With fixedSize the widget keeps the view's frame size; else the frame follows the widget.
    ViewWidget(app::AppView& view, std::function<void()> afterInput, bool fixedSize,
               QWidget* parent = nullptr);

    QSize sizeHint() const override;
    // The widget's size in device pixels: the frame size it asks of the view.
    QSize deviceSize() const;

    // Takes a copy of the view's frame image, top row first, and schedules a paint.
    void showFrame();
    // The picture the next paint shows.
    const QImage& shownFrame() const { return shown_; }
    // Frames handed to showFrame so far.
    long framesShown() const { return framesShown_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // A point of the widget in the view's client coordinates (device pixels).
    QPoint toClient(const QPointF& p) const;
    void paintHelp(QPainter& painter);

    app::AppView& view_;
    std::function<void()> afterInput_;
    bool fixedSize_ = false;
    QSize hint_;
    QImage shown_;
    long framesShown_ = 0;
};

}  // namespace strata::viewer
