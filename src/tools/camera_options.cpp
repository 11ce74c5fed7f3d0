#include "tools/camera_options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/number_parse.h"
#include "tools/checked_options.h"

namespace strata::tools {

void addCameraOptions(CLI::App& command, CameraOptions& options) {
    command.add_option("--pos", options.pos, "camera position x,y,z");
    command.add_option("--dir", options.dir, "viewing direction x,y,z");
    command.add_option("--up", options.up, "up direction x,y,z");
    command.add_option(
        "--fov", options.fovDegrees,
        "field of view in degrees (both axes of an LDI, the smaller side of a picture)");
    command.add_option("--near", options.near, "near distance (default: fitted to the scene)");
    command.add_option("--far", options.far, "far distance (default: fitted to the scene)");
}

bool parseFloat(const std::string& text, float& value) {
    return platform::parseFiniteFloat(text, value);
}

bool parseVector3(const std::string& text, geometry::Vector3& v) {
    float parts[3];
    std::size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',', from);
        if ((i < 2) != (comma != std::string::npos)) {
            return false;
        }
        const std::string piece = text.substr(from, i < 2 ? comma - from : std::string::npos);
        if (!parseFloat(piece, parts[i])) {
            return false;
        }
        from = comma + 1;
    }
    v = {parts[0], parts[1], parts[2]};
    return true;
}

float requestedFov(const CameraOptions& options) {
    float degrees = maker::kDefaultFovDegrees;
    if (!options.fovDegrees.empty() && parseFloat(options.fovDegrees, degrees)) {
        return degrees * 3.14159265f / 180.0f;
    }
    return maker::kDefaultFovDegrees * 3.14159265f / 180.0f;
}

bool applyCameraOptions(const CameraOptions& options, maker::PinholeCamera& camera,
                        std::string& error) {
    const auto vector = [&](const std::string& text, const char* flag, geometry::Vector3& v) {
        if (!text.empty() && !parseVector3(text, v)) {
            error = std::string(flag) + " wants three numbers x,y,z, not \"" + text + "\"";
            return false;
        }
        return true;
    };
    const auto number = [&](const std::string& text, const char* flag, float& value) {
        if (!text.empty() && !parseFloat(text, value)) {
            error = std::string(flag) + " wants a number, not \"" + text + "\"";
            return false;
        }
        return true;
    };
    float fovDegrees = camera.fov * 180.0f / 3.14159265f;
    if (!vector(options.pos, "--pos", camera.pos) || !vector(options.dir, "--dir", camera.dir) ||
        !vector(options.up, "--up", camera.up) ||
        !number(options.fovDegrees, "--fov", fovDegrees) ||
        !number(options.near, "--near", camera.near) || !number(options.far, "--far", camera.far)) {
        return false;
    }
    if (!options.fovDegrees.empty()) {
        camera.fov = fovDegrees * 3.14159265f / 180.0f;
    }
    if ((!options.near.empty() && !(camera.near > 0.0f)) ||
        (!options.far.empty() && !(camera.far > 0.0f))) {
        error = "--near and --far want positive distances";
        return false;
    }
    return maker::normalizeCamera(camera, error);
}

void addShadingOptions(CLI::App& command, ShadingFlags& flags) {
    std::string names;
    for (const maker::ShadingModeName& entry : maker::shadingModeNames()) {
        names += names.empty() ? "" : "|";
        names += entry.name;
    }
    command.add_option("--shading", flags.shading,
                       names + " (default: lambert for demo, unlit for meshes)");
    command.add_option("--light", flags.light, "direction toward the light x,y,z (lambert)");
    command.add_option("--ambient", flags.ambient, "ambient share 0..1 (lambert, default 0.3)")
        ->check(CLI::Validator(
            [](std::string& text) {
                float value = 0.0f;
                return parseFloat(text, value) && value >= 0.0f && value <= 1.0f
                           ? std::string()
                           : "wants an ambient share in 0..1, not \"" + text + "\"";
            },
            "0..1"));
}

