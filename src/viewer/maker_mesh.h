// The viewer's mesh maker: reads a mesh file and makes a quantised LDI of it with the LDI maker,
// from the maker's default camera for the mesh, shaded as `strata make` shades it by default.
#pragma once

#include "app/mesh_open.h"

namespace strata::viewer {

class MakerMeshMaker : public app::MeshMaker {
  public:
    bool make(const std::string& mesh, const std::string& output, std::int32_t gridSide,
              const std::function<void(double)>& progress, std::string& error) override;
};

}  // namespace strata::viewer
