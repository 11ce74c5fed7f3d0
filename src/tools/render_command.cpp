// strata render: draws an LDI into a picture from any camera, headless, with every render
// switch of the viewer, and optionally times repeated draws.
#include <CLI/CLI.hpp>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "geometry/matrix.h"
#include "imageutil/image_compare.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "platform/clock.h"
#include "render/output_view.h"
#include "tools/camera_options.h"
#include "tools/commands.h"
#include "tools/viewer_file.h"

namespace strata::tools {
namespace {

struct RenderArgs {
    std::string input;
    std::string output;
    std::string size = "350x350";
    CameraOptions camera;
    std::string offset;
    float yawDegrees = 0.0f;
    float pitchDegrees = 0.0f;
    bool printCamera = false;
    std::string compare;
    bool noSplat = false;
    bool depthCorrection = false;
    bool noDepthCorrection = false;
    bool backface = false;
    bool scanline = false;
    bool noFrustumClipper = false;
    int falseColor = -1;
    bool sizeAccurate = false;
    std::string round = "trunc";
    bool lowerHalf = false;
    bool upperHalf = false;
    int frames = 0;
    bool stats = false;
};

bool parseSize(const std::string& text, std::int32_t& width, std::int32_t& height) {
    int w = 0;
    int h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 16 || h < 16 || w > 16384 ||
        h > 16384) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

constexpr float kRadiansPerDegree = 0.017453292f;

// v turned by angle (radians) about the unit axis a (right-handed).
geometry::Vector3 rotated(const geometry::Vector3& v, const geometry::Vector3& a, float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return v * c + geometry::cross(a, v) * s + a * (geometry::dot(a, v) * (1.0f - c));
}

// The output camera: the file's reference camera with the viewer's field of view (pi/4), the
// camera flags over it, then --offset in its own axes (x right, y up, z forward) and --yaw,
// --pitch about the point half the scene depth in front of it.
bool resolveCamera(const RenderArgs& args, const ViewerFile& file, maker::PinholeCamera& camera,
                   std::string& error) {
    const geometry::ViewCamera& ref = file.reference;
    camera.pos = ref.pos;
    camera.dir = ref.dir;
    camera.up = ref.up;
    camera.fov = render::kDefaultFov;
    camera.near = 0.0f;
    camera.far = 0.0f;
    if (!maker::normalizeCamera(camera, error)) {
        error = "the file's reference camera is degenerate: " + error;
        return false;
    }
    if (!applyCameraOptions(args.camera, camera, error)) {
        return false;
    }
    const geometry::Vector3 side = camera.side();
    if (!args.offset.empty()) {
        geometry::Vector3 o;
        if (!parseVector3(args.offset, o)) {
            error = "--offset wants dx,dy,dz, got \"" + args.offset + "\"";
            return false;
        }
        camera.pos = camera.pos + side * o.x + camera.up * o.y + camera.dir * o.z;
    }
    if (args.yawDegrees != 0.0f || args.pitchDegrees != 0.0f) {
        if (!std::isfinite(args.yawDegrees) || !std::isfinite(args.pitchDegrees)) {
            error = "--yaw and --pitch want finite degrees";
            return false;
        }
        // Scene depth: the extent of the bounding box along the viewing direction.
        const geometry::Vector3 extent = file.boundsMax - file.boundsMin;
        float depth = std::fabs(camera.dir.x) * extent.x + std::fabs(camera.dir.y) * extent.y +
                      std::fabs(camera.dir.z) * extent.z;
        if (!(depth > 0.0f) || !std::isfinite(depth) || extent.x < 0.0f || extent.y < 0.0f ||
            extent.z < 0.0f) {
            depth = 2.0f;  // no usable box
        }
        const geometry::Vector3 pivot = camera.pos + camera.dir * (0.5f * depth);
        // Yaw about the camera's up axis, then pitch about its (turned) side axis.
        const float yaw = args.yawDegrees * kRadiansPerDegree;
        geometry::Vector3 arm = rotated(camera.pos - pivot, camera.up, yaw);
        camera.dir = rotated(camera.dir, camera.up, yaw);
        const geometry::Vector3 pitchAxis = camera.side();
        const float pitch = args.pitchDegrees * kRadiansPerDegree;
        arm = rotated(arm, pitchAxis, pitch);
        camera.dir = rotated(camera.dir, pitchAxis, pitch);
        camera.up = rotated(camera.up, pitchAxis, pitch);
        camera.pos = pivot + arm;
        if (!maker::normalizeCamera(camera, error)) {
            return false;
        }
    }
    return true;
}

int runRender(const RenderArgs& args) {
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!parseSize(args.size, width, height)) {
        std::fprintf(stderr, "strata render: --size wants WxH with sides 16..16384, got \"%s\"\n",
                     args.size.c_str());
        return 2;
    }
    if (args.round != "trunc" && args.round != "nearest") {
        std::fprintf(stderr, "strata render: --round wants trunc or nearest, got \"%s\"\n",
                     args.round.c_str());
        return 2;
    }
    if (args.falseColor != -1 && (args.falseColor < 0 || args.falseColor > 7)) {
        std::fprintf(stderr, "strata render: --false-color wants 0..7, got %d\n", args.falseColor);
        return 2;
    }
    std::string error;
    ViewerFile file;
    if (!openViewerFile(args.input, file, error, true)) {
        std::fprintf(stderr, "strata render: %s\n", error.c_str());
        return 1;
    }

