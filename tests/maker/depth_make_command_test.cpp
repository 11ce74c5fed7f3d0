// End-to-end runs of `strata trace --depth-out` and `strata make --rgbd / --views / cloud.ply`
// against ray-traced truth: depth maps read back, one view equals the trace it came from, four
// fused views fill what one view cannot, an exported cloud made back into an LDI renders like
// it, and bad input is refused with one line and nothing written.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "imageutil/depth_image.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_qp.h"
#include "maker/ray_caster.h"
#include "maker/trace_image.h"
#include "maker_test_util.h"
#include "render/camera_file.h"

namespace strata::maker {
namespace {

using testing::run;
constexpr float kPi = 3.14159265f;

// The demo seen as `strata trace demo` sees it by default.
PinholeCamera demoCamera(const Scene& scene) {
    PinholeCamera camera =
        defaultCamera(scene.bounds(), 45.0f * 3.14159265f / 180.0f, scene.defaultElevation);
    std::string error;
    EXPECT_TRUE(normalizeCamera(camera, error)) << error;
    return camera;
}

void saveCamera(const std::string& path, const PinholeCamera& camera, std::int32_t side) {
    render::CameraRecord record;
    record.position = camera.pos;
    record.direction = camera.dir;
    record.up = camera.up;
    record.fovDegrees = camera.fov * 180.0f / kPi;
    record.width = record.height = side;
    std::string error;
    ASSERT_TRUE(render::saveCameraFile(path, record, error)) << error;
}

// A number printed as "name=value" by a command.
double field(const std::string& output, const std::string& name) {
    const std::size_t at = output.find(name + "=");
    EXPECT_NE(at, std::string::npos) << name << " in " << output;
    return at == std::string::npos ? std::nan("")
                                   : std::atof(output.c_str() + at + name.size() + 1);
}

struct Rendered {
    double psnr = 0.0;
    double uncovered = 0.0;
};

Rendered render(const std::string& ldi, const std::string& camera, const std::string& truth,
                const std::string& out) {
    std::string output;
    EXPECT_EQ(run("render " + ldi + " --camera " + camera + " --quality high -o " + out +
                      " --compare " + truth,
                  &output),
              0);
    return {field(output, "psnr"), field(output, "uncovered")};
}

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

TEST(DepthMake, TracedDepthMapsReadBackToTheTracedDistances) {
    const testing::ScratchFolder scratch("depth_out");
    const std::string f = scratch.path;
    ASSERT_EQ(run("trace demo --size 48x32 -o " + f + "/c.png --depth-out " + f + "/d.pfm"), 0);
    ASSERT_EQ(run("trace demo --size 48x32 -o " + f + "/c2.png --depth-out " + f +
                  "/d.png --depth-scale 2000"),
              0);
    const Scene scene = buildDemoScene();
    std::string error;
    const auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster) << error;
    // The distance along the camera axis of each pixel's nearest surface, cast here.
    const PinholeCamera camera = demoCamera(scene);
    const geometry::ImagePlaneFrame frame = pictureRayFrame(camera, 48, 32);
    std::vector<float> truth;
    for (int row = 0; row < 32; ++row) {
        for (int column = 0; column < 48; ++column) {
            const geometry::Vector3 ray =
                frame.pixelRay(static_cast<float>(row), static_cast<float>(column));
            SurfaceHit hit;
            truth.push_back(caster->nearest(camera.pos, ray, 1e-6f, INFINITY, hit)
                                ? geometry::dot(hit.position - camera.pos, camera.dir)
                                : INFINITY);
        }
    }
    imageutil::DepthImage pfm;
    imageutil::DepthImage png;
    ASSERT_TRUE(imageutil::readDepthImage(f + "/d.pfm", 1.0, pfm, error)) << error;
    ASSERT_TRUE(imageutil::readDepthImage(f + "/d.png", 2000.0, png, error)) << error;
    ASSERT_EQ(pfm.depth.size(), truth.size());
    ASSERT_EQ(png.depth.size(), truth.size());
    int surfaces = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) {
        // Infinity where nothing is hit; else the float written is the float traced.
        if (std::isinf(truth[i])) {
            EXPECT_TRUE(std::isinf(pfm.depth[i])) << i;
        } else {
            EXPECT_NEAR(pfm.depth[i], truth[i], 2e-6f * truth[i]) << i;
        }
        if (std::isinf(truth[i])) {
            EXPECT_TRUE(std::isinf(png.depth[i])) << i;
        } else {
            ++surfaces;
            EXPECT_LE(std::fabs(png.depth[i] - truth[i]) * 2000.0, 0.5 + 1e-3) << i;
        }
    }
    EXPECT_GT(surfaces, 200);
}

