// `strata trace SCENE -o truth.png`: a ray-traced picture of the nearest surfaces from any
// camera, the reference that LDI renderings are compared with.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "imageutil/depth_image.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "maker/mesh_import.h"
#include "maker/trace_image.h"
#include "platform/allocation_report.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/number_parse.h"
#include "render/camera_path.h"
#include "tools/camera_options.h"
#include "tools/camera_record.h"
#include "tools/checked_options.h"
#include "tools/command_parse.h"
#include "tools/commands.h"
#include "tools/depth_output.h"
#include "tools/make_job.h"
#include "tools/sequence.h"

namespace strata::tools {

struct TraceArguments {
    std::string scene;
    std::string output;
    std::string size = "350x350";  // the maker's default grid
    std::string background = "0xB2B2B2";
    ShadingFlags shading;
    int threads = 0;
    CameraOptions camera;
    std::string cameraFile;
    bool sizeGiven = false;
    SequenceOptions sequence;
    std::string depthOut;
    std::string depthScale;
    std::string viewsOut;
};

namespace {

// "WxH" or "N" (square), sides 1..16384.
bool parseSize(const std::string& text, std::int32_t& width, std::int32_t& height) {
    if (text.find('x') != std::string::npos) {
        return platform::parseSizeText(text, 1, render::kMaxRecordSide, width, height);
    }
    std::int32_t side = 0;
    if (text.empty() || text.front() < '0' || text.front() > '9' ||
        !platform::parseWholeNumber(text, 1, render::kMaxRecordSide, side)) {
        return false;
    }
    width = height = side;
    return true;
}

// "0xRRGGBB" (or the hex digits alone).
bool parseColour(const std::string& text, std::uint32_t& colour) {
    const std::string digits =
        text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? text.substr(2)
                                                                                : text;
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    colour = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

// The camera of a record, or of a sequence frame, with the scene in reach.
bool sceneRecordCamera(const render::CameraRecord& record, const maker::Scene& scene,
                       maker::PinholeCamera& camera, std::string& error) {
    if (!pinholeFromRecord(record, camera, error)) {
        return false;
    }
    const maker::Bounds bounds = scene.bounds();
    error =
        maker::cameraReachProblem(camera, bounds.centre(), bounds.empty() ? 0.0f : bounds.radius());
    return error.empty();
}

// The checks of the flags that need no scene: the picture size and background. False with the
// message.
bool checkTraceArgs(const TraceArguments& args, maker::TraceOptions& options, std::string& error) {
    if (!parseSize(args.size, options.width, options.height)) {
        error = "--size wants WxH (or N), each 1..16384, not \"" + args.size + "\"";
        return false;
    }
    if (!parseColour(args.background, options.background)) {
        error = "--bg wants a colour 0xRRGGBB";
        return false;
    }
    return true;
}

// The camera for the scene: the record (of --camera) with the camera flags over it and its
// picture size unless --size is given, or the scene's camera for the flags; and the threads.
bool traceCamera(const TraceArguments& args, const maker::Scene& scene,
                 const render::CameraRecord* record, maker::TraceOptions& options,
                 maker::PinholeCamera& camera, std::string& error) {
    if (record != nullptr) {
        if (!pinholeFromRecord(*record, camera, error) ||
            (args.camera.any() && !applyCameraOptions(args.camera, camera, error))) {
            return false;
        }
        const maker::Bounds bounds = scene.bounds();
        error = maker::cameraReachProblem(camera, bounds.centre(),
                                          bounds.empty() ? 0.0f : bounds.radius());
        if (!error.empty()) {
            return false;
        }
        if (!args.sizeGiven) {
            options.width = record->width;
            options.height = record->height;
        }
    } else if (!sceneCamera(args.camera, scene, camera, error)) {
        return false;
    }
    options.threads = threadCount(args.threads);
    return true;
}

int runTrace(const TraceArguments& args) {
    const auto fail = [](const std::string& message) {
        std::fprintf(stderr, "strata trace: %s\n", message.c_str());
        return 1;
    };
    TraceJob job(args);
    std::string error;
    if (!job.check(error)) {
        return fail(error);
    }
    maker::Scene scene;
    if (!maker::loadNamedScene(args.scene, scene, error)) {
        return fail(error);
    }
    maker::TraceOptions options;
    maker::PinholeCamera camera;
    if (!job.prepare(scene, nullptr, options, camera, error)) {
        return fail(error);
    }
    DepthOutput depthOutput;
    if (!checkDepthOutput(args.depthOut, args.depthScale, args.viewsOut, args.sequence.requested(),
                          depthOutput, error)) {
        return fail(error);
    }
    TerminalProgress progress;
    options.progress = [&progress, &args](double fraction) {
        progress.update(args.output, fraction);
    };
    std::unique_ptr<maker::RayCaster> caster = maker::RayCaster::create(scene, error);
    if (!caster) {
        return fail(args.scene + ": " + error);
    }
    const float recordNear = camera.near > 0.0f ? camera.near : 0.1f;
    const float recordFar = camera.far > camera.near ? camera.far : 10000.0f;
    if (args.sequence.requested()) {
        SequenceTarget target;
        double orbitDegrees = 0.0;
        std::vector<render::CameraRecord> cameras;
        if (!checkSequence(args.sequence, args.output, target, orbitDegrees, error)) {
            return fail(error);
        }
        if (!args.viewsOut.empty() && !target.video.empty()) {
            return fail(
                "--views-out wants the frames as pictures (-o frames/%04d.png), not a video");
        }
        if (!args.sequence.path.empty()) {
            std::vector<render::CameraRecord> keys;
            if (!render::loadCameraListFile(args.sequence.path, keys, error)) {
                return fail(error);
            }
            for (const render::CameraRecord& key : keys) {
                maker::PinholeCamera keyCamera;
                if (!sceneRecordCamera(key, scene, keyCamera, error)) {
                    return fail(args.sequence.path + ": " + error);
                }
            }
            cameras = render::pathSequence(keys, args.sequence.frames);
        } else {
            cameras = render::orbitSequence(
                recordFromPinhole(camera, options.width, options.height, recordNear, recordFar),
                scene.bounds().centre(), orbitDegrees, args.sequence.frames);
        }
        // The sequence draws the progress bar over frames, not over rows.
        options.progress = nullptr;
        const bool keepRange = !args.cameraFile.empty() || !args.camera.near.empty() ||
                               !args.camera.far.empty() || !args.sequence.path.empty();
        std::int32_t frameIndex = 0;
        const int status = runSequence(
            "strata trace", cameras, target, args.sequence.fps,
            [&](const render::CameraRecord& record, imageutil::RgbImage& out, std::string& why) {
                maker::PinholeCamera c;
                if (!sceneRecordCamera(record, scene, c, why)) {
                    return false;
                }
                if (!keepRange) {
                    c.near = camera.near;
                    c.far = camera.far;
                }
                maker::TraceOptions frameOptions = options;
                frameOptions.width = out.width;
                frameOptions.height = out.height;
                std::vector<std::uint32_t> framePixels;
                imageutil::DepthImage depth{out.width, out.height, {}};
                if (!maker::traceImage(*caster, c, frameOptions, framePixels, why,
                                       depthOutput.wanted() ? &depth.depth : nullptr)) {
                    return false;
                }
                if (depthOutput.wanted() &&
                    !depthOutput.writeFrame(depth, frameIndex,
                                            frameName(target.pattern, frameIndex), record, why)) {
                    return false;
                }
                ++frameIndex;
                std::copy(framePixels.begin(), framePixels.end(), out.pixels);
                return true;
            });
        if (status == 0 && !depthOutput.finish(error)) {
            return fail(error);
        }
        return status;
    }
    const platform::MemoryTask task(
        platform::formatString("tracing the %dx%d picture", options.width, options.height));
    const std::int64_t start = platform::steadyNanoseconds();
    std::vector<std::uint32_t> pixels;
    imageutil::DepthImage depth{options.width, options.height, {}};
    if (!maker::traceImage(*caster, camera, options, pixels, error,
                           depthOutput.wanted() ? &depth.depth : nullptr)) {
        return fail(error);
    }
    const double seconds =
        static_cast<double>(platform::steadyNanoseconds() - start) / platform::kCounterFrequency;
    progress.finish();
    // A depth the file cannot hold stops the command before anything is written.
    if (depthOutput.wanted() && !depthOutput.check(depth, error)) {
        return fail(error);
    }
    imageutil::RgbImage image = imageutil::RgbImage::createOwned(options.width, options.height);
    if (image.empty()) {
        return fail("no memory for the image");
    }
    std::copy(pixels.begin(), pixels.end(), image.pixels);
    if (!imageutil::writeImageFile(args.output, image, &error)) {
        return fail(args.output + ": " + error);
    }
    if (depthOutput.wanted() &&
        (!depthOutput.writeFrame(
             depth, -1, args.output,
             recordFromPinhole(camera, options.width, options.height, recordNear, recordFar),
             error) ||
         !depthOutput.finish(error))) {
        return fail(error);
    }
    const double rays = static_cast<double>(options.width) * options.height;
    std::printf("%s: trace %dx%d, %.0f rays, %.0f rays/s\n", args.output.c_str(), options.width,
                options.height, rays, seconds > 0.0 ? rays / seconds : 0.0);
    return 0;
}

// The command's options, filling args.
void addTraceOptions(CLI::App* command, const std::shared_ptr<TraceArguments>& args) {
    command->add_option("scene", args->scene, "\"demo\" or a mesh file")->required();
    command->add_option("-o,--output", args->output, "picture file (.bmp for BMP, else PNG)")
        ->required();
    command->add_option("--size", args->size, "picture size WxH")->capture_default_str();
    command->add_option("--bg", args->background, "background colour 0xRRGGBB")
        ->capture_default_str();
    addShadingOptions(*command, args->shading);
    addThreadsOption(*command, args->threads);
    addCameraOptions(*command, args->camera);
    addAllowOutsidePathsFlag(*command);
    command->add_option("--camera", args->cameraFile,
                        "camera file as written by strata render --print-camera --json (its "
                        "frame size unless --size is given); camera flags override it");
    addSequenceOptions(*command, args->sequence, true);
}

}  // namespace

void addTraceCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<TraceArguments>();
    auto* command = app.add_subcommand(
        "trace", "ray-trace the nearest surfaces of the demo scene or a mesh file into a picture");
    addTraceOptions(command, args);
    // Depth maps and views files are files of the command; the package hands back arrays.
    addDepthOutputOptions(*command, args->depthOut, args->depthScale, args->viewsOut);
    command->callback([args, command, &status] {
        args->sizeGiven = command->count("--size") > 0;
        status = runTrace(*args);
    });
}

TraceJob::TraceJob() : args_(std::make_unique<TraceArguments>()) {}
TraceJob::TraceJob(const TraceArguments& args) : args_(std::make_unique<TraceArguments>(args)) {}
TraceJob::~TraceJob() = default;
TraceJob::TraceJob(TraceJob&&) noexcept = default;
TraceJob& TraceJob::operator=(TraceJob&&) noexcept = default;

bool TraceJob::parse(const std::vector<std::string>& arguments, std::string& error) {
    const auto args = parseCommand(&addTraceOptions, arguments, error,
                                   [](const CLI::App& command, TraceArguments& parsed) {
                                       parsed.sizeGiven = command.count("--size") > 0;
                                   });
    if (!args) {
        return false;
    }
    *args_ = *args;
    return check(error);
}

std::vector<std::string> TraceJob::flagNames() {
    return commandFlagNames(&addTraceOptions);
}

bool TraceJob::check(std::string& error) {
    checked_ = maker::TraceOptions{};
    return checkTraceArgs(*args_, checked_, error);
}

const std::string& TraceJob::sceneName() const {
    return args_->scene;
}

bool TraceJob::sequence() const {
    return args_->sequence.requested();
}

bool TraceJob::prepare(const maker::Scene& scene, const render::CameraRecord* record,
                       maker::TraceOptions& options, maker::PinholeCamera& camera,
                       std::string& error) const {
    options = checked_;
    render::CameraRecord stored;
    if (!applyShadingOptions(args_->shading, scene, options.shading, error)) {
        return false;
    }
    if (record == nullptr && !args_->cameraFile.empty()) {
        if (!render::loadCameraFile(args_->cameraFile, stored, error)) {
            return false;
        }
        record = &stored;
    }
    return traceCamera(*args_, scene, record, options, camera, error);
}

}  // namespace strata::tools
