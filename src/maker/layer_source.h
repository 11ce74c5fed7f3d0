// What the maker turns into layered images: a scene ray-cast through Embree, or depth data
// (photographs with depth, several depth views, point clouds) carried into the grid. Every LDI
// kind, pyramid, set and voxel file is made from one of these by sampling it with the cameras
// and grids the kind needs.
#pragma once

#include <string>

#include "maker/layered_image.h"
#include "maker/ray_caster.h"

namespace strata::maker {

class LayerSource {
  public:
    virtual ~LayerSource() = default;

    // The box around everything the source holds (set, pyramid and voxel cameras frame it).
    virtual Bounds bounds() const = 0;

    // The layered image of a normalised camera on the grid of `options`, as sampleLayers makes
    // it: samples farthest first, near and far fitted when the camera does not give them. False
    // (error set) for options out of range.
    virtual bool sample(const PinholeCamera& camera, const SampleOptions& options,
                        LayeredImage& out, std::string& error) const = 0;
};

// A scene through its ray caster (which must outlive the source).
class RayCastSource final : public LayerSource {
  public:
    explicit RayCastSource(const RayCaster& caster) : caster_(caster) {}

    Bounds bounds() const override { return caster_.scene().bounds(); }
    bool sample(const PinholeCamera& camera, const SampleOptions& options, LayeredImage& out,
                std::string& error) const override {
        return sampleLayers(caster_, camera, options, out, error);
    }

  private:
    const RayCaster& caster_;
};

}  // namespace strata::maker