TEST(DepthMake, OneViewEqualsTheTraceItCameFromExceptOnDepthEdges) {
    const testing::ScratchFolder scratch("one_view");
    const std::string f = scratch.path;
    const Scene scene = buildDemoScene();
    saveCamera(f + "/cam.json", demoCamera(scene), 128);
    ASSERT_EQ(run("trace demo --camera " + f + "/cam.json -o " + f + "/c.png --depth-out " + f +
                  "/d.pfm"),
              0);
    ASSERT_EQ(run("make --rgbd " + f + "/c.png " + f + "/d.pfm --camera " + f +
                  "/cam.json --kind rt-qp -o " + f + "/one.ldibrtqp"),
              0);
    imageutil::RgbImage truth;
    imageutil::DepthImage depth;
    std::string error;
    ASSERT_TRUE(imageutil::readPng(f + "/c.png", truth, &error)) << error;
    ASSERT_TRUE(imageutil::readDepthImage(f + "/d.pfm", 1.0, depth, error)) << error;
    auto ldi = ldi::LoadLdi(f + "/one.ldibrtqp", &error);
    auto* qp = dynamic_cast<ldi::LdiRtQp*>(ldi.get());
    ASSERT_TRUE(qp) << error;
    ASSERT_EQ(qp->header.width, 128);
    // A pixel is on a depth edge when a neighbour is more than 5 % farther or has no surface
    // while it has one.
    const auto depthAt = [&](int x, int y) {
        return x < 0 || y < 0 || x >= 128 || y >= 128
                   ? std::numeric_limits<float>::infinity()
                   : depth.depth[static_cast<std::size_t>(y * 128 + x)];
    };
    int equal = 0;
    int edges = 0;
    int differing = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            const float d = depthAt(x, y);
            bool edge = false;
            for (const auto& [dx, dy] :
                 {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}}) {
                const float n = depthAt(x + dx, y + dy);
                edge = edge || std::isinf(n) != std::isinf(d) ||
                       std::max(n, d) > 1.05f * std::min(n, d);
            }
            const int layers = qp->LayerCount(y, x);
            const std::uint32_t front =
                layers == 0 ? 0xB2B2B2u
                            : qp->pixels[2 * (qp->rowStart[y] + qp->layerOffset[y * 129 + x] +
                                              layers - 1)] &
                                  0xFFFFFFu;
            if (edge) {
                ++edges;
            } else if (front == (truth.at(x, y) & 0xFFFFFFu)) {
                ++equal;
            } else {
                ++differing;
            }
            EXPECT_LE(layers, 1);
        }
    }
    std::printf("one view: %d pixels equal the trace, %d on depth edges, %d differ\n", equal, edges,
                differing);
    EXPECT_EQ(differing, 0);
    EXPECT_GT(equal, 128 * 128 / 2);
    // Drawn from its own camera it is the trace.
    std::string output;
    ASSERT_EQ(
        run("render " + f + "/one.ldibrtqp --camera " + f +
                "/cam.json --quality basic --no-splat -o " + f + "/r.png --compare " + f + "/c.png",
            &output),
        0);
    EXPECT_NE(output.find("psnr=inf differing=0"), std::string::npos) << output;
}

