// Novel views of the demo scene against ray-traced truth. The pixels that matter are the ones a
// camera move uncovers: surfaces the new camera sees that are hidden from the reference camera
// but inside its view, found by casting from the reference eye toward each truth hit. There a
// layered LDI holds the hidden surface and a one-layer LDI cannot.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/ldi_factory.h"
#include "maker/demo_scene.h"
#include "maker/ldi_maker.h"
#include "maker/pinhole_camera.h"
#include "maker/ray_caster.h"
#include "maker/trace_image.h"
#include "render/output_view.h"

namespace strata {
namespace {

using geometry::Vector3;

constexpr std::int32_t kGrid = 256;
constexpr std::int32_t kFrame = 256;

// v turned by angle (radians) about the unit axis (Rodrigues).
Vector3 rotated(const Vector3& v, const Vector3& axis, float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return v * c + geometry::cross(axis, v) * s + axis * (geometry::dot(axis, v) * (1.0f - c));
}

struct Picture {
    std::vector<std::uint32_t> colour;
    std::vector<bool> uncovered;  // hidden from the reference camera, inside its view
    int uncoveredCount = 0;
};

double maskedPsnr(const imageutil::RgbImage& image, const Picture& truth) {
    double total = 0.0;
    int count = 0;
    for (std::size_t i = 0; i < truth.colour.size(); ++i) {
        if (!truth.uncovered[i]) {
            continue;
        }
        const std::uint32_t a = image.pixels[i];
        const std::uint32_t b = truth.colour[i];
        for (int shift : {16, 8, 0}) {
            const int d =
                static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
            total += d * d;
        }
        count += 3;
    }
    if (count == 0) {
        return 0.0;
    }
    return total == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / (total / count));
}

class NovelViewQuality : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scene_ = std::make_unique<maker::Scene>(maker::buildDemoScene());
        std::string error;
        caster_ = maker::RayCaster::create(*scene_, error);
        ASSERT_NE(caster_, nullptr) << error;
        reference_ = maker::defaultCamera(scene_->bounds(), 0.7853982f, scene_->defaultElevation);
        ASSERT_TRUE(maker::normalizeCamera(reference_, error)) << error;

        char pattern[] = "/tmp/strata-quality-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        for (int layers : {8, 1}) {
            maker::MakeRequest request;
            request.kind = maker::MakerKind::rtQp;
            request.camera = reference_;
            request.size = kGrid;
            request.layers = layers;
            std::vector<maker::MadeFile> made;
            const std::string path = folder_ + "/demo_" + std::to_string(layers) + ".ldibrtqp";
            ASSERT_TRUE(maker::makeLdi(*caster_, request, path, made, error)) << error;
            auto ldi = ldi::LoadLdi(path, &error);
            ASSERT_NE(ldi, nullptr) << error;
            (layers == 8 ? layered_ : single_) = std::move(ldi);
        }
    }

    static void TearDownTestSuite() {
        layered_.reset();
        single_.reset();
        caster_.reset();
        scene_.reset();
        std::filesystem::remove_all(folder_);
    }

    // The reference camera turned by yaw degrees about its up axis through the scene centre.
    static maker::PinholeCamera turned(float yawDegrees) {
        maker::PinholeCamera camera = reference_;
        const Vector3 pivot = scene_->bounds().centre();
        const float yaw = yawDegrees * 3.14159265f / 180.0f;
        camera.pos = pivot + rotated(camera.pos - pivot, camera.up, yaw);
        camera.dir = rotated(camera.dir, camera.up, yaw);
        return camera;
    }

    static bool insideReferenceView(const Vector3& p) {
        const Vector3 v = p - reference_.pos;
        const float depth = geometry::dot(v, reference_.dir);
        const float t = std::tan(reference_.fov * 0.5f) * depth;
        return depth > 0.0f && std::fabs(geometry::dot(v, reference_.side())) < t &&
               std::fabs(geometry::dot(v, reference_.up)) < t;
    }

    static Picture truthFrom(const maker::PinholeCamera& camera) {
        Picture truth;
        std::string error;
        maker::TraceOptions options;
        options.width = kFrame;
        options.height = kFrame;
        EXPECT_TRUE(maker::traceImage(*caster_, camera, options, truth.colour, error)) << error;
        truth.uncovered.assign(truth.colour.size(), false);
        const float t = std::tan(camera.fov * 0.5f);
        for (int y = 0; y < kFrame; ++y) {
            for (int x = 0; x < kFrame; ++x) {
                const float sx = (2.0f * (static_cast<float>(x) + 0.5f) / kFrame - 1.0f) * t;
                const float sy = (2.0f * (static_cast<float>(y) + 0.5f) / kFrame - 1.0f) * t;
                const Vector3 ray = camera.dir + camera.side() * sx + camera.up * sy;
                maker::SurfaceHit hit;
                if (!caster_->nearest(camera.pos, ray, 0.0f, 1e30f, hit) ||
                    !insideReferenceView(hit.position)) {
                    continue;
                }
                // Hidden from the reference eye when something lies clearly in front of it.
                Vector3 toPoint = hit.position - reference_.pos;
                const float distance = toPoint.normalize();
                maker::SurfaceHit blocker;
                if (caster_->nearest(reference_.pos, toPoint, 0.0f, distance * 0.99f, blocker)) {
                    truth.uncovered[static_cast<std::size_t>(y * kFrame + x)] = true;
                    ++truth.uncoveredCount;
                }
            }
        }
        return truth;
    }

    static imageutil::RgbImage render(ldi::LdiBase& object, const maker::PinholeCamera& camera,
                                      const ldi::FrameSettings& settings) {
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(kFrame, kFrame);
        const render::OutputView view =
            render::makeOutputView(camera.pos, camera.dir, camera.up, camera.fov, kFrame, kFrame);
        ldi::DrawFrame(object, settings, view, frame);
        return frame;
    }

    static inline std::unique_ptr<maker::Scene> scene_;
    static inline std::unique_ptr<maker::RayCaster> caster_;
    static inline maker::PinholeCamera reference_;
    static inline std::string folder_;
    static inline std::unique_ptr<ldi::LdiBase> layered_;
    static inline std::unique_ptr<ldi::LdiBase> single_;
};

TEST_F(NovelViewQuality, LayeredLdiFillsUncoveredSurfaces) {
    ldi::FrameSettings noSplat;
    noSplat.useSplat = false;
    const ldi::FrameSettings viewerDefaults;
    for (float yaw : {5.0f, 10.0f, 20.0f}) {
        const maker::PinholeCamera camera = turned(yaw);
        const Picture truth = truthFrom(camera);
        ASSERT_GT(truth.uncoveredCount, 100) << "yaw " << yaw;
        const double layeredBare = maskedPsnr(render(*layered_, camera, noSplat), truth);
        const double singleBare = maskedPsnr(render(*single_, camera, noSplat), truth);
        const double layeredSplat = maskedPsnr(render(*layered_, camera, viewerDefaults), truth);
        const double singleSplat = maskedPsnr(render(*single_, camera, viewerDefaults), truth);
        std::printf(
            "yaw %4.1f: %5d uncovered pixels; PSNR there, 8 layers / 1 layer: "
            "single pixels %.2f / %.2f dB, viewer splats %.2f / %.2f dB\n",
            yaw, truth.uncoveredCount, layeredBare, singleBare, layeredSplat, singleSplat);
        EXPECT_GT(layeredBare, singleBare + 4.0) << "yaw " << yaw;
        EXPECT_GT(layeredSplat, singleSplat + 2.5) << "yaw " << yaw;
    }
}

}  // namespace
}  // namespace strata
