// The viewer core: construction, the initial update, the frame images and the idle routine.
// Every input only changes fields and asks for a frame (needsRedraw or timerTick); the idle
// routine draws it. The other concerns live beside this file: app_files.cpp (opening files and
// view files), app_commands.cpp (the menu commands), app_navigation.cpp (mouse, keys and the
// camera steps), app_pivot.cpp (the middle drags, the wheel, the pivot pick and fit),
// input_table.cpp (the key and mouse tables and their help), app_view_reset.cpp (the view
// reset), app_frame.cpp (the frame driver and the spin frame), app_diagnostics.cpp (stopwatch,
// frame rate, stereo, counters, Run test, view dump), mesh_open.cpp (meshes made into LDIs in
// the background) and file_kinds.cpp (the file kinds the viewer opens).
#include "app/app_view.h"

#include <algorithm>

#include "app/app_view_support.h"
#include "platform/clock.h"

namespace strata::app {

namespace {

constexpr double kTwoPi = 6.283185308;

}  // namespace

// ---- Construction ---------------------------------------------------------------------------

AppView::AppView() : counters(&instrument::counters()) {
    frameStopwatch.frequency = platform::kCounterFrequency;
}

AppView::~AppView() = default;

void AppView::SetStatus(const std::string& text) {
    if (onStatus) {
        onStatus(text);
    }
}

void AppView::OnInitialUpdate() {
    CreateFrameImages(frameWidth > 0 ? frameWidth : kDefaultFrameSide,
                      frameHeight > 0 ? frameHeight : kDefaultFrameSide);
    ResetView(clientWidth, clientHeight);
    needsRedraw = true;
}

void AppView::CreateFrameImages(std::int32_t width, std::int32_t height) {
    if (frameImage.empty()) {
        frameWidth = width;
        frameHeight = height;
        clientWidth = width;
        clientHeight = height;
        frameImage = imageutil::RgbImage::createOwned(width, height);
        stereoImage = imageutil::RgbImage::createOwned(width, height);
        targetImage = &frameImage;
    }
    frameImage.clear();
    stereoImage.clear();
}

void AppView::ResizeFrame(std::int32_t width, std::int32_t height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (!frameImage.empty() && width == frameWidth && height == frameHeight) {
        return;
    }
    frameImage = imageutil::RgbImage{};
    CreateFrameImages(width, height);
    trackball.setSize(width, height, 0.8f);
    // The angle stays on the smaller side; the camera stays where it is.
    SetProjection(viewCamera.fov, width, height);
    RebuildFromViewMatrix(
        geometry::product(NavigationRotation(),
                          geometry::translation(-navPosition.x, -navPosition.y, -navPosition.z)));
    // A spun view (running or stopped) is drawn again by the spin frame.
    if (spinAngle != 0.0f) {
        timerTick = true;
    } else {
        needsRedraw = true;
    }
}

void AppView::OnDraw() {
    RenderFrame();
    needsRedraw = true;
}

void AppView::OnTimer(int /*id*/) {
    const double sum = static_cast<double>(spinAngle + 0.01f);
    spinAngle = static_cast<float>(sum > kTwoPi ? sum - kTwoPi : sum);
    timerTick = true;
}

int AppView::OnIdle() {
    if (needsRedraw) {
        RenderFrame();
        needsRedraw = false;
    }
    if (timerTick) {
        SpinFrame();
        timerTick = false;
    }
    return 0;
}

}  // namespace strata::app
