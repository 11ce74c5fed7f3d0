// The maker's pyramids and voxel files as the viewer uses them: the level the viewer's distance
// rule picks at each written distance draws about one output pixel per sample, and a voxel file
// drawn from its reference view shows the scene where the ray tracer sees it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/ldi_pyramid.h"
#include "ldi/voxel_model.h"
#include "maker/demo_scene.h"
#include "maker/ldi_maker.h"
#include "maker/trace_image.h"
#include "maker/voxel_encoding.h"
#include "maker_test_util.h"
#include "platform/debug_output.h"
#include "platform/fp_mode.h"
#include "render/output_view.h"

namespace strata::maker {
namespace {

using testing::ScratchFolder;

MakeRequest requestFor(const Scene& scene, MakerKind kind, std::int32_t size) {
    MakeRequest request;
    request.kind = kind;
    request.size = size;
    request.threads = 2;
    request.camera = defaultCamera(scene.bounds(), 0.7853982f, scene.defaultElevation);
    return request;
}

TEST(ViewerKinds, EachPyramidLevelIsChosenWhereItDrawsOnePixelPerSample) {
    const Scene scene = buildDemoScene();
    const ScratchFolder scratch("pyramid_rule");
    MakeRequest request = requestFor(scene, MakerKind::pyramid, 128);
    request.pyramidLevels = 3;
    std::string error;
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster);
    std::vector<MadeFile> made;
    const std::string path = scratch.path + "/p.ldipyr";
    ASSERT_TRUE(makeLdi(*caster, request, path, made, error)) << error;
    ldi::LdiPyramid pyramid;
    ASSERT_EQ(pyramid.OpenPyramid(path), 1) << pyramid.openError();
    ASSERT_EQ(pyramid.levelCount, 3);
    const float lookAtDepth = ldi::LookAtDepth(pyramid);
    for (std::int32_t i = 1; i < 3; ++i) {
        EXPECT_GT(pyramid.levelDistance[i], pyramid.levelDistance[i - 1]);
    }
    for (std::int32_t i = 0; i < 3; ++i) {
        const std::int32_t side = 128 >> i;
        const geometry::Vector3 eye = pyramidLevelEye(request.camera, scene.bounds(), side);
        // The viewer's rule picks level i from there.
        ASSERT_NE(ldi::ChooseLevel(pyramid, eye, lookAtDepth), nullptr);
        EXPECT_EQ(pyramid.currentLevel, i);
        EXPECT_NEAR(ldi::LookAtDistance(eye, lookAtDepth), pyramid.levelDistance[i],
                    1e-3f * pyramid.levelDistance[i]);
        // Two neighbouring samples of that level at the scene centre's depth, carried through
        // the level's own reference transform, land one output pixel apart in the viewer's
        // default frame at that eye.
        const ldi::LdiBase& level = *pyramid.CurrentLdi();
        ASSERT_EQ(level.width(), side);
        const geometry::Matrix4 ldiFromWorld = level.header.view.fullTransform();
        const geometry::Matrix4 worldFromLdi = geometry::inverse(ldiFromWorld);
        const geometry::Vector4 c =
            geometry::transform(ldiFromWorld, geometry::point(scene.bounds().centre()));
        const geometry::Vector4 a{c.x / c.w, c.y / c.w, c.z / c.w, 1.0f};
        const geometry::Vector4 b{a.x + 1.0f, a.y, a.z, 1.0f};
        const render::OutputView view =
            render::makeOutputView(eye, request.camera.dir, request.camera.up, render::kDefaultFov,
                                   kViewerFrameSide, kViewerFrameSide);
        const auto project = [&](const geometry::Vector4& ldiPoint) {
            const geometry::Vector4 w = geometry::transform(worldFromLdi, ldiPoint);
            return geometry::transform(view.warpMatrix, w);
        };
        const geometry::Vector4 pa = project(a);
        const geometry::Vector4 pb = project(b);
        const float dx = pb.x / pb.w - pa.x / pa.w;
        const float dy = pb.y / pb.w - pa.y / pa.w;
        EXPECT_NEAR(std::sqrt(dx * dx + dy * dy), 1.0f, 0.02f) << "level " << i;
    }
}

TEST(ViewerKinds, VoxelFileDrawnFromItsReferenceViewMatchesTheRayTracer) {
    const Scene scene = buildDemoScene();
    const ScratchFolder scratch("voxel_view");
    const MakeRequest request = requestFor(scene, MakerKind::voxel, 200);
    std::string error;
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster);
    std::vector<MadeFile> made;
    const std::string path = scratch.path + "/d.vox";
    ASSERT_TRUE(makeLdi(*caster, request, path, made, error)) << error;
    ldi::VoxelModel model;
    {
        const platform::DebugCapture quiet;
        ASSERT_EQ(model.Open(path), 1) << model.loadError();
    }
    EXPECT_EQ(model.current().width, 401);

