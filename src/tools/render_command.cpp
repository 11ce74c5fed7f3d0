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
#include "platform/allocation_report.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/number_parse.h"
#include "platform/worker_pool.h"
#include "render/camera_file.h"
#include "render/camera_path.h"
#include "render/frame_margin.h"
#include "render/inspection.h"
#include "render/output_view.h"
#include "tools/camera_options.h"
#include "tools/camera_record.h"
#include "tools/checked_options.h"
#include "tools/command_parse.h"
#include "tools/commands.h"
#include "tools/render_job.h"
#include "tools/sequence.h"
#include "tools/viewer_file.h"

namespace strata::tools {

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
    std::string quality = "high";
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

// Most timed repetitions of one draw (--frames without a sequence).
constexpr std::int32_t kMaxTimedFrames = 1000000;

// The largest picture side: the frame is drawn into a buffer with a margin on every side, and
// that buffer may hold at most 16384 x 16384 pixels.
constexpr std::int32_t kMaxRenderSide = render::kMaxRecordSide - 2 * render::kFrameMargin;

namespace {

bool parseSize(const std::string& text, std::int32_t& width, std::int32_t& height) {
    return platform::parseSizeText(text, 16, kMaxRenderSide, width, height);
}

// The scene a camera must keep in reach: the file's bounding box when it has one, else the
// reference camera's eye and depth range.
std::string reachProblem(const ViewerFile& file, const maker::PinholeCamera& camera) {
    const geometry::Vector3 lo = file.boundsMin;
    const geometry::Vector3 hi = file.boundsMax;
    const geometry::Vector3 centre = (lo + hi) * 0.5f;
    const float radius = (hi - lo).length() * 0.5f;
    if (lo.x <= hi.x && lo.y <= hi.y && lo.z <= hi.z && std::isfinite(radius) && radius > 0.0f) {
        return maker::cameraReachProblem(camera, centre, radius);
    }
    return maker::cameraReachProblem(camera, file.reference.pos, file.reference.far);
}

// Why a draw drew nothing of the file: the pyramid level or set member it chose did not load,
// or no frame buffer could be made. "" when it drew.
std::string drawFailure(const ViewerFile& file, const ViewerDraw& drawn) {
    if (drawn.stats.frameFailed) {
        return "no frame buffer could be made";
    }
    if (file.kind == ViewerFileKind::pyramid) {
        return ldi::ChosenLevelFailure(*file.pyramid);
    }
    if (file.kind == ViewerFileKind::set) {
        return ldi::ChosenMemberFailure(*file.set);
    }
    return {};
}

constexpr float kRadiansPerDegree = 0.017453292f;

// v turned by angle (radians) about the unit axis a (right-handed).
geometry::Vector3 rotated(const geometry::Vector3& v, const geometry::Vector3& a, float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return v * c + geometry::cross(a, v) * s + a * (geometry::dot(a, v) * (1.0f - c));
}

// The output camera: the camera record (of --camera) or the file's reference camera with the
// viewer's field of view (pi/4), the camera flags over it, then --offset in its own axes (x right,
// y up, z forward) and --yaw, --pitch about the point half the scene depth in front of it.
bool resolveCamera(const RenderArgs& args, const ViewerFile& file,
                   const render::CameraRecord* record, maker::PinholeCamera& camera,
                   std::string& error) {
    if (record != nullptr) {
        if (!pinholeFromRecord(*record, camera, error)) {
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
    error = reachProblem(file, camera);
    return error.empty();
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

// The checks of the flags that need no file, and the drawing threads, frame size and sequence
// they ask for. False with the message (a usage error).
bool checkRenderArgs(const RenderArgs& args, int& threads, std::int32_t& width,
                     std::int32_t& height, SequenceTarget& target, double& orbitDegrees,
                     std::string& error) {
    threads = 0;  // automatic
    if (!args.threads.empty() && !parseThreads(args.threads, threads)) {
        error = platform::formatString("--threads wants a whole number 1..%d, got \"%s\"",
                                       kMaxThreads, args.threads.c_str());
        return false;
    }
    if (!parseSize(args.size, width, height)) {
        error = platform::formatString("--size wants WxH with sides 16..%d, got \"%s\"",
                                       kMaxRenderSide, args.size.c_str());
        return false;
    }
    if (args.frames < 0 || (!args.sequence.requested() && args.frames > kMaxTimedFrames)) {
        error = platform::formatString("--frames wants 0..%d (with --orbit or --path 1..%d)",
                                       kMaxTimedFrames, render::kMaxSequenceFrames);
        return false;
    }
    if (args.round != "trunc" && args.round != "nearest") {
        error = platform::formatString("--round wants trunc or nearest, got \"%s\"",
                                       args.round.c_str());
        return false;
    }
    // "default" is the old name of basic, from when it was the default.
    if (args.quality != "high" && args.quality != "basic" && args.quality != "default") {
        error = platform::formatString("--quality wants high or basic, got \"%s\"",
                                       args.quality.c_str());
        return false;
    }
    if (args.falseColor != -1 &&
        (args.falseColor < 0 || args.falseColor > render::kLastFalseColorMode)) {
        error = platform::formatString("--false-color wants 0..%d, got %d",
                                       render::kLastFalseColorMode, args.falseColor);
        return false;
    }
    if (args.layer < -1 || args.layer > 65535) {
        error = platform::formatString("--layer wants 0..65535 (0 the front), got %d", args.layer);
        return false;
    }
    if (args.sequence.requested()) {
        SequenceOptions options = args.sequence;
        options.frames = args.frames;
        if (!checkSequence(options, args.output, target, orbitDegrees, error)) {
            return false;
        }
        if (!args.coverage.empty() || !args.compare.empty() || args.printCamera) {
            error = "--coverage, --compare and --print-camera draw one frame, not a sequence";
            return false;
        }
        if (!args.sequence.path.empty() &&
            (!args.cameraFile.empty() || args.camera.any() || !args.offset.empty() ||
             args.yawDegrees != 0.0f || args.pitchDegrees != 0.0f)) {
            error = "--path brings its own cameras; leave out the other camera flags";
            return false;
        }
    }
    return true;
}

// The switches of every frame.
ldi::FrameSettings renderSettings(const RenderArgs& args) {
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
    return settings;
}

int runRender(const RenderArgs& args) {
    RenderJob job(args);
    std::string error;
    if (!job.check(error)) {
        std::fprintf(stderr, "strata render: %s\n", error.c_str());
        return 2;
    }
    useDrawThreads(job.threads());
    ViewerFile file;
    if (!openViewerFile(args.input, file, error, true)) {
        std::fprintf(stderr, "strata render: %s\n", error.c_str());
        return 1;
    }

    FrameCamera frameCamera;
    if (!job.camera(file, nullptr, frameCamera, error)) {
        std::fprintf(stderr, "strata render: %s\n", error.c_str());
        return 2;
    }
    const maker::PinholeCamera& camera = frameCamera.camera;
    const std::int32_t width = frameCamera.width;
    const std::int32_t height = frameCamera.height;
    const float near = frameCamera.near;
    const float far = frameCamera.far;
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
    const render::OutputView view = frameView(frameCamera);
    ldi::FrameSettings settings = job.settings();

    if (job.sequence()) {
        std::vector<render::CameraRecord> cameras;
        if (!job.sequenceCameras(file, frameCamera, cameras, error)) {
            std::fprintf(stderr, "strata render: %s\n", error.c_str());
            return 1;
        }
        return runSequence(
            "strata render", cameras, job.target(), args.sequence.fps,
            [&](const render::CameraRecord& record, imageutil::RgbImage& out, std::string& why) {
                return drawRecord(file, settings, record, out, why);
            });
    }

    const platform::MemoryTask task(
        platform::formatString("drawing the %dx%d frame", width, height));
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
    // Nothing is written after a failed step.
    const std::string failure = drawFailure(file, drawn);
    if (!failure.empty()) {
        std::fprintf(stderr, "strata render: %s: %s\n", args.input.c_str(), failure.c_str());
        return 1;
    }
    if (drawn.member >= 0) {
        std::printf("member=%d level=%d\n", drawn.member, drawn.level);
    } else if (drawn.level >= 0) {
        std::printf("level=%d\n", drawn.level);
    }
    if (args.frames > 0) {
        std::int64_t visited = 0;
        std::int64_t drawNs = 0;
        // threads= tells how most frames were drawn.
        platform::FrameThreadTally tally;
        platform::takeDrawThreadsUsed();
        for (int i = 0; i < args.frames; ++i) {
            const std::int64_t start = platform::steadyNanoseconds();
            stats = drawViewerFile(file, settings, view, frame).stats;
            drawNs += platform::steadyNanoseconds() - start;
            visited += stats.visited;
            tally.after();
        }
        const int threads = tally.most();
        const double seconds = static_cast<double>(drawNs) * 1e-9;
        std::printf("frames=%d ms_per_frame=%.3f samples_per_s=%.0f threads=%d\n", args.frames,
                    seconds * 1e3 / args.frames,
                    seconds > 0.0 ? static_cast<double>(visited) / seconds : 0.0, threads);
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
        const platform::MemoryTask reading("reading " + args.compare);
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

// The command's options, filling args.
void addRenderOptions(CLI::App* command, const std::shared_ptr<RenderArgs>& args) {
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
    addAllowOutsidePathsFlag(*command);
    command
        ->add_option("--yaw", args->yawDegrees,
                     "turn the camera by DEGREES about its up axis through the point half the "
                     "scene depth in front of it (positive: counter-clockwise seen from above)")
        ->transform(finiteNumber());
    command
        ->add_option("--pitch", args->pitchDegrees,
                     "then by DEGREES about its side axis through the same point")
        ->transform(finiteNumber());
    command->add_flag("--print-camera", args->printCamera,
                      "print the camera used as --pos/--dir/--up/--fov flags");
    command->add_flag("--json", args->json,
                      "with --print-camera: print it as a camera file for --camera");
    command->add_option("--camera", args->cameraFile,
                        "camera file (JSON: position, direction, up, fovDegrees, near, far, "
                        "width, height); camera flags and --size override it");
    addSequenceOptions(*command, args->sequence, false);
    command
        ->add_option("--layer", args->layer,
                     "draw only layer K of every pixel, counted from the front (0 the front)")
        ->transform(wholeNumber(INT32_MIN, INT32_MAX));
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
        ->transform(wholeNumber(INT32_MIN, INT32_MAX))
        ->check(CLI::Range(0, render::kLastFalseColorMode));
    command->add_flag("--size-accurate", args->sizeAccurate,
                      "splat size from the normal and distance instead of the size table");
    command->add_option("--round", args->round,
                        "pixel position conversion: trunc (default) or nearest (even)");
    command->add_option("--quality", args->quality,
                        "splats: high (the default: depth-tested footprints shaped by each "
                        "sample's surface, hidden sides culled, small gaps filled) or basic "
                        "(blended footprints in traversal order; also called default)");
    auto* lower = command->add_flag("--lower-half", args->lowerHalf,
                                    "draw only pixels with column + row < W");
    command->add_flag("--upper-half", args->upperHalf, "draw only pixels with column + row >= W")
        ->excludes(lower);
    command
        ->add_option("--frames", args->frames,
                     "repeat the draw N times and print the timing; with --orbit or --path "
                     "the number of pictures")
        ->transform(wholeNumber(INT32_MIN, INT32_MAX));
    command->add_option("--threads", args->threads,
                        "threads that draw (default: every core); "
                        "the picture is the same");
    command->add_flag("--stats", args->stats, "print the counters of the draw");
    command->add_option("--compare", args->compare,
                        "PNG of the same size to compare with: prints psnr= and differing=");
}

}  // namespace

void addRenderCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<RenderArgs>();
    auto* command = app.add_subcommand(
        "render",
        "Draw an LDI, pyramid, set or voxel file into a PNG or BMP picture from its reference "
        "camera or any other (pyramid levels and set members chosen as the viewer chooses them)");
    addRenderOptions(command, args);
    command->callback([args, command, &status] {
        args->sizeGiven = command->count("--size") > 0;
        status = runRender(*args);
    });
}

render::OutputView frameView(const FrameCamera& camera) {
    const maker::PinholeCamera& c = camera.camera;
    render::OutputView view =
        render::makeOutputView(c.pos, c.dir, c.up, c.fov, camera.width, camera.height);
    view.camera.near = camera.near;
    view.camera.far = camera.far;
    return view;
}

bool drawRecord(ViewerFile& file, const ldi::FrameSettings& settings,
                const render::CameraRecord& record, imageutil::RgbImage& frame,
                std::string& error) {
    FrameCamera camera{{}, frame.width, frame.height, record.near, record.far};
    if (!pinholeFromRecord(record, camera.camera, error)) {
        return false;
    }
    if (frame.width > kMaxRenderSide || frame.height > kMaxRenderSide) {
        error = platform::formatString("a %dx%d frame; pictures have sides 16..%d", frame.width,
                                       frame.height, kMaxRenderSide);
        return false;
    }
    error = reachProblem(file, camera.camera);
    if (!error.empty()) {
        return false;
    }
    error = drawFailure(file, drawViewerFile(file, settings, frameView(camera), frame));
    return error.empty();
}

void useDrawThreads(int threads) {
    if (threads > 0) {
        platform::setDrawThreads(threads);
    } else {
        platform::setDrawThreadsAutomatic();
    }
}

RenderJob::RenderJob() : args_(std::make_unique<RenderArgs>()) {}
RenderJob::RenderJob(const RenderArgs& args) : args_(std::make_unique<RenderArgs>(args)) {}
RenderJob::~RenderJob() = default;
RenderJob::RenderJob(RenderJob&&) noexcept = default;
RenderJob& RenderJob::operator=(RenderJob&&) noexcept = default;

bool RenderJob::parse(const std::vector<std::string>& arguments, std::string& error) {
    const auto args = parseCommand(&addRenderOptions, arguments, error,
                                   [this](const CLI::App& command, RenderArgs& parsed) {
                                       parsed.sizeGiven = command.count("--size") > 0;
                                       given_ = longFlagNames(command, true);
                                   });
    if (!args) {
        return false;
    }
    *args_ = *args;
    return check(error);
}

std::vector<std::string> RenderJob::flagNames() {
    return commandFlagNames(&addRenderOptions);
}

bool RenderJob::check(std::string& error) {
    if (!checkRenderArgs(*args_, threads_, width_, height_, target_, orbitDegrees_, error)) {
        return false;
    }
    settings_ = renderSettings(*args_);
    return true;
}

bool RenderJob::movesCamera() const {
    const RenderArgs& a = *args_;
    return a.camera.any() || !a.offset.empty() || a.yawDegrees != 0.0f || a.pitchDegrees != 0.0f ||
           !a.cameraFile.empty() || a.sizeGiven;
}

const std::string& RenderJob::input() const {
    return args_->input;
}

const std::string& RenderJob::output() const {
    return args_->output;
}

bool RenderJob::sequence() const {
    return args_->sequence.requested();
}

bool RenderJob::camera(const ViewerFile& file, const render::CameraRecord* record,
                       FrameCamera& camera, std::string& error) const {
    render::CameraRecord stored;
    if (record == nullptr && !args_->cameraFile.empty()) {
        if (!render::loadCameraFile(args_->cameraFile, stored, error)) {
            return false;
        }
        record = &stored;
    }
    if (!resolveCamera(*args_, file, record, camera.camera, error)) {
        return false;
    }
    camera.near = camera.camera.near > 0.0f ? camera.camera.near : render::kDefaultNear;
    camera.far = camera.camera.far > 0.0f ? camera.camera.far : render::kDefaultFar;
    camera.width = width_;
    camera.height = height_;
    if (record != nullptr && !args_->sizeGiven) {
        if (record->width > kMaxRenderSide || record->height > kMaxRenderSide) {
            const std::string source = record == &stored ? args_->cameraFile : "the camera";
            error = platform::formatString(
                "%s asks for a %dx%d frame; pictures have sides 16..%d (give --size)",
                source.c_str(), record->width, record->height, kMaxRenderSide);
            return false;
        }
        camera.width = record->width;
        camera.height = record->height;
    }
    return true;
}

bool RenderJob::sequenceCameras(const ViewerFile& file, const FrameCamera& start,
                                std::vector<render::CameraRecord>& cameras,
                                std::string& error) const {
    if (!args_->sequence.path.empty()) {
        std::vector<render::CameraRecord> keys;
        if (!render::loadCameraListFile(args_->sequence.path, keys, error)) {
            return false;
        }
        cameras = render::pathSequence(keys, args_->frames);
        return true;
    }
    cameras = render::orbitSequence(
        recordFromPinhole(start.camera, start.width, start.height, start.near, start.far),
        orbitCentre(file, start.camera), orbitDegrees_, args_->frames);
    return true;
}

}  // namespace strata::tools
