#include "maker/ldi_maker.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>

#include "geometry/depth.h"
#include "geometry/quantise.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "maker/demo_scene.h"
#include "maker/ldi_encoding.h"
#include "maker/mesh_import.h"
#include "maker/trace_image.h"
#include "maker_test_util.h"

namespace strata::maker {
namespace {

using testing::quadsCamera;
using testing::ScratchFolder;
using testing::twoParallelQuads;

struct Made {
    std::unique_ptr<RayCaster> caster;
    std::vector<MadeFile> files;
};

MakeRequest requestFor(const Scene& scene, MakerKind kind, int size) {
    MakeRequest request;
    request.kind = kind;
    request.size = size;
    request.camera = defaultCamera(scene.bounds(), 0.7853982f);
    request.shading.mode = scene.litByDefault ? ShadingMode::lambert : ShadingMode::unlit;
    return request;
}

bool make(const Scene& scene, const MakeRequest& request, const std::string& path, Made& made) {
    std::string error;
    made.caster = RayCaster::create(scene, error);
    EXPECT_TRUE(made.caster) << error;
    const bool ok = makeLdi(*made.caster, request, path, made.files, error);
    EXPECT_TRUE(ok) << error;
    return ok;
}

std::vector<std::uint32_t> trace(const RayCaster& caster, const MakeRequest& request) {
    TraceOptions options;
    options.width = options.height = request.size;
    options.shading = request.shading;
    std::vector<std::uint32_t> pixels;
    std::string error;
    EXPECT_TRUE(traceImage(caster, request.camera, options, pixels, error)) << error;
    return pixels;
}

TEST(LdiMaker, FrontLayerOfTheFileEqualsTheTrace) {
    const Scene scene = buildDemoScene();
    const ScratchFolder scratch("front");
    const std::string folder = scratch.path;
    for (MakerKind kind : {MakerKind::rtQp, MakerKind::rtCp, MakerKind::rtffMrqp}) {
        const MakeRequest request = requestFor(scene, kind, 64);
        const std::string path = folder + "/" + fileNameFor(kind, "demo");
        Made made;
        ASSERT_TRUE(make(scene, request, path, made));
        const std::vector<std::uint32_t> truth = trace(*made.caster, request);
        std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path);
        ASSERT_TRUE(ldi) << path;
        int covered = 0;
        for (int row = 0; row < 64; ++row) {
            for (int column = 0; column < 64; ++column) {
                const std::uint32_t expected = truth[static_cast<std::size_t>(row * 64 + column)];
                const int n = ldi->LayerCount(row, column);
                if (n == 0) {
                    EXPECT_EQ(expected, kViewerBackground) << row << "," << column;
                    continue;
                }
                ++covered;
                std::uint32_t front = 0;
                if (auto* cp = dynamic_cast<ldi::LdiRtCp*>(ldi.get())) {
                    front = cp->pixels[cp->FirstLayer(row, column) + n - 1] & 0xFFFFFFu;
                } else if (auto* qp = dynamic_cast<ldi::LdiRtQp*>(ldi.get())) {
                    const std::int64_t base =
                        qp->rowStart[row] + qp->layerOffset[row * 65 + column] + n - 1;
                    front = qp->pixels[2 * base];
                } else if (auto* mr = dynamic_cast<ldi::LdiRtMrqp*>(ldi.get())) {
                    const std::int64_t base =
                        mr->rowStart[0][row] + mr->layerOffset[0][row * 65 + column] + n - 1;
                    front = mr->fullColours[base];
                }
                EXPECT_EQ(front, expected)
                    << makerKindInfo(kind).name << " " << row << "," << column;
            }
        }
        EXPECT_GT(covered, 64 * 64 / 4);
    }
}

TEST(LdiMaker, TwoQuadsDecodeToTheirDistances) {
    const Scene scene = twoParallelQuads();
    const ScratchFolder scratch("quads");
    const std::string folder = scratch.path;
    MakeRequest request = requestFor(scene, MakerKind::rtQp, 12);
    request.camera = quadsCamera();
    std::string error;
    ASSERT_TRUE(normalizeCamera(request.camera, error));
    for (MakerKind kind : {MakerKind::rtQp, MakerKind::rtCp}) {
        request.kind = kind;
        const std::string path = folder + "/" + fileNameFor(kind, "quads");
        Made made;
        ASSERT_TRUE(make(scene, request, path, made));
        std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path);
        ASSERT_TRUE(ldi);
        const float n = ldi->header.view.near;
        const float f = ldi->header.view.far;
        for (int row = 0; row < 12; ++row) {
            for (int column = 0; column < 12; ++column) {
                ASSERT_EQ(ldi->LayerCount(row, column), 2);
                float distances[2];
                for (int k = 0; k < 2; ++k) {
                    float zNdc = 0.0f;
                    if (auto* cp = dynamic_cast<ldi::LdiRtCp*>(ldi.get())) {
                        const std::uint32_t code =
                            cp->pixels[cp->FirstLayer(row, column) + k] >> 24;
                        zNdc = cp->binValue[code];
                    } else {
                        auto* qp = dynamic_cast<ldi::LdiRtQp*>(ldi.get());
                        const std::int64_t base =
                            qp->rowStart[row] + qp->layerOffset[row * 13 + column] + k;
                        zNdc = geometry::decodeDepth(qp->pixels[2 * base + 1] & 0xFFFFFu);
                    }
                    distances[k] = -geometry::perspectiveEye(zNdc, n, f);
                }
                // Farther first; the 8-bit CP code over [3, 4] is coarse near the far end.
                const float tolerance = kind == MakerKind::rtCp ? 0.05f : 1e-3f;
                EXPECT_NEAR(distances[0], 4.0f, tolerance);
                EXPECT_NEAR(distances[1], 3.0f, tolerance);
            }
        }
    }
}

