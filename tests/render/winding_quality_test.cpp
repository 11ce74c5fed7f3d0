// One scene, three windings: a closed box standing on an open floor and a sphere, with every
// triangle wound outward (the floor up), every triangle turned over, or each turned over at
// random. Read as a mesh file is read (oriented), the three make the same LDI and so the same
// high-quality pictures, from the reference camera and from moved ones, and the reference view
// equals the ray-traced one. Made elsewhere, without orientation, no surface is lost either: a
// front sample is drawn whatever its stored normal says.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imageutil/image_compare.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "maker/demo_scene.h"
#include "maker/layered_image.h"
#include "maker/ldi_encoding.h"
#include "maker/orientation.h"
#include "maker/pinhole_camera.h"
#include "maker/ray_caster.h"
#include "maker/trace_image.h"
#include "render/output_view.h"

namespace strata {
namespace {

using geometry::Vector3;

constexpr std::int32_t kGrid = 200;

enum class Winding { consistent, reversed, mixed };

const char* nameOf(Winding w) {
    return w == Winding::consistent ? "consistent" : w == Winding::reversed ? "reversed" : "mixed";
}

// Face normals only (no vertex normals), so the winding is the only orientation there is.
maker::Scene windingScene(Winding winding) {
    maker::Scene scene;
    scene.materials.push_back(
        {{0.85f, 0.8f, 0.6f}, maker::Pattern::checker, {0.25f, 0.3f, 0.45f}, 0.5f});
    scene.materials.push_back(
        {{0.8f, 0.2f, 0.15f}, maker::Pattern::stripes, {0.6f, 0.1f, 0.1f}, 0.25f});
    scene.materials.push_back(
        {{0.2f, 0.5f, 0.9f}, maker::Pattern::checker, {0.1f, 0.8f, 0.4f}, 0.3f});
    // The floor: 12 x 12 cells, each with its own corners.
    maker::TriangleMesh floor;
    constexpr int kCells = 12;
    for (int j = 0; j < kCells; ++j) {
        for (int i = 0; i < kCells; ++i) {
            const float x0 = -3.0f + 0.5f * static_cast<float>(i);
            const float z0 = -3.0f + 0.5f * static_cast<float>(j);
            const maker::TriangleMesh cell =
                maker::makeQuad({x0, 0.0f, z0 + 0.5f}, {x0 + 0.5f, 0.0f, z0 + 0.5f},
                                {x0 + 0.5f, 0.0f, z0}, {x0, 0.0f, z0});
            const auto base = static_cast<std::uint32_t>(floor.positions.size());
            floor.positions.insert(floor.positions.end(), cell.positions.begin(),
                                   cell.positions.end());
            for (const std::uint32_t index : cell.indices) {
                floor.indices.push_back(base + index);
            }
        }
    }
    floor.material = 0;
    maker::TriangleMesh box = maker::makeBox({-1.8f, 0.0f, -0.6f}, {-0.4f, 1.4f, 0.8f});
    box.material = 1;
    maker::TriangleMesh sphere = maker::makeSphere({1.2f, 0.9f, 0.2f}, 0.9f, 24, 16);
    sphere.material = 2;
    std::mt19937 random(7);
    for (maker::TriangleMesh* mesh : {&floor, &box, &sphere}) {
        mesh->normals.clear();
        for (std::size_t t = 0; t < mesh->triangleCount(); ++t) {
            const bool turn =
                winding == Winding::reversed || (winding == Winding::mixed && (random() & 1u) != 0);
            if (turn) {
                std::swap(mesh->indices[3 * t + 1], mesh->indices[3 * t + 2]);
            }
        }
        scene.meshes.push_back(std::move(*mesh));
    }
    return scene;
}

// The reference camera, above the floor and looking down at the objects.
maker::PinholeCamera referenceCamera() {
    maker::PinholeCamera c;
    c.pos = {0.5f, 3.2f, 6.5f};
    c.dir = {-0.1f, -0.45f, -1.0f};
    c.up = {0.0f, 1.0f, 0.0f};
    c.fov = 45.0f * 3.14159265f / 180.0f;
    std::string error;
    EXPECT_TRUE(maker::normalizeCamera(c, error)) << error;
    return c;
}

Vector3 rotated(const Vector3& v, const Vector3& axis, float degrees) {
    const float a = degrees * 3.14159265f / 180.0f;
    const float c = std::cos(a);
    const float s = std::sin(a);
    return v * c + geometry::cross(axis, v) * s + axis * (geometry::dot(axis, v) * (1.0f - c));
}

// The reference camera and three moved ones: turned 25 degrees about the scene's vertical
// axis, raised and looking down more, moved forward and turned.
std::vector<maker::PinholeCamera> cameras() {
    const maker::PinholeCamera r = referenceCamera();
    const Vector3 centre{0.0f, 0.6f, 0.0f};
    const Vector3 up{0.0f, 1.0f, 0.0f};
    maker::PinholeCamera turned = r;
    turned.pos = centre + rotated(r.pos - centre, up, 25.0f);
    turned.dir = rotated(r.dir, up, 25.0f);
    maker::PinholeCamera raised = r;
    raised.pos = r.pos + Vector3{0.0f, 1.5f, 0.0f};
    raised.dir = geometry::normalized(centre - raised.pos);
    maker::PinholeCamera forward = r;
    forward.pos = r.pos + r.dir * 2.0f;
    forward.dir = rotated(r.dir, up, -20.0f);
    std::vector<maker::PinholeCamera> all = {r, turned, raised, forward};
    for (maker::PinholeCamera& c : all) {
        std::string error;
        EXPECT_TRUE(maker::normalizeCamera(c, error)) << error;
    }
    return all;
}

struct Made {
    std::unique_ptr<maker::Scene> scene;
    std::unique_ptr<maker::RayCaster> caster;
    std::unique_ptr<ldi::LdiBase> ldi;
};

Made make(Winding winding, bool orient) {
    Made m;
    m.scene = std::make_unique<maker::Scene>(windingScene(winding));
    if (orient) {
        const maker::OrientationReport report = maker::orientScene(*m.scene);
        EXPECT_EQ(report.parts, 3u) << nameOf(winding);
        EXPECT_EQ(report.closedParts, 2u) << nameOf(winding);
    }
    std::string error;
    m.caster = maker::RayCaster::create(*m.scene, error);
    EXPECT_NE(m.caster, nullptr) << error;
    maker::SampleOptions options;
    options.width = kGrid;
    options.height = kGrid;
    options.shading.mode = maker::ShadingMode::unlit;  // as mesh files are made by default
    maker::LayeredImage image;
    EXPECT_TRUE(maker::sampleLayers(*m.caster, referenceCamera(), options, image, error)) << error;
    m.ldi = maker::encodeLdi(image, ldi::LdiType::RT, maker::PixelKind::qp, error);
    EXPECT_NE(m.ldi, nullptr) << error;
    return m;
}

imageutil::RgbImage draw(ldi::LdiBase& ldi, const maker::PinholeCamera& c) {
    ldi::FrameSettings settings;
    settings.highQualitySplats = true;
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(kGrid, kGrid);
    ldi::DrawFrame(ldi, settings, render::makeOutputView(c.pos, c.dir, c.up, c.fov, kGrid, kGrid),
                   frame);
    return frame;
}

imageutil::RgbImage trace(const maker::RayCaster& caster, const maker::PinholeCamera& c) {
    maker::TraceOptions options;
    options.width = kGrid;
    options.height = kGrid;
    options.shading.mode = maker::ShadingMode::unlit;
    std::vector<std::uint32_t> pixels;
    std::string error;
    EXPECT_TRUE(maker::traceImage(caster, c, options, pixels, error)) << error;
    imageutil::RgbImage image = imageutil::RgbImage::createOwned(kGrid, kGrid);
    std::copy(pixels.begin(), pixels.end(), image.pixels);
    return image;
}

TEST(WindingQuality, TheSameHighQualityPicturesWhateverTheWinding) {
    const std::vector<maker::PinholeCamera> views = cameras();
    std::vector<double> consistent;
    for (const Winding winding : {Winding::consistent, Winding::reversed, Winding::mixed}) {
        const Made m = make(winding, true);
        ASSERT_NE(m.ldi, nullptr);
        for (std::size_t v = 0; v < views.size(); ++v) {
            const double psnr = imageutil::psnr(draw(*m.ldi, views[v]), trace(*m.caster, views[v]));
            std::printf("%s, camera %zu: %.2f dB\n", nameOf(winding), v, psnr);
            if (winding == Winding::consistent) {
                consistent.push_back(psnr);
            } else {
                EXPECT_NEAR(psnr, consistent[v], 0.5) << nameOf(winding) << ", camera " << v;
            }
            if (v == 0) {
                // From its own camera the LDI shows what the camera saw; only the soft resolve's
                // edge rules touch a few pixels.
                EXPECT_GT(psnr, 40.0) << nameOf(winding);
            } else {
                // Sharp checkers and a floor reaching out of the reference view: about 21 dB.
                EXPECT_GT(psnr, 19.0) << nameOf(winding) << ", camera " << v;
            }
        }
    }
}

// Without orientation (a file whose normals follow mixed windings) the picture from the
// reference camera loses no surface: the floor, the box and the sphere are all there.
TEST(WindingQuality, UnorientedWindingsLoseNoSurfaceFromTheReferenceCamera) {
    const maker::PinholeCamera r = referenceCamera();
    for (const Winding winding : {Winding::reversed, Winding::mixed}) {
        const Made m = make(winding, false);
        ASSERT_NE(m.ldi, nullptr);
        const double psnr = imageutil::psnr(draw(*m.ldi, r), trace(*m.caster, r));
        std::printf("%s, not oriented, reference camera: %.2f dB\n", nameOf(winding), psnr);
        EXPECT_GT(psnr, 40.0) << nameOf(winding);
    }
}

}  // namespace
}  // namespace strata
