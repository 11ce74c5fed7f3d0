// Navigation: keys, mouse drags and the move and turn steps that rebuild the camera and the
// warp matrix from the navigation state.
#include "app/app_view.h"

#include <algorithm>
#include <cmath>

#include "app/app_view_support.h"
#include "app/input_table.h"
#include "geometry/frame_tangents.h"
#include "geometry/quaternion.h"

namespace strata::app {

namespace {

constexpr float kPivotDistance = 0.7f;

}  // namespace

// ---- Keys, mouse and timer ------------------------------------------------------------------

void AppView::OnKeyDown(int virtualKey) {
    // The steps of the arrows and A, Z here; every other key runs its row of the key table.
    Vector3 motion;
    bool move = true;
    switch (virtualKey) {
        case vk::kLeft:
            motion = {-keyStep, 0.0f, 0.0f};
            break;
        case vk::kUp:
            motion = {0.0f, 0.0f, -keyStep};
            break;
        case vk::kRight:
            motion = {keyStep, 0.0f, 0.0f};
            break;
        case vk::kDown:
            motion = {0.0f, 0.0f, keyStep};
            break;
        case vk::kA:
            motion = {0.0f, keyStep, 0.0f};
            break;
        case vk::kZ:
            motion = {0.0f, -keyStep, 0.0f};
            break;
        default:
            move = false;
            if (const KeyBinding* key = findKey(virtualKey); key != nullptr && key->press) {
                key->press(*this, virtualKey);
            }
            break;
    }
    keyMotion = motion;
    if (move) {
        MoveCamera();
        needsRedraw = true;
    }
}

void AppView::OnLButtonDown(int x, int y, bool shift, bool control) {
    mouseMode = dragModeFor(MouseButton::left, shift, control);
    const std::int32_t halfW = clientWidth / 2;
    const std::int32_t halfH = clientHeight / 2;
    if (halfW > 0 && halfH > 0) {
        panRateX = static_cast<float>(std::clamp(x - halfW, -(clientWidth / 2), halfW)) /
                   static_cast<float>(halfW);
        panRateY = static_cast<float>(std::clamp(halfH - y, -(clientHeight / 2), halfH)) /
                   static_cast<float>(halfH);
    }
    lastMouseX = x;
    lastMouseY = clientHeight - y;
}

void AppView::OnLButtonUp(int /*x*/, int /*y*/) {
    mouseMode = MouseNone;
    panRateX = 0.0f;
    panRateY = 0.0f;
}

void AppView::OnRButtonDown(int x, int y, bool shift, bool control) {
    lastMouseX = x;
    lastMouseY = clientHeight - y;
    mouseMode = dragModeFor(MouseButton::right, shift, control);
}

void AppView::OnRButtonUp(int /*x*/, int /*y*/) {
    mouseMode = MouseNone;
    keyMotion = Vector3{};
}

void AppView::OnMouseMove(int x, int y) {
    const std::int32_t yUp = clientHeight - y;
    currentMouseX = x;
    currentMouseY = yUp;
    const float dx = static_cast<float>(x - lastMouseX);
    const float dy = static_cast<float>(yUp - lastMouseY);
    const float len = std::sqrt(dx * dx + dy * dy);
    const auto requestFrame = [this] {
        if (animate) {
            timerTick = true;
        } else {
            needsRedraw = true;
        }
    };
    switch (mouseMode) {
        case MouseTranslate: {
            Vector3 step;
            if (len > 0.0f) {
                // Drags within about 17 degrees of the horizontal (or the vertical) keep to it, so
                // that a hand's wobble does not drift the camera; any other drag moves both ways.
                const float k = 1.0f / len;
                if (std::fabs(dy * k) < 0.3f) {
                    step = {dx * keyStep, 0.0f, 0.0f};
                } else if (std::fabs(dx * k) < 0.3f) {
                    step = {0.0f, dy * keyStep, 0.0f};
                } else {
                    step = {dx * keyStep, dy * keyStep, 0.0f};
                }
            }
            keyMotion = -step;
            MoveCamera();
            requestFrame();
            break;
        }
        case MouseDolly:
            keyMotion = {0.0f, 0.0f, -dy * keyStep};
            MoveCamera();
            requestFrame();
            break;
        case MousePush:
            keyMotion = {0.0f, 0.0f, dy * keyStep};
            MoveCamera();
            timerTick = true;
            break;
        case MouseZoom: {
            const float f = std::clamp(viewCamera.fov - 0.005f * dy, kZoomFloor, kZoomCeiling);
            const geometry::FrameTangents t = geometry::frameTangents(f, clientWidth, clientHeight);
            warpProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, -1.0f);
            clipProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, 1000.0f);
            viewCamera.fov = f;
            viewCamera.projection = warpProjection;
            warpMatrix =
                geometry::product(geometry::product(viewportMatrix, warpProjection), navViewMatrix);
            clipMatrix =
                geometry::product(geometry::product(viewportMatrix, clipProjection), navViewMatrix);
            needsRedraw = true;
            break;
        }
        case MouseTurntable:
            TurntableBy(dx, dy);
            requestFrame();
            break;
        case MouseSlide:
            SlideBy(dx, dy);
            requestFrame();
            break;
        case MouseSpin:
            spinAngle += 0.2f * keyStep * dx;
            timerTick = true;
            break;
        case MousePan:
        case MouseOrbit: {
            const std::int32_t halfW = clientWidth / 2;
            const std::int32_t halfH = clientHeight / 2;
            if (halfW > 0 && halfH > 0) {
                const std::int32_t ox = std::clamp(x - halfW, -(clientWidth / 2), halfW);
                const std::int32_t oy = std::clamp(halfH - y, -(clientHeight / 2), halfH);
                panRateX = static_cast<float>(ox) / static_cast<float>(halfW);
                panRateY = static_cast<float>(oy) / static_cast<float>(halfH);
                TurnCamera();
                needsRedraw = true;
            }
            break;
        }
        default:
            break;
    }
    lastMouseX = x;
    lastMouseY = yUp;
}