TEST(LdiMaker, HeaderHoldsTheReferenceCameraConventions) {
    const Scene scene = twoParallelQuads();
    MakeRequest request = requestFor(scene, MakerKind::rtQp, 10);
    request.camera = quadsCamera();
    std::string error;
    ASSERT_TRUE(normalizeCamera(request.camera, error));
    const ScratchFolder scratch("header");
    const std::string path = scratch.path + "/h.ldibrtqp";
    Made made;
    ASSERT_TRUE(make(scene, request, path, made));
    std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path);
    ASSERT_TRUE(ldi);
    const ldi::LdiHeader& h = ldi->header;
    EXPECT_EQ(h.version, 255);
    EXPECT_EQ(h.width, 10);
    EXPECT_EQ(h.height, 10);
    // Viewport: device -1..1 onto 0..W with pixel edges on whole numbers.
    EXPECT_EQ(h.view.viewport(0, 0), 5.0f);
    EXPECT_EQ(h.view.viewport(0, 3), 5.0f);
    EXPECT_EQ(h.view.viewport(1, 1), 5.0f);
    EXPECT_EQ(h.view.viewport(1, 3), 5.0f);
    EXPECT_EQ(h.view.viewport(2, 2), 1.0f);
    EXPECT_EQ(h.view.viewport(3, 3), 1.0f);
    // The full transform takes the point seen by the centre of pixel (r, c) to (c + 0.5,
    // r + 0.5): the ray of pixel (2, 7) at depth 3 lands on the near square.
    const float t = std::tan(h.view.fov / 2);
    const geometry::Vector3 p{(2 * 7.5f / 10 - 1) * t * 3, (2 * 2.5f / 10 - 1) * t * 3, 0.0f};
    const geometry::Vector4 q = geometry::transform(h.view.fullTransform(), geometry::point(p));
    EXPECT_NEAR(q.x / q.w, 7.5f, 1e-3f);
    EXPECT_NEAR(q.y / q.w, 2.5f, 1e-3f);
    // Size classes: 32 geometric bins from near to far.
    EXPECT_EQ(h.binCount, 32);
    const float ratio = std::pow(h.view.far / h.view.near, 1.0f / 31);
    EXPECT_NEAR(h.bins[1], h.view.near, 1e-5f);
    EXPECT_NEAR(h.bins[32], h.view.far, 1e-4f);
    // Bounds of all samples: both squares within the 20-degree view.
    EXPECT_NEAR(h.boundsMax.z, 0.0f, 1e-5f);
    EXPECT_NEAR(h.boundsMin.z, -1.0f, 1e-5f);
    EXPECT_LT(h.boundsMax.x, 1.0f);
    EXPECT_GT(h.boundsMax.x, 0.5f);
    // Statistics.
    EXPECT_EQ(h.stats.samples, 200);
    EXPECT_EQ(h.stats.depthPixels, 200);
    EXPECT_EQ(h.stats.complexityMax, 2.0f);
    EXPECT_EQ(h.stats.complexityMean, 2.0f);
    EXPECT_NEAR(h.stats.zMin, 3.0f, 1e-4f);
    EXPECT_NEAR(h.stats.zMax, 4.0f, 1e-4f);
    EXPECT_EQ(h.camera.xres, 10);
    EXPECT_EQ(h.camera.clip_far, h.view.far);
    // A sample seen from its own camera splats to about one pixel: the class middle is close to
    // the sample's depth.
    auto* qp = dynamic_cast<ldi::LdiRtQp*>(ldi.get());
    ASSERT_TRUE(qp);
    const int cls = static_cast<int>(qp->pixels[1] >> 20 & 31);
    EXPECT_LE(ldi->binValue[static_cast<std::size_t>(cls)], 4.0f);
    EXPECT_GT(ldi->binValue[static_cast<std::size_t>(cls)] * ratio, 4.0f);
    EXPECT_EQ(qp->pixels[1] >> 25 & 63,
              static_cast<std::uint32_t>(geometry::nearestNormal({0, 0, 1})));
}