TEST(DepthMake, AJpegPhotographGivesItsColours) {
    const testing::ScratchFolder scratch("jpeg_view");
    const std::string f = scratch.path;
    saveCamera(f + "/cam.json", demoCamera(buildDemoScene()), 96);
    ASSERT_EQ(run("trace demo --camera " + f + "/cam.json -o " + f + "/c.png --depth-out " + f +
                  "/d.png"),
              0);
    imageutil::RgbImage truth;
    std::string error;
    ASSERT_TRUE(imageutil::readPng(f + "/c.png", truth, &error)) << error;
    std::vector<std::uint8_t> rgb;
    for (int y = 95; y >= 0; --y) {
        for (int x = 0; x < 96; ++x) {
            const std::uint32_t p = truth.at(x, y);
            rgb.insert(rgb.end(),
                       {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                        static_cast<std::uint8_t>(p)});
        }
    }
    ASSERT_NE(stbi_write_jpg((f + "/c.jpg").c_str(), 96, 96, 3, rgb.data(), 100), 0);
    ASSERT_EQ(run("make --rgbd " + f + "/c.jpg " + f + "/d.png --camera " + f +
                  "/cam.json --kind rt-qp -o " + f + "/j.ldibrtqp"),
              0);
    std::string output;
    ASSERT_EQ(
        run("render " + f + "/j.ldibrtqp --camera " + f +
                "/cam.json --quality basic --no-splat -o " + f + "/r.png --compare " + f + "/c.png",
            &output),
        0);
    EXPECT_GT(field(output, "psnr"), 38.0) << "JPEG at quality 100: " << output;
}

TEST(DepthMake, FourFusedViewsShowWhatTheReferenceViewCannot) {
    // Four views of the demo turned 0, 20, 40 and 60 degrees about its centre, fused into the
    // first; drawn from cameras turned 10 and 20 degrees, beside the LDI of the first view alone
    // and the maker's own ray-cast LDI of the same camera.
    const testing::ScratchFolder scratch("four_views");
    const std::string f = scratch.path;
    const Scene scene = buildDemoScene();
    saveCamera(f + "/ref.json", demoCamera(scene), 256);
    ASSERT_EQ(run("trace demo --camera " + f + "/ref.json --orbit 60 --frames 4 -o " + f +
                  "/v%d.png --depth-out " + f + "/v%d.pfm --views-out " + f + "/views.json"),
              0);
    ASSERT_EQ(run("trace demo --camera " + f + "/ref.json --orbit 20 --frames 3 -o " + f +
                  "/t%d.png --depth-out " + f + "/t%d.pfm --views-out " + f + "/turns.json"),
              0);
    std::vector<render::CameraRecord> turns;
    std::string error;
    {
        // The views file is a list of entries whose "camera" is a camera record.
        std::ifstream in(f + "/turns.json");
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        std::size_t at = 0;
        for (int i = 0; i < 3; ++i) {
            at = text.find("\"camera\": ", at) + 10;
            const std::size_t end = text.find('}', at) + 1;
            render::CameraRecord record;
            ASSERT_TRUE(render::cameraFromJson(text.substr(at, end - at), "turns", record, error))
                << error;
            turns.push_back(record);
            ASSERT_TRUE(
                render::saveCameraFile(f + "/turn" + std::to_string(i) + ".json", record, error));
        }
    }
    ASSERT_EQ(run("make --views " + f + "/views.json --kind rt-qp -o " + f + "/fused.ldibrtqp"), 0);
    ASSERT_EQ(run("make --rgbd " + f + "/v0.png " + f + "/v0.pfm --camera " + f +
                  "/ref.json --kind rt-qp -o " + f + "/single.ldibrtqp"),
              0);
    ASSERT_EQ(run("make demo --camera " + f + "/ref.json --size 256 --kind rt-qp -o " + f +
                  "/maker.ldibrtqp"),
              0);
    for (const int turn : {1, 2}) {
        const std::string camera = f + "/turn" + std::to_string(turn) + ".json";
        const std::string truth = f + "/t" + std::to_string(turn) + ".png";
        const Rendered fused = render(f + "/fused.ldibrtqp", camera, truth, f + "/rf.png");
        const Rendered single = render(f + "/single.ldibrtqp", camera, truth, f + "/rs.png");
        const Rendered made = render(f + "/maker.ldibrtqp", camera, truth, f + "/rm.png");
        std::printf(
            "turned %d degrees: uncovered share fused %.4f, one view %.4f, maker %.4f; PSNR "
            "against the trace fused %.2f dB, one view %.2f dB, maker %.2f dB\n",
            10 * turn, fused.uncovered, single.uncovered, made.uncovered, fused.psnr, single.psnr,
            made.psnr);
        EXPECT_LT(fused.uncovered, 0.5 * single.uncovered) << turn;
        EXPECT_GT(fused.psnr, single.psnr + 1.0) << turn;
        EXPECT_GT(fused.psnr, made.psnr - 3.0) << "within a few dB of the maker's own LDI";
    }
}

