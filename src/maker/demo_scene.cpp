#include "maker/demo_scene.h"

#include <cmath>

namespace strata::maker {

using geometry::Vector3;

namespace {

constexpr float kPi = 3.14159265358979f;

void addTriangle(TriangleMesh& mesh, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    mesh.indices.insert(mesh.indices.end(), {a, b, c});
}

void addQuadTo(TriangleMesh& mesh, const Vector3& a, const Vector3& b, const Vector3& c,
               const Vector3& d) {
    const auto base = static_cast<std::uint32_t>(mesh.positions.size());
    const Vector3 n = geometry::normalized(geometry::cross(b - a, c - a));
    mesh.positions.insert(mesh.positions.end(), {a, b, c, d});
    mesh.normals.insert(mesh.normals.end(), {n, n, n, n});
    addTriangle(mesh, base, base + 1, base + 2);
    addTriangle(mesh, base, base + 2, base + 3);
}

int addMaterial(Scene& scene, Colour diffuse, Pattern pattern = Pattern::solid, Colour second = {},
                float scale = 1.0f) {
    scene.materials.push_back(Material{diffuse, pattern, second, scale});
    return static_cast<int>(scene.materials.size()) - 1;
}

void addMesh(Scene& scene, TriangleMesh mesh, int material) {
    mesh.material = material;
    scene.meshes.push_back(std::move(mesh));
}

}  // namespace

TriangleMesh makeQuad(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d) {
    TriangleMesh mesh;
    addQuadTo(mesh, a, b, c, d);
    return mesh;
}

TriangleMesh makeBox(const Vector3& lo, const Vector3& hi) {
    TriangleMesh mesh;
    const Vector3 p[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z},
                          {lo.x, hi.y, lo.z}, {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z},
                          {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}};
    addQuadTo(mesh, p[4], p[5], p[6], p[7]);  // +z
    addQuadTo(mesh, p[1], p[0], p[3], p[2]);  // -z
    addQuadTo(mesh, p[5], p[1], p[2], p[6]);  // +x
    addQuadTo(mesh, p[0], p[4], p[7], p[3]);  // -x
    addQuadTo(mesh, p[7], p[6], p[2], p[3]);  // +y
    addQuadTo(mesh, p[0], p[1], p[5], p[4]);  // -y
    return mesh;
}

TriangleMesh makeSphere(const Vector3& centre, float radius, int slices, int stacks) {
    TriangleMesh mesh;
    for (int i = 0; i <= stacks; ++i) {
        const float theta = kPi * static_cast<float>(i) / static_cast<float>(stacks);
        for (int j = 0; j <= slices; ++j) {
            const float phi = 2.0f * kPi * static_cast<float>(j) / static_cast<float>(slices);
            const Vector3 n{std::sin(theta) * std::sin(phi), std::cos(theta),
                            std::sin(theta) * std::cos(phi)};
            mesh.positions.push_back(centre + radius * n);
            mesh.normals.push_back(n);
        }
    }
    const auto row = static_cast<std::uint32_t>(slices + 1);
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(stacks); ++i) {
        for (std::uint32_t j = 0; j < static_cast<std::uint32_t>(slices); ++j) {
            const std::uint32_t a = i * row + j;
            const std::uint32_t b = a + row;
            if (i != 0) {
                addTriangle(mesh, a, b, a + 1);
            }
            if (i + 1 != static_cast<std::uint32_t>(stacks)) {
                addTriangle(mesh, a + 1, b, b + 1);
            }
        }
    }
    return mesh;
}

TriangleMesh makeCylinder(const Vector3& base, float radius, float height, int slices) {
    TriangleMesh mesh;
    const auto ring = static_cast<std::uint32_t>(slices + 1);
    for (int j = 0; j <= slices; ++j) {
        const float phi = 2.0f * kPi * static_cast<float>(j) / static_cast<float>(slices);
        const Vector3 n{std::sin(phi), 0.0f, std::cos(phi)};
        mesh.positions.push_back(base + radius * n);
        mesh.positions.push_back(base + radius * n + Vector3{0.0f, height, 0.0f});
        mesh.normals.insert(mesh.normals.end(), {n, n});
    }
    for (std::uint32_t j = 0; j + 1 < ring; ++j) {
        const std::uint32_t a = 2 * j;
        addTriangle(mesh, a, a + 2, a + 3);
        addTriangle(mesh, a, a + 3, a + 1);
    }
    // Caps: a centre vertex and a ring of their own with the cap normal.
    for (int cap = 0; cap < 2; ++cap) {
        const float y = cap == 0 ? 0.0f : height;
        const Vector3 n{0.0f, cap == 0 ? -1.0f : 1.0f, 0.0f};
        const auto centreIndex = static_cast<std::uint32_t>(mesh.positions.size());
        mesh.positions.push_back(base + Vector3{0.0f, y, 0.0f});
        mesh.normals.push_back(n);
        for (int j = 0; j <= slices; ++j) {
            const float phi = 2.0f * kPi * static_cast<float>(j) / static_cast<float>(slices);
            mesh.positions.push_back(base +
                                     Vector3{radius * std::sin(phi), y, radius * std::cos(phi)});
            mesh.normals.push_back(n);
        }
        for (std::uint32_t j = 0; j + 1 < ring; ++j) {
            const std::uint32_t a = centreIndex + 1 + j;
            if (cap == 0) {
                addTriangle(mesh, centreIndex, a + 1, a);
            } else {
                addTriangle(mesh, centreIndex, a, a + 1);
            }
        }
    }
    return mesh;
}

