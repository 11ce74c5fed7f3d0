// Shared helpers of the maker tests: small scenes with known answers and a scratch folder.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "command_run.h"
#include "maker/demo_scene.h"
#include "maker/pinhole_camera.h"
#include "maker/scene.h"

namespace strata::maker::testing {

// Two parallel squares facing +z: x, y in [-1, 1] at z = 0 (grey) and z = -1 (red).
inline Scene twoParallelQuads() {
    Scene scene;
    scene.materials.push_back(Material{{0.5f, 0.5f, 0.5f}, Pattern::solid, {}, 1.0f});
    scene.materials.push_back(Material{{1.0f, 0.0f, 0.0f}, Pattern::solid, {}, 1.0f});
    TriangleMesh front = makeQuad({-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0});
    front.material = 0;
    TriangleMesh back = makeQuad({-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1});
    back.material = 1;
    scene.meshes.push_back(front);
    scene.meshes.push_back(back);
    return scene;
}

// Looking down -z from (0, 0, 3) with a 20-degree view: every pixel sees both squares.
inline PinholeCamera quadsCamera() {
    PinholeCamera camera;
    camera.pos = {0.0f, 0.0f, 3.0f};
    camera.dir = {0.0f, 0.0f, -1.0f};
    camera.up = {0.0f, 1.0f, 0.0f};
    camera.fov = 20.0f * 3.14159265f / 180.0f;
    return camera;
}

// A fresh empty folder for one test (per process, so parallel runs never share one), removed
// with everything in it when the object goes.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& name)
        : path((std::filesystem::temp_directory_path() /
                ("strata_maker_test_" + name + "_" + std::to_string(::getpid())))
                   .string()) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string path;
};

#ifdef STRATA_EXE
// Runs the command line with arguments; returns the exit status and the standard output (with
// the error stream after it when `withErrors`).
inline int run(const std::string& arguments, std::string* output = nullptr,
               bool withErrors = false) {
    const strata::testing::CommandRun result = strata::testing::runCommand(
        std::string(STRATA_EXE) + " " + arguments + (withErrors ? " 2>&1" : " 2>/dev/null"));
    if (output != nullptr) {
        *output = result.out;
    }
    return result.status;
}
#endif

}  // namespace strata::maker::testing
