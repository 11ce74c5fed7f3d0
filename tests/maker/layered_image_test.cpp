#include "maker/layered_image.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>

#include "maker/demo_scene.h"
#include "maker/maker_kind.h"
#include "maker/ray_caster.h"
#include "maker_test_util.h"

namespace strata::maker {
namespace {

using testing::quadsCamera;
using testing::twoParallelQuads;

LayeredImage sampleScene(const Scene& scene, PinholeCamera camera, int size, bool coverage,
                         int threads = 2, int layers = 8) {
    std::string error;
    auto caster = RayCaster::create(scene, error);
    EXPECT_TRUE(caster) << error;
    EXPECT_TRUE(normalizeCamera(camera, error)) << error;
    SampleOptions options;
    options.width = options.height = size;
    options.coverage = coverage;
    options.threads = threads;
    options.maxLayers = layers;
    options.shading.mode = ShadingMode::unlit;
    LayeredImage image;
    EXPECT_TRUE(sampleLayers(*caster, camera, options, image, error)) << error;
    return image;
}

TEST(RayCaster, AllHitsFindsEverySurfaceNearestFirst) {
    const Scene scene = twoParallelQuads();
    std::string error;
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster) << error;
    std::vector<SurfaceHit> hits;
    caster->allHits({0.2f, 0.3f, 5.0f}, {0, 0, -1}, 0.0f, INFINITY, 1e-4f, 8, hits);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_NEAR(hits[0].t, 5.0f, 1e-5f);
    EXPECT_NEAR(hits[1].t, 6.0f, 1e-5f);
    EXPECT_EQ(hits[0].mesh, 0);
    EXPECT_EQ(hits[1].mesh, 1);
    // The layer limit keeps the nearest ones.
    hits.clear();
    caster->allHits({0.2f, 0.3f, 5.0f}, {0, 0, -1}, 0.0f, INFINITY, 1e-4f, 1, hits);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].mesh, 0);
}

TEST(RayCaster, RayThroughASharedEdgeCountsTheSurfaceOnce) {
    const Scene scene = twoParallelQuads();
    std::string error;
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster) << error;
    std::vector<SurfaceHit> hits;
    // (0.25, 0.25) lies on the diagonal shared by the two triangles of each square.
    caster->allHits({0.25f, 0.25f, 5.0f}, {0, 0, -1}, 0.0f, INFINITY, 1e-4f, 8, hits);
    EXPECT_EQ(hits.size(), 2u);
}

TEST(RayCaster, RefusesAMeshWithAnIndexOutOfRange) {
    Scene scene = twoParallelQuads();
    scene.meshes[0].indices[4] = 99;
    std::string error;
    EXPECT_FALSE(RayCaster::create(scene, error));
    EXPECT_NE(error.find("out of range"), std::string::npos);
}

TEST(LayeredImage, TwoParallelQuadsGiveTwoLayersFarthestFirst) {
    const LayeredImage image = sampleScene(twoParallelQuads(), quadsCamera(), 16, false);
    ASSERT_EQ(image.width, 16);
    EXPECT_EQ(image.stats.samples, 2 * 16 * 16);
    EXPECT_EQ(image.stats.minLayers, 2);
    EXPECT_EQ(image.stats.maxLayers, 2);
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < 16; ++column) {
            ASSERT_EQ(image.layerCount(row, column), 2);
            const LayerSample& far = image.sample(row, column, 0);
            const LayerSample& near = image.sample(row, column, 1);
            // Depth along the viewing direction, the same for every pixel of a facing plane.
            EXPECT_NEAR(far.depth, 4.0f, 1e-4f);
            EXPECT_NEAR(near.depth, 3.0f, 1e-4f);
            EXPECT_EQ(far.colour, 0xFF0000u);
            EXPECT_EQ(near.colour, 0x7F7F7Fu);
            EXPECT_NEAR(near.normal.z, 1.0f, 1e-6f);
        }
    }
    // Near and far fitted just around the two depths.
    EXPECT_LT(image.camera.near, 3.0f);
    EXPECT_GT(image.camera.near, 2.99f);
    EXPECT_GT(image.camera.far, 4.0f);
    EXPECT_LT(image.camera.far, 4.01f);
}

