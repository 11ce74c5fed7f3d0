// Point clouds in PLY files: reading ASCII and both binary byte orders with their colour types,
// telling clouds from meshes, refusing damaged files, estimating normals and footprints, and
// carrying a cloud into a grid without holes and without widening its edges.
#include "maker/point_cloud.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "maker_test_util.h"

namespace strata::maker {
namespace {

using geometry::Vector3;

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
std::string raw(T value, bool bigEndian) {
    std::string bytes(sizeof(T), '\0');
    std::memcpy(bytes.data(), &value, sizeof(T));
    if (bigEndian) {
        std::reverse(bytes.begin(), bytes.end());
    }
    return bytes;
}

PointCloud read(const std::string& path, bool expectOk = true, std::string* message = nullptr) {
    PointCloud cloud;
    std::string error;
    EXPECT_EQ(readPointCloud(path, cloud, error), expectOk) << error;
    if (message != nullptr) {
        *message = error;
    }
    return cloud;
}

// A planar grid of n x n points `spacing` apart, centred on `centre`, spanned by u and v.
std::string gridCloud(int n, float spacing, const Vector3& centre, const Vector3& u,
                      const Vector3& v) {
    std::string text = "ply\nformat ascii 1.0\nelement vertex " + std::to_string(n * n) +
                       "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const Vector3 p = centre + u * (spacing * (i - (n - 1) * 0.5f)) +
                              v * (spacing * (j - (n - 1) * 0.5f));
            char line[96];
            std::snprintf(line, sizeof line, "%.7g %.7g %.7g\n", p.x, p.y, p.z);
            text += line;
        }
    }
    return text;
}

TEST(PointCloud, ReadsAsciiAndBothBinaryOrdersWithTheirColourTypes) {
    const testing::ScratchFolder scratch("cloud_read");
    // ASCII, uchar colours, normals to be made unit, another element with a list before.
    writeFile(scratch.path + "/a.ply",
              "ply\nformat ascii 1.0\ncomment made by hand\nelement camera 1\nproperty list uchar "
              "float view\nelement vertex 2\nproperty float x\nproperty float y\nproperty float "
              "z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\nproperty float "
              "nx\nproperty float ny\nproperty float nz\nend_header\n3 1 2 3\n1 2 3 255 128 0 0 0 "
              "2\n-1 0.5 4 1 2 3 0 0 0\n");
    PointCloud a = read(scratch.path + "/a.ply");
    ASSERT_EQ(a.points.size(), 2u);
    EXPECT_TRUE(a.colours);
    EXPECT_TRUE(a.normals);
    EXPECT_EQ(a.points[0].position, (Vector3{1, 2, 3}));
    EXPECT_EQ(a.points[0].colour, 0xFF8000u);
    EXPECT_EQ(a.points[0].normal, (Vector3{0, 0, 1}));
    EXPECT_FALSE(a.points[0].estimated);
    EXPECT_EQ(a.points[1].colour, 0x010203u);
    EXPECT_EQ(a.bounds.min, (Vector3{-1, 0.5f, 3}));
    // Big-endian: double positions, ushort colours (out of 65535).
    for (const bool bigEndian : {true, false}) {
        std::string bytes = std::string("ply\nformat ") +
                            (bigEndian ? "binary_big_endian" : "binary_little_endian") +
                            " 1.0\nelement vertex 1\nproperty double x\nproperty double "
                            "y\nproperty double z\nproperty ushort r\nproperty ushort "
                            "g\nproperty ushort b\nend_header\n";
        bytes += raw(0.25, bigEndian) + raw(-2.0, bigEndian) + raw(7.5, bigEndian);
        bytes += raw<std::uint16_t>(65535, bigEndian) + raw<std::uint16_t>(0, bigEndian) +
                 raw<std::uint16_t>(32896, bigEndian);
        writeFile(scratch.path + "/b.ply", bytes);
        PointCloud b = read(scratch.path + "/b.ply");
        ASSERT_EQ(b.points.size(), 1u) << bigEndian;
        EXPECT_EQ(b.points[0].position, (Vector3{0.25f, -2.0f, 7.5f}));
        EXPECT_EQ(b.points[0].colour, 0xFF0080u);
        EXPECT_FALSE(b.normals);
    }
    // Without colours every point is light grey.
    writeFile(scratch.path + "/c.ply",
              "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float "
              "y\nproperty float z\nend_header\n0 0 0\n");
    const PointCloud c = read(scratch.path + "/c.ply");
    EXPECT_FALSE(c.colours);
    EXPECT_EQ(c.points[0].colour, 0xCCCCCCu);
}