TriangleMesh makeTorus(const Vector3& centre, float majorRadius, float minorRadius,
                       int majorSegments, int minorSegments) {
    TriangleMesh mesh;
    for (int i = 0; i <= majorSegments; ++i) {
        const float u = 2.0f * kPi * static_cast<float>(i) / static_cast<float>(majorSegments);
        const Vector3 radial{std::sin(u), 0.0f, std::cos(u)};
        for (int j = 0; j <= minorSegments; ++j) {
            const float v = 2.0f * kPi * static_cast<float>(j) / static_cast<float>(minorSegments);
            const Vector3 n = std::cos(v) * radial + Vector3{0.0f, std::sin(v), 0.0f};
            mesh.positions.push_back(centre + majorRadius * radial + minorRadius * n);
            mesh.normals.push_back(n);
        }
    }
    const auto row = static_cast<std::uint32_t>(minorSegments + 1);
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(majorSegments); ++i) {
        for (std::uint32_t j = 0; j < static_cast<std::uint32_t>(minorSegments); ++j) {
            const std::uint32_t a = i * row + j;
            const std::uint32_t b = a + row;
            addTriangle(mesh, a, b, b + 1);
            addTriangle(mesh, a, b + 1, a + 1);
        }
    }
    return mesh;
}

Scene buildDemoScene() {
    Scene scene;
    scene.name = "demo";
    scene.litByDefault = true;
    scene.defaultElevation = 0.4363323f;  // 25 degrees

    // Floor (checker) and back wall (stripes), coloured by world position.
    const int floor =
        addMaterial(scene, {0.85f, 0.82f, 0.74f}, Pattern::checker, {0.35f, 0.38f, 0.45f}, 0.5f);
    addMesh(scene,
            makeQuad({-2.4f, 0.0f, 2.0f}, {2.4f, 0.0f, 2.0f}, {2.4f, 0.0f, -2.4f},
                     {-2.4f, 0.0f, -2.4f}),
            floor);
    const int wall =
        addMaterial(scene, {0.55f, 0.70f, 0.85f}, Pattern::stripes, {0.92f, 0.92f, 0.88f}, 0.4f);
    addMesh(scene,
            makeQuad({-2.4f, 0.0f, -2.4f}, {2.4f, 0.0f, -2.4f}, {2.4f, 4.0f, -2.4f},
                     {-2.4f, 4.0f, -2.4f}),
            wall);

    // Front left: a red box hiding a small violet sphere right behind it.
    addMesh(scene, makeBox({-1.8f, 0.0f, 0.2f}, {-0.8f, 1.0f, 1.2f}),
            addMaterial(scene, {0.85f, 0.20f, 0.15f}));
    addMesh(scene, makeSphere({-1.3f, 0.35f, -0.45f}, 0.35f, 24, 12),
            addMaterial(scene, {0.60f, 0.30f, 0.80f}));
    // Middle: a green sphere, partly behind the box.
    addMesh(scene, makeSphere({-0.4f, 0.7f, -1.1f}, 0.7f, 40, 20),
            addMaterial(scene, {0.25f, 0.75f, 0.30f}));
    // Right: a blue cylinder in front of a tall orange box.
    addMesh(scene, makeCylinder({1.2f, 0.0f, 0.0f}, 0.4f, 1.6f, 40),
            addMaterial(scene, {0.20f, 0.40f, 0.90f}));
    addMesh(
        scene, makeBox({1.0f, 0.0f, -2.0f}, {1.9f, 2.1f, -1.3f}),
        addMaterial(scene, {0.95f, 0.60f, 0.15f}, Pattern::stripes, {0.80f, 0.40f, 0.10f}, 0.15f));
    // Back left: a tall grey column and a yellow ball resting on it, in front of the wall.
    addMesh(scene, makeCylinder({-1.7f, 0.0f, -1.7f}, 0.3f, 2.6f, 32),
            addMaterial(scene, {0.70f, 0.70f, 0.72f}));
    addMesh(scene, makeSphere({-1.7f, 3.05f, -1.7f}, 0.45f, 32, 16),
            addMaterial(scene, {0.95f, 0.85f, 0.20f}));
    // Front centre: a torus lying on the floor, coloured per vertex around its ring.
    TriangleMesh torus = makeTorus({0.3f, 0.2f, 1.3f}, 0.5f, 0.2f, 48, 16);
    for (const Vector3& p : torus.positions) {
        const float angle = std::atan2(p.x - 0.3f, p.z - 1.3f);
        torus.colours.push_back({0.5f + 0.45f * std::cos(angle), 0.5f + 0.45f * std::sin(angle),
                                 0.5f - 0.45f * std::cos(angle)});
    }
    addMesh(scene, std::move(torus), -1);
    return scene;
}

}  // namespace strata::maker