TEST(LdiMaker, EveryKindLoadsBackAndMrqpCountsAgree) {
    const Scene scene = buildDemoScene();
    const ScratchFolder scratch("all");
    const std::string folder = scratch.path;
    MakeRequest request = requestFor(scene, MakerKind::rtQp, 32);
    request.pyramidLevels = 2;
    request.setMembers = 3;
    std::string error;
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster);
    std::vector<MadeFile> made;
    ASSERT_TRUE(makeAllKinds(*caster, request, folder, "demo", made, error)) << error;
    for (const MakerKindInfo& info : makerKinds()) {
        const std::string path = folder + "/" + fileNameFor(info.kind, "demo");
        if (!isSingleFileKind(info.kind) && info.kind != MakerKind::quad) {
            continue;
        }
        std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path, &error);
        ASSERT_TRUE(ldi) << path << ": " << error;
        EXPECT_EQ(ldi->CheckArrays(), "") << path;
        if (auto* mr = dynamic_cast<ldi::LdiRtMrqp*>(ldi.get())) {
            std::int64_t bits4 = 0;
            std::int64_t bits2 = 0;
            for (std::int64_t i = 0; i < mr->DepthPixelCount(); ++i) {
                bits4 += std::popcount(mr->pixels[2 * i + 1] & 0xFFFFu);
                bits2 += std::popcount(mr->pixels[2 * i + 1] >> 16 & 0xFu);
                EXPECT_EQ(mr->pixels[2 * i + 1] >> 20, 0u);
            }
            EXPECT_EQ(bits4, mr->header.mrqpCount(1));
            EXPECT_EQ(bits2, mr->header.mrqpCount(2));
            EXPECT_EQ(mr->rowStart[1][32], mr->header.mrqpCount(1));
            EXPECT_EQ(mr->header.mrqpCount(0), mr->header.mrqpCount(3));
        }
        if (auto* quad = dynamic_cast<ldi::LdiRtQuad*>(ldi.get())) {
            ASSERT_TRUE(quad->top() && quad->bottom());
            EXPECT_EQ(quad->bottom()->height() + quad->top()->height(), 32);
            EXPECT_EQ(quad->top()->DepthPixelCount() + quad->bottom()->DepthPixelCount(),
                      made.front().depthPixels);
        }
    }
    // The pyramid: levels halving, distances increasing, every level loads.
    std::ifstream pyramid(folder + "/demo.ldipyr");
    int levels = 0;
    pyramid >> levels;
    ASSERT_EQ(levels, 2);
    float previous = 0.0f;
    for (int i = 0; i < levels; ++i) {
        std::string name;
        float distance = 0.0f;
        pyramid >> name >> distance;
        EXPECT_GT(distance, previous);
        previous = distance;
        std::unique_ptr<ldi::LdiBase> level = ldi::LoadLdi(folder + "/" + name);
        ASSERT_TRUE(level) << name;
        EXPECT_EQ(level->width(), 32 >> i);
    }
    // The set: each member direction points from the scene centre toward its camera.
    std::ifstream set(folder + "/demo.ldiset");
    int members = 0;
    set >> members;
    ASSERT_EQ(members, 3);
    const geometry::Vector3 centre = scene.bounds().centre();
    for (int i = 0; i < members; ++i) {
        std::string name;
        geometry::Vector3 d;
        set >> name >> d.x >> d.y >> d.z;
        EXPECT_NEAR(d.length(), 1.0f, 1e-5f);
        std::ifstream memberList(folder + "/" + name);
        int memberLevels = 0;
        std::string levelName;
        memberList >> memberLevels >> levelName;
        std::unique_ptr<ldi::LdiBase> level = ldi::LoadLdi(folder + "/" + levelName);
        ASSERT_TRUE(level) << levelName;
        const geometry::Vector3 toEye = geometry::normalized(level->header.view.pos - centre);
        EXPECT_NEAR(geometry::dot(toEye, d), 1.0f, 1e-4f);
        EXPECT_NEAR(geometry::dot(level->header.view.dir, d), -1.0f, 1e-4f);
    }
}