    // The viewer's start for a voxel model: the reference eye, 45 degrees, 350 x 350; the
    // same view in the world is the maker's camera.
    const std::int32_t n = kViewerFrameSide;
    const render::OutputView view =
        render::makeOutputView({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, render::kDefaultFov, n, n);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
    frame.fill(kViewerBackground);
    {
        const platform::FpModeGuard modes(true, true);
        model.DrawVoxels(view.warpMatrix, view.viewMatrix, view.camera, frame, true);
    }
    TraceOptions options;
    options.width = n;
    options.height = n;
    std::vector<std::uint32_t> truth;
    PinholeCamera camera = request.camera;
    camera.fov = render::kDefaultFov;
    ASSERT_TRUE(traceImage(*caster, camera, options, truth, error)) << error;
    // Coverage: a pixel is the scene's when it is not the background. Where the two pictures
    // disagree on coverage is only along silhouettes (splat edges), and colours agree inside.
    int coverageDiffers = 0;
    int covered = 0;
    int colourClose = 0;
    for (std::int32_t i = 0; i < n * n; ++i) {
        const bool drawnHere = frame.pixels[i] != kViewerBackground;
        const bool tracedHere = truth[static_cast<std::size_t>(i)] != kViewerBackground;
        coverageDiffers += drawnHere != tracedHere ? 1 : 0;
        if (drawnHere && tracedHere) {
            ++covered;
            int worst = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const int d =
                    static_cast<int>((frame.pixels[i] >> shift) & 0xFF) -
                    static_cast<int>((truth[static_cast<std::size_t>(i)] >> shift) & 0xFF);
                worst = std::max(worst, std::abs(d));
            }
            colourClose += worst <= 48 ? 1 : 0;
        }
    }
    EXPECT_GT(covered, n * n / 4);
    EXPECT_LT(coverageDiffers, n * n / 50) << "pixels whose coverage differs";
    EXPECT_GT(colourClose, covered * 85 / 100) << "of " << covered;

    // The mapping the file comment states: the voxel frame's origin is the camera, -z its
    // direction, lengths in units of mapping.unit.
    const VoxelMapping mapping = voxelMappingFor(request.camera, scene.bounds());
    const geometry::Vector3 centre = voxelFromWorld(mapping, scene.bounds().centre());
    EXPECT_NEAR(centre.x, 0.0f, 1e-4f);
    EXPECT_NEAR(centre.y, 0.0f, 1e-4f);
    EXPECT_LT(centre.z, 0.0f);
    EXPECT_NEAR(-centre.z, 1.0f, 1e-4f);  // the default camera is far enough for that
    const geometry::Vector3 back = worldFromVoxel(mapping, {0.3f, -0.2f, -1.1f});
    const geometry::Vector3 again = voxelFromWorld(mapping, back);
    EXPECT_NEAR(again.x, 0.3f, 1e-5f);
    EXPECT_NEAR(again.y, -0.2f, 1e-5f);
    EXPECT_NEAR(again.z, -1.1f, 1e-5f);
}

}  // namespace
}  // namespace strata::maker
