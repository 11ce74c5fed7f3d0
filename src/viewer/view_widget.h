// The view area of the main window: shows the last frame of AppView at its natural size and
// hands keys (as virtual-key codes) and mouse input (in client coordinates) to AppView. It never
// draws a frame itself: painting only shows the frame AppView last handed out.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

namespace strata::app {
class AppView;
}

namespace strata::viewer {

// The virtual-key code of a key (arrows 0x25..0x28, letters 0x41..0x5A, digits 0x30..0x39,
// keypad digits 0x60..0x69), or 0 for a key that has none.
int virtualKeyFor(int key, Qt::KeyboardModifiers modifiers);

class ViewWidget : public QWidget {
    Q_OBJECT

  public:
    // `afterInput` runs after every input handed to the view (the shell arms its idle pass).
    ViewWidget(app::AppView& view, std::function<void()> afterInput, QWidget* parent = nullptr);

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

  private:
    app::AppView& view_;
    std::function<void()> afterInput_;
    QImage shown_;
    long framesShown_ = 0;
};

}  // namespace strata::viewer