// The bytes of a made file, with an LDI header's load, sample and write times (wall-clock
// seconds) cleared.
std::vector<char> madeBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (path.ends_with(".ldibrtqp") && bytes.size() > 100) {
        std::fill(bytes.begin() + 44 + 8 * 4, bytes.begin() + 44 + 14 * 4, '\0');
    }
    return bytes;
}

TEST(LdiMaker, SetMadeMemberByMemberEqualsTheWholeSet) {
    const Scene scene = buildDemoScene();
    const ScratchFolder scratch("members");
    MakeRequest request = requestFor(scene, MakerKind::set, 32);
    request.setMembers = 3;
    request.pyramidLevels = 2;
    std::filesystem::create_directories(scratch.path + "/whole");
    Made whole;
    ASSERT_TRUE(make(scene, request, scratch.path + "/whole/demo.ldiset", whole));
    const std::string parts = scratch.path + "/parts";
    const std::string set = scratch.path + "/apart/demo.ldiset";
    std::filesystem::create_directories(parts);
    std::filesystem::create_directories(scratch.path + "/apart");
    std::string error;
    std::vector<MadeFile> made;
    // Any order; one member past the last and one before the first are refused.
    for (const int member : {2, 0, 1}) {
        ASSERT_TRUE(makeSetMember(*whole.caster, request, set, member, parts, made, error))
            << error;
    }
    EXPECT_EQ(made.size(), 3u * 3u);  // two levels and the pyramid list each
    for (const int member : {3, -1}) {
        EXPECT_FALSE(makeSetMember(*whole.caster, request, set, member, parts, made, error));
        EXPECT_NE(error.find("no member " + std::to_string(member) + " in a set of 3"),
                  std::string::npos)
            << error;
    }
    ASSERT_TRUE(commitSet(request, set, parts, error)) << error;
    std::vector<std::string> names = {"demo.ldiset"};
    for (int member = 0; member < 3; ++member) {
        for (const std::string& name : setMemberFiles(request, set, member)) {
            names.push_back(name);
        }
    }
    EXPECT_EQ(names.size(), 1u + 3u * 3u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path + "/whole"),
                            std::filesystem::directory_iterator()),
              static_cast<std::ptrdiff_t>(names.size()));
    for (const std::string& name : names) {
        EXPECT_EQ(madeBytes(scratch.path + "/whole/" + name),
                  madeBytes(scratch.path + "/apart/" + name))
            << name;
    }
    // A member missing from the parts: nothing of the set in place changes.
    ASSERT_TRUE(makeSetMember(*whole.caster, request, set, 0, parts, made, error)) << error;
    ASSERT_TRUE(makeSetMember(*whole.caster, request, set, 2, parts, made, error)) << error;
    EXPECT_FALSE(commitSet(request, set, parts, error));
    EXPECT_NE(error.find("member 1 is missing"), std::string::npos) << error;
    for (const std::string& name : names) {
        EXPECT_EQ(madeBytes(scratch.path + "/whole/" + name),
                  madeBytes(scratch.path + "/apart/" + name))
            << name;
    }
}