// The fitted range: a margin of 1e-3 of the depth span or 1e-4 of the far depth, whichever is
// larger, and near never below half the nearest depth. One configuration for each branch.
TEST(LayeredImage, FittedNearAndFarMargins) {
    struct Case {
        float eyeZ;  // the eye on the z axis, looking down -z at the squares at 0 and -1
        float near;  // expected
        float far;   // expected
    };
    const Case cases[] = {
        // Depths 3 and 4: the span's margin 1e-3 beats 4e-4.
        {3.0f, 3.0f - 1e-3f, 4.0f + 1e-3f},
        // Depths 30 and 31: 1e-4 of 31 (3.1e-3) beats 1e-3 of the span.
        {30.0f, 30.0f - 3.1e-3f, 31.0f + 3.1e-3f},
        // Depths 1e-3 and 1.001: near would fall below zero, so half the nearest depth.
        {1e-3f, 0.5e-3f, 1.001f + 1e-3f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.eyeZ);
        PinholeCamera camera = quadsCamera();
        camera.pos = {0.0f, 0.0f, c.eyeZ};
        camera.fov = c.eyeZ < 0.1f ? 0.01f : 0.001f;  // every ray meets both squares
        const LayeredImage image = sampleScene(twoParallelQuads(), camera, 4, false);
        ASSERT_EQ(image.stats.maxLayers, 2);
        EXPECT_NEAR(image.camera.near, c.near, 2e-6f * c.far);
        EXPECT_NEAR(image.camera.far, c.far, 2e-6f * c.far);
    }
}

TEST(LayeredImage, GivenNearAndFarClipTheLayers) {
    PinholeCamera camera = quadsCamera();
    camera.near = 3.5f;
    camera.far = 10.0f;
    const LayeredImage image = sampleScene(twoParallelQuads(), camera, 8, false);
    EXPECT_EQ(image.stats.maxLayers, 1);
    EXPECT_EQ(image.stats.hitsOutside, 64);  // the near square, in front of near
    EXPECT_NEAR(image.sample(3, 3, 0).depth, 4.0f, 1e-4f);
    EXPECT_EQ(image.camera.near, 3.5f);
    EXPECT_EQ(image.camera.far, 10.0f);
}

TEST(LayeredImage, CoverageOfSurfacesFillingThePixelIsFull) {
    const LayeredImage image = sampleScene(twoParallelQuads(), quadsCamera(), 8, true);
    for (const LayerSample& sample : image.samples) {
        EXPECT_EQ(sample.mask4, 0xFFFF);
        EXPECT_EQ(sample.mask2, 0xF);
    }
    EXPECT_EQ(image.sub4Colours.size(), 16 * image.samples.size());
    EXPECT_EQ(image.sub2Colours.size(), 4 * image.samples.size());
    // The far square's sub-cell colours are its own red, not the near square's grey.
    const LayerSample& far = image.sample(2, 5, 0);
    EXPECT_EQ(image.sub4Colours[far.sub4Start + 7], 0xFF0000u);
}

TEST(LayeredImage, SubCellColoursAreWhatTheSubRaysSee) {
    // The far square carries a fine checker: its 4x4 colours must follow the pattern at the
    // points where the sub-cell rays meet the plane z = -1, worked out here in closed form.
    Scene scene = twoParallelQuads();
    const Colour light{1.0f, 1.0f, 1.0f};
    const Colour dark{0.0f, 0.0f, 1.0f};
    scene.materials[1] = Material{light, Pattern::checker, dark, 0.05f};
    const LayeredImage image = sampleScene(scene, quadsCamera(), 8, true);
    const float t = std::tan(quadsCamera().fov / 2);
    int compared = 0;
    int mismatched = 0;
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            const LayerSample& far = image.sample(row, column, 0);
            ASSERT_EQ(far.mask4, 0xFFFF);
            for (int bit = 0; bit < 16; ++bit) {
                const float x = column + (bit % 4 + 0.5f) / 4;
                const float y = row + (bit / 4 + 0.5f) / 4;
                const float px = 4 * t * (2 * x / 8 - 1);  // the ray meets z = -1 at depth 4
                const float py = 4 * t * (2 * y / 8 - 1);
                const auto cell = [](float v) {
                    return static_cast<long>(std::floor(v / 0.05f + 1e-3f));
                };
                const bool odd = ((cell(px) + cell(py) + cell(-1.0f)) & 1) != 0;
                const std::uint32_t expected = odd ? 0x0000FFu : 0xFFFFFFu;
                ++compared;
                mismatched +=
                    image.sub4Colours[far.sub4Start + static_cast<std::size_t>(bit)] != expected;
            }
        }
    }
    EXPECT_EQ(compared, 1024);
    EXPECT_LE(mismatched, 4);  // points on a cell boundary may fall either way
}

