// The view reset: the starting camera, matrices and movement box for the loaded object.
#include "app/app_view.h"

#include <algorithm>
#include <cmath>

#include "app/app_view_support.h"
#include "geometry/frame_tangents.h"

namespace strata::app {

namespace {

// The box of the header when it holds one (finite, min below max on every axis).
bool headerBox(const ldi::LdiBase& object, Vector3& min, Vector3& max) {
    const Vector3& a = object.header.boundsMin;
    const Vector3& b = object.header.boundsMax;
    const bool finite = std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z) &&
                        std::isfinite(b.x) && std::isfinite(b.y) && std::isfinite(b.z);
    if (!finite || !(a.x < b.x) || !(a.y < b.y) || !(a.z < b.z)) {
        return false;
    }
    min = a;
    max = b;
    return true;
}

// The box of every depth pixel's nearest and farthest sample. False when the LDI holds no
// samples.
bool sampleBox(const ldi::LdiBase& object, Vector3& min, Vector3& max) {
    bool any = false;
    forEachDepthRangePoint(object, [&](const Vector3& q, bool, const DepthPixel&) {
        if (!any) {
            min = q;
            max = q;
            any = true;
            return;
        }
        min = {std::min(min.x, q.x), std::min(min.y, q.y), std::min(min.z, q.z)};
        max = {std::max(max.x, q.x), std::max(max.y, q.y), std::max(max.z, q.z)};
    });
    return any && min.x < max.x && min.y < max.y && min.z < max.z;
}

// How far in front of the reference camera the LDI's nearest sample lies; 0 with none.
float nearestSampleDepth(const ldi::LdiBase& object) {
    const geometry::ViewCamera& ref = object.header.view;
    const Vector3 dir = geometry::normalized(ref.dir);
    float nearest = 0.0f;
    forEachDepthRangePoint(object, [&](const Vector3& q, bool isNearest, const DepthPixel&) {
        const float depth = geometry::dot(q - ref.pos, dir);
        if (isNearest && depth > 0.0f && (nearest == 0.0f || depth < nearest)) {
            nearest = depth;
        }
    });
    return nearest;
}

// The distance from p to the box (0 inside it).
float distanceToBox(const Vector3& p, const Vector3& min, const Vector3& max) {
    const Vector3 inside{std::clamp(p.x, min.x, max.x), std::clamp(p.y, min.y, max.y),
                         std::clamp(p.z, min.z, max.z)};
    return (p - inside).length();
}

// The coordinate axis (+-x, +-y, +-z) nearest to v: the world's up for a reference camera that
// is level or tilted by less than 45 degrees.
Vector3 nearestAxis(const Vector3& v) {
    const float ax = std::fabs(v.x);
    const float ay = std::fabs(v.y);
    const float az = std::fabs(v.z);
    if (!(ax > 0.0f || ay > 0.0f || az > 0.0f)) {
        return {0.0f, 1.0f, 0.0f};
    }
    if (ax > ay && ax > az) {
        return {v.x > 0.0f ? 1.0f : -1.0f, 0.0f, 0.0f};
    }
    if (az > ay) {
        return {0.0f, 0.0f, v.z > 0.0f ? 1.0f : -1.0f};
    }
    return {0.0f, v.y > 0.0f ? 1.0f : -1.0f, 0.0f};
}

}  // namespace

// ---- View reset -----------------------------------------------------------------------------

void AppView::SetProjection(float fov, std::int32_t width, std::int32_t height) {
    viewCamera.fov = fov;
    const geometry::FrameTangents t = geometry::frameTangents(fov, width, height);
    warpProjection = geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, -1.0f);
    clipProjection =
        geometry::frustum(0.1f * -t.x, 0.1f * t.x, 0.1f * -t.y, 0.1f * t.y, 0.1f, 10000.0f);
    viewportMatrix = geometry::viewport(0, width, 0, height);
    viewCamera.viewport = viewportMatrix;
    viewCamera.projection = warpProjection;
}

ldi::LdiBase* AppView::ResetLevel() const {
    if (displayMode == ModeLdiPyramid && pyramid) {
        ldi::LdiBase* level = pyramid->CurrentLdi();
        return level != nullptr ? level : pyramid->FirstLoadedLdi();
    }
    if (displayMode == ModeLdiSet && ldiSet) {
        return firstSetLevel(*ldiSet);
    }
    return nullptr;
}