TEST(LdiMaker, QuadHalvesFrameTheirOwnRows) {
    const Scene scene = twoParallelQuads();
    MakeRequest request = requestFor(scene, MakerKind::quad, 10);
    request.camera = quadsCamera();
    std::string error;
    ASSERT_TRUE(normalizeCamera(request.camera, error));
    const ScratchFolder scratch("quad");
    const std::string path = scratch.path + "/q.ldiquad";
    Made made;
    ASSERT_TRUE(make(scene, request, path, made));
    std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path, &error);
    ASSERT_TRUE(ldi) << error;
    auto* quad = dynamic_cast<ldi::LdiRtQuad*>(ldi.get());
    ASSERT_TRUE(quad);
    // The point seen by the full grid's pixel (row 7, column 3) is pixel (row 2, column 3) of the
    // top half, which holds rows 5..9.
    const float t = std::tan(request.camera.fov / 2);
    const geometry::Vector3 p{(2 * 3.5f / 10 - 1) * t * 3, (2 * 7.5f / 10 - 1) * t * 3, 0.0f};
    const geometry::Vector4 q =
        geometry::transform(quad->top()->header.view.fullTransform(), geometry::point(p));
    EXPECT_NEAR(q.x / q.w, 3.5f, 1e-3f);
    EXPECT_NEAR(q.y / q.w, 2.5f, 1e-3f);
    const geometry::Vector4 b =
        geometry::transform(quad->bottom()->header.view.fullTransform(),
                            geometry::point({p.x, (2 * 1.5f / 10 - 1) * t * 3, 0.0f}));
    EXPECT_NEAR(b.y / b.w, 1.5f, 1e-3f);
    EXPECT_EQ(quad->top()->LayerCount(2, 3), 2);
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(LdiMaker, EverySingleFileKindSavesBackByteForByte) {
    const Scene scene = buildDemoScene();
    const ScratchFolder scratch("bytes");
    for (const MakerKindInfo& info : makerKinds()) {
        if (!isSingleFileKind(info.kind)) {
            continue;
        }
        const MakeRequest request = requestFor(scene, info.kind, 24);
        const std::string path = scratch.path + "/" + fileNameFor(info.kind, "demo");
        Made made;
        ASSERT_TRUE(make(scene, request, path, made));
        std::string error;
        std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path, &error);
        ASSERT_TRUE(ldi) << path << ": " << error;
        const std::string copy = scratch.path + "/copy_" + fileNameFor(info.kind, "demo");
        ASSERT_EQ(ldi->Save(copy), 1) << copy;
        const std::string original = fileBytes(path);
        EXPECT_FALSE(original.empty());
        EXPECT_TRUE(original == fileBytes(copy)) << info.name;
    }
}

