// The maker's camera: a pinhole with a square field of view `fov` on both axes of an LDI (and
// across the smaller side of a traced picture), and how it turns into the reference camera
// records of an LDI header and into one ray per pixel centre.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/camera.h"
#include "geometry/image_plane_frame.h"
#include "geometry/view_camera.h"
#include "maker/scene.h"

namespace strata::maker {

struct PinholeCamera {
    geometry::Vector3 pos{0.0f, 0.0f, 5.0f};
    geometry::Vector3 dir{0.0f, 0.0f, -1.0f};  // unit
    geometry::Vector3 up{0.0f, 1.0f, 0.0f};    // unit, perpendicular to dir
    float fov = 0.7853982f;                    // full angle in radians, both axes
    float near = 0.0f;                         // 0: fitted to the depths found
    float far = 0.0f;                          // 0: fitted to the depths found

    geometry::Vector3 side() const;  // normalize(dir x up)
};

inline constexpr float kDefaultFovDegrees = 45.0f;
// Widest field of view accepted, in degrees (the narrowest is render::kMinFovDegrees).
inline constexpr float kMaxFovDegrees = 179.0f;
// Farthest a camera may be from a scene's centre, in scene radii: beyond it the whole scene is
// smaller than the float precision of the camera's own position.
inline constexpr float kMaxCameraDistanceRadii = 1e6f;

// Makes dir unit and up unit and perpendicular to it (up keeps its side of dir). False, with a
// message, when dir is zero or parallel to up, fov is not in [0.01, 179] degrees, a position
// coordinate lies beyond geometry::kMaxCameraCoordinate, or near/far are given but not
// 0 < near < far.
bool normalizeCamera(PinholeCamera& camera, std::string& error);

// "" when the camera lies within kMaxCameraDistanceRadii radii of a scene with this centre and
// radius (a radius of 0 or less counts as 1e-6 of the centre's distance from the origin, at the
// least 1e-6), else one line saying how far it is and what is allowed.
std::string cameraReachProblem(const PinholeCamera& camera, const geometry::Vector3& centre,
                               float radius);

// The default view of a scene: its bounding sphere framed from +z at the distance where the
// sphere just fits the field of view, looking at its centre. With elevation 0 the camera looks
// down -z with +y up; a positive elevation raises it on the +z side and tilts it down as much.
PinholeCamera defaultCamera(const Bounds& bounds, float fovRadians, float elevationRadians = 0.0f);

// The pixel-ray frame of a width x height grid: pixelRay(row, column) is the ray through the
// centre of that pixel, row 0 at the bottom (along +up), columns along +side; for any (x, y) in
// pixel units the ray is dir + ((2x/W - 1) t) side + ((2y/H - 1) t) up with t = tan(fov / 2).
geometry::ImagePlaneFrame rayFrame(const PinholeCamera& camera, std::int32_t width,
                                   std::int32_t height);
// The pixel-ray frame of a width x height picture seen as the viewer sees it: fov spans the
// smaller side and pixels are square (frameTangents); the same as rayFrame for a square grid.
geometry::ImagePlaneFrame pictureRayFrame(const PinholeCamera& camera, std::int32_t width,
                                          std::int32_t height);
// The ray through pixel coordinates (x, y) (pixel centres at c + 0.5).
geometry::Vector3 rayThrough(const geometry::ImagePlaneFrame& frame, float x, float y);

// The header's compact reference camera: projection = frustum(-n t, n t, -n t, n t, n, f),
// viewport mapping device -1..1 onto 0..W and 0..H (pixel edges on whole numbers). Needs
// near and far set.
geometry::ViewCamera referenceView(const PinholeCamera& camera, std::int32_t width,
                                   std::int32_t height);
// The viewport of referenceView: [0][0] = [0][3] = W/2, [1][1] = [1][3] = H/2, [2][2] = [3][3] = 1.
geometry::Matrix4 pixelEdgeViewport(std::int32_t width, std::int32_t height);
// The full camera record consistent with referenceView (Camera::setPerspective).
geometry::Camera referenceCamera(const PinholeCamera& camera, std::int32_t width,
                                 std::int32_t height);

// The depth range rays are cast over: [near, far] when given, else from just in front of the
// eye (a millionth of the scene radius) to infinity. Ray parameters equal eye depths because
// every pixel ray has a component of exactly 1 along dir.
void castRange(const PinholeCamera& camera, const Scene& scene, float& tNear, float& tFar);

}  // namespace strata::maker