void addThreadsOption(CLI::App& command, int& threads) {
    command
        .add_option(
            "--threads", threads,
            "ray-casting threads 0.." + std::to_string(kMaxThreads) + " (default 0: all cores)")
        ->transform(wholeNumber(INT32_MIN, INT32_MAX))
        ->check(CLI::Range(0, kMaxThreads));
}

int threadCount(int threads) {
    return threads > 0 ? threads
                       : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

bool applyShadingOptions(const ShadingFlags& flags, const maker::Scene& scene,
                         maker::ShadingOptions& shading, std::string& error) {
    shading.mode = scene.litByDefault ? maker::ShadingMode::lambert : maker::ShadingMode::unlit;
    if (!flags.shading.empty()) {
        const auto mode = maker::shadingModeFromName(flags.shading);
        if (!mode) {
            error = "unknown shading \"" + flags.shading + "\"";
            return false;
        }
        shading.mode = *mode;
    }
    if (!flags.light.empty() &&
        (!parseVector3(flags.light, shading.light) || !(shading.light.squaredLength() > 0.0f))) {
        error = "--light wants a non-zero direction x,y,z";
        return false;
    }
    if (flags.ambient >= 0.0f) {
        shading.ambient = std::min(flags.ambient, 1.0f);
    }
    return true;
}

bool sceneCamera(const CameraOptions& options, const maker::Scene& scene,
                 maker::PinholeCamera& camera, std::string& error) {
    const maker::Bounds bounds = scene.bounds();
    camera = maker::defaultCamera(bounds, requestedFov(options), scene.defaultElevation);
    if (!aimCamera(options, bounds.centre(), camera, error)) {
        return false;
    }
    error =
        maker::cameraReachProblem(camera, bounds.centre(), bounds.empty() ? 0.0f : bounds.radius());
    return error.empty();
}

bool aimCamera(const CameraOptions& options, const geometry::Vector3& centre,
               maker::PinholeCamera& camera, std::string& error) {
    if (!options.pos.empty() && options.dir.empty()) {
        geometry::Vector3 pos;
        if (parseVector3(options.pos, pos)) {
            camera.dir = centre - pos;
            if (std::fabs(geometry::dot(geometry::normalized(camera.dir), camera.up)) > 0.999f) {
                camera.up = {0.0f, 0.0f, -1.0f};
            }
        }
    }
    return applyCameraOptions(options, camera, error);
}

TerminalProgress::TerminalProgress()
    : terminal_(isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

TerminalProgress::~TerminalProgress() {
    finish();
}

void TerminalProgress::update(const std::string& label, double fraction) {
    if (!terminal_ || std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) {
        return;
    }
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
    if (percent == lastPercent_ && label == lastLabel_) {
        return;
    }
    lastPercent_ = percent;
    lastLabel_ = label;
    constexpr int kBar = 30;
    const int filled = percent * kBar / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBar - filled), '.');
    std::string shown = label;
    if (shown.size() > 40) {
        shown = "..." + shown.substr(shown.size() - 37);
    }
    std::fprintf(stderr, "\r\033[K%s [%s] %3d%%", shown.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalProgress::finish() {
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
}

bool parseArguments(CLI::App& command, const std::vector<std::string>& arguments,
                    std::string& error) {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        command.parse(reversed);
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    return true;
}

std::vector<std::string> longFlagNames(const CLI::App& command, bool givenOnly) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options()) {
        if (givenOnly && option->count() == 0) {
            continue;
        }
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
    }
    return names;
}

bool parseThreads(const std::string& text, int& threads) {
    // Digits only: no sign.
    return !text.empty() && text.front() >= '0' && text.front() <= '9' &&
           platform::parseWholeNumber(text, 1, kMaxThreads, threads);
}

}  // namespace strata::tools