TEST(LdiMaker, LoadedTablesGiveTheDrawerDepthsAndSizesOfKnownSquares) {
    // Squares at eye depths 3 (grey) and 4 (red) fill every pixel: closed-form answers for the
    // tables the CP and MRQP drawing read after loading.
    const Scene scene = twoParallelQuads();
    const ScratchFolder scratch("tables");
    MakeRequest request = requestFor(scene, MakerKind::rtCp, 8);
    request.camera = quadsCamera();
    std::string error;
    ASSERT_TRUE(normalizeCamera(request.camera, error));
    const float depths[2] = {4.0f, 3.0f};  // storage order: farthest first
    {
        const std::string path = scratch.path + "/t.ldibrtcp";
        Made made;
        ASSERT_TRUE(make(scene, request, path, made));
        std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path);
        auto* cp = dynamic_cast<ldi::LdiRtCp*>(ldi.get());
        ASSERT_TRUE(cp);
        const float n = cp->header.view.near;
        const float f = cp->header.view.far;
        for (int k = 0; k < 2; ++k) {
            const std::uint32_t code = cp->pixels[cp->FirstLayer(3, 5) + k] >> 24;
            // Code c covers normalised depth + 1 in [c / 128, (c + 1) / 128].
            EXPECT_FLOAT_EQ(cp->binValue[code], (2.0f * code + 1.0f) / 256.0f - 1.0f);
            const float zNdc = geometry::perspectiveDepth(-depths[k], n, f);
            EXPECT_LE(std::fabs(cp->binValue[code] - zNdc), 1.0f / 256.0f + 1e-6f);
            // binFactor is the eye z of the code's middle: a little in front of or behind -depth.
            EXPECT_FLOAT_EQ(cp->binFactor[code],
                            2 * n * f / ((f - n) * cp->binValue[code] - (f + n)));
            EXPECT_NEAR(cp->binFactor[code], -depths[k], 0.03f);
        }
        EXPECT_EQ(cp->pixels[cp->FirstLayer(3, 5)] & 0xFFFFFFu, 0xFF0000u);
        EXPECT_EQ(cp->pixels[cp->FirstLayer(3, 5) + 1] & 0xFFFFFFu, 0x7F7F7Fu);
    }
    {
        request.kind = MakerKind::rtMrqp;
        const std::string path = scratch.path + "/t.ldibrtmrqp";
        Made made;
        ASSERT_TRUE(make(scene, request, path, made));
        std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(path);
        auto* mr = dynamic_cast<ldi::LdiRtMrqp*>(ldi.get());
        ASSERT_TRUE(mr);
        const float ratio = std::pow(mr->header.view.far / mr->header.view.near, 1.0f / 31);
        // Pixel (3, 5): its first depth pixel and its first 4x4 and 2x2 colours.
        const std::int64_t p = mr->rowStart[0][3] + mr->layerOffset[0][3 * 9 + 5];
        const std::int64_t i4 = mr->rowStart[1][3] + mr->layerOffset[1][3 * 9 + 5];
        const std::int64_t i2 = mr->rowStart[2][3] + mr->layerOffset[2][3 * 9 + 5];
        EXPECT_EQ(i4, 16 * p);
        EXPECT_EQ(i2, 4 * p);
        const std::uint32_t expectedColour[2] = {0xFF0000u, 0x7F7F7Fu};
        for (int k = 0; k < 2; ++k) {
            const std::uint32_t word = mr->pixels[2 * (p + k)];
            const std::uint32_t cls = word >> 20 & 31;
            // Seen from its own camera (splat scale 1, W = depth) a sample's accurate size
            // binValue / depth is just under one pixel.
            EXPECT_LE(mr->binValue[cls], depths[k]);
            EXPECT_GT(mr->binValue[cls] * ratio, depths[k]);
            EXPECT_EQ(mr->pixels[2 * (p + k) + 1], 0xFFFFFu);  // every 4x4 and 2x2 sub-cell
            EXPECT_EQ(mr->fullColours[p + k], expectedColour[k]);
            for (int b = 0; b < 16; ++b) {
                EXPECT_EQ(mr->colours4x4[i4 + 16 * k + b], expectedColour[k]) << k << " " << b;
            }
            for (int b = 0; b < 4; ++b) {
                EXPECT_EQ(mr->colours2x2[i2 + 4 * k + b], expectedColour[k]) << k << " " << b;
            }
        }
    }
}

TEST(MeshImport, PlyVertexColoursAreKept) {
    Scene scene;
    std::string error;
    ASSERT_TRUE(
        loadMeshScene(std::string(STRATA_TEST_DATA_DIR) + "/maker/coloured_quad.ply", scene, error))
        << error;
    ASSERT_EQ(scene.meshes.size(), 1u);
    ASSERT_EQ(scene.meshes[0].colours.size(), scene.meshes[0].positions.size());
    EXPECT_FALSE(scene.litByDefault);
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster);
    TraceOptions options;
    options.width = options.height = 8;
    options.shading.mode = ShadingMode::unlit;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(
        traceImage(*caster, defaultCamera(scene.bounds(), 0.7853982f), options, pixels, error));
    const std::uint32_t centre = pixels[4 * 8 + 4];
    EXPECT_NEAR(static_cast<int>(centre >> 16 & 0xFF), 200, 1);
    EXPECT_NEAR(static_cast<int>(centre >> 8 & 0xFF), 40, 1);
    EXPECT_NEAR(static_cast<int>(centre & 0xFF), 90, 1);
}

