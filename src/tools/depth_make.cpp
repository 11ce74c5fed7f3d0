#include "tools/depth_make.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>

#include "imageutil/depth_image.h"
#include "maker/point_cloud.h"
#include "maker/rgbd_view.h"
#include "maker/views_file.h"
#include "platform/debug_output.h"
#include "render/camera_file.h"
#include "tools/camera_record.h"

namespace strata::tools {

namespace {

std::string stemOf(const std::string& path, const char* fallback) {
    const std::string stem = std::filesystem::path(path).stem().string();
    return stem.empty() ? std::string(fallback) : stem;
}

// "fx,fy,cx,cy": four finite numbers, fx and fy positive.
bool parseIntrinsics(const std::string& text, maker::PhotoCamera& camera) {
    float k[4];
    std::size_t from = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(',', from);
        if ((i < 3) != (comma != std::string::npos) ||
            !parseFloat(text.substr(from, i < 3 ? comma - from : std::string::npos), k[i])) {
            return false;
        }
        from = comma + 1;
    }
    if (!(k[0] > 0.0f && k[1] > 0.0f)) {
        return false;
    }
    camera.fx = k[0];
    camera.fy = k[1];
    camera.cx = k[2];
    camera.cy = k[3];
    camera.fov = 0.0f;
    return true;
}

// A flag's number: given and a finite number at least `least` (above it when `above`).
bool parseShare(const std::string& text, const char* flag, float least, bool above, float& value,
                std::string& error) {
    if (text.empty()) {
        return true;
    }
    float v = 0.0f;
    if (!parseFloat(text, v) || (above ? !(v > least) : !(v >= least))) {
        error = platform::formatString("%s wants a number %s %g, not \"%s\"", flag,
                                       above ? "above" : "of at least", static_cast<double>(least),
                                       text.c_str());
        return false;
    }
    value = v;
    return true;
}

// The photograph's camera for --rgbd: a --camera file, --intrinsics with --pos/--dir/--up, or
// the camera flags alone (from the origin down -z, 45 degrees). The LDI camera, with the flags'
// near and far, is returned in ldi.
bool photoCamera(const DepthMakeFlags& flags, const CameraOptions& options, std::int32_t width,
                 std::int32_t height, maker::PhotoCamera& photo, maker::PinholeCamera& ldi,
                 std::string& error) {
    maker::PinholeCamera pinhole;
    pinhole.pos = {0.0f, 0.0f, 0.0f};
    if (!flags.cameraFile.empty()) {
        if (!cameraFromFile(flags.cameraFile, options, pinhole, error)) {
            return false;
        }
    } else if (!applyCameraOptions(options, pinhole, error)) {
        return false;
    }
    if (flags.intrinsics.empty()) {
        photo = maker::photoCameraFromFov(pinhole, width, height);
    } else {
        photo = maker::PhotoCamera{pinhole.pos, pinhole.dir, pinhole.up};
        if (!parseIntrinsics(flags.intrinsics, photo)) {
            error = "--intrinsics wants fx,fy,cx,cy in pixels (fx and fy positive), not \"" +
                    flags.intrinsics + "\"";
            return false;
        }
        if (!maker::normalizePhotoCamera(photo, error)) {
            return false;
        }
    }
    ldi = maker::coveringCamera(photo, width, height);
    ldi.near = pinhole.near;
    ldi.far = pinhole.far;
    return maker::normalizeCamera(ldi, error);
}

bool checkFlags(const DepthMakeFlags& flags, const std::string& scene, const CameraOptions& options,
                std::string& error) {
    const int inputs =
        (scene.empty() ? 0 : 1) + (flags.rgbd.empty() ? 0 : 1) + (flags.views.empty() ? 0 : 1);
    if (inputs != 1) {
        error = "give one of: a scene, --rgbd COLOUR DEPTH, --views VIEWS.json";
        return false;
    }
    if (!flags.intrinsics.empty() && flags.rgbd.empty()) {
        error = "--intrinsics goes with --rgbd (a views file gives each view's camera)";
        return false;
    }
    if (!flags.intrinsics.empty() && (!flags.cameraFile.empty() || !options.fovDegrees.empty())) {
        error = std::string("--intrinsics and ") +
                (flags.cameraFile.empty() ? "--fov" : "--camera") + " both give the lens; use one";
        return false;
    }
    if (flags.rgbd.empty() && flags.views.empty() &&
        (!flags.depthScale.empty() || !flags.edgeRatio.empty())) {
        error = std::string(flags.depthScale.empty() ? "--edge-ratio" : "--depth-scale") +
                " goes with --rgbd or --views";
        return false;
    }
    return true;
}

}  // namespace

void addDepthMakeOptions(CLI::App& command, DepthMakeFlags& flags) {
    command
        .add_option("--rgbd", flags.rgbd,
                    "a colour picture (PNG, JPEG) and its depth map (16-bit PNG, PFM) instead "
                    "of a scene")
        ->expected(2);
    command.add_option("--views", flags.views,
                       "a views file (JSON: colour, depth and camera of each view) to fuse "
                       "instead of a scene");
    command.add_option("--camera", flags.cameraFile,
                       "camera file (JSON, as strata render --print-camera --json writes): the "
                       "LDI's camera; with --rgbd the photograph's. Camera flags override it");
    command.add_option("--intrinsics", flags.intrinsics,
                       "with --rgbd: the photograph's pinhole fx,fy,cx,cy in pixels (row 0 at "
                       "the top, pixel centres on whole numbers), placed by --pos/--dir/--up");
    command.add_option("--depth-scale", flags.depthScale,
                       "units of a 16-bit PNG depth map per scene unit (default 1000)");
    command.add_option("--edge-ratio", flags.edgeRatio,
                       "neighbouring depths more than this share apart are not joined into a "
                       "surface (default 0.05)");
    command.add_option("--depth-tolerance", flags.depthTolerance,
                       "samples of a pixel within this share of their depth are one surface "
                       "(default 0.05 for pictures; a point cloud's where footprints overlap)");
}

