// `strata make SCENE -o OUT`: ray-casts the demo scene or a mesh file into LDI files.
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
#include "tools/checked_options.h"
#include "tools/command_parse.h"
#include "tools/commands.h"
#include "tools/depth_make.h"
#include "tools/make_job.h"

namespace strata::tools {

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

namespace {

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

// Why the grid side `size` does not suit the levels and kinds asked for; "" when it does.
std::string sizeProblem(const MakeArguments& args, maker::MakerKind kind, std::int32_t size) {
    // Levels halve the side down to 8 pixels at the least.
    const int maxLevels = maker::pyramidLevelsFor(size);
    if (args.levelsGiven && (args.levels < 1 || args.levels > maxLevels)) {
        return platform::formatString("--levels wants 1..%d for --size %d", maxLevels, size);
    }
    // Without --kind every kind is written.
    for (const maker::MakerKindInfo& info : maker::makerKinds()) {
        if (args.kind.empty() || info.kind == kind) {
            std::string problem = maker::sizeProblem(info.kind, size);
            if (!problem.empty()) {
                return problem;
            }
        }
    }
    return {};
}

// The checks of the flags that need no scene, with the kind asked for. 0, or the exit status
// with the message.
int checkMakeArgs(const MakeArguments& args, maker::MakerKind& kind, std::string& error) {
    if (!args.kind.empty()) {
        const auto named = maker::makerKindFromName(args.kind);
        if (!named) {
            error = "unknown kind \"" + args.kind + "\"";
            return 2;
        }
        kind = *named;
    }
    const auto fail = [&error](const std::string& message) {
        error = message;
        return 1;
    };
    if (args.size < 1 || args.size > 16384) {
        return fail("--size wants a grid side in 1..16384");
    }
    if (args.layers < 1 || args.layers > maker::kMaxLayers) {
        return fail(platform::formatString("--layers wants 1..%d", maker::kMaxLayers));
    }
    if (args.members < 1 || args.members > maker::kMaxSetMembers) {
        return fail(platform::formatString("--members wants 1..%d", maker::kMaxSetMembers));
    }
    // Pictures choose their own grid side unless --size is given; it is checked once known.
    const bool depthData = readsDepthData(args.depth, args.scene);
    if (!depthData && !checkMeshFlags(args.depth, args.camera, error)) {
        return 1;
    }
    if (!depthData || args.sizeGiven) {
        if (const std::string problem = sizeProblem(args, kind, args.size); !problem.empty()) {
            return fail(problem);
        }
    }
    if (!args.kind.empty()) {
        // Members are named in their lists by file name: a name the lists cannot hold is
        // refused before anything is cast or written.
        const std::string problem = maker::outputNameProblem(kind, args.output);
        if (!problem.empty()) {
            return fail(problem);
        }
    }
    return 0;
}

// The kind, sizes and threads of the request, of the checked flags.
void requestSizes(const MakeArguments& args, maker::MakerKind kind, maker::MakeRequest& request) {
    request.kind = kind;
    request.size = args.size;
    request.layers = args.layers;
    request.threads = threadCount(args.threads);
    request.pyramidLevels = std::min(args.levels, maker::pyramidLevelsFor(args.size));
    request.setMembers = args.members;
}

// The maker's request for the scene, of the checked flags.
bool makeRequestFor(const MakeArguments& args, maker::MakerKind kind, const maker::Scene& scene,
                    maker::MakeRequest& request, std::string& error) {
    requestSizes(args, kind, request);
    if (!applyShadingOptions(args.shading, scene, request.shading, error)) {
        return false;
    }
    if (args.depth.cameraFile.empty()) {
        return sceneCamera(args.camera, scene, request.camera, error);
    }
    if (!cameraFromFile(args.depth.cameraFile, args.camera, request.camera, error)) {
        return false;
    }
    const maker::Bounds bounds = scene.bounds();
    error = maker::cameraReachProblem(request.camera, bounds.centre(),
                                      bounds.empty() ? 0.0f : bounds.radius());
    return error.empty();
}

// The file a kind is written to: -o, or within it when it names a folder (made here) the file
// named stem.
std::string kindOutputPath(const MakeArguments& args, maker::MakerKind kind,
                           const std::string& stem) {
    std::string output = args.output;
    std::error_code code;
    if (std::filesystem::is_directory(output, code) || output.ends_with('/')) {
        std::filesystem::create_directories(output, code);
        output = platform::joinPath(output, maker::fileNameFor(kind, stem));
    }
    return output;
}

bool makeFiles(const MakeArguments& args, const maker::LayerSource& source,
               const maker::MakeRequest& request, const std::string& stem,
               std::vector<maker::MadeFile>& made, std::string& error) {
    if (args.kind.empty()) {
        return maker::makeAllKinds(source, request, args.output, stem, made, error);
    }
    return maker::makeLdi(source, request, kindOutputPath(args, request.kind, stem), made, error);
}

int runMake(const MakeArguments& args) {
    const auto fail = [](const std::string& message) {
        std::fprintf(stderr, "strata make: %s\n", message.c_str());
        return 1;
    };
    maker::MakerKind kind = maker::MakerKind::rtQp;
    std::string error;
    if (const int status = checkMakeArgs(args, kind, error); status != 0) {
        std::fprintf(stderr, "strata make: %s\n", error.c_str());
        return status;
    }
    maker::Scene scene;
    std::unique_ptr<maker::RayCaster> caster;
    std::unique_ptr<maker::LayerSource> source;
    std::string stem = stemOfScene(args.scene);
    maker::MakeRequest request;
    const std::int64_t loadStart = platform::steadyNanoseconds();
    if (readsDepthData(args.depth, args.scene)) {
        DepthSource depth;
        if (!openDepthSource(args.depth, args.scene, args.camera, args.shading,
                             threadCount(args.threads), depth, error)) {
            return fail(error);
        }
        requestSizes(args, kind, request);
        if (!args.sizeGiven && depth.gridSide > 0) {
            if (const std::string problem = sizeProblem(args, kind, depth.gridSide);
                !problem.empty()) {
                return fail(problem);
            }
            request.size = depth.gridSide;
            request.pyramidLevels = std::min(args.levels, maker::pyramidLevelsFor(request.size));
        }
        source = std::move(depth.source);
        request.camera = depth.camera;
        stem = depth.stem;
    } else {
        if (!maker::loadNamedScene(args.scene, scene, error)) {
            return fail(error);
        }
        if (!makeRequestFor(args, kind, scene, request, error)) {
            return fail(error);
        }
        caster = maker::RayCaster::create(scene, error);
        if (!caster) {
            return fail(args.scene + ": " + error);
        }
        source = std::make_unique<maker::RayCastSource>(*caster);
    }
    TerminalProgress progress;
    request.progress = [&progress](const std::string& file, double fraction) {
        progress.update(file, fraction);
    };
    request.loadSeconds = static_cast<double>(platform::steadyNanoseconds() - loadStart) /
                          platform::kCounterFrequency;
    std::vector<maker::MadeFile> made;
    const bool ok = makeFiles(args, *source, request, stem, made, error);
    progress.finish();
    for (const maker::MadeFile& file : made) {
        std::printf("%s\n", maker::summaryLine(file).c_str());
    }
    if (!ok) {
        return fail(error);
    }
    return 0;
}

// The command's options, filling args.
void addMakeOptions(CLI::App* command, const std::shared_ptr<MakeArguments>& args) {
    command->add_option("scene", args->scene,
                        "\"demo\", a mesh file or a point cloud (PLY of vertices without faces)");
    command
        ->add_option("-o,--output", args->output, "output file (with --kind) or folder (without)")
        ->required();
    command->add_option("--kind", args->kind, kindHelp());
    command
        ->add_option("--size", args->size,
                     "grid side N (N x N pixels; from pictures: their larger side, at most 1024)")
        ->capture_default_str()
        ->transform(wholeNumber(INT32_MIN, INT32_MAX));
    command->add_option("--layers", args->layers, "most layers per pixel (1..255)")
        ->capture_default_str()
        ->transform(wholeNumber(INT32_MIN, INT32_MAX));
    addThreadsOption(*command, args->threads);
    addShadingOptions(*command, args->shading);
    command
        ->add_option("--levels", args->levels,
                     "levels of a pyramid (1.., halving the side down to 8 at least)")
        ->capture_default_str()
        ->transform(wholeNumber(INT32_MIN, INT32_MAX));
    command
        ->add_option("--members", args->members,
                     "directions of a set (1.." + std::to_string(maker::kMaxSetMembers) + ")")
        ->capture_default_str()
        ->transform(wholeNumber(INT32_MIN, INT32_MAX));
    addCameraOptions(*command, args->camera);
    addDepthMakeOptions(*command, args->depth);
    addAllowOutsidePathsFlag(*command);
}

}  // namespace

void addMakeCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<MakeArguments>();
    auto* command = app.add_subcommand(
        "make",
        "ray-cast the demo scene or a mesh file (OBJ, PLY, glTF, STL, ...) into LDIs, or carry a "
        "photograph with depth, several of them or a point cloud into them");
    addMakeOptions(command, args);
    command->callback([args, command, &status] {
        args->levelsGiven = command->count("--levels") > 0;
        args->sizeGiven = command->count("--size") > 0;
        status = runMake(*args);
    });
}