TEST(DepthMake, AnExportedCloudMadeBackRendersLikeItsLdi) {
    const testing::ScratchFolder scratch("cloud_back");
    const std::string f = scratch.path;
    const Scene scene = buildDemoScene();
    const PinholeCamera reference = demoCamera(scene);
    saveCamera(f + "/ref.json", reference, 256);
    ASSERT_EQ(run("make demo --camera " + f + "/ref.json --size 256 --kind rt-qp -o " + f +
                  "/demo.ldibrtqp"),
              0);
    ASSERT_EQ(run("export " + f + "/demo.ldibrtqp -o " + f + "/points.ply"), 0);
    ASSERT_EQ(run("make " + f + "/points.ply --camera " + f +
                  "/ref.json --size 256 --kind rt-qp "
                  "-o " +
                  f + "/back.ldibrtqp"),
              0);
    // The reference camera and the same turned 10 degrees about the scene centre.
    PinholeCamera turned = reference;
    const geometry::Vector3 centre = scene.bounds().centre();
    const float a = 10.0f * kPi / 180.0f;
    const geometry::Vector3 o = reference.pos - centre;
    turned.pos = centre + geometry::Vector3{o.x * std::cos(a) + o.z * std::sin(a), o.y,
                                            -o.x * std::sin(a) + o.z * std::cos(a)};
    turned.dir = geometry::normalized(centre - turned.pos);
    std::string error;
    ASSERT_TRUE(normalizeCamera(turned, error));
    saveCamera(f + "/turned.json", turned, 256);
    for (const auto& [camera, least] : {std::pair{"ref", 35.0}, std::pair{"turned", 32.0}}) {
        const std::string json = f + "/" + camera + ".json";
        std::string output;
        ASSERT_EQ(run("render " + f + "/demo.ldibrtqp --camera " + json + " --quality high -o " +
                      f + "/original.png"),
                  0);
        const Rendered back = render(f + "/back.ldibrtqp", json, f + "/original.png", f + "/b.png");
        std::printf("cloud made back, from the %s camera: %.2f dB against its LDI\n", camera,
                    back.psnr);
        EXPECT_GT(back.psnr, least) << camera;
    }
}

TEST(DepthMake, EveryKindIsMadeFromDepthData) {
    const testing::ScratchFolder scratch("depth_kinds");
    const std::string f = scratch.path;
    ASSERT_EQ(run("trace demo --size 40x30 -o " + f + "/c.jpg.png --depth-out " + f + "/d.png"), 0);
    std::string output;
    ASSERT_EQ(run("make --rgbd " + f + "/c.jpg.png " + f +
                      "/d.png --size 32 --levels 2 --members 2 -o " + f + "/all",
                  &output),
              0);
    for (const char* name : {"c.jpg.ldibrtcp", "c.jpg.ldibrtqp", "c.jpg.ldibrtmrqp",
                             "c.jpg.ldirtffcp", "c.jpg.ldirtffqp", "c.jpg.ldirtffmrqp",
                             "c.jpg.ldiquad", "c.jpg.ldipyr", "c.jpg.ldiset", "c.jpg.vox"}) {
        EXPECT_TRUE(exists(f + "/all/" + name)) << name << "\n" << output;
    }
    for (const char* name : {"c.jpg.ldibrtcp", "c.jpg.ldibrtmrqp", "c.jpg.ldirtffqp"}) {
        std::string error;
        EXPECT_TRUE(ldi::LoadLdi(f + "/all/" + name, &error)) << error;
    }
}