TEST(LayeredImage, CoverageAtAnEdgeMarksOnlyTheCoveredSubCells) {
    // A square whose right edge x = 0 runs down the middle of a pixel column.
    Scene scene;
    scene.meshes.push_back(makeQuad({-1, -1, 0}, {0, -1, 0}, {0, 1, 0}, {-1, 1, 0}));
    PinholeCamera camera = quadsCamera();
    // 9 columns: the centre column 4 spans x in [-0.5, 0.5] pixel widths around x = 0.
    const LayeredImage image = sampleScene(scene, camera, 9, true);
    // Column 4's centre ray hits x = 0 exactly, on the edge: whichever way it falls, any sample
    // there covers the left half only.
    for (int row = 0; row < 9; ++row) {
        if (image.layerCount(row, 4) == 1) {
            const LayerSample& s = image.sample(row, 4, 0);
            EXPECT_EQ(s.mask4, 0x3333);  // sub-columns 0 and 1 of every sub-row
            EXPECT_EQ(s.mask2, 0x5);     // sub-column 0 of both sub-rows
        }
        EXPECT_EQ(image.layerCount(row, 3), 1);
        EXPECT_EQ(image.layerCount(row, 5), 0);
        EXPECT_EQ(image.sample(row, 3, 0).mask4, 0xFFFF);
    }
}

TEST(LayeredImage, ResultDoesNotDependOnTheThreadCount) {
    const Scene scene = buildDemoScene();
    const PinholeCamera camera = defaultCamera(scene.bounds(), 0.7853982f);
    const LayeredImage one = sampleScene(scene, camera, 48, true, 1);
    const LayeredImage two = sampleScene(scene, camera, 48, true, 2);
    ASSERT_EQ(one.samples.size(), two.samples.size());
    EXPECT_EQ(one.pixelStart, two.pixelStart);
    for (std::size_t i = 0; i < one.samples.size(); ++i) {
        EXPECT_EQ(one.samples[i].colour, two.samples[i].colour);
        EXPECT_EQ(one.samples[i].depth, two.samples[i].depth);
        EXPECT_EQ(one.samples[i].mask4, two.samples[i].mask4);
        EXPECT_EQ(one.samples[i].sub4Start, two.samples[i].sub4Start);
    }
    EXPECT_EQ(one.sub4Colours, two.sub4Colours);
    EXPECT_EQ(one.sub2Colours, two.sub2Colours);
    EXPECT_EQ(one.camera.near, two.camera.near);
    EXPECT_EQ(one.camera.far, two.camera.far);
}

TEST(LayeredImage, DemoHasHiddenSurfacesInDeeperLayers) {
    const Scene scene = buildDemoScene();
    const LayeredImage image =
        sampleScene(scene, defaultCamera(scene.bounds(), 0.7853982f), 64, false);
    EXPECT_GE(image.stats.maxLayers, 4);
    EXPECT_GT(image.stats.pixelsCovered, 64 * 64 / 4);
    // The violet sphere hides behind the red box: present in the samples, but never the
    // nearest layer of a pixel from the default camera.
    int violetMesh = 3;
    bool seenHidden = false;
    for (int row = 0; row < 64; ++row) {
        for (int column = 0; column < 64; ++column) {
            const int n = image.layerCount(row, column);
            for (int k = 0; k < n; ++k) {
                if (image.sample(row, column, k).mesh == violetMesh) {
                    seenHidden = true;
                    EXPECT_LT(k, n - 1);
                }
            }
        }
    }
    EXPECT_TRUE(seenHidden);
}

TEST(LayeredImage, RefusesLayerCountsOutOfRange) {
    const Scene scene = twoParallelQuads();
    std::string error;
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster);
    PinholeCamera camera = quadsCamera();
    ASSERT_TRUE(normalizeCamera(camera, error));
    SampleOptions options;
    options.maxLayers = 256;
    LayeredImage image;
    EXPECT_FALSE(sampleLayers(*caster, camera, options, image, error));
    options.maxLayers = 0;
    EXPECT_FALSE(sampleLayers(*caster, camera, options, image, error));
}

}  // namespace
}  // namespace strata::maker

