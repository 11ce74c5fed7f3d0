#include "maker/scene.h"

#include <algorithm>
#include <cmath>

#include "platform/debug_output.h"

namespace strata::maker {

using geometry::Vector3;

void Bounds::add(const Vector3& p) {
    min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
    max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
}

Vector3 Bounds::centre() const {
    return empty() ? Vector3{} : (min + max) * 0.5f;
}

float Bounds::radius() const {
    return empty() ? 0.0f : (max - min).length() * 0.5f;
}

Bounds Scene::bounds() const {
    Bounds b;
    for (const TriangleMesh& mesh : meshes) {
        for (std::uint32_t index : mesh.indices) {
            b.add(mesh.positions[index]);
        }
    }
    return b;
}

std::size_t Scene::triangleCount() const {
    std::size_t count = 0;
    for (const TriangleMesh& mesh : meshes) {
        count += mesh.triangleCount();
    }
    return count;
}

bool Scene::validate(std::string& error) const {
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const TriangleMesh& mesh = meshes[m];
        const std::size_t n = mesh.positions.size();
        if (mesh.indices.size() % 3 != 0) {
            error = platform::formatString("mesh %zu: index count %zu is not a multiple of 3", m,
                                           mesh.indices.size());
            return false;
        }
        if (!mesh.normals.empty() && mesh.normals.size() != n) {
            error = platform::formatString("mesh %zu: %zu normals for %zu positions", m,
                                           mesh.normals.size(), n);
            return false;
        }
        if (!mesh.colours.empty() && mesh.colours.size() != n) {
            error = platform::formatString("mesh %zu: %zu colours for %zu positions", m,
                                           mesh.colours.size(), n);
            return false;
        }
        for (std::uint32_t index : mesh.indices) {
            if (index >= n) {
                error = platform::formatString("mesh %zu: vertex index %u out of range", m, index);
                return false;
            }
        }
        if (mesh.material < -1 || mesh.material >= static_cast<int>(materials.size())) {
            error = platform::formatString("mesh %zu: material %d out of range", m, mesh.material);
            return false;
        }
    }
    return true;
}

namespace {

Colour patternColour(const Material& material, const Vector3& p) {
    const float s = material.scale > 0.0f ? material.scale : 1.0f;
    // A tiny offset keeps surfaces lying exactly on a cell boundary on one side of it.
    const auto cell = [s](float x) { return static_cast<long>(std::floor(x / s + 1e-3f)); };
    switch (material.pattern) {
        case Pattern::checker:
            return ((cell(p.x) + cell(p.y) + cell(p.z)) & 1) != 0 ? material.second
                                                                  : material.diffuse;
        case Pattern::stripes:
            return (cell(p.x) & 1) != 0 ? material.second : material.diffuse;
        case Pattern::solid:
            break;
    }
    return material.diffuse;
}

}  // namespace

Colour surfaceColour(const Scene& scene, int meshIndex, std::uint32_t triangle, float u, float v,
                     const Vector3& position) {
    const TriangleMesh& mesh = scene.meshes[static_cast<std::size_t>(meshIndex)];
    if (!mesh.colours.empty()) {
        const std::size_t base = static_cast<std::size_t>(triangle) * 3;
        const Colour& c0 = mesh.colours[mesh.indices[base]];
        const Colour& c1 = mesh.colours[mesh.indices[base + 1]];
        const Colour& c2 = mesh.colours[mesh.indices[base + 2]];
        const float w = 1.0f - u - v;
        return {w * c0.r + u * c1.r + v * c2.r, w * c0.g + u * c1.g + v * c2.g,
                w * c0.b + u * c1.b + v * c2.b};
    }
    if (mesh.material >= 0) {
        return patternColour(scene.materials[static_cast<std::size_t>(mesh.material)], position);
    }
    return kLightGrey;
}

Vector3 surfaceNormal(const Scene& scene, int meshIndex, std::uint32_t triangle, float u, float v) {
    const TriangleMesh& mesh = scene.meshes[static_cast<std::size_t>(meshIndex)];
    const std::size_t base = static_cast<std::size_t>(triangle) * 3;
    const std::uint32_t i0 = mesh.indices[base];
    const std::uint32_t i1 = mesh.indices[base + 1];
    const std::uint32_t i2 = mesh.indices[base + 2];
    if (!mesh.normals.empty()) {
        const float w = 1.0f - u - v;
        const Vector3 n = w * mesh.normals[i0] + u * mesh.normals[i1] + v * mesh.normals[i2];
        if (n.squaredLength() > 0.0f) {
            return geometry::normalized(n);
        }
    }
    const Vector3& p0 = mesh.positions[i0];
    return geometry::normalized(geometry::cross(mesh.positions[i1] - p0, mesh.positions[i2] - p0));
}

}  // namespace strata::maker
