// strata render: draws an LDI into a picture from any camera, headless, with every render
// switch of the viewer, and optionally times repeated draws.
#include <CLI/CLI.hpp>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "geometry/matrix.h"
#include "imageutil/image_compare.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "platform/clock.h"
#include "platform/worker_pool.h"
#include "render/camera_file.h"
#include "render/camera_path.h"
#include "render/inspection.h"
#include "render/output_view.h"
#include "tools/camera_options.h"
#include "tools/camera_record.h"
#include "tools/commands.h"
#include "tools/sequence.h"
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
    std::string quality = "default";
    bool lowerHalf = false;
    bool upperHalf = false;
    int frames = 0;
    std::string threads;  // empty: every core
    bool stats = false;
    // Camera files, sequences and inspection.
    std::string cameraFile;
    bool json = false;
    bool sizeGiven = false;
    SequenceOptions sequence;
    std::int32_t layer = -1;
    std::string coverage;
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
    if (!args.cameraFile.empty()) {
        render::CameraRecord record;
        if (!render::loadCameraFile(args.cameraFile, record, error) ||
            !pinholeFromRecord(record, camera, error)) {
            return false;
        }
    } else {
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
    }
    if (args.camera.any() && !applyCameraOptions(args.camera, camera, error)) {
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

// The centre an orbit turns about: the centre of the file's bounding box, or without a usable box
// the point half the scene depth (or 1) in front of the camera.
geometry::Vector3 orbitCentre(const ViewerFile& file, const maker::PinholeCamera& camera) {
    const geometry::Vector3 lo = file.boundsMin;
    const geometry::Vector3 hi = file.boundsMax;
    const geometry::Vector3 centre = (lo + hi) * 0.5f;
    if (lo.x <= hi.x && lo.y <= hi.y && lo.z <= hi.z && std::isfinite(centre.x) &&
        std::isfinite(centre.y) && std::isfinite(centre.z) && (hi - lo).length() > 0.0f) {
        return centre;
    }
    return camera.pos + camera.dir;
}

// The pixels no sample reached (mask 0): white inside the picture (holes), grey around it; the
// reached pixels black.
imageutil::RgbImage coverageImage(const std::vector<std::uint8_t>& mask,
                                  const std::vector<std::uint8_t>& holes, std::int32_t width,
                                  std::int32_t height) {
    imageutil::RgbImage image = imageutil::RgbImage::createOwned(width, height);
    for (std::size_t i = 0; !image.empty() && i < mask.size(); ++i) {
        image.pixels[i] = mask[i] != 0 ? 0x000000u : holes[i] != 0 ? 0xFFFFFFu : 0x808080u;
    }
    return image;
}

int runRender(const RenderArgs& args) {
    int threads = 0;  // automatic
    if (!args.threads.empty() && !parseThreads(args.threads, threads)) {
        std::fprintf(stderr, "strata render: --threads wants a whole number 1..%d, got \"%s\"\n",
                     kMaxThreads, args.threads.c_str());
        return 2;
    }
    if (threads > 0) {
        platform::setDrawThreads(threads);
    } else {
        platform::setDrawThreadsAutomatic();
    }
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
    if (args.quality != "default" && args.quality != "high") {
        std::fprintf(stderr, "strata render: --quality wants high or default, got \"%s\"\n",
                     args.quality.c_str());
        return 2;
    }
    if (args.falseColor != -1 &&
        (args.falseColor < 0 || args.falseColor > render::kLastFalseColorMode)) {
        std::fprintf(stderr, "strata render: --false-color wants 0..%d, got %d\n",
                     render::kLastFalseColorMode, args.falseColor);
        return 2;
    }
    if (args.layer < -1 || args.layer > 65535) {
        std::fprintf(stderr, "strata render: --layer wants 0..65535 (0 the front), got %d\n",
                     args.layer);
        return 2;
    }
    SequenceTarget target;
    double orbitDegrees = 0.0;
    std::string error;
    if (args.sequence.requested()) {
        SequenceOptions options = args.sequence;
        options.frames = args.frames;
        if (!checkSequence(options, args.output, target, orbitDegrees, error)) {
            std::fprintf(stderr, "strata render: %s\n", error.c_str());
            return 2;
        }
        if (!args.coverage.empty() || !args.compare.empty() || args.printCamera) {
            std::fprintf(stderr,
                         "strata render: --coverage, --compare and --print-camera draw one "
                         "frame, not a sequence\n");
            return 2;
        }
        if (!args.sequence.path.empty() &&
            (!args.cameraFile.empty() || args.camera.any() || !args.offset.empty() ||
             args.yawDegrees != 0.0f || args.pitchDegrees != 0.0f)) {
            std::fprintf(stderr,
                         "strata render: --path brings its own cameras; leave out the other "
                         "camera flags\n");
            return 2;
        }
    }
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
    float near = camera.near > 0.0f ? camera.near : render::kDefaultNear;
    float far = camera.far > 0.0f ? camera.far : render::kDefaultFar;
    if (!args.cameraFile.empty() && !args.sizeGiven) {
        render::CameraRecord record;
        render::loadCameraFile(args.cameraFile, record, error);
        width = record.width;
        height = record.height;
    }
    if (args.printCamera && args.json) {
        std::fputs(
            render::cameraToJson(recordFromPinhole(camera, width, height, near, far)).c_str(),
            stdout);
    } else if (args.printCamera) {
        // The same camera for `strata trace` and `strata make`.
        std::printf("--pos %.9g,%.9g,%.9g --dir %.9g,%.9g,%.9g --up %.9g,%.9g,%.9g --fov %.9g\n",
                    camera.pos.x, camera.pos.y, camera.pos.z, camera.dir.x, camera.dir.y,
                    camera.dir.z, camera.up.x, camera.up.y, camera.up.z,
                    camera.fov / kRadiansPerDegree);
    }
    render::OutputView view =
        render::makeOutputView(camera.pos, camera.dir, camera.up, camera.fov, width, height);
    view.camera.near = near;
    view.camera.far = far;

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
    settings.highQualitySplats = args.quality == "high";
    settings.lowerHalfOnly = args.lowerHalf;
    settings.upperHalfOnly = args.upperHalf;
    settings.onlyLayer = args.layer;

    if (args.sequence.requested()) {
        std::vector<render::CameraRecord> cameras;
        if (!args.sequence.path.empty()) {
            std::vector<render::CameraRecord> keys;
            if (!render::loadCameraListFile(args.sequence.path, keys, error)) {
                std::fprintf(stderr, "strata render: %s\n", error.c_str());
                return 1;
            }
            cameras = render::pathSequence(keys, args.frames);
        } else {
            cameras = render::orbitSequence(recordFromPinhole(camera, width, height, near, far),
                                            orbitCentre(file, camera), orbitDegrees, args.frames);
        }
        return runSequence(
            "strata render", cameras, target, args.sequence.fps,
            [&](const render::CameraRecord& record, imageutil::RgbImage& out, std::string& why) {
                maker::PinholeCamera c;
                if (!pinholeFromRecord(record, c, why)) {
                    return false;
                }
                render::OutputView v =
                    render::makeOutputView(c.pos, c.dir, c.up, c.fov, out.width, out.height);
                v.camera.near = record.near;
                v.camera.far = record.far;
                drawViewerFile(file, settings, v, out);
                return true;
            });
    }

    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(width, height);
    if (frame.pixels == nullptr) {
        std::fprintf(stderr, "strata render: cannot make a %dx%d frame\n", width, height);
        return 1;
    }
    // The coverage mask, filled by the kernels before anything else touches the frame.
    std::vector<std::uint8_t> mask;
    if (!args.coverage.empty() || !args.compare.empty()) {
        mask.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        settings.coverage = mask.data();
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
        platform::takeDrawThreadsUsed();
        for (int i = 0; i < args.frames; ++i) {
            const std::int64_t start = platform::steadyNanoseconds();
            stats = drawViewerFile(file, settings, view, frame).stats;
            drawNs += platform::steadyNanoseconds() - start;
            visited += stats.visited;
        }
        const double seconds = static_cast<double>(drawNs) * 1e-9;
        std::printf("frames=%d ms_per_frame=%.3f samples_per_s=%.0f threads=%d\n", args.frames,
                    seconds * 1e3 / args.frames,
                    seconds > 0.0 ? static_cast<double>(visited) / seconds : 0.0,
                    platform::takeDrawThreadsUsed());
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
        if (!imageutil::readPng(args.compare, reference, &error, frame.width, frame.height)) {
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
    if (!mask.empty()) {
        std::vector<std::uint8_t> holes;
        const render::CoverageMeasure m = render::measureCoverage(mask, width, height, &holes);
        if (!args.coverage.empty() &&
            !imageutil::writeImageFile(args.coverage, coverageImage(mask, holes, width, height),
                                       &error)) {
            std::fprintf(stderr, "strata render: %s\n", error.c_str());
            return 1;
        }
        std::printf("uncovered=%.6f uncovered_pixels=%" PRId64 " area_pixels=%" PRId64 "\n",
                    m.share(), m.holes, m.area);
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
    command->add_flag("--json", args->json,
                      "with --print-camera: print it as a camera file for --camera");
    command->add_option("--camera", args->cameraFile,
                        "camera file (JSON: position, direction, up, fovDegrees, near, far, "
                        "width, height); camera flags and --size override it");
    addSequenceOptions(*command, args->sequence, false);
    command->add_option("--layer", args->layer,
                        "draw only layer K of every pixel, counted from the front (0 the front)");
    command->add_option("--coverage", args->coverage,
                        "write the pixels no sample reached (white inside the picture, grey "
                        "around it) and print their share of the picture as uncovered=");
    command->add_flag("--no-splat", args->noSplat, "write every sample as one pixel");
    command->add_flag("--depth-correction", args->depthCorrection,
                      "divide splat sizes by the ray-length factor (the default)");
    command->add_flag("--no-depth-correction", args->noDepthCorrection,
                      "no depth correction of splat sizes");
    command->add_flag("--backface", args->backface, "skip samples facing away from the camera");
    command->add_flag("--scanline", args->scanline, "skip LDI rows that land off the frame");
    command->add_flag("--no-frustum-clipper", args->noFrustumClipper,
                      "traverse the whole LDI instead of its visible rectangle");
    command
        ->add_option("--false-color", args->falseColor,
                     "false-colour mode 1..9 (1, 2 depth, 3 backface, 4 normal, 5, 6 size, 7 "
                     "anisotropy, 8 layer: " +
                         render::layerColourKey() + ", 9 uncovered pixels magenta; 0 true colour)")
        ->check(CLI::Range(0, render::kLastFalseColorMode));
    command->add_flag("--size-accurate", args->sizeAccurate,
                      "splat size from the normal and distance instead of the size table");
    command->add_option("--round", args->round,
                        "pixel position conversion: trunc (default) or nearest (even)");
    command->add_option("--quality", args->quality,
                        "splats: default (blended footprints in traversal order) or high (soft "
                        "depth-tested footprints, limited size ratio, backface culling, small gaps "
                        "filled)");
    auto* lower = command->add_flag("--lower-half", args->lowerHalf,
                                    "draw only pixels with column + row < W");
    command->add_flag("--upper-half", args->upperHalf, "draw only pixels with column + row >= W")
        ->excludes(lower);
    command->add_option("--frames", args->frames,
                        "repeat the draw N times and print the timing; with --orbit or --path "
                        "the number of pictures");
    command->add_option("--threads", args->threads,
                        "threads that draw (default: every core); "
                        "the picture is the same");
    command->add_flag("--stats", args->stats, "print the counters of the draw");
    command->add_option("--compare", args->compare,
                        "PNG of the same size to compare with: prints psnr= and differing=");
    command->callback([args, command, &status] {
        args->sizeGiven = command->count("--size") > 0;
        status = runRender(*args);
    });
}

}  // namespace strata::tools
