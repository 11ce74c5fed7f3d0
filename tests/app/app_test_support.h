// Shared pieces of the viewer tests: a small demo set made once per test program, a view made
// ready for use, and camera comparisons.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_view.h"
#include "instrument/perf_counters.h"
#include "maker/demo_scene.h"
#include "maker/ldi_maker.h"
#include "maker/pinhole_camera.h"
#include "platform/debug_output.h"

namespace strata::app::testing {

// The demo scene made into one file of every kind (64 x 64, 4 layers), once per process.
class DemoSet {
  public:
    static const DemoSet& get() {
        static const DemoSet set;
        return set;
    }
    std::string file(const std::string& extension) const {
        return (std::filesystem::path(folder) / ("demo." + extension)).string();
    }
    ~DemoSet() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // The same scene turned so that its up is +z (x stays, y goes to z), seen from its default
    // camera turned likewise, as one QP file: a file whose reference up is +z.
    std::string zUpFile() const {
        return (std::filesystem::path(folder) / "zup.ldibrtqp").string();
    }

    std::string folder;
    bool ok = false;

  private:
    DemoSet() {
        folder = (std::filesystem::temp_directory_path() /
                  ("strata_app_test_" + std::to_string(::getpid())))
                     .string();
        std::filesystem::remove_all(folder);
        const maker::Scene scene = maker::buildDemoScene();
        maker::MakeRequest request;
        request.size = 64;
        request.layers = 4;
        request.threads = 2;
        request.pyramidLevels = 2;
        request.setMembers = 2;
        request.camera = maker::defaultCamera(scene.bounds(), 0.7853982f);
        request.shading.mode =
            scene.litByDefault ? maker::ShadingMode::lambert : maker::ShadingMode::unlit;
        std::string error;
        std::unique_ptr<maker::RayCaster> caster = maker::RayCaster::create(scene, error);
        std::vector<maker::MadeFile> made;
        ok = caster && maker::makeAllKinds(*caster, request, folder, "demo", made, error);
        EXPECT_TRUE(ok) << error;
        ok = ok && makeZUp(scene, request, error);
        EXPECT_TRUE(ok) << error;
    }

    // (x, y, z) -> (x, -z, y): +y becomes +z.
    static geometry::Vector3 yToZ(const geometry::Vector3& v) { return {v.x, -v.z, v.y}; }

    bool makeZUp(maker::Scene scene, maker::MakeRequest request, std::string& error) const {
        for (maker::TriangleMesh& mesh : scene.meshes) {
            for (geometry::Vector3& p : mesh.positions) {
                p = yToZ(p);
            }
            for (geometry::Vector3& n : mesh.normals) {
                n = yToZ(n);
            }
        }
        request.camera.pos = yToZ(request.camera.pos);
        request.camera.dir = yToZ(request.camera.dir);
        request.camera.up = yToZ(request.camera.up);
        request.kind = maker::MakerKind::rtQp;
        std::unique_ptr<maker::RayCaster> caster = maker::RayCaster::create(scene, error);
        std::vector<maker::MadeFile> made;
        return caster && maker::makeLdi(*caster, request, zUpFile(), made, error);
    }
};

// A view after its initial update, drawing with fake counters.
struct TestView {
    instrument::FakeCounterBackend* fake = nullptr;
    std::unique_ptr<instrument::PerfCounters> perf;
    AppView view;
    std::vector<std::string> statusLines;
    std::vector<std::string> titles;
    int blits = 0;

    explicit TestView(std::int32_t width = 350, std::int32_t height = 350) {
        auto backend = std::make_unique<instrument::FakeCounterBackend>();
        fake = backend.get();
        perf = std::make_unique<instrument::PerfCounters>(std::move(backend));
        view.counters = perf.get();
        view.onStatus = [this](const std::string& s) { statusLines.push_back(s); };
        view.onTitle = [this](const std::string& s) { titles.push_back(s); };
        view.onBlit = [this] { ++blits; };
        view.CreateFrameImages(width, height);
        view.OnInitialUpdate();
    }
};

// A view with one file of the demo set open; the readers' lines are kept off the output.
struct OpenedView : TestView {
    explicit OpenedView(const std::string& extension) {
        const platform::DebugCapture quiet;
        opened = DemoSet::get().ok && view.OpenFile(DemoSet::get().file(extension));
    }
    bool opened = false;
};

inline void expectNear(const geometry::Vector3& a, const geometry::Vector3& b, float tolerance,
                       const std::string& what) {
    EXPECT_NEAR(a.x, b.x, tolerance) << what;
    EXPECT_NEAR(a.y, b.y, tolerance) << what;
    EXPECT_NEAR(a.z, b.z, tolerance) << what;
}

}  // namespace strata::app::testing