bool readsDepthData(const DepthMakeFlags& flags, const std::string& scene) {
    return !flags.rgbd.empty() || !flags.views.empty() ||
           (!scene.empty() && scene != "demo" && maker::isPointCloudFile(scene));
}

bool cameraFromFile(const std::string& path, const CameraOptions& options,
                    maker::PinholeCamera& camera, std::string& error) {
    render::CameraRecord record;
    if (!render::loadCameraFile(path, record, error) || !pinholeFromRecord(record, camera, error)) {
        return false;
    }
    camera.near = 0.0f;
    camera.far = 0.0f;
    return applyCameraOptions(options, camera, error);
}

bool checkMeshFlags(const DepthMakeFlags& flags, const CameraOptions& options, std::string& error) {
    if (!checkFlags(flags, "scene", options, error)) {
        return false;
    }
    if (!flags.depthTolerance.empty()) {
        error = "--depth-tolerance goes with depth data (--rgbd, --views, a point cloud)";
        return false;
    }
    return true;
}

bool openDepthSource(const DepthMakeFlags& flags, const std::string& scene,
                     const CameraOptions& camera, const ShadingFlags& shading, int threads,
                     DepthSource& out, std::string& error) {
    if (!checkFlags(flags, scene, camera, error)) {
        return false;
    }
    float depthScale = static_cast<float>(imageutil::kDefaultDepthScale);
    float edgeRatio = maker::kDefaultEdgeRatio;
    maker::FusionOptions fusion;
    if (!parseShare(flags.depthScale, "--depth-scale", 0.0f, true, depthScale, error) ||
        !parseShare(flags.edgeRatio, "--edge-ratio", 0.0f, false, edgeRatio, error) ||
        !parseShare(flags.depthTolerance, "--depth-tolerance", 0.0f, false, fusion.depthTolerance,
                    error)) {
        return false;
    }
    // Captured colours are shown as they are unless --shading asks otherwise; a cloud without
    // colours is lit so that its shape shows.
    maker::Scene shadingDefaults;
    maker::PointCloud cloud;
    const bool isCloud = flags.rgbd.empty() && flags.views.empty();
    if (isCloud && !maker::readPointCloud(scene, cloud, error, threads)) {
        return false;
    }
    shadingDefaults.litByDefault = isCloud && !cloud.colours;
    if (isCloud && flags.depthTolerance.empty()) {
        fusion.depthTolerance = 0.0f;  // a cloud's points are one surface where footprints meet
    }
    if (!applyShadingOptions(shading, shadingDefaults, fusion.shading, error)) {
        return false;
    }
    if (isCloud) {
        if (!flags.cameraFile.empty()) {
            if (!cameraFromFile(flags.cameraFile, camera, out.camera, error)) {
                return false;
            }
        } else {
            out.camera = maker::defaultCamera(cloud.bounds, requestedFov(camera));
            if (!aimCamera(camera, cloud.bounds.centre(), out.camera, error)) {
                return false;
            }
        }
        out.gridSide = 0;
        out.stem = stemOf(scene, "cloud");
        out.source = std::make_unique<maker::PointCloudSource>(std::move(cloud), fusion);
        return true;
    }
    std::vector<maker::RgbdView> views;
    if (!flags.rgbd.empty()) {
        maker::RgbdView view;
        if (!maker::loadRgbdView(flags.rgbd[0], flags.rgbd[1], depthScale, maker::PhotoCamera{},
                                 view, error) ||
            !photoCamera(flags, camera, view.width, view.height, view.camera, out.camera, error)) {
            return false;
        }
        views.push_back(std::move(view));
        out.stem = stemOf(flags.rgbd[0], "photo");
    } else {
        if (!maker::loadViewsFile(flags.views, depthScale, views, error)) {
            return false;
        }
        out.stem = stemOf(flags.views, "views");
    }
    const maker::RgbdView& first = views.front();
    out.gridSide = std::min(std::max(first.width, first.height), kMaxDefaultDepthGrid);
    auto source = std::make_unique<maker::RgbdViewSource>(std::move(views), edgeRatio, fusion);
    if (!flags.views.empty()) {
        // The reference camera: a --camera file, else the first view's; the flags over either.
        if (!flags.cameraFile.empty()) {
            if (!cameraFromFile(flags.cameraFile, camera, out.camera, error)) {
                return false;
            }
        } else {
            const maker::RgbdView& view = source->views().front();
            out.camera = maker::coveringCamera(view.camera, view.width, view.height);
            if (!aimCamera(camera, source->bounds().centre(), out.camera, error)) {
                return false;
            }
        }
    }
    out.source = std::move(source);
    return true;
}

}  // namespace strata::tools
