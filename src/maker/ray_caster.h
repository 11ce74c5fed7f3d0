// Ray casting against a Scene with Embree 3: the nearest hit of a ray, and every surface a ray
// crosses (found by casting again just past each hit), nearest first. Safe to call from several
// threads at once; results do not depend on which thread asks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "maker/scene.h"

namespace strata::maker {

struct SurfaceHit {
    float t = 0.0f;  // ray parameter: position = origin + t * direction
    int mesh = -1;
    std::uint32_t triangle = 0;
    float u = 0.0f;  // barycentric weights of vertices 1 and 2
    float v = 0.0f;
    geometry::Vector3 position;
};

class RayCaster {
  public:
    // Builds the acceleration structure. Returns no caster (error set) when the scene is invalid
    // or Embree fails. The scene must outlive the caster.
    static std::unique_ptr<RayCaster> create(const Scene& scene, std::string& error);
    ~RayCaster();
    RayCaster(const RayCaster&) = delete;
    RayCaster& operator=(const RayCaster&) = delete;

    const Scene& scene() const { return scene_; }

    // The nearest hit with tNear <= t <= tFar; false when the ray meets nothing there.
    bool nearest(const geometry::Vector3& origin, const geometry::Vector3& direction, float tNear,
                 float tFar, SurfaceHit& hit) const;

    // Up to maxHits surfaces along the ray within [tNear, tFar], nearest first, appended to out.
    // Hits closer than `tolerance` (in t) to the previous kept hit are merged into it. Returns
    // the number of raw hits found (merged ones included), for statistics.
    int allHits(const geometry::Vector3& origin, const geometry::Vector3& direction, float tNear,
                float tFar, float tolerance, int maxHits, std::vector<SurfaceHit>& out) const;

  private:
    RayCaster(const Scene& scene, void* device, void* rtcScene, std::vector<int> meshOfGeometry);

    const Scene& scene_;
    void* device_;    // RTCDevice
    void* rtcScene_;  // RTCScene
    std::vector<int> meshOfGeometry_;
};

}  // namespace strata::maker
