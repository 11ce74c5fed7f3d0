// `strata make` from depth data instead of a scene: one photograph with its depth map (--rgbd
// COLOUR DEPTH), several fused into the layers of one camera (--views VIEWS.json), or a PLY
// point cloud named as the scene. Builds the source of layers and the LDI's camera; the maker
// then writes any kind from it as it does for scenes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "maker/layer_source.h"
#include "maker/pinhole_camera.h"
#include "tools/camera_options.h"

namespace CLI {
class App;
}

namespace strata::tools {

// Largest grid side chosen from a picture's size when --size is not given.
inline constexpr std::int32_t kMaxDefaultDepthGrid = 1024;

// The flags as given ("" or empty when not given).
struct DepthMakeFlags {
    std::vector<std::string> rgbd;  // colour picture, depth map
    std::string views;
    std::string cameraFile;
    std::string intrinsics;
    std::string depthScale;
    std::string edgeRatio;
    std::string depthTolerance;
};

// Adds --rgbd, --views, --camera, --intrinsics, --depth-scale, --edge-ratio, --depth-tolerance.
void addDepthMakeOptions(CLI::App& command, DepthMakeFlags& flags);

// True when the command reads depth data: --rgbd or --views given, or the scene names a PLY file
// of vertices without faces.
bool readsDepthData(const DepthMakeFlags& flags, const std::string& scene);

// The camera of a --camera file: the record's view with its near and far dropped (the LDI fits
// its own unless --near or --far say otherwise), the camera flags over it.
bool cameraFromFile(const std::string& path, const CameraOptions& options,
                    maker::PinholeCamera& camera, std::string& error);

struct DepthSource {
    std::unique_ptr<maker::LayerSource> source;
    maker::PinholeCamera camera;  // normalised; near and far only when the flags give them
    std::int32_t gridSide = 0;    // the grid side when --size is not given
    std::string stem;             // output file names without --kind: <stem>.<extension>
};

// Checks the flags, reads the data and builds the source and the LDI's camera. False with one
// line naming the file or flag and the problem.
bool openDepthSource(const DepthMakeFlags& flags, const std::string& scene,
                     const CameraOptions& camera, const ShadingFlags& shading, int threads,
                     DepthSource& out, std::string& error);

// Refuses depth-only flags for a mesh scene. False with one line.
bool checkMeshFlags(const DepthMakeFlags& flags, const CameraOptions& camera, std::string& error);

}  // namespace strata::tools