bool loadScene(const std::string& name, LoadedScene& loaded, std::string& error) {
    const std::int64_t start = platform::steadyNanoseconds();
    loaded.name = name;
    if (!maker::loadNamedScene(name, loaded.scene, error)) {
        return false;
    }
    loaded.caster = maker::RayCaster::create(loaded.scene, error);
    if (!loaded.caster) {
        error = name + ": " + error;
        return false;
    }
    loaded.loadSeconds =
        static_cast<double>(platform::steadyNanoseconds() - start) / platform::kCounterFrequency;
    return true;
}

MakeJob::MakeJob() : args_(std::make_unique<MakeArguments>()) {}
MakeJob::MakeJob(const MakeArguments& args) : args_(std::make_unique<MakeArguments>(args)) {}
MakeJob::~MakeJob() = default;
MakeJob::MakeJob(MakeJob&&) noexcept = default;
MakeJob& MakeJob::operator=(MakeJob&&) noexcept = default;

bool MakeJob::parse(const std::vector<std::string>& arguments, std::string& error) {
    const auto args = parseCommand(&addMakeOptions, arguments, error,
                                   [](const CLI::App& command, MakeArguments& parsed) {
                                       parsed.levelsGiven = command.count("--levels") > 0;
                                       parsed.sizeGiven = command.count("--size") > 0;
                                   });
    if (!args) {
        return false;
    }
    *args_ = *args;
    return check(error) == 0;
}

