// `strata export`: point clouds of a known two-plane scene in every LDI kind, checked by a small
// reader of its own against a hand-written header, the planes (within what the depth quantiser
// can keep) and the LDI's sample count; `--layer`; refused arguments and outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "geometry/depth.h"
#include "ldi/ldi_factory.h"
#include "maker/maker_test_util.h"
#include "maker/mesh_files.h"

namespace strata::tools {
namespace {

using maker::testing::run;
using maker::testing::ScratchFolder;

// Two squares x, y in [-1, 1] facing +z: at z = 0 (grey, Kd 0.5) and z = -1 (red). Seen from
// (0, 0, 3) down -z with a 20-degree view, every pixel of the grid meets both.
void writeTwoPlanes(const std::string& folder) {
    maker::testing::writeFile(folder + "/planes.mtl",
                              "newmtl grey\nKd 0.5 0.5 0.5\nnewmtl red\nKd 1 0 0\n");
    maker::testing::writeFile(folder + "/planes.obj",
                              "mtllib planes.mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
                              "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\n"
                              "usemtl grey\nf 1 2 3 4\nusemtl red\nf 5 6 7 8\n");
}

constexpr const char* kCamera = "--pos 0,0,3 --dir 0,0,-1 --up 0,1,0 --fov 20 --size 16";
constexpr int kGrid = 16;

std::string expectedHeader(long long points, bool normals) {
    std::string text =
        "ply\n"
        "format binary_little_endian 1.0\n"
        "comment strata export\n"
        "element vertex " +
        std::to_string(points) +
        "\n"
        "property float x\n"
        "property float y\n"
        "property float z\n"
        "property uchar red\n"
        "property uchar green\n"
        "property uchar blue\n";
    if (normals) {
        text +=
            "property float nx\n"
            "property float ny\n"
            "property float nz\n";
    }
    return text + "end_header\n";
}

struct CloudPoint {
    float x = 0, y = 0, z = 0;
    int r = 0, g = 0, b = 0;
    float nx = 0, ny = 0, nz = 0;
};

struct Cloud {
    std::string header;
    std::vector<CloudPoint> points;
    bool normals = false;
};

// A reader of its own: the header's lines up to end_header, the vertex count and the property
// list, then the records as the properties say (float or uchar), little-endian.
bool readCloud(const std::string& path, Cloud& cloud) {
    const std::string bytes = maker::testing::readFile(path);
    const std::size_t end = bytes.find("end_header\n");
    if (bytes.rfind("ply\n", 0) != 0 || end == std::string::npos) {
        return false;
    }
    cloud.header = bytes.substr(0, end + 11);
    long long count = -1;
    std::vector<std::pair<std::string, std::string>> properties;  // type, name
    std::size_t at = 0;
    while (at < cloud.header.size()) {
        const std::size_t newline = cloud.header.find('\n', at);
        const std::string line = cloud.header.substr(at, newline - at);
        at = newline + 1;
        char a[32] = {}, b[32] = {};
        if (std::sscanf(line.c_str(), "element vertex %lld", &count) == 1) {
            continue;
        }
        if (std::sscanf(line.c_str(), "property %31s %31s", a, b) == 2) {
            properties.emplace_back(a, b);
        }
    }
    std::size_t recordSize = 0;
    for (const auto& [type, name] : properties) {
        recordSize += type == "float" ? 4 : type == "uchar" ? 1 : 1000;
    }
    if (count < 0 || bytes.size() != cloud.header.size() + recordSize * count) {
        return false;
    }
    const char* p = bytes.data() + cloud.header.size();
    for (long long i = 0; i < count; ++i) {
        CloudPoint point;
        for (const auto& [type, name] : properties) {
            float f = 0.0f;
            int u = 0;
            if (type == "float") {
                std::memcpy(&f, p, 4);
                p += 4;
            } else {
                u = static_cast<unsigned char>(*p++);
            }
            if (name == "x")
                point.x = f;
            if (name == "y")
                point.y = f;
            if (name == "z")
                point.z = f;
            if (name == "nx")
                point.nx = f, cloud.normals = true;
            if (name == "ny")
                point.ny = f;
            if (name == "nz")
                point.nz = f;
            if (name == "red")
                point.r = u;
            if (name == "green")
                point.g = u;
            if (name == "blue")
                point.b = u;
        }
        cloud.points.push_back(point);
    }
    return true;
}

// How far the quantised depth of a point at eye depth d may lie from the true one: the
// normalised-depth error (one 20-bit code, or half a 256-bin CP bin) through the slope of the
// eye depth, d^2 (f - n) / (2 n f).
float depthTolerance(float d, float near, float far, bool cp) {
    const float ndcError = cp ? 1.0f / 256.0f : 2.0f / 1048575.0f;
    const float slope = d * d * (far - near) / (2.0f * near * far);
    return 1.05f * slope * ndcError + 1e-5f;
}

TEST(ExportCommand, EveryKindGivesTheTwoPlanesWithOnePointPerSample) {
    const ScratchFolder scratch("export_kinds");
    writeTwoPlanes(scratch.path);
    const struct {
        const char* kind;
        const char* file;
        bool cp;
    } kinds[] = {{"rt-cp", "p.ldibrtcp", true},      {"rt-qp", "p.ldibrtqp", false},
                 {"rt-mrqp", "p.ldibrtmrqp", false}, {"rtff-cp", "p.ldirtffcp", true},
                 {"rtff-qp", "p.ldirtffqp", false},  {"rtff-mrqp", "p.ldirtffmrqp", false},
                 {"quad", "p.ldiquad", false}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.kind);
        const std::string ldiPath = scratch.path + "/" + k.file;
        ASSERT_EQ(run("make " + scratch.path + "/planes.obj --kind " + k.kind + " " + kCamera +
                      " -o " + ldiPath),
                  0);
        std::string output;
        ASSERT_EQ(run("export " + ldiPath + " -o " + scratch.path + "/c.ply", &output), 0);
        const auto ldi = ldi::LoadLdi(ldiPath);
        ASSERT_TRUE(ldi);
        const long long samples = ldi->DepthPixelCount();
        EXPECT_EQ(samples, 2 * kGrid * kGrid);
        EXPECT_EQ(output, scratch.path + "/c.ply: " + std::to_string(samples) + " points\n");
        Cloud cloud;
        ASSERT_TRUE(readCloud(scratch.path + "/c.ply", cloud));
        EXPECT_EQ(cloud.header, expectedHeader(samples, !k.cp));
        ASSERT_EQ(static_cast<long long>(cloud.points.size()), samples);
        const float near = ldi->header.view.near;
        const float far = ldi->header.view.far;
        int front = 0;
        for (const CloudPoint& p : cloud.points) {
            const bool onFront = p.z > -0.5f;
            front += onFront ? 1 : 0;
            const float plane = onFront ? 0.0f : -1.0f;
            const float tolerance = depthTolerance(3.0f - plane, near, far, k.cp);
            EXPECT_NEAR(p.z, plane, tolerance);
            EXPECT_LE(std::fabs(p.x), 1.0f + tolerance);
            EXPECT_LE(std::fabs(p.y), 1.0f + tolerance);
            EXPECT_EQ(p.r, onFront ? 127 : 255);
            EXPECT_EQ(p.g, onFront ? 127 : 0);
            EXPECT_EQ(p.b, onFront ? 127 : 0);
            if (!k.cp) {
                EXPECT_GT(p.nz, 0.95f);  // the table normal nearest +z
            }
            // On the ray through a pixel centre: x / (d t) = (2c + 1) / 16 - 1 for a whole c.
            const float t = std::tan(10.0f * 3.14159265f / 180.0f);
            for (const float coordinate : {p.x, p.y}) {
                const float c = ((coordinate / ((3.0f - p.z) * t) + 1.0f) * kGrid - 1.0f) * 0.5f;
                EXPECT_NEAR(c, std::round(c), 2e-3f) << coordinate;
            }
        }
        EXPECT_EQ(front, kGrid * kGrid);
    }
}

TEST(ExportCommand, ALayerKeepsOnePointPerPixelFrontFirst) {
    const ScratchFolder scratch("export_layer");
    writeTwoPlanes(scratch.path);
    const std::string ldiPath = scratch.path + "/p.ldibrtqp";
    ASSERT_EQ(run("make " + scratch.path + "/planes.obj --kind rt-qp " + std::string(kCamera) +
                  " -o " + ldiPath),
              0);
    for (const int layer : {0, 1}) {
        const std::string out = scratch.path + "/l" + std::to_string(layer) + ".ply";
        ASSERT_EQ(run("export " + ldiPath + " --layer " + std::to_string(layer) + " -o " + out), 0);
        Cloud cloud;
        ASSERT_TRUE(readCloud(out, cloud));
        EXPECT_EQ(cloud.header, expectedHeader(kGrid * kGrid, true));
        ASSERT_EQ(cloud.points.size(), static_cast<std::size_t>(kGrid * kGrid));
        for (const CloudPoint& p : cloud.points) {
            EXPECT_NEAR(p.z, layer == 0 ? 0.0f : -1.0f, 1e-3f);
        }
    }
}

TEST(ExportCommand, APyramidExportsTheLevelAskedFor) {
    const ScratchFolder scratch("export_pyramid");
    writeTwoPlanes(scratch.path);
    const std::string list = scratch.path + "/p.ldipyr";
    ASSERT_EQ(run("make " + scratch.path + "/planes.obj --kind pyramid --levels 2 " +
                  std::string(kCamera) + " -o " + list),
              0);
    // Level 0 is the 16 x 16 grid, level 1 the 8 x 8 one; both see the two planes everywhere.
    for (const auto& [flag, grid] : {std::pair{"", kGrid}, std::pair{" --level 0", kGrid},
                                     std::pair{" --level 1", kGrid / 2}}) {
        std::string output;
        ASSERT_EQ(run("export " + list + flag + " -o " + scratch.path + "/c.ply", &output), 0)
            << flag;
        Cloud cloud;
        ASSERT_TRUE(readCloud(scratch.path + "/c.ply", cloud));
        EXPECT_EQ(cloud.header, expectedHeader(2 * grid * grid, true)) << flag;
        for (const CloudPoint& p : cloud.points) {
            EXPECT_NEAR(p.z, p.z > -0.5f ? 0.0f : -1.0f, 1e-3f);
        }
    }
    for (const char* level : {"2", "-1", "1x", ""}) {
        std::string text;
        EXPECT_EQ(run("export " + list + " --level '" + level + "' -o " + scratch.path + "/d.ply",
                      &text, true),
                  1)
            << level;
        EXPECT_EQ(text, "strata export: --level wants a level 0..1 (0 = the finest)\n") << level;
    }
    std::string text;
    EXPECT_EQ(
        run("export " + scratch.path + "/p_l0.ldibrtqp --level 0 -o " + scratch.path + "/d.ply",
            &text, true),
        1);
    EXPECT_EQ(text, "strata export: --level applies to pyramid lists (.ldipyr) only\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.path + "/d.ply"));
}

TEST(ExportCommand, RefusesBadLayersAndOutputsItCannotWrite) {
    const ScratchFolder scratch("export_refusals");
    writeTwoPlanes(scratch.path);
    const std::string ldiPath = scratch.path + "/p.ldibrtqp";
    ASSERT_EQ(run("make " + scratch.path + "/planes.obj --kind rt-qp " + std::string(kCamera) +
                  " -o " + ldiPath),
              0);
    const std::string out = scratch.path + "/c.ply";
    const struct {
        const char* layer;
        const char* message;
    } layers[] = {
        {"-1", "strata export: --layer wants a layer 0..254 (0 = front)\n"},
        {"1x", "strata export: --layer wants a layer 0..254 (0 = front)\n"},
        {"+1", "strata export: --layer wants a layer 0..254 (0 = front)\n"},
        {"' 1'", "strata export: --layer wants a layer 0..254 (0 = front)\n"},
        {"255", "strata export: --layer wants a layer 0..254 (0 = front)\n"},
        {"1.0", "strata export: --layer wants a layer 0..254 (0 = front)\n"},
        {"''", "strata export: --layer wants a layer 0..254 (0 = front)\n"},
        {"2",
         "strata export: --layer 2: the LDI holds at most 2 layers a pixel (0..1, 0 = "
         "front)\n"},
    };
    for (const auto& c : layers) {
        std::string text;
        EXPECT_EQ(run("export " + ldiPath + " --layer " + c.layer + " -o " + out, &text, true), 1)
            << c.layer;
        EXPECT_EQ(text, c.message) << c.layer;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.layer;
    }
    // An output in a folder that is not there, or onto a folder: failure, nothing written.
    EXPECT_EQ(run("export " + ldiPath + " -o " + scratch.path + "/none/c.ply"), 1);
    EXPECT_FALSE(std::filesystem::exists(scratch.path + "/none"));
    std::filesystem::create_directory(scratch.path + "/folder");
    EXPECT_EQ(run("export " + ldiPath + " -o " + scratch.path + "/folder"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path + "/folder"));
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path + "/folder"));
    // A file that is no LDI: refused, and an existing output stays as it was.
    maker::testing::writeFile(out, "keep");
    EXPECT_EQ(run("export " + scratch.path + "/planes.obj -o " + out), 1);
    EXPECT_EQ(maker::testing::readFile(out), "keep");
    std::size_t leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path)) {
        leftovers += entry.path().string().find(".tmp") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(leftovers, 0u);
}

}  // namespace
}  // namespace strata::tools