namespace strata::maker {
namespace {

TEST(Shading, ModesFollowTheirFormulasAndIgnoreTheView) {
    const Colour c{0.8f, 0.4f, 0.2f};
    ShadingOptions options;
    options.light = {0.0f, 2.0f, 0.0f};  // not unit: normalised by the shader
    options.ambient = 0.25f;
    options.mode = ShadingMode::lambert;
    // n.l = cos 60 degrees: k = 0.25 + 0.75 * 0.5.
    const Colour lit = shade(c, {0.0f, 0.5f, 0.8660254f}, options);
    EXPECT_NEAR(lit.r, 0.8f * 0.625f, 1e-6f);
    EXPECT_NEAR(lit.b, 0.2f * 0.625f, 1e-6f);
    // Facing away from the light: ambient only.
    EXPECT_NEAR(shade(c, {0.0f, -1.0f, 0.0f}, options).g, 0.4f * 0.25f, 1e-6f);
    options.mode = ShadingMode::normal;
    const Colour n = shade(c, {-1.0f, 0.0f, 1.0f}, options);
    EXPECT_EQ(n, (Colour{0.0f, 0.5f, 1.0f}));
    options.mode = ShadingMode::unlit;
    EXPECT_EQ(shade(c, {0.0f, 0.0f, 1.0f}, options), c);
    EXPECT_EQ(packPixel({1.0f, 0.5f, 0.0f}), 0xFF7F00u);
    for (const ShadingModeName& entry : shadingModeNames()) {
        EXPECT_EQ(shadingModeFromName(entry.name), entry.mode);
        EXPECT_EQ(shadingModeName(entry.mode), entry.name);
    }
    EXPECT_FALSE(shadingModeFromName("Lambert"));
}

TEST(MakerKind, NameTableRoundTripsAndClassifiesKinds) {
    EXPECT_EQ(makerKinds().size(), 10u);
    for (const MakerKindInfo& info : makerKinds()) {
        EXPECT_EQ(makerKindFromName(info.name), info.kind);
        EXPECT_EQ(makerKindInfo(info.kind).name, info.name);
    }
    EXPECT_FALSE(makerKindFromName("RT-QP"));
    EXPECT_EQ(pixelKindOf(MakerKind::rtffCp), PixelKind::cp);
    EXPECT_EQ(pixelKindOf(MakerKind::rtMrqp), PixelKind::mrqp);
    EXPECT_EQ(pixelKindOf(MakerKind::quad), PixelKind::qp);
    EXPECT_TRUE(isBlockLayout(MakerKind::rtffMrqp));
    EXPECT_FALSE(isBlockLayout(MakerKind::rtQp));
    EXPECT_FALSE(isSingleFileKind(MakerKind::pyramid));
    EXPECT_FALSE(isSingleFileKind(MakerKind::voxel));
}

TEST(PinholeCamera, DefaultFramesTheBoundingSphereAndRaysFollowThePixelGrid) {
    Bounds bounds;
    bounds.add({-1.0f, 0.0f, -2.0f});
    bounds.add({1.0f, 2.0f, 0.0f});  // centre (0, 1, -1), radius sqrt(3)
    const PinholeCamera camera = defaultCamera(bounds, 1.0471976f);  // 60 degrees
    EXPECT_NEAR(camera.pos.y, 1.0f, 1e-6f);
    EXPECT_NEAR(camera.pos.z, -1.0f + std::sqrt(3.0f) / 0.5f, 1e-5f);
    EXPECT_EQ(camera.dir, (geometry::Vector3{0.0f, 0.0f, -1.0f}));
    // Pixel (row 0, column 3) of a 4 x 2 grid: x = 3.5 of 4, y = 0.5 of 2.
    const geometry::ImagePlaneFrame frame = rayFrame(camera, 4, 2);
    const float t = std::tan(camera.fov / 2);
    const geometry::Vector3 ray = frame.pixelRay(0.0f, 3.0f);
    EXPECT_NEAR(ray.x, 0.75f * t, 1e-6f);
    EXPECT_NEAR(ray.y, -0.5f * t, 1e-6f);
    EXPECT_NEAR(ray.z, -1.0f, 1e-6f);
    const geometry::Vector3 sub = rayThrough(frame, 3.5f, 0.5f);
    EXPECT_NEAR(sub.x, ray.x, 1e-6f);
    EXPECT_NEAR(sub.y, ray.y, 1e-6f);
}

TEST(PinholeCamera, NormalisingMakesAnOrthonormalFrameOrRefuses) {
    PinholeCamera camera;
    camera.dir = {0.0f, 0.0f, -2.0f};
    camera.up = {0.0f, 1.0f, 1.0f};
    std::string error;
    ASSERT_TRUE(normalizeCamera(camera, error)) << error;
    EXPECT_NEAR(camera.dir.length(), 1.0f, 1e-6f);
    EXPECT_NEAR(camera.up.length(), 1.0f, 1e-6f);
    EXPECT_NEAR(geometry::dot(camera.dir, camera.up), 0.0f, 1e-6f);
    EXPECT_GT(camera.up.y, 0.9f);
    camera.up = {0.0f, 0.0f, 3.0f};
    EXPECT_FALSE(normalizeCamera(camera, error));
    camera.up = {0.0f, 1.0f, 0.0f};
    camera.fov = 0.0f;
    EXPECT_FALSE(normalizeCamera(camera, error));
    camera.fov = 1.0f;
    camera.near = 5.0f;
    camera.far = 2.0f;
    EXPECT_FALSE(normalizeCamera(camera, error));
}

}  // namespace
}  // namespace strata::maker
