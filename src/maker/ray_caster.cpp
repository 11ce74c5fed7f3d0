// Multi-hit casting repeats Embree's closest-hit query from just past the previous hit, so every
// surface along the ray is found in depth order without filter callbacks; hits that fall within
// the merge tolerance of the previous one (shared edges, coincident faces) are counted once.
#include "maker/ray_caster.h"

#include <embree3/rtcore.h>

#include <cmath>
#include <limits>

#include "platform/debug_output.h"

namespace strata::maker {

using geometry::Vector3;

namespace {

RTCDevice asDevice(void* p) {
    return static_cast<RTCDevice>(p);
}
RTCScene asScene(void* p) {
    return static_cast<RTCScene>(p);
}

}  // namespace

RayCaster::RayCaster(const Scene& scene, void* device, void* rtcScene,
                     std::vector<int> meshOfGeometry)
    : scene_(scene),
      device_(device),
      rtcScene_(rtcScene),
      meshOfGeometry_(std::move(meshOfGeometry)) {}

RayCaster::~RayCaster() {
    rtcReleaseScene(asScene(rtcScene_));
    rtcReleaseDevice(asDevice(device_));
}

std::unique_ptr<RayCaster> RayCaster::create(const Scene& scene, std::string& error) {
    if (!scene.validate(error)) {
        return nullptr;
    }
    RTCDevice device = rtcNewDevice(nullptr);
    if (device == nullptr) {
        error = "the ray-casting device could not be created";
        return nullptr;
    }
    RTCScene rtcScene = rtcNewScene(device);
    rtcSetSceneBuildQuality(rtcScene, RTC_BUILD_QUALITY_HIGH);
    std::vector<int> meshOfGeometry;
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        const TriangleMesh& mesh = scene.meshes[m];
        if (mesh.triangleCount() == 0) {
            continue;
        }
        RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* vertices = static_cast<float*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                    3 * sizeof(float), mesh.positions.size()));
        auto* indices = static_cast<unsigned*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                    3 * sizeof(unsigned), mesh.triangleCount()));
        if (vertices == nullptr || indices == nullptr) {
            rtcReleaseGeometry(geometry);
            rtcReleaseScene(rtcScene);
            rtcReleaseDevice(device);
            error = "out of memory building the ray-casting scene";
            return nullptr;
        }
        for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
            vertices[3 * i] = mesh.positions[i].x;
            vertices[3 * i + 1] = mesh.positions[i].y;
            vertices[3 * i + 2] = mesh.positions[i].z;
        }
        for (std::size_t i = 0; i < mesh.indices.size(); ++i) {
            indices[i] = mesh.indices[i];
        }
        rtcCommitGeometry(geometry);
        const unsigned id = rtcAttachGeometry(rtcScene, geometry);
        rtcReleaseGeometry(geometry);
        if (id >= meshOfGeometry.size()) {
            meshOfGeometry.resize(id + 1, -1);
        }
        meshOfGeometry[id] = static_cast<int>(m);
    }
    rtcCommitScene(rtcScene);
    if (rtcGetDeviceError(device) != RTC_ERROR_NONE) {
        rtcReleaseScene(rtcScene);
        rtcReleaseDevice(device);
        error = "the ray-casting scene could not be built";
        return nullptr;
    }
    return std::unique_ptr<RayCaster>(
        new RayCaster(scene, device, rtcScene, std::move(meshOfGeometry)));
}

bool RayCaster::nearest(const Vector3& origin, const Vector3& direction, float tNear, float tFar,
                        SurfaceHit& hit) const {
    if (!(tNear <= tFar)) {
        return false;
    }
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRayHit rayHit{};
    rayHit.ray.org_x = origin.x;
    rayHit.ray.org_y = origin.y;
    rayHit.ray.org_z = origin.z;
    rayHit.ray.dir_x = direction.x;
    rayHit.ray.dir_y = direction.y;
    rayHit.ray.dir_z = direction.z;
    rayHit.ray.tnear = tNear;
    rayHit.ray.tfar = tFar;
    rayHit.ray.mask = 0xFFFFFFFFu;
    rayHit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rayHit.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(asScene(rtcScene_), &context, &rayHit);
    if (rayHit.hit.geomID == RTC_INVALID_GEOMETRY_ID ||
        rayHit.hit.geomID >= meshOfGeometry_.size()) {
        return false;
    }
    hit.t = rayHit.ray.tfar;
    hit.mesh = meshOfGeometry_[rayHit.hit.geomID];
    hit.triangle = rayHit.hit.primID;
    hit.u = rayHit.hit.u;
    hit.v = rayHit.hit.v;
    hit.position = origin + hit.t * direction;
    return true;
}

int RayCaster::allHits(const Vector3& origin, const Vector3& direction, float tNear, float tFar,
                       float tolerance, int maxHits, std::vector<SurfaceHit>& out) const {
    int raw = 0;
    int kept = 0;
    float from = tNear;
    SurfaceHit hit;
    float lastKept = -std::numeric_limits<float>::infinity();
    // Each pass moves `from` strictly forward, so the loop ends; the cap guards degenerate input.
    for (int pass = 0; kept < maxHits && pass < 4 * maxHits + 64; ++pass) {
        if (!nearest(origin, direction, from, tFar, hit)) {
            break;
        }
        ++raw;
        if (hit.t - lastKept > tolerance) {
            out.push_back(hit);
            lastKept = hit.t;
            ++kept;
        }
        // Step past this hit; the step grows with t so float rounding cannot stall it.
        const float next = std::max(hit.t + tolerance, std::nextafter(hit.t, tFar) + hit.t * 1e-6f);
        if (!(next > from)) {
            break;
        }
        from = next;
    }
    return raw;
}

}  // namespace strata::maker
