// The maker's limits at their exact boundaries: a grid row of 32767 and 32768 entries, and which
// half of a quad of odd height gets the extra row.
#include <gtest/gtest.h>

#include <string>

#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "maker/layered_image.h"
#include "maker/ldi_encoding.h"
#include "maker/maker_kind.h"
#include "maker/pinhole_camera.h"

namespace strata::maker {
namespace {

// A one-row grid of `width` pixels of one layer each, looking down -z at depth 2.
LayeredImage oneRow(std::int32_t width, std::int32_t height = 1) {
    LayeredImage image;
    image.width = width;
    image.height = height;
    image.camera.near = 1.0f;
    image.camera.far = 3.0f;
    const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    image.samples.resize(pixels);
    image.pixelStart.resize(pixels + 1);
    for (std::size_t i = 0; i <= pixels; ++i) {
        image.pixelStart[i] = static_cast<std::uint32_t>(i);
    }
    for (LayerSample& sample : image.samples) {
        sample.depth = 2.0f;
        sample.distance = 2.0f;
        sample.normal = {0.0f, 0.0f, 1.0f};
        sample.colour = 0x336699u;
    }
    image.stats.samples = static_cast<std::int64_t>(pixels);
    return image;
}

// A grid row holds at most 32767 entries (16-bit running sums).
TEST(MakerLimits, ARowOf32767EntriesAndNoMore) {
    std::string error;
    const auto fits = encodeLdi(oneRow(32767), ldi::LdiType::RT, PixelKind::qp, error);
    ASSERT_NE(fits, nullptr) << error;
    EXPECT_EQ(fits->DepthPixelCount(), 32767);
    EXPECT_EQ(encodeLdi(oneRow(32768), ldi::LdiType::RT, PixelKind::qp, error), nullptr);
    EXPECT_NE(error.find("row 0 holds 32768"), std::string::npos) << error;
    EXPECT_NE(error.find("more than 32767"), std::string::npos) << error;
}

// A quad of odd height gives its extra row to the top half.
TEST(MakerLimits, TheTopHalfOfAnOddQuadTakesTheExtraRow) {
    for (const std::int32_t height : {4, 5, 2, 3}) {
        SCOPED_TRACE(height);
        std::string error;
        const auto made = encodeQuad(oneRow(3, height), error);
        ASSERT_NE(made, nullptr) << error;
        const auto& quad = dynamic_cast<const ldi::LdiRtQuad&>(*made);
        EXPECT_EQ(quad.bottom()->height(), height / 2);
        EXPECT_EQ(quad.top()->height(), height - height / 2);
    }
    std::string error;
    EXPECT_EQ(encodeQuad(oneRow(3, 1), error), nullptr);
    EXPECT_NE(error.find("at least 2 rows"), std::string::npos) << error;
}

// A camera reaches 1e6 scene radii from the scene's centre and 1e12 from the origin, and views at
// least 0.01 degrees: one value on each side of each.
TEST(MakerLimits, CameraReachAndAngle) {
    struct Case {
        geometry::Vector3 pos;
        float radius;
        bool reached;
    };
    const Case cases[] = {
        {{1e6f, 0.0f, 0.0f}, 1.0f, true},   {{1.0001e6f, 0.0f, 0.0f}, 1.0f, false},
        {{0.0f, -2e6f, 0.0f}, 2.0f, true},  {{0.0f, 0.0f, 2.0002e6f}, 2.0f, false},
        {{1e-3f, 0.0f, 0.0f}, 0.0f, true},  // no radius: 1e-6 of the origin distance, or 1e-6
        {{1.01f, 0.0f, 0.0f}, 0.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.pos.x << " " << c.pos.y << " " << c.pos.z);
        PinholeCamera camera;
        camera.pos = c.pos;
        const std::string problem = cameraReachProblem(camera, {0.0f, 0.0f, 0.0f}, c.radius);
        EXPECT_EQ(problem.empty(), c.reached) << problem;
    }
    const struct {
        float x;
        float fovDegrees;
        bool ok;
    } views[] = {
        {1e12f, 45.0f, true},   {-1.0001e12f, 45.0f, false}, {0.0f, 0.01f, true},
        {0.0f, 0.0099f, false}, {0.0f, 179.0f, true},        {0.0f, 179.01f, false},
    };
    for (const auto& v : views) {
        SCOPED_TRACE(::testing::Message() << v.x << " " << v.fovDegrees);
        PinholeCamera camera;
        camera.pos = {v.x, 0.0f, 0.0f};
        camera.fov = v.fovDegrees * 3.14159265f / 180.0f;
        std::string error;
        EXPECT_EQ(normalizeCamera(camera, error), v.ok) << error;
    }
}

}  // namespace
}  // namespace strata::maker
