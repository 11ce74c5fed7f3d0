// `strata make SCENE -o OUT`: ray-casts the demo scene or a mesh file into LDI files, or carries
// depth data (a photograph with depth, several fused, a point cloud) into them.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "maker/ldi_maker.h"
#include "maker/mesh_import.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "tools/camera_options.h"
#include "tools/commands.h"
#include "tools/depth_make.h"

namespace strata::tools {

namespace {

struct MakeArguments {
    std::string scene;
    std::string output;
    std::string kind;
    int size = maker::kDefaultGridSize;
    int layers = 8;
    int threads = 0;
    ShadingFlags shading;
    int levels = 3;
    bool levelsGiven = false;
    int members = 4;
    bool sizeGiven = false;
    CameraOptions camera;
    DepthMakeFlags depth;
};

std::string kindHelp() {
    std::string text = "what to write (default: one file of every kind into the -o folder):";
    for (const maker::MakerKindInfo& info : maker::makerKinds()) {
        text += platform::formatString("\n  %-10s %.*s", std::string(info.name).c_str(),
                                       static_cast<int>(info.summary.size()), info.summary.data());
    }
    return text;
}

std::string stemOfScene(const std::string& scene) {
    std::string stem = std::filesystem::path(scene).stem().string();
    return stem.empty() ? std::string("scene") : stem;
}

int runMake(const MakeArguments& args) {
    const auto fail = [](const std::string& message) {
        std::fprintf(stderr, "strata make: %s\n", message.c_str());
        return 1;
    };
    maker::MakeRequest request;
    if (!args.kind.empty()) {
        const auto kind = maker::makerKindFromName(args.kind);
        if (!kind) {
            std::fprintf(stderr, "strata make: unknown kind \"%s\"\n", args.kind.c_str());
            return 2;
        }
        request.kind = *kind;
    }
    if (args.size < 1 || args.size > 16384) {
        return fail("--size wants a grid side in 1..16384");
    }
    if (args.layers < 1 || args.layers > maker::kMaxLayers) {
        return fail(platform::formatString("--layers wants 1..%d", maker::kMaxLayers));
    }
    if (args.members < 1 || args.members > maker::kMaxSetMembers) {
        return fail(platform::formatString("--members wants 1..%d", maker::kMaxSetMembers));
    }
    maker::Scene scene;
    std::unique_ptr<maker::RayCaster> caster;
    std::unique_ptr<maker::LayerSource> source;
    std::string error;
    std::string stem = stemOfScene(args.scene);
    std::int32_t size = args.size;
    const std::int64_t loadStart = platform::steadyNanoseconds();
    const bool depthData = readsDepthData(args.depth, args.scene);
    if (!depthData && !checkMeshFlags(args.depth, args.camera, error)) {
        return fail(error);
    }
    if (depthData) {
        DepthSource depth;
        if (!openDepthSource(args.depth, args.scene, args.camera, args.shading,
                             threadCount(args.threads), depth, error)) {
            return fail(error);
        }
        source = std::move(depth.source);
        request.camera = depth.camera;
        stem = depth.stem;
        if (!args.sizeGiven && depth.gridSide > 0) {
            size = depth.gridSide;
        }
    }
    // Levels halve the side down to 8 pixels at the least.
    const int maxLevels = maker::pyramidLevelsFor(size);
    if (args.levelsGiven && (args.levels < 1 || args.levels > maxLevels)) {
        return fail(platform::formatString("--levels wants 1..%d for --size %d", maxLevels, size));
    }
    // Without --kind every kind is written.
    for (const maker::MakerKindInfo& info : maker::makerKinds()) {
        const std::string problem = args.kind.empty() || info.kind == request.kind
                                        ? maker::sizeProblem(info.kind, size)
                                        : std::string();
        if (!problem.empty()) {
            return fail(problem);
        }
    }
    if (!depthData) {
        if (!maker::loadNamedScene(args.scene, scene, error)) {
            return fail(error);
        }
        if (!applyShadingOptions(args.shading, scene, request.shading, error)) {
            return fail(error);
        }
        if (!args.depth.cameraFile.empty()
                ? !cameraFromFile(args.depth.cameraFile, args.camera, request.camera, error)
                : !sceneCamera(args.camera, scene, request.camera, error)) {
            return fail(error);
        }
        caster = maker::RayCaster::create(scene, error);
        if (!caster) {
            return fail(args.scene + ": " + error);
        }
        source = std::make_unique<maker::RayCastSource>(*caster);
    }
    request.size = size;
    request.layers = args.layers;
    request.threads = threadCount(args.threads);
    request.pyramidLevels = std::min(args.levels, maxLevels);
    request.setMembers = args.members;
    TerminalProgress progress;
    request.progress = [&progress](const std::string& file, double fraction) {
        progress.update(file, fraction);
    };

    request.loadSeconds = static_cast<double>(platform::steadyNanoseconds() - loadStart) /
                          platform::kCounterFrequency;
    std::vector<maker::MadeFile> made;
    bool ok = false;
    if (args.kind.empty()) {
        ok = maker::makeAllKinds(*source, request, args.output, stem, made, error);
    } else {
        std::string output = args.output;
        std::error_code code;
        if (std::filesystem::is_directory(output, code) || output.ends_with('/')) {
            std::filesystem::create_directories(output, code);
            output = platform::joinPath(output, maker::fileNameFor(request.kind, stem));
        }
        ok = maker::makeLdi(*source, request, output, made, error);
    }
    progress.finish();
    for (const maker::MadeFile& file : made) {
        std::printf("%s\n", maker::summaryLine(file).c_str());
    }
    if (!ok) {
        return fail(error);
    }
    return 0;
}

}  // namespace

void addMakeCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<MakeArguments>();
    auto* command = app.add_subcommand(
        "make",
        "ray-cast the demo scene or a mesh file (OBJ, PLY, glTF, STL, ...) into LDIs, or carry a "
        "photograph with depth, several of them or a point cloud into them");
    command->add_option("scene", args->scene,
                        "\"demo\", a mesh file or a point cloud (PLY of vertices without faces)");
    command
        ->add_option("-o,--output", args->output, "output file (with --kind) or folder (without)")
        ->required();
    command->add_option("--kind", args->kind, kindHelp());
    command
        ->add_option("--size", args->size,
                     "grid side N (N x N pixels; from pictures: their larger side, at most 1024)")
        ->capture_default_str();
    command->add_option("--layers", args->layers, "most layers per pixel (1..255)")
        ->capture_default_str();
    addThreadsOption(*command, args->threads);
    addShadingOptions(*command, args->shading);
    command
        ->add_option("--levels", args->levels,
                     "levels of a pyramid (1.., halving the side down to 8 at least)")
        ->capture_default_str();
    command
        ->add_option("--members", args->members,
                     "directions of a set (1.." + std::to_string(maker::kMaxSetMembers) + ")")
        ->capture_default_str();
    addCameraOptions(*command, args->camera);
    addDepthMakeOptions(*command, args->depth);
    command->callback([args, command, &status] {
        args->levelsGiven = command->count("--levels") > 0;
        args->sizeGiven = command->count("--size") > 0;
        status = runMake(*args);
    });
}

}  // namespace strata::tools
