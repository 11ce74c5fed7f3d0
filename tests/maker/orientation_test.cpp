// Orientation of mixed windings: closed parts outward, open parts the way most of their area
// was wound and two-sided, parts found across meshes by position; normals given against the
// winding follow it, and an open part's samples store normals facing the camera.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "maker/demo_scene.h"
#include "maker/layered_image.h"
#include "maker/orientation.h"
#include "maker/pinhole_camera.h"
#include "maker/ray_caster.h"

namespace strata::maker {
namespace {

using geometry::Vector3;

Vector3 faceNormal(const TriangleMesh& mesh, std::size_t t) {
    const Vector3& a = mesh.positions[mesh.indices[3 * t]];
    return geometry::cross(mesh.positions[mesh.indices[3 * t + 1]] - a,
                           mesh.positions[mesh.indices[3 * t + 2]] - a);
}

Vector3 centroid(const TriangleMesh& mesh, std::size_t t) {
    return (mesh.positions[mesh.indices[3 * t]] + mesh.positions[mesh.indices[3 * t + 1]] +
            mesh.positions[mesh.indices[3 * t + 2]]) *
           (1.0f / 3.0f);
}

// Turns triangle t over when pick(t) holds.
template <class Pick>
void turnOver(TriangleMesh& mesh, Pick&& pick) {
    for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
        if (pick(t)) {
            std::swap(mesh.indices[3 * t + 1], mesh.indices[3 * t + 2]);
        }
    }
}

// A floor of 6 x 6 cells at y = 0, each cell with its own corners, facing up.
TriangleMesh floorCells() {
    TriangleMesh floor;
    for (int j = 0; j < 6; ++j) {
        for (int i = 0; i < 6; ++i) {
            const auto x = static_cast<float>(i);
            const auto z = static_cast<float>(j);
            const TriangleMesh cell =
                makeQuad({x, 0, z + 1}, {x + 1, 0, z + 1}, {x + 1, 0, z}, {x, 0, z});
            const auto base = static_cast<std::uint32_t>(floor.positions.size());
            floor.positions.insert(floor.positions.end(), cell.positions.begin(),
                                   cell.positions.end());
            for (const std::uint32_t index : cell.indices) {
                floor.indices.push_back(base + index);
            }
        }
    }
    return floor;
}

TEST(Orientation, ClosedPartsTurnOutwardWhateverTheirWindings) {
    struct Case {
        const char* name;
        TriangleMesh mesh;
        Vector3 centre;
    };
    std::mt19937 random(3);
    std::vector<Case> cases;
    cases.push_back({"box", makeBox({-1, -1, -1}, {1, 2, 1}), {0, 0.5f, 0}});
    cases.push_back({"sphere", makeSphere({0.5f, 0, 0}, 1.5f, 20, 12), {0.5f, 0, 0}});
    cases.push_back({"cylinder", makeCylinder({0, 0, 0}, 1.0f, 2.0f, 16), {0, 1, 0}});
    for (Case& c : cases) {
        for (const char* winding : {"as built", "all reversed", "mixed"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + winding);
            Scene scene;
            TriangleMesh mesh = c.mesh;
            mesh.normals.clear();
            const std::string w = winding;
            turnOver(mesh, [&](std::size_t) {
                return w == "all reversed" || (w == "mixed" && (random() & 1u) != 0);
            });
            scene.meshes.push_back(mesh);
            const OrientationReport report = orientScene(scene);
            EXPECT_EQ(report.parts, 1u);
            EXPECT_EQ(report.closedParts, 1u);
            const TriangleMesh& out = scene.meshes[0];
            EXPECT_TRUE(out.windingOriented);
            int inward = 0;
            for (std::size_t t = 0; t < out.triangleCount(); ++t) {
                const Vector3 n = faceNormal(out, t);
                if (n.squaredLength() > 1e-12f) {
                    inward += geometry::dot(n, centroid(out, t) - c.centre) < 0.0f ? 1 : 0;
                }
                EXPECT_EQ(out.openFaces[t], 0) << t;
            }
            EXPECT_EQ(inward, 0);
        }
    }
}

// An open floor keeps the winding most of its area has, either way, and is two-sided; a box
// standing on it is a closed part of its own.
TEST(Orientation, OpenPartsFollowTheirMajorityAndAreTwoSided) {
    for (const bool mostlyDown : {false, true}) {
        SCOPED_TRACE(mostlyDown ? "mostly down" : "mostly up");
        Scene scene;
        TriangleMesh floor = floorCells();
        // 60 of 72 triangles turned one way: whole cells down, or a few turned up again.
        turnOver(floor, [&](std::size_t t) { return mostlyDown ? t >= 12 : t < 12; });
        scene.meshes.push_back(floor);
        scene.meshes.push_back(makeBox({1.3f, 0, 1.2f}, {2.1f, 1, 2.4f}));
        scene.meshes.back().normals.clear();
        const OrientationReport report = orientScene(scene);
        EXPECT_EQ(report.parts, 2u);
        EXPECT_EQ(report.closedParts, 1u);
        EXPECT_EQ(report.turned, 12u);
        const TriangleMesh& out = scene.meshes[0];
        for (std::size_t t = 0; t < out.triangleCount(); ++t) {
            EXPECT_EQ(faceNormal(out, t).y < 0.0f, mostlyDown) << t;
            EXPECT_EQ(out.openFaces[t], 1) << t;
            EXPECT_TRUE(onOpenPart(scene, 0, static_cast<std::uint32_t>(t)));
        }
        EXPECT_FALSE(onOpenPart(scene, 1, 0));
    }
}

// A box whose top is a separate mesh (another material, its own vertices) is one closed part;
// corners computed twice with last-bit differences still meet.
TEST(Orientation, PartsJoinAcrossMeshesByPosition) {
    Scene scene;
    TriangleMesh box = makeBox({0, 0, 0}, {1, 1, 1});
    box.normals.clear();
    TriangleMesh top;
    TriangleMesh rest;
    for (std::size_t t = 0; t < box.triangleCount(); ++t) {
        TriangleMesh& into = faceNormal(box, t).y > 0.5f ? top : rest;
        for (int k = 0; k < 3; ++k) {
            Vector3 p = box.positions[box.indices[3 * t + k]];
            if (&into == &top) {
                p.x = std::nextafter(p.x, 2.0f);  // not bit for bit the same corner
            }
            into.indices.push_back(static_cast<std::uint32_t>(into.positions.size()));
            into.positions.push_back(p);
        }
    }
    turnOver(top, [](std::size_t) { return true; });
    scene.meshes.push_back(rest);
    scene.meshes.push_back(top);
    const OrientationReport report = orientScene(scene);
    EXPECT_EQ(report.parts, 1u);
    EXPECT_EQ(report.closedParts, 1u);
    EXPECT_EQ(report.turned, 2u);
    for (std::size_t t = 0; t < scene.meshes[1].triangleCount(); ++t) {
        EXPECT_GT(faceNormal(scene.meshes[1], t).y, 0.0f);
    }
}

// Normals given against the winding are turned to the oriented face's side; a triangle whose
// corners meet takes no part; three triangles on one edge do not stop the others.
TEST(Orientation, NormalsFollowTheWindingAndOddTrianglesAreLeftAlone) {
    Scene scene;
    TriangleMesh sphere = makeSphere({0, 0, 0}, 1.0f, 12, 8);
    turnOver(sphere, [](std::size_t) { return true; });  // inward, normals still outward
    for (Vector3& n : sphere.normals) {
        n = -n;  // and the normals inward too
    }
    scene.meshes.push_back(sphere);
    TriangleMesh odd;
    odd.positions = {{3, 0, 0}, {4, 0, 0}, {3, 1, 0}, {3, 0, 1}, {3, 0, -1}, {5, 5, 5}};
    // Three pages on the edge (0, 2), and a triangle with two corners at one place.
    odd.indices = {0, 1, 2, 0, 2, 3, 2, 0, 4, 5, 5, 1};
    scene.meshes.push_back(odd);
    orientScene(scene);
    std::size_t inward = 0;
    for (std::uint32_t t = 0; t < scene.meshes[0].triangleCount(); ++t) {
        const Vector3 n = surfaceNormal(scene, 0, t, 0.3f, 0.3f);
        inward += geometry::dot(n, centroid(scene.meshes[0], t)) < 0.0f ? 1 : 0;
    }
    EXPECT_EQ(inward, 0u);
    EXPECT_EQ(scene.meshes[1].indices[9], 5u);  // the degenerate triangle as it was
    EXPECT_EQ(scene.meshes[1].indices[10], 5u);
    std::string error;
    EXPECT_TRUE(scene.validate(error)) << error;
}

// Samples of an open part store the normal facing the camera that saw them, on both sides and
// in hidden layers; shading keeps the oriented normal.
TEST(Orientation, OpenPartSamplesFaceTheirCamera) {
    Scene scene;
    TriangleMesh floor = floorCells();
    turnOver(floor, [](std::size_t) { return true; });  // all down: the majority stays down
    scene.meshes.push_back(floor);
    orientScene(scene);
    std::string error;
    const auto caster = RayCaster::create(scene, error);
    ASSERT_NE(caster, nullptr) << error;
    for (const float height : {4.0f, -4.0f}) {
        PinholeCamera camera;
        camera.pos = {3, height, 3};
        camera.dir = {0, -height, 0};
        camera.up = {0, 0, -1};
        camera.fov = 0.6f;
        ASSERT_TRUE(normalizeCamera(camera, error)) << error;
        SampleOptions options;
        options.width = 8;
        options.height = 8;
        options.shading.mode = ShadingMode::normal;
        LayeredImage image;
        ASSERT_TRUE(sampleLayers(*caster, camera, options, image, error)) << error;
        ASSERT_FALSE(image.samples.empty());
        for (const LayerSample& s : image.samples) {
            EXPECT_LT(geometry::dot(s.normal, s.position - camera.pos), 0.0f) << height;
            // The colour shows the oriented normal (0, -1, 0): green 0.
            EXPECT_EQ((s.colour >> 8) & 0xFFu, 0u) << height;
        }
    }
}

}  // namespace
}  // namespace strata::maker