TEST(MeshImport, ObjVertexColoursInterpolateOverTheTriangle) {
    Scene scene;
    std::string error;
    ASSERT_TRUE(loadMeshScene(std::string(STRATA_TEST_DATA_DIR) + "/maker/gradient_triangle.obj",
                              scene, error))
        << error;
    ASSERT_EQ(scene.meshes.size(), 1u);
    ASSERT_FALSE(scene.meshes[0].colours.empty());
    auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster);
    SurfaceHit hit;
    // Near the red corner (-1, -1) and near the blue apex (0, 1).
    ASSERT_TRUE(caster->nearest({-0.9f, -0.95f, 5}, {0, 0, -1}, 0, INFINITY, hit));
    Colour c = surfaceColour(scene, hit.mesh, hit.triangle, hit.u, hit.v, hit.position);
    EXPECT_GT(c.r, 0.85f);
    ASSERT_TRUE(caster->nearest({0.0f, 0.9f, 5}, {0, 0, -1}, 0, INFINITY, hit));
    c = surfaceColour(scene, hit.mesh, hit.triangle, hit.u, hit.v, hit.position);
    EXPECT_GT(c.b, 0.85f);
}

TEST(MeshImport, MissingAndEmptyFilesAreRefusedWithTheirName) {
    Scene scene;
    std::string error;
    EXPECT_FALSE(loadMeshScene("/nonexistent/model.obj", scene, error));
    EXPECT_NE(error.find("/nonexistent/model.obj"), std::string::npos);
    const ScratchFolder scratch("mesh");
    const std::string path = scratch.path + "/empty.obj";
    std::ofstream(path) << "# nothing\n";
    EXPECT_FALSE(loadMeshScene(path, scene, error));
    EXPECT_TRUE(scene.meshes.empty());
}

TEST(LdiEncoding, CpWordsCarryColourAndBinnedDepth) {
    const auto bins = cpDepthBins();
    EXPECT_EQ(bins[0], 0.0f);
    EXPECT_EQ(bins[256], 2.0f);
    EXPECT_EQ(cpPixelWord(0xFF123456u, -1.0f, bins), 0x00123456u);
    EXPECT_EQ(cpPixelWord(0x123456u, 0.0f, bins), 0x80123456u);  // zNdc + 1 = 1: code 128
    EXPECT_EQ(cpPixelWord(0x123456u, 1.0f, bins) >> 24, 255u);
}

TEST(LdiEncoding, SizeClassBinsAreGeometricFromNearToFar) {
    const auto bins = sizeClassBins(1.0f, 128.0f);  // 31 ratios of 2^(7/31)
    const float ratio = std::pow(2.0f, 7.0f / 31);
    EXPECT_FLOAT_EQ(bins[0], 1.0f / ratio);
    EXPECT_FLOAT_EQ(bins[1], 1.0f);
    EXPECT_FLOAT_EQ(bins[32], 128.0f);
    // Every depth's class middle lies at most one class ratio below it.
    for (float d = 1.0f; d <= 128.0f; d *= 1.07f) {
        const int c = sizeClassOf(d, bins);
        const float middle =
            (bins[static_cast<std::size_t>(c)] + bins[static_cast<std::size_t>(c) + 1]) / 2;
        EXPECT_LE(middle, d) << d;
        EXPECT_GT(middle * ratio, d) << d;
    }
    LayerSample sample;
    sample.depth = 3.0f;
    sample.normal = {0, 1, 0};
    const std::uint32_t word = depthWordOf(sample, 1.0f, 128.0f, bins);
    EXPECT_EQ(word >> 31, 0u);
    EXPECT_EQ(word >> 20 & 31, static_cast<std::uint32_t>(sizeClassOf(3.0f, bins)));
    EXPECT_EQ(word >> 25 & 63, static_cast<std::uint32_t>(geometry::nearestNormal({0, 1, 0})));
    EXPECT_NEAR(-geometry::perspectiveEye(geometry::decodeDepth(word & 0xFFFFF), 1, 128), 3.0f,
                1e-3f);
}

}  // namespace
}  // namespace strata::maker