    maker::PinholeCamera camera;
    if (!resolveCamera(args, file, camera, error)) {
        std::fprintf(stderr, "strata render: %s\n", error.c_str());
        return 2;
    }
    if (args.printCamera) {
        // The same camera for `strata trace` and `strata make`.
        std::printf("--pos %.9g,%.9g,%.9g --dir %.9g,%.9g,%.9g --up %.9g,%.9g,%.9g --fov %.9g\n",
                    camera.pos.x, camera.pos.y, camera.pos.z, camera.dir.x, camera.dir.y,
                    camera.dir.z, camera.up.x, camera.up.y, camera.up.z,
                    camera.fov / kRadiansPerDegree);
    }
    const render::OutputView view =
        render::makeOutputView(camera.pos, camera.dir, camera.up, camera.fov, width, height);

    ldi::FrameSettings settings;
    settings.useSplat = !args.noSplat;
    settings.useDepthCorrection = !args.noDepthCorrection;
    settings.backfaceCulling = args.backface;
    settings.scanlineCulling = args.scanline;
    settings.frustumClipper = !args.noFrustumClipper;
    settings.sizeAccurate = args.sizeAccurate ? 1 : 0;
    if (args.falseColor > 0) {
        settings.useFalseColor = true;
        settings.falseColorMode = args.falseColor;
        // The size menu items set the size path together with the mode.
        if (args.falseColor == 5) {
            settings.sizeAccurate = 0;
        } else if (args.falseColor == 6) {
            settings.sizeAccurate = 1;
        }
    }
    settings.useTrunc = args.round == "trunc";
    settings.lowerHalfOnly = args.lowerHalf;
    settings.upperHalfOnly = args.upperHalf;

    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(width, height);
    if (frame.pixels == nullptr) {
        std::fprintf(stderr, "strata render: cannot make a %dx%d frame\n", width, height);
        return 1;
    }
    ViewerDraw drawn = drawViewerFile(file, settings, view, frame);
    ldi::LdiDrawStats stats = drawn.stats;
    if (drawn.member >= 0) {
        std::printf("member=%d level=%d\n", drawn.member, drawn.level);
    } else if (drawn.level >= 0) {
        std::printf("level=%d\n", drawn.level);
    }
    if (args.frames > 0) {
        std::int64_t visited = 0;
        std::int64_t drawNs = 0;
        for (int i = 0; i < args.frames; ++i) {
            const std::int64_t start = platform::steadyNanoseconds();
            stats = drawViewerFile(file, settings, view, frame).stats;
            drawNs += platform::steadyNanoseconds() - start;
            visited += stats.visited;
        }
        const double seconds = static_cast<double>(drawNs) * 1e-9;
        std::printf("frames=%d ms_per_frame=%.3f samples_per_s=%.0f\n", args.frames,
                    seconds * 1e3 / args.frames,
                    seconds > 0.0 ? static_cast<double>(visited) / seconds : 0.0);
    }
    if (args.stats) {
        std::printf("visited=%" PRId32 " inside=%" PRId32 " written=%" PRId32 "\n", stats.visited,
                    stats.inside, stats.written);
    }
    if (!imageutil::writeImageFile(args.output, frame, &error)) {
        std::fprintf(stderr, "strata render: %s\n", error.c_str());
        return 1;
    }
    if (!args.compare.empty()) {
        imageutil::RgbImage reference;
        if (!imageutil::readPng(args.compare, reference, &error)) {
            std::fprintf(stderr, "strata render: %s\n", error.c_str());
            return 1;
        }
        if (reference.width != frame.width || reference.height != frame.height) {
            std::fprintf(stderr, "strata render: %s is %dx%d, the frame %dx%d\n",
                         args.compare.c_str(), reference.width, reference.height, frame.width,
                         frame.height);
            return 1;
        }
        std::printf("psnr=%.2f differing=%d\n", imageutil::psnr(frame, reference),
                    imageutil::countDifferentPixels(frame, reference, 0));
    }
    return 0;
}

}  // namespace

void addRenderCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<RenderArgs>();
    auto* command = app.add_subcommand(
        "render",
        "Draw an LDI, pyramid, set or voxel file into a PNG or BMP picture from its reference "
        "camera or any other (pyramid levels and set members chosen as the viewer chooses them)");
    command
        ->add_option("file", args->input,
                     "LDI file (any loadable kind, or a .ldiquad list), .ldipyr, .ldiset or .vox")
        ->required();
    command->add_option("-o,--output", args->output, "picture to write (.png, or .bmp)")
        ->required();
    command->add_option("--size", args->size, "frame size WxH (default 350x350)");
    addCameraOptions(*command, args->camera);
    command->add_option("--offset", args->offset,
                        "move the camera by dx,dy,dz in its own axes (x right, y up, z forward)");
    command->add_option("--yaw", args->yawDegrees,
                        "turn the camera by DEGREES about its up axis through the point half the "
                        "scene depth in front of it (positive: counter-clockwise seen from above)");
    command->add_option("--pitch", args->pitchDegrees,
                        "then by DEGREES about its side axis through the same point");
    command->add_flag("--print-camera", args->printCamera,
                      "print the camera used as --pos/--dir/--up/--fov flags");
    command->add_flag("--no-splat", args->noSplat, "write every sample as one pixel");
    command->add_flag("--depth-correction", args->depthCorrection,
                      "divide splat sizes by the ray-length factor (the default)");
    command->add_flag("--no-depth-correction", args->noDepthCorrection,
                      "no depth correction of splat sizes");
    command->add_flag("--backface", args->backface, "skip samples facing away from the camera");
    command->add_flag("--scanline", args->scanline, "skip LDI rows that land off the frame");
    command->add_flag("--no-frustum-clipper", args->noFrustumClipper,
                      "traverse the whole LDI instead of its visible rectangle");
    command->add_option("--false-color", args->falseColor,
                        "false-colour mode 1..7 (1, 2 depth, 3 backface, 4 normal, 5, 6 size, 7 "
                        "anisotropy; 0 true colour)");
    command->add_flag("--size-accurate", args->sizeAccurate,
                      "splat size from the normal and distance instead of the size table");
    command->add_option("--round", args->round,
                        "pixel position conversion: trunc (default) or nearest (even)");
    command->add_flag("--lower-half", args->lowerHalf, "draw only pixels with column + row < W");
    command->add_flag("--upper-half", args->upperHalf, "draw only pixels with column + row >= W");
    command->add_option("--frames", args->frames, "repeat the draw N times and print the timing");
    command->add_flag("--stats", args->stats, "print the counters of the draw");
    command->add_option("--compare", args->compare,
                        "PNG of the same size to compare with: prints psnr= and differing=");
    command->callback([args, &status] { status = runRender(*args); });
}

}  // namespace strata::tools
