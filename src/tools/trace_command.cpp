// `strata trace SCENE -o truth.png`: a ray-traced picture of the nearest surfaces from any
// camera, the reference that LDI renderings are compared with.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "maker/mesh_import.h"
#include "maker/trace_image.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "render/camera_path.h"
#include "tools/camera_options.h"
#include "tools/camera_record.h"
#include "tools/commands.h"
#include "tools/sequence.h"

namespace strata::tools {

namespace {

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
};

// "WxH" or "N" (square).
bool parseSize(const std::string& text, std::int32_t& width, std::int32_t& height) {
    const std::size_t x = text.find('x');
    char* end = nullptr;
    const long w = std::strtol(text.c_str(), &end, 10);
    long h = w;
    if (x == std::string::npos) {
        if (end == text.c_str() || *end != '\0') {
            return false;
        }
    } else {
        if (end != text.c_str() + x) {
            return false;
        }
        const char* start = text.c_str() + x + 1;
        h = std::strtol(start, &end, 10);
        if (end == start || *end != '\0') {
            return false;
        }
    }
    if (w < 1 || h < 1 || w > 16384 || h > 16384) {
        return false;
    }
    width = static_cast<std::int32_t>(w);
    height = static_cast<std::int32_t>(h);
    return true;
}

bool parseColour(const std::string& text, std::uint32_t& colour) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (end == text.c_str() || *end != '\0' || value > 0xFFFFFFul) {
        return false;
    }
    colour = static_cast<std::uint32_t>(value);
    return true;
}

int runTrace(const TraceArguments& args) {
    const auto fail = [](const std::string& message) {
        std::fprintf(stderr, "strata trace: %s\n", message.c_str());
        return 1;
    };
    maker::TraceOptions options;
    if (!parseSize(args.size, options.width, options.height)) {
        return fail("--size wants WxH (or N), each 1..16384");
    }
    if (!parseColour(args.background, options.background)) {
        return fail("--bg wants a colour 0xRRGGBB");
    }
    maker::Scene scene;
    std::string error;
    if (!maker::loadNamedScene(args.scene, scene, error)) {
        return fail(error);
    }
    if (!applyShadingOptions(args.shading, scene, options.shading, error)) {
        return fail(error);
    }
    maker::PinholeCamera camera;
    if (!args.cameraFile.empty()) {
        render::CameraRecord record;
        if (!render::loadCameraFile(args.cameraFile, record, error) ||
            !pinholeFromRecord(record, camera, error) ||
            (args.camera.any() && !applyCameraOptions(args.camera, camera, error))) {
            return fail(error);
        }
        if (!args.sizeGiven) {
            options.width = record.width;
            options.height = record.height;
        }
    } else if (!sceneCamera(args.camera, scene, camera, error)) {
        return fail(error);
    }
    options.threads = threadCount(args.threads);
    TerminalProgress progress;
    options.progress = [&progress, &args](double fraction) {
        progress.update(args.output, fraction);
    };
    std::unique_ptr<maker::RayCaster> caster = maker::RayCaster::create(scene, error);
    if (!caster) {
        return fail(args.scene + ": " + error);
    }
    if (args.sequence.requested()) {
        SequenceTarget target;
        double orbitDegrees = 0.0;
        std::vector<render::CameraRecord> cameras;
        if (!checkSequence(args.sequence, args.output, target, orbitDegrees, error)) {
            return fail(error);
        }
        if (!args.sequence.path.empty()) {
            std::vector<render::CameraRecord> keys;
            if (!render::loadCameraListFile(args.sequence.path, keys, error)) {
                return fail(error);
            }
            cameras = render::pathSequence(keys, args.sequence.frames);
        } else {
            cameras = render::orbitSequence(
                recordFromPinhole(camera, options.width, options.height,
                                  camera.near > 0.0f ? camera.near : 0.1f,
                                  camera.far > camera.near ? camera.far : 10000.0f),
                scene.bounds().centre(), orbitDegrees, args.sequence.frames);
        }
        // The sequence draws the progress bar over frames, not over rows.
        options.progress = nullptr;
        const bool keepRange = !args.cameraFile.empty() || !args.camera.near.empty() ||
                               !args.camera.far.empty() || !args.sequence.path.empty();
        return runSequence(
            "strata trace", cameras, target, args.sequence.fps,
            [&](const render::CameraRecord& record, imageutil::RgbImage& out, std::string& why) {
                maker::PinholeCamera c;
                if (!pinholeFromRecord(record, c, why)) {
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
                if (!maker::traceImage(*caster, c, frameOptions, framePixels, why)) {
                    return false;
                }
                std::copy(framePixels.begin(), framePixels.end(), out.pixels);
                return true;
            });
    }
    const std::int64_t start = platform::steadyNanoseconds();
    std::vector<std::uint32_t> pixels;
    if (!maker::traceImage(*caster, camera, options, pixels, error)) {
        return fail(error);
    }
    const double seconds =
        static_cast<double>(platform::steadyNanoseconds() - start) / platform::kCounterFrequency;
    progress.finish();
    imageutil::RgbImage image = imageutil::RgbImage::createOwned(options.width, options.height);
    if (image.empty()) {
        return fail("no memory for the image");
    }
    std::copy(pixels.begin(), pixels.end(), image.pixels);
    if (!imageutil::writeImageFile(args.output, image, &error)) {
        return fail(args.output + ": " + error);
    }
    const double rays = static_cast<double>(options.width) * options.height;
    std::printf("%s: trace %dx%d, %.0f rays, %.0f rays/s\n", args.output.c_str(), options.width,
                options.height, rays, seconds > 0.0 ? rays / seconds : 0.0);
    return 0;
}

}  // namespace

void addTraceCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<TraceArguments>();
    auto* command = app.add_subcommand(
        "trace", "ray-trace the nearest surfaces of the demo scene or a mesh file into a picture");
    command->add_option("scene", args->scene, "\"demo\" or a mesh file")->required();
    command->add_option("-o,--output", args->output, "picture file (.bmp for BMP, else PNG)")
        ->required();
    command->add_option("--size", args->size, "picture size WxH")->capture_default_str();
    command->add_option("--bg", args->background, "background colour 0xRRGGBB")
        ->capture_default_str();
    addShadingOptions(*command, args->shading);
    addThreadsOption(*command, args->threads);
    addCameraOptions(*command, args->camera);
    command->add_option("--camera", args->cameraFile,
                        "camera file as written by strata render --print-camera --json (its "
                        "frame size unless --size is given); camera flags override it");
    addSequenceOptions(*command, args->sequence, true);
    command->callback([args, command, &status] {
        args->sizeGiven = command->count("--size") > 0;
        status = runTrace(*args);
    });
}

}  // namespace strata::tools