TEST(DepthMake, BadInputIsRefusedWithOneLineAndNothingWritten) {
    const testing::ScratchFolder scratch("depth_bad");
    const std::string f = scratch.path;
    ASSERT_EQ(run("trace demo --size 32x32 -o " + f + "/c.png --depth-out " + f + "/d.pfm"), 0);
    ASSERT_EQ(run("trace demo --size 16x16 -o " + f + "/small.png --depth-out " + f + "/small.pfm"),
              0);
    const auto writeText = [&](const std::string& name, const std::string& text) {
        std::ofstream(f + "/" + name, std::ios::binary) << text;
    };
    const auto pfm = [&](const std::string& name, float value) {
        std::string bytes = "Pf\n32 32\n-1\n";
        for (int i = 0; i < 32 * 32; ++i) {
            const float v = i == 300 ? value : 5.0f;
            bytes.append(reinterpret_cast<const char*>(&v), 4);
        }
        writeText(name, bytes);
    };
    pfm("negative.pfm", -2.0f);
    pfm("nan.pfm", std::nanf(""));
    writeText("text.png", "not a picture");
    std::filesystem::copy_file(f + "/c.png", f + "/png.pfm");
    const std::string camera =
        "{\"position\": [0, 1, 9], \"direction\": [0, 0, -1], \"up\": "
        "[0, 1, 0], \"fovDegrees\": 45, \"near\": 0.1, \"far\": 100, "
        "\"width\": 32, \"height\": 32}";
    const auto views = [&](const std::string& name, const std::string& entry) {
        writeText(name, "[" + entry + "]");
    };
    views("color.json", "{\"color\": \"c.png\", \"depth\": \"d.pfm\", \"camera\": " + camera + "}");
    views("nocamera.json", "{\"colour\": \"c.png\", \"depth\": \"d.pfm\"}");
    views("missing.json",
          "{\"colour\": \"gone.png\", \"depth\": \"d.pfm\", \"camera\": " + camera + "}");
    views("intrinsics.json",
          "{\"colour\": \"c.png\", \"depth\": \"d.pfm\", \"camera\": "
          "{\"intrinsics\": [30, 30, 16], \"position\": [0, 0, 0], "
          "\"direction\": [0, 0, -1], \"up\": [0, 1, 0]}}");
    views("scale.json",
          "{\"colour\": \"c.png\", \"depth\": \"d.pfm\", \"depthScale\": -1, "
          "\"camera\": " +
              camera + "}");
    views("parallel.json",
          "{\"colour\": \"c.png\", \"depth\": \"d.pfm\", \"camera\": "
          "{\"intrinsics\": [30, 30, 16, 16], \"position\": [0, 0, 0], "
          "\"direction\": [0, 1, 0], \"up\": [0, 2, 0]}}");
    writeText("empty.json", "[]");
    writeText("broken.json", "[{\"colour\": ");
    const std::string rgbd = "make --rgbd " + f + "/c.png " + f + "/d.pfm ";
    struct Case {
        std::string arguments;
        const char* says;
    };
    const Case cases[] = {
        {"make --rgbd " + f + "/c.png " + f + "/small.pfm", "must have the same size"},
        {"make --rgbd " + f + "/c.png " + f + "/negative.pfm", "holds depth -2"},
        {"make --rgbd " + f + "/c.png " + f + "/nan.pfm", "holds depth nan"},
        {"make --rgbd " + f + "/text.png " + f + "/d.pfm", "not a PNG or JPEG picture"},
        {"make --rgbd " + f + "/c.png " + f + "/png.pfm", "not a PFM file"},
        {rgbd + "--dir 0,0,0", "viewing direction must be a non-zero vector"},
        {rgbd + "--dir 0,1,0 --up 0,3,0", "not parallel to the viewing direction"},
        {rgbd + "--intrinsics 0,30,16,16", "--intrinsics wants fx,fy,cx,cy"},
        {rgbd + "--intrinsics 30,30,16", "--intrinsics wants fx,fy,cx,cy"},
        {rgbd + "--intrinsics 30,30,16,16x", "--intrinsics wants fx,fy,cx,cy"},
        {rgbd + "--intrinsics 30,30,16,16 --fov 40", "--intrinsics and --fov"},
        {rgbd + "--depth-scale 0", "--depth-scale wants a number above 0"},
        {rgbd + "--edge-ratio -0.1", "--edge-ratio wants a number of at least 0"},
        {rgbd + "--depth-tolerance nan", "--depth-tolerance wants"},
        {rgbd + "--camera " + f + "/gone.json", "gone.json"},
        {"make demo --rgbd " + f + "/c.png " + f + "/d.pfm", "give one of"},
        {"make demo --edge-ratio 0.1", "--edge-ratio goes with --rgbd or --views"},
        {"make demo --intrinsics 30,30,16,16", "--intrinsics goes with --rgbd"},
        {"make --views " + f + "/color.json", "view 0: unknown field \"color\""},
        {"make --views " + f + "/nocamera.json", "view 0: field \"camera\" is missing"},
        {"make --views " + f + "/missing.json", "gone.png"},
        {"make --views " + f + "/intrinsics.json", "field \"intrinsics\" wants four numbers"},
        {"make --views " + f + "/scale.json", "field \"depthScale\" wants a positive number"},
        {"make --views " + f + "/parallel.json", "parallel"},
        {"make --views " + f + "/empty.json", "JSON array of 1..256 entries"},
        {"make --views " + f + "/broken.json", "not valid JSON"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(f + "/out");
        std::string output;
        EXPECT_EQ(run(c.arguments + " --kind rt-qp -o " + f + "/out", &output, true), 1)
            << c.arguments;
        EXPECT_NE(output.find(c.says), std::string::npos) << c.arguments << "\n" << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
        EXPECT_FALSE(exists(f + "/out")) << c.arguments;
    }
    // A depth beyond the 16-bit range stops the trace before it writes either picture.
    std::string output;
    EXPECT_EQ(run("trace demo --size 16x16 -o " + f + "/far.png --depth-out " + f +
                      "/far.png16.png --depth-scale 10000",
                  &output, true),
              1);
    EXPECT_NE(output.find("beyond 65535"), std::string::npos) << output;
    EXPECT_FALSE(exists(f + "/far.png"));
    EXPECT_FALSE(exists(f + "/far.png16.png"));
    EXPECT_EQ(run("trace demo -o " + f + "/x.png --depth-out " + f + "/x.pfm --depth-scale 10"), 1);
    EXPECT_EQ(run("trace demo -o " + f + "/x.png --views-out " + f + "/x.json"), 1);
    EXPECT_EQ(run("trace demo -o " + f + "/x.png --depth-out " + f + "/x.exr"), 1);
    EXPECT_FALSE(exists(f + "/x.png"));
}

TEST(DepthMake, ViewsFileNamesAreRelativeToItAndItsScalesReplaceTheFlag) {
    // Pictures in a folder of their own beside the views file; 16-bit depths at 500 units a
    // metre, said by the file: the view drawn from its own camera is its picture.
    const testing::ScratchFolder scratch("views_relative");
    const std::string f = scratch.path;
    std::filesystem::create_directories(f + "/shots");
    saveCamera(f + "/cam.json", demoCamera(buildDemoScene()), 64);
    ASSERT_EQ(run("trace demo --camera " + f + "/cam.json -o " + f + "/shots/c.png --depth-out " +
                  f + "/shots/d.png --depth-scale 500 --views-out " + f + "/views.json"),
              0);
    std::ifstream in(f + "/views.json");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"colour\": \"shots/c.png\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"depthScale\": 500"), std::string::npos) << text;
    ASSERT_EQ(run("make --views " + f + "/views.json --depth-scale 1000 --kind rt-qp -o " + f +
                  "/v.ldibrtqp"),
              0);
    // The depths are the traced ones: the nearest sample lies at the nearest traced depth.
    imageutil::DepthImage depth;
    std::string error;
    ASSERT_TRUE(imageutil::readDepthImage(f + "/shots/d.png", 500.0, depth, error)) << error;
    const auto ldi = ldi::LoadLdi(f + "/v.ldibrtqp", &error);
    ASSERT_TRUE(ldi) << error;
    EXPECT_NEAR(ldi->header.stats.zMin, *std::min_element(depth.depth.begin(), depth.depth.end()),
                0.01);
    std::string output;
    ASSERT_EQ(run("render " + f + "/v.ldibrtqp --camera " + f +
                      "/cam.json --quality basic --no-splat -o " + f + "/r.png --compare " + f +
                      "/shots/c.png",
                  &output),
              0);
    EXPECT_GT(field(output, "psnr"), 35.0) << output;
}

}  // namespace
}  // namespace strata::maker
