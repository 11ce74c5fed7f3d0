// A quad draws as the one grid its halves were cut from: from cameras moved forward, up, down
// and turned, with the frustum clipper on and off, in both drawing modes, its picture is the
// picture of the single QP LDI of the same camera, with no band or crack at the seam. Halves that
// are not one grid's rows still draw, each over its own visible rectangle.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_quad.h"
#include "maker/demo_scene.h"
#include "maker/layered_image.h"
#include "maker/ldi_encoding.h"
#include "maker/pinhole_camera.h"
#include "maker/ray_caster.h"
#include "render/output_view.h"

namespace strata {
namespace {

using geometry::Vector3;

struct Made {
    maker::Scene scene = maker::buildDemoScene();
    maker::PinholeCamera camera;
    std::unique_ptr<ldi::LdiBase> single;
    std::unique_ptr<ldi::LdiBase> quad;
};

// The demo's QP LDI and its quad, from one sampling of rows x rows: 160 rows give halves of 80,
// 161 rows halves of 80 and 81.
const Made& made(std::int32_t rows) {
    static std::unique_ptr<Made> cached[2];
    std::unique_ptr<Made>& m = cached[rows % 2];
    if (m) {
        return *m;
    }
    m = std::make_unique<Made>();
    std::string error;
    const auto caster = maker::RayCaster::create(m->scene, error);
    EXPECT_NE(caster, nullptr) << error;
    m->camera = maker::defaultCamera(m->scene.bounds(), 0.7853982f, m->scene.defaultElevation);
    EXPECT_TRUE(maker::normalizeCamera(m->camera, error)) << error;
    maker::SampleOptions options;
    options.width = rows;  // square grids: the maker's grids are square
    options.height = rows;
    maker::LayeredImage image;
    EXPECT_TRUE(maker::sampleLayers(*caster, m->camera, options, image, error)) << error;
    // Saved and opened again, as the viewer opens them.
    const std::string stem =
        (std::filesystem::temp_directory_path() /
         ("strata_quad_seam_" + std::to_string(::getpid()) + "_" + std::to_string(rows)))
            .string();
    auto single = maker::encodeLdi(image, ldi::LdiType::RT, maker::PixelKind::qp, error);
    auto quad = maker::encodeQuad(image, error);
    EXPECT_NE(single, nullptr) << error;
    EXPECT_NE(quad, nullptr) << error;
    if (single == nullptr || quad == nullptr) {
        return *m;
    }
    EXPECT_EQ(single->Save(stem + ".ldibrtqp"), 1);
    EXPECT_EQ(quad->Save(stem), 1);
    m->single = ldi::LoadLdi(stem + ".ldibrtqp", &error);
    m->quad = ldi::LoadLdi(stem + ".ldiquad", &error);
    EXPECT_NE(m->single, nullptr) << error;
    EXPECT_NE(m->quad, nullptr) << error;
    for (const char* suffix : {".ldibrtqp", ".ldiquad", "_top.ldibrtqp", "_bot.ldibrtqp"}) {
        std::filesystem::remove(stem + suffix);
    }
    return *m;
}

imageutil::RgbImage draw(ldi::LdiBase& ldi, const render::OutputView& view, bool high,
                         bool clipper) {
    ldi::FrameSettings settings;
    settings.highQualitySplats = high;
    settings.frustumClipper = clipper;
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(200, 150);
    ldi::DrawFrame(ldi, settings, view, frame);
    return frame;
}

TEST(QuadSeam, AQuadDrawsAsTheSingleLdiOfItsCamera) {
    for (const std::int32_t rows : {160, 161}) {
        const Made& m = made(rows);
        ASSERT_NE(m.quad, nullptr);
        const maker::PinholeCamera& c = m.camera;
        const Vector3 side = c.side();
        struct Move {
            const char* name;
            Vector3 pos;
            Vector3 dir;
        };
        const Move moves[] = {
            {"forward", c.pos + c.dir * 3.0f, c.dir},
            {"up", c.pos + c.up * 1.5f, c.dir},
            {"down", c.pos - c.up * 1.2f, c.dir},
            {"turned", c.pos + side * 2.0f, geometry::normalized(c.dir - side * 0.3f)},
            {"forward, up and pitched down", c.pos + c.dir * 2.0f + c.up * 1.0f,
             geometry::normalized(c.dir - c.up * 0.2f)},
        };
        for (const Move& move : moves) {
            const Vector3 up =
                geometry::normalized(c.up - move.dir * geometry::dot(c.up, move.dir));
            // A wide frame: its width and height enter the clipper and the warp differently.
            const render::OutputView view =
                render::makeOutputView(move.pos, move.dir, up, 0.7853982f, 200, 150);
            for (const bool high : {false, true}) {
                for (const bool clipper : {true, false}) {
                    SCOPED_TRACE(std::string(move.name) + ", " + std::to_string(rows) + " rows, " +
                                 (high ? "high quality" : "basic") +
                                 (clipper ? ", clipper on" : ", clipper off"));
                    const imageutil::RgbImage a = draw(*m.single, view, high, clipper);
                    const imageutil::RgbImage b = draw(*m.quad, view, high, clipper);
                    int differing = 0;
                    for (int i = 0; i < a.width * a.height; ++i) {
                        differing += a.pixels[i] != b.pixels[i] ? 1 : 0;
                    }
                    EXPECT_EQ(differing, 0);
                }
            }
        }
    }
}

// Halves that are not the rows of one grid (here the top half's camera moved aside) are drawn
// each over its own visible rectangle: with the clipper on as with it off.
TEST(QuadSeam, HalvesOfTwoCamerasDrawEachOverItsOwnRectangle) {
    const Made& m = made(160);
    ASSERT_NE(m.quad, nullptr);
    auto& quad = static_cast<ldi::LdiRtQuad&>(*m.quad);
    ASSERT_NE(quad.Joined(), nullptr);
    const geometry::ViewCamera kept = quad.top()->header.view;
    geometry::ViewCamera moved = kept;
    moved.pos = moved.pos + Vector3{0.2f, 0.0f, 0.0f};
    quad.top()->header.view = moved;
    quad.top()->visibleRect.prepare(moved, quad.top()->width(), quad.top()->height());
    EXPECT_EQ(quad.Joined(), nullptr);
    const maker::PinholeCamera& c = m.camera;
    const render::OutputView view =
        render::makeOutputView(c.pos + c.dir * 3.0f, c.dir, c.up, 0.7853982f, 200, 150);
    for (const bool high : {false, true}) {
        const imageutil::RgbImage clipped = draw(quad, view, high, true);
        const imageutil::RgbImage whole = draw(quad, view, high, false);
        int differing = 0;
        for (int i = 0; i < clipped.width * clipped.height; ++i) {
            differing += clipped.pixels[i] != whole.pixels[i] ? 1 : 0;
        }
        EXPECT_EQ(differing, 0) << (high ? "high quality" : "basic");
    }
    quad.top()->header.view = kept;
    quad.top()->visibleRect.prepare(kept, quad.top()->width(), quad.top()->height());
    EXPECT_NE(quad.Joined(), nullptr);
}

}  // namespace
}  // namespace strata
