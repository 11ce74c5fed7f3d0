// The controls of other 3D viewers, beside the drags above: the middle-button turntable about
// the pivot and its pan, the wheel toward the pivot, the double-click pick of the pivot, and fit.
// Each ends by placing the camera upright in the world.
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/app_view.h"
#include "app/app_view_support.h"
#include "app/input_table.h"
#include "geometry/frame_tangents.h"

namespace strata::app {

namespace {

constexpr float kPi = 3.14159265f;
// The turntable tilts the view at most this far above or below the horizon.
constexpr float kTiltLimit = 85.0f * kPi / 180.0f;
// A wheel notch takes the eye this share of the way toward the pivot.
constexpr float kWheelShare = 0.15f;
constexpr int kWheelNotch = 120;
// Fit leaves this share of the frame free at its tightest side.
constexpr float kFitFill = 0.9f;

// v turned by angle about the unit axis (right-handed).
Vector3 turned(const Vector3& v, const Vector3& axis, float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return v * c + geometry::cross(axis, v) * s + axis * (geometry::dot(axis, v) * (1.0f - c));
}

}  // namespace

Vector3 AppView::NavigationDirection() const {
    return geometry::normalized(
        turnDirection(geometry::transpose(NavigationRotation()), {0.0f, 0.0f, -1.0f}));
}

Vector3 AppView::NavigationUp() const {
    return geometry::normalized(
        turnDirection(geometry::transpose(NavigationRotation()), {0.0f, 1.0f, 0.0f}));
}

bool AppView::PlaceUpright(const Vector3& position, const Vector3& direction) {
    if (!InsideMovementBox(position)) {
        return false;
    }
    // Looking straight along world up, the camera's own up (squared to the direction) stands in.
    const Vector3 dir = geometry::normalized(direction);
    const Vector3 side = geometry::cross(dir, worldUp);
    const Vector3 up = side.length() > 1e-4f ? worldUp : NavigationUp();
    PlaceCamera(position, dir, up);
    if (!animate) {
        spinAngle = 0.0f;
    }
    return true;
}

void AppView::OnMButtonDown(int x, int y, bool shift, bool control) {
    mouseMode = dragModeFor(MouseButton::middle, shift, control);
    lastMouseX = x;
    lastMouseY = clientHeight - y;
}

void AppView::OnMButtonUp(int /*x*/, int /*y*/) {
    mouseMode = MouseNone;
}

void AppView::TurntableBy(float dx, float dy) {
    // Half a turn across the frame's width; a drag to the right turns the scene to the right,
    // a drag upward tilts its near side up.
    const float perPixel = kPi / static_cast<float>(std::max(clientWidth, 1));
    const Vector3 up = geometry::normalized(worldUp);
    Vector3 dir = NavigationDirection();
    Vector3 offset = navPosition - pivot;
    const float yaw = -dx * perPixel;
    dir = turned(dir, up, yaw);
    offset = turned(offset, up, yaw);
    // The tilt about the horizontal axis across the view, kept short of the poles (a view
    // already beyond the limit may only come back).
    const float elevation = std::asin(std::clamp(geometry::dot(dir, up), -1.0f, 1.0f));
    const float target = std::clamp(elevation + dy * perPixel, std::min(-kTiltLimit, elevation),
                                    std::max(kTiltLimit, elevation));
    Vector3 across = geometry::cross(dir, up);
    if (across.length() < 1e-4f) {
        across = geometry::cross(NavigationUp(), up);
    }
    if (across.length() > 1e-6f) {
        across = geometry::normalized(across);
        dir = turned(dir, across, target - elevation);
        offset = turned(offset, across, target - elevation);
    }
    PlaceUpright(pivot + offset, dir);
}

void AppView::SlideBy(float dx, float dy) {
    // The point at the pivot's depth follows the cursor.
    const Vector3 dir = NavigationDirection();
    const Vector3 up = NavigationUp();
    const Vector3 side = geometry::cross(dir, up);
    float depth = geometry::dot(pivot - navPosition, dir);
    if (!(depth > 0.0f)) {
        depth = (pivot - navPosition).length();
    }
    const geometry::FrameTangents t =
        geometry::frameTangents(viewCamera.fov, clientWidth, clientHeight);
    const float pixel = 2.0f * depth * t.y / static_cast<float>(std::max(clientHeight, 1));
    const Vector3 step = (side * dx + up * dy) * -pixel;
    if (MoveTo(navPosition + step, NavigationRotation(), true)) {
        pivot = pivot + step;
    }
}

void AppView::OnMouseWheel(int /*x*/, int /*y*/, int delta) {
    const Vector3 offset = navPosition - pivot;
    const float distance = offset.length();
    if (delta == 0 || !(distance > 0.0f)) {
        return;
    }
    // Each notch forward keeps 85 % of the distance, each back undoes one forward: the eye
    // comes ever closer and never reaches the pivot, and far out it stops a thousand scene
    // diagonals away.
    const float notches = static_cast<float>(delta) / static_cast<float>(kWheelNotch);
    const float diagonal = std::max((boundsMax - boundsMin).length(), 1e-6f);
    const float wanted = distance * std::pow(1.0f - kWheelShare, notches);
    const float kept = std::clamp(wanted, std::min(distance, 1e-5f * diagonal),
                                  std::max(distance, 1000.0f * diagonal));
    if (!(kept > 0.0f) || kept == distance) {
        return;
    }
    if (MoveTo(pivot + offset * (kept / distance), NavigationRotation(), true)) {
        needsRedraw = true;
    }
}

bool AppView::OnLButtonDblClk(int x, int y) {
    mouseMode = MouseNone;
    Vector3 point;
    if (!PickSurface(x, y, point)) {
        return false;
    }
    pivot = point;
    return true;
}

bool AppView::PickSurface(int x, int y, Vector3& point) const {
    const ldi::LdiBase* object = drawLdi != nullptr ? drawLdi : ldi;
    if (ldiLoaded == 0 || displayMode == ModeVoxel || object == nullptr) {
        return false;
    }
    // The pixel's centre in frame coordinates (row 0 at the bottom, centres on whole numbers).
    const float cx = static_cast<float>(x);
    const float cy = static_cast<float>(clientHeight - 1 - y);
    const Vector3 eye = viewCamera.pos;
    const Vector3 dir = geometry::normalized(viewCamera.dir);
    const Matrix4 worldFromLdi = geometry::inverse(object->header.view.fullTransform());
    const auto project = [&](const Vector3& q, float& sx, float& sy) {
        const Vector4 p = geometry::transform(warpMatrix, {q.x, q.y, q.z, 1.0f});
        if (!(p.w > 0.0f)) {
            return false;
        }
        sx = p.x / p.w;
        sy = p.y / p.w;
        return std::isfinite(sx) && std::isfinite(sy);
    };
    float best = std::numeric_limits<float>::infinity();
    forEachDepthRangePoint(*object, [&](const Vector3& q, bool, const DepthPixel& at) {
        const float depth = geometry::dot(q - eye, dir);
        float sx = 0.0f;
        float sy = 0.0f;
        if (!(depth > 0.0f) || depth >= best || !project(q, sx, sy)) {
            return;
        }
        // The sample covers about the image of its LDI pixel: half the distance to its
        // neighbour's image, and never less than the pixel's own half.
        float reach = 0.5f;
        Vector3 next;
        float nx = 0.0f;
        float ny = 0.0f;
        if (worldPoint(worldFromLdi, static_cast<float>(at.col + 1), static_cast<float>(at.row),
                       at.z, next) &&
            project(next, nx, ny)) {
            reach = std::max(reach, 0.5f * std::hypot(nx - sx, ny - sy));
        }
        if (std::fabs(sx - cx) <= reach && std::fabs(sy - cy) <= reach) {
            best = depth;
            point = q;
        }
    });
    return std::isfinite(best);
}

void AppView::FitView() {
    // The axes the camera will have once placed upright.
    const Vector3 dir = NavigationDirection();
    Vector3 side = geometry::cross(dir, worldUp);
    if (side.length() <= 1e-4f) {
        side = geometry::cross(dir, NavigationUp());
    }
    side = geometry::normalized(side);
    const Vector3 up = geometry::cross(side, dir);
    const Vector3 centre = (boundsMin + boundsMax) * 0.5f;
    const geometry::FrameTangents t =
        geometry::frameTangents(viewCamera.fov, clientWidth, clientHeight);
    // The eye at centre - dir * D sees corner k at depth D + e, across a and up b: it lies
    // inside when |a| and |b| stay within the fill of the half-angle tangents at that depth.
    float distance = 0.0f;
    for (int corner = 0; corner < 8; ++corner) {
        const Vector3 k{(corner & 1) != 0 ? boundsMax.x : boundsMin.x,
                        (corner & 2) != 0 ? boundsMax.y : boundsMin.y,
                        (corner & 4) != 0 ? boundsMax.z : boundsMin.z};
        const Vector3 r = k - centre;
        const float a = std::fabs(geometry::dot(r, side));
        const float b = std::fabs(geometry::dot(r, up));
        const float e = geometry::dot(r, dir);
        distance = std::max({distance, a / (kFitFill * t.x) - e, b / (kFitFill * t.y) - e,
                             viewCamera.near - e + 1e-3f});
    }
    const bool restrict = restrictMovement;
    restrictMovement = false;  // fit shows the scene even from outside the movement box
    PlaceUpright(centre - dir * distance, dir);
    restrictMovement = restrict;
    pivot = centre;
    needsRedraw = true;
}

}  // namespace strata::app