void AppView::ResetView(std::int32_t width, std::int32_t height) {
    // RESET starts over: beyond the toggles, the frozen selection, the orbit selector and the
    // animation, nothing of earlier choices stays: no spin angle, no bench rows.
    spinAngle = 0.0f;
    benchFlag = false;
    if (ldi != nullptr) {
        ldi->options.benchFlag = 0;
    }
    keyMotion = Vector3{};
    navPosition = Vector3{};
    navExtra0 = Vector3{};
    navExtra1 = Vector3{};
    navCounter0 = 0;
    navCounter1 = 0;
    // RESET starts over: the accumulated trackball angles go too.
    trackball = Trackball{};
    trackball.setSize(width, height, 0.8f);
    trackball.setGain(0.5f);
    orientation = trackball.orientation;

    viewCamera.near = 0.1f;
    viewCamera.far = 10000.0f;
    SetProjection(0.7853982f, width, height);
    warpMatrix = geometry::product(viewportMatrix, warpProjection);
    clipMatrix = geometry::product(viewportMatrix, clipProjection);

    const bool single =
        displayMode == ModeLdiQp || displayMode == ModeLdiCp || displayMode == ModeLdiMrqp;
    const bool layered = displayMode == ModeLdiPyramid || displayMode == ModeLdiSet;
    const ldi::LdiBase* source = nullptr;
    if (single) {
        source = ldi;
    } else if (layered) {
        ldi::LdiBase* level = ResetLevel();
        if (level != nullptr) {
            ldi = level;
            source = level;
        }
    }
    // World up: from level 0 of a pyramid, the first member of a set, the single LDI; the
    // voxel frame's +y.
    const ldi::LdiBase* upSource = source;
    if (displayMode == ModeLdiPyramid && pyramid && !pyramid->levels.empty() &&
        pyramid->levels.front()) {
        upSource = pyramid->levels.front().get();
    }
    worldUp =
        upSource != nullptr ? nearestAxis(upSource->header.view.up) : Vector3{0.0f, 1.0f, 0.0f};
    if (source != nullptr) {
        const geometry::ViewCamera& ref = source->header.view;
        refPosition = ref.pos;
        refDirection = ref.dir;
        refUp = ref.up;
        if (!headerBox(*source, boundsMin, boundsMax) &&
            !sampleBox(*source, boundsMin, boundsMax)) {
            // No box in the file and none from the samples: a cube of side 2 about the
            // reference camera.
            boundsMin = refPosition - Vector3{1.0f, 1.0f, 1.0f};
            boundsMax = refPosition + Vector3{1.0f, 1.0f, 1.0f};
        }
    } else {
        refPosition = {0.0f, 0.0f, 0.0f};
        refDirection = {0.0f, 0.0f, -1.0f};
        refUp = {0.0f, 1.0f, 0.0f};
        boundsMin = {-1.0f, -1.0f, -1.0f};
        boundsMax = {1.0f, 1.0f, 1.0f};
    }
    if (source != nullptr && layered) {
        // Pyramids and sets choose their level by the distance from (0, 0, lookAtDepth).
        lookAtDepth = boundsMax.z - boundsMin.z;
    }
    // The camera starts at the reference camera: for pyramids and sets that of the level the
    // reset picks. (A start looking along +y with +z up would see the maker's y-up scenes
    // edge-on from below.)
    navPosition = refPosition;
    navRotation = geometry::lookAtRotation(refDirection, refUp);
    refSide = geometry::cross(refDirection, refUp);

    pivot = (boundsMin + boundsMax) * 0.5f;
    const float d = boundsMax.z - boundsMin.z;
    lookAtCentre = refPosition + refDirection * (0.5f * d);
    const float diagonal = (boundsMax - boundsMin).length();
    movementMin = boundsMin;
    movementMax = boundsMax;
    const Vector3& start = refPosition;
    const bool startInside = boundsMin.x < start.x && start.x < boundsMax.x &&
                             boundsMin.y < start.y && start.y < boundsMax.y &&
                             boundsMin.z < start.z && start.z < boundsMax.z;
    if (!startInside) {
        const Vector3 margin = Vector3{1.0f, 1.0f, 1.0f} * (0.1f * diagonal);
        movementMin = Vector3{std::min(boundsMin.x, start.x), std::min(boundsMin.y, start.y),
                              std::min(boundsMin.z, start.z)} -
                      margin;
        movementMax = Vector3{std::max(boundsMax.x, start.x), std::max(boundsMax.y, start.y),
                              std::max(boundsMax.z, start.z)} +
                      margin;
    }
    moveScale = 2.0f * diagonal;
    // The stereo eyes stand so far apart that the nearest surfaces seen from the start show
    // kStereoDisparity pixels of disparity in the default frame (350 pixels across 45 degrees):
    // separation = disparity x nearest depth / focal length in pixels. The nearest depth is that
    // of the nearest sample the start's LDI holds; for voxel files (and LDIs without samples)
    // the distance from the start to the scene's box, and never less than a tenth of the box's
    // diagonal.
    float nearest = source != nullptr ? nearestSampleDepth(*source) : 0.0f;
    if (!(nearest > 0.0f)) {
        nearest = std::max(distanceToBox(refPosition, boundsMin, boundsMax), 0.1f * diagonal);
    }
    const float focal = 0.5f * static_cast<float>(kDefaultFrameSide) / std::tan(0.5f * 0.7853982f);
    stereoSeparation = kStereoDisparity * nearest / focal;
    keyStep = 0.0033333334f * diagonal;

    // With keyMotion zero these only rebuild the camera and the warp matrix; the reset is taken
    // even where Restrict Movement would refuse the starting position.
    MoveBy(keyMotion, false);
    currentMouseX = lastMouseX;
    currentMouseY = lastMouseY;
    TurnCamera();
}

}  // namespace strata::app
