#include "viewer/maker_mesh.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "maker/ldi_maker.h"
#include "maker/mesh_import.h"
#include "maker/pinhole_camera.h"

namespace strata::viewer {

bool MakerMeshMaker::make(const std::string& mesh, const std::string& output, std::int32_t gridSide,
                          const std::function<void(double)>& progress, std::string& error) {
    maker::Scene scene;
    std::vector<std::string> warnings;
    if (!maker::loadMeshScene(mesh, scene, error, std::size_t{1} << 26, &warnings)) {
        return false;
    }
    maker::MakeRequest request;
    request.kind = maker::MakerKind::rtQp;
    request.size = gridSide;
    request.camera = maker::defaultCamera(scene.bounds(), 0.7853982f);
    request.shading.mode =
        scene.litByDefault ? maker::ShadingMode::lambert : maker::ShadingMode::unlit;
    request.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (progress) {
        request.progress = [&progress](const std::string&, double f) { progress(f); };
    }
    std::unique_ptr<maker::RayCaster> caster = maker::RayCaster::create(scene, error);
    if (!caster) {
        error = mesh + ": " + error;
        return false;
    }
    std::vector<maker::MadeFile> made;
    return maker::makeLdi(*caster, request, output, made, error);
}

}  // namespace strata::viewer