TEST(PointCloud, ACloudIsAPlyOfVerticesWithoutFaces) {
    const testing::ScratchFolder scratch("cloud_kind");
    const std::string vertices =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty "
        "float z\n";
    writeFile(scratch.path + "/points.ply", vertices + "end_header\n0 0 0\n1 0 0\n0 1 0\n");
    writeFile(scratch.path + "/none.ply", vertices +
                                              "element face 0\nproperty list uchar int "
                                              "vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n");
    writeFile(scratch.path + "/mesh.ply",
              vertices +
                  "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 "
                  "0\n0 1 0\n3 0 1 2\n");
    writeFile(scratch.path + "/mesh.obj", "v 0 0 0\n");
    EXPECT_TRUE(isPointCloudFile(scratch.path + "/points.ply"));
    EXPECT_TRUE(isPointCloudFile(scratch.path + "/none.ply"));
    EXPECT_FALSE(isPointCloudFile(scratch.path + "/mesh.ply"));
    EXPECT_FALSE(isPointCloudFile(scratch.path + "/mesh.obj"));
    EXPECT_FALSE(isPointCloudFile(scratch.path + "/missing.ply"));
}

TEST(PointCloud, DamagedFilesAreRefusedWithOneLine) {
    const testing::ScratchFolder scratch("cloud_bad");
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    struct Case {
        std::string bytes;
        const char* says;
    };
    const Case cases[] = {
        {"ply\nformat ascii 1.0\nelement vertex 1000\n" + xyz + "end_header\n0 0 0\n",
         "element vertex: 1000 items cannot fit in the file"},
        {"ply\nformat ascii 1.0\nelement vertex 2\n" + xyz + "end_header\n0 0 0\n1 2 3x\n",
         "vertex 1: a value is missing or malformed"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty double x\nproperty double "
         "y\nproperty double z\nend_header\n1e300 0 0\n",
         "vertex 0: the position is not a finite float"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float "
         "y\nend_header\n0 0\n",
         "no vertex element with x, y and z"},
        {"ply\nformat ascii 1.0\nelement vertex 0\n" + xyz + "end_header\n",
         "the cloud holds no points"},
        {"ply\nformat ascii 1.0\nelement vertex 67108865\n" + xyz + "end_header\n",
         "67108865 points are more than the 67108864"},
        {"ply\nformat binary_little_endian 1.0\nelement vertex 1\n" + xyz + "end_header\n" +
             raw(std::nanf(""), false) + raw(0.0f, false) + raw(0.0f, false),
         "vertex 0: a value is missing or malformed"},
        {"ply\nformat ascii 2.0\nelement vertex 1\n" + xyz + "end_header\n0 0 0\n",
         "unknown format line"},
        {"solid ascii\n", "not a PLY file"},
    };
    for (const Case& c : cases) {
        writeFile(scratch.path + "/bad.ply", c.bytes);
        std::string error;
        read(scratch.path + "/bad.ply", false, &error);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(error.rfind(scratch.path + "/bad.ply: ", 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    // Every cut of a binary cloud is refused.
    std::string bytes =
        "ply\nformat binary_little_endian 1.0\nelement vertex 2\n" + xyz +
        "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    const std::size_t header = bytes.size();
    for (int i = 0; i < 2; ++i) {
        bytes += raw(1.0f, false) + raw(2.0f, false) + raw(3.0f, false) + "abc";
    }
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        writeFile(scratch.path + "/cut.ply", bytes.substr(0, n));
        PointCloud cloud;
        std::string error;
        EXPECT_FALSE(readPointCloud(scratch.path + "/cut.ply", cloud, error))
            << "cut at " << n << (n >= header ? " (body)" : " (header)");
    }
}

TEST(PointCloud, NormalsAndFootprintsComeFromTheNeighbours) {
    const testing::ScratchFolder scratch("cloud_normals");
    const Vector3 u = geometry::normalized({1, 0.2f, 0.1f});
    const Vector3 v = geometry::normalized(geometry::cross({0.1f, 0.3f, 1}, u));
    const Vector3 n = geometry::normalized(geometry::cross(u, v));
    writeFile(scratch.path + "/grid.ply", gridCloud(12, 0.1f, {1, 2, 3}, u, v));
    const PointCloud cloud = read(scratch.path + "/grid.ply");
    ASSERT_EQ(cloud.points.size(), 144u);
    for (std::size_t i = 0; i < cloud.points.size(); ++i) {
        const CloudPoint& p = cloud.points[i];
        EXPECT_TRUE(p.estimated);
        EXPECT_GT(std::fabs(geometry::dot(p.normal, n)), 0.999f) << i;
        const int row = static_cast<int>(i / 12);
        const int column = static_cast<int>(i % 12);
        if (row > 0 && row < 11 && column > 0 && column < 11) {
            // Four neighbours one spacing away: three quarters of it.
            EXPECT_NEAR(p.radius, 0.075f, 1e-4f) << i;
        }
    }
}

TEST(PointCloud, ACloudCoversItsGridWithoutHolesAndWithoutWideningItsEdges) {
    // A square grid of points 0.1 apart seen square-on so that points fall two pixels apart
    // (and off the pixel centres): every pixel within the grid is covered, none more than a
    // little beyond its outermost points.
    const testing::ScratchFolder scratch("cloud_cover");
    writeFile(scratch.path + "/grid.ply",
              gridCloud(21, 0.1f, {0.013f, -0.021f, -5}, {1, 0, 0}, {0, 1, 0}));
    PointCloud cloud = read(scratch.path + "/grid.ply");
    const PointCloudSource source(std::move(cloud), FusionOptions{0.0f});
    PinholeCamera camera;
    camera.pos = {0, 0, 0};
    camera.dir = {0, 0, -1};
    camera.up = {0, 1, 0};
    // 64 pixels across 2 tan(fov / 2) 5 = 3.2: 0.05 a pixel.
    camera.fov = 2.0f * std::atan(3.2f / 10.0f);
    std::string error;
    ASSERT_TRUE(normalizeCamera(camera, error));
    SampleOptions options;
    options.width = options.height = 64;
    LayeredImage image;
    ASSERT_TRUE(source.sample(camera, options, image, error)) << error;
    const GridView grid(camera, 64, 64);
    double lo[2] = {0, 0};
    double hi[2] = {0, 0};
    double depth = 0;
    ASSERT_TRUE(grid.project({0.013f - 1.0f, -0.021f - 1.0f, -5}, lo[0], lo[1], depth));
    ASSERT_TRUE(grid.project({0.013f + 1.0f, -0.021f + 1.0f, -5}, hi[0], hi[1], depth));
    int inside = 0;
    for (int row = 0; row < 64; ++row) {
        for (int column = 0; column < 64; ++column) {
            const double x = column + 0.5;
            const double y = row + 0.5;
            const int layers = image.layerCount(row, column);
            if (x >= lo[0] && x <= hi[0] && y >= lo[1] && y <= hi[1]) {
                ++inside;
                EXPECT_EQ(layers, 1) << "a hole at " << row << "," << column;
            } else if (x < lo[0] - 0.6 || x > hi[0] + 0.6 || y < lo[1] - 0.6 || y > hi[1] + 0.6) {
                EXPECT_EQ(layers, 0) << "widened to " << row << "," << column;
            }
        }
    }
    EXPECT_GT(inside, 1500);
}

}  // namespace
}  // namespace strata::maker