// ---- Camera steps ---------------------------------------------------------------------------

bool AppView::InsideMovementBox(const Vector3& p) const {
    if (!restrictMovement) {
        return true;
    }
    return movementMin.x < p.x && p.x < movementMax.x && movementMin.y < p.y &&
           p.y < movementMax.y && movementMin.z < p.z && p.z < movementMax.z;
}

void AppView::RebuildFromViewMatrix(const Matrix4& view) {
    navViewMatrix = view;
    const Matrix4 inverse = geometry::inverse(view);
    const Vector4 origin = geometry::transform(inverse, {0.0f, 0.0f, 0.0f, 1.0f});
    const float w = origin.w != 0.0f ? origin.w : 1.0f;
    viewCamera.pos = {origin.x / w, origin.y / w, origin.z / w};
    viewCamera.dir = xyz(geometry::transform(inverse, {0.0f, 0.0f, -1.0f, 0.0f}));
    viewCamera.up = xyz(geometry::transform(inverse, {0.0f, 1.0f, 0.0f, 0.0f}));
    warpMatrix = geometry::product(geometry::product(viewportMatrix, warpProjection), view);
    clipMatrix = geometry::product(geometry::product(viewportMatrix, clipProjection), view);
}

Matrix4 AppView::NavigationRotation() const {
    return geometry::product(geometry::rotationMatrix(trackball.orientation), navRotation);
}

bool AppView::MoveTo(const Vector3& position, const Matrix4& rotation, bool checkBox) {
    if (checkBox && !InsideMovementBox(position)) {
        return false;
    }
    navPosition = position;
    RebuildFromViewMatrix(
        geometry::product(rotation, geometry::translation(-position.x, -position.y, -position.z)));
    if (!animate) {
        // The navigation view is back on screen: a stopped spin is over, and a later spin frame
        // starts from this view instead of jumping to the old angle.
        spinAngle = 0.0f;
    }
    return true;
}

bool AppView::MoveBy(const Vector3& motion, bool checkBox) {
    const Matrix4 rotation = NavigationRotation();
    const Vector3 step = turnDirection(geometry::transpose(rotation), motion);
    return MoveTo(navPosition + step, rotation, checkBox);
}

bool AppView::MoveCamera() {
    return MoveBy(keyMotion, true);
}

bool AppView::TurnCamera() {
    Trackball turned = trackball;
    if (relativeMouse) {
        turned.drag(lastMouseX, lastMouseY, currentMouseX, currentMouseY, turnGain);
    } else {
        turned.drag(0, 0, static_cast<std::int32_t>(100.0f * panRateX),
                    static_cast<std::int32_t>(100.0f * panRateY), turnGain);
    }
    const Matrix4 before = NavigationRotation();
    const Matrix4 rotation =
        geometry::product(geometry::rotationMatrix(turned.orientation), navRotation);
    // The centre of the turn, on the viewing axis in the camera's own axes: the eye itself for
    // a pan; the pivot 0.7 in front of the eye (key T) in every drag; for an orbit the point
    // moveScale in front of (or behind) it. The centre keeps its place in the world, so the eye
    // moves on a sphere about it.
    float along = 0.0f;
    if (orbitAboutPivot != 0) {
        along = -kPivotDistance;
    } else if (mouseMode == MouseOrbit) {
        along = orbitBehind != 0 ? moveScale : -moveScale;
    }
    Vector3 position = navPosition;
    if (along != 0.0f) {
        const Vector3 centre{0.0f, 0.0f, along};
        position = position + turnDirection(geometry::transpose(before), centre) -
                   turnDirection(geometry::transpose(rotation), centre);
    }
    if (!MoveTo(position, rotation, true)) {
        return false;
    }
    trackball = turned;
    orientation = turned.orientation;
    return true;
}

}  // namespace strata::app