std::vector<std::string> MakeJob::flagNames() {
    return commandFlagNames(&addMakeOptions);
}

int MakeJob::check(std::string& error) {
    if (readsDepthData(args_->depth, args_->scene)) {
        error = "photographs with depth and point clouds are made with strata make; here, scenes";
        return 2;
    }
    return checkMakeArgs(*args_, kind_, error);
}

const std::string& MakeJob::sceneName() const {
    return args_->scene;
}

const std::string& MakeJob::output() const {
    return args_->output;
}

bool MakeJob::kindGiven() const {
    return !args_->kind.empty();
}

std::string MakeJob::kindOutput() const {
    return kindOutputPath(*args_, kind_, stemOfScene(args_->scene));
}

void MakeJob::sizes(maker::MakeRequest& request) const {
    requestSizes(*args_, kind_, request);
}

bool MakeJob::request(const maker::Scene& scene, maker::MakeRequest& request,
                      std::string& error) const {
    return makeRequestFor(*args_, kind_, scene, request, error);
}

bool MakeJob::make(const maker::RayCaster& caster, const maker::MakeRequest& request,
                   std::vector<maker::MadeFile>& made, std::string& error) const {
    return makeFiles(*args_, maker::RayCastSource(caster), request, stemOfScene(args_->scene), made,
                     error);
}

}  // namespace strata::tools
