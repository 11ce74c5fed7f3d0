// Writes the seed corpus of one file-reader fuzz target into a folder: small valid files made
// here and the matching files of the test data.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imageutil/bmp_file.h"
#include "imageutil/depth_image.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"

namespace {

const std::string kData = STRATA_TEST_DATA_DIR;

const std::string kCamera =
    "{\"position\": [0, 0, 5], \"direction\": [0, 0, -1], \"up\": [0, 1, 0], "
    "\"fovDegrees\": 45, \"near\": 0.1, \"far\": 100, \"width\": 350, \"height\": 350}";

bool writeText(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

bool copyData(const std::string& name, const std::string& folder) {
    std::error_code code;
    std::filesystem::copy_file(kData + "/" + name,
                               folder + "/" + std::filesystem::path(name).filename().string(),
                               std::filesystem::copy_options::overwrite_existing, code);
    return !code;
}

strata::imageutil::RgbImage testImage(std::int32_t width, std::int32_t height) {
    auto image = strata::imageutil::RgbImage::createOwned(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            image.at(x, y) = strata::imageutil::RgbImage::packColour(
                static_cast<std::uint8_t>(40 * x), static_cast<std::uint8_t>(60 * y), 128);
        }
    }
    return image;
}

std::string binaryPly() {
    std::string s =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\nproperty "
        "float y\nproperty float z\nelement face 1\nproperty list uchar int vertex_indices\n"
        "end_header\n";
    const float v[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    s.append(reinterpret_cast<const char*>(v), sizeof v);
    s.push_back(3);
    const std::int32_t f[3] = {0, 1, 2};
    s.append(reinterpret_cast<const char*>(f), sizeof f);
    return s;
}

std::string binaryStl() {
    std::string s(80, ' ');
    const std::uint32_t count = 1;
    s.append(reinterpret_cast<const char*>(&count), 4);
    const float t[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0};
    s.append(reinterpret_cast<const char*>(t), sizeof t);
    s.append(2, '\0');
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: reader_fuzz_seeds FOLDER TARGET\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string target = argv[2];
    bool ok = true;
    if (target == "png_read_fuzz") {
        ok = strata::imageutil::writePng(folder + "/a.png", testImage(4, 3)) &&
             strata::imageutil::writePng(folder + "/b.png", testImage(1, 1)) &&
             copyData("imageutil/rgb_3x2.png", folder);
    } else if (target == "bmp_read_fuzz") {
        const auto image = testImage(5, 3);
        ok = strata::imageutil::ImageUtilWriteBMP(folder + "/a.bmp", image.width, image.height,
                                                  image.pixels) == 1;
        for (const char* name : {"palette8.bmp", "rgb24_topdown.bmp", "rgb24_w3.bmp",
                                 "rgb24_w4.bmp", "rgb32.bmp", "v5header.bmp"}) {
            ok = copyData(std::string("imageutil/") + name, folder) && ok;
        }
    } else if (target == "polyhedron_text_fuzz") {
        ok = copyData("mesh/cube.txt", folder) &&
             writeText(folder + "/tetra.txt",
                       " 4 4 12\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3\n");
    } else if (target == "mesh_precheck_fuzz") {
        ok = copyData("maker/coloured_quad.ply", folder) &&
             writeText(folder + "/b.ply", binaryPly()) &&
             writeText(folder + "/a.stl", binaryStl()) &&
             writeText(folder + "/t.stl",
                       "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
                       "vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n"
                       "endsolid t\n");
    } else if (target == "camera_file_fuzz") {
        ok = writeText(folder + "/a.json", kCamera) &&
             writeText(folder + "/b.json",
                       "{\"position\": [1e12, -3.5, 0.25], \"direction\": [1, 0, 0], \"up\": "
                       "[0, 0, 1], \"fovDegrees\": 0.01, \"near\": 1e-6, \"far\": 1e30, "
                       "\"width\": 16384, \"height\": 1}");
    } else if (target == "camera_path_fuzz") {
        std::string turned = kCamera;
        turned.replace(turned.find("[0, 0, -1]"), 10, "[1, 0, 0.5]");
        ok =
            writeText(folder + "/one.json", "[" + kCamera + "]") &&
            writeText(folder + "/three.json", "[" + kCamera + ", " + turned + ", " + kCamera + "]");
    } else if (target == "mtl_fuzz") {
        ok = writeText(folder + "/a.mtl",
                       "newmtl a\nKd 1 0.5 0\nmap_Kd t.png\n\nnewmtl b\nKd 0 0 1\n") &&
             writeText(folder + "/b.mtl",
                       "newmtl a\nKa 0 0 0\nKd 0.2 0.4 0.6\nKs 1 1 1\nNs 10\nd 0.5\nillum 2\n"
                       "map_Kd -clamp on -s 2 2 1 t.png\nnewmtl b\nmap_Kd ../outside.png\n") &&
             writeText(folder + "/c.mtl",
                       "newmtl a\nmap_Kd fifo.png\nnewmtl b\nmap_Kd /etc/hostname\n");
    } else if (target == "depth_read_fuzz") {
        strata::imageutil::DepthImage depth{3, 2, {1.0f, 2.5f, INFINITY, 0.75f, 4.0f, 9.0f}};
        std::string error;
        ok = strata::imageutil::writeDepthImage(folder + "/a.pfm", depth, 1000.0, error) &&
             strata::imageutil::writeDepthImage(folder + "/b.png", depth, 1000.0, error) &&
             writeText(folder + "/c.pfm", std::string("PF\n1 1\n1.0\n") + std::string(12, '\0'));
    } else if (target == "point_cloud_fuzz") {
        std::string binary =
            "ply\nformat binary_big_endian 1.0\nelement vertex 4\nproperty float x\nproperty "
            "float y\nproperty float z\nproperty uchar red\nproperty uchar green\nproperty uchar "
            "blue\nend_header\n";
        for (int i = 0; i < 4; ++i) {
            const float p[3] = {static_cast<float>(i % 2), static_cast<float>(i / 2), 0.0f};
            for (const float v : p) {
                const auto* b = reinterpret_cast<const char*>(&v);
                binary.append({b[3], b[2], b[1], b[0]});
            }
            binary.append({static_cast<char>(40 * i), 7, 9});
        }
        ok = writeText(folder + "/b.ply", binary) &&
             writeText(folder + "/a.ply",
                       "ply\nformat ascii 1.0\nelement vertex 5\nproperty float x\nproperty "
                       "float y\nproperty float z\nproperty float nx\nproperty float "
                       "ny\nproperty float nz\nend_header\n0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 "
                       "0 1\n1 1 0 0 0 1\n2 2 0.1 0 0 1\n");
    } else {
        std::fprintf(stderr, "reader_fuzz_seeds: no seeds for %s\n", target.c_str());
        return 2;
    }
    return ok ? 0 : 1;
}
