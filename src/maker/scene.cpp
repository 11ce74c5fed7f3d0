#include "maker/scene.h"

#include <algorithm>
#include <cmath>

#include "maker/texture.h"
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
        if (!mesh.texcoords.empty() && mesh.texcoords.size() != n) {
            error = platform::formatString("mesh %zu: %zu texture coordinates for %zu positions", m,
                                           mesh.texcoords.size(), n);
            return false;
        }
        if (!mesh.openFaces.empty() && mesh.openFaces.size() != mesh.triangleCount()) {
            error = platform::formatString("mesh %zu: %zu open-face marks for %zu triangles", m,
                                           mesh.openFaces.size(), mesh.triangleCount());
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
    for (std::size_t i = 0; i < materials.size(); ++i) {
        const int texture = materials[i].texture;
        if (texture < -1 || texture >= static_cast<int>(textures.size())) {
            error = platform::formatString("material %zu: texture %d out of range", i, texture);
            return false;
        }
    }
    for (const Texture& texture : textures) {
        if (texture.width < 1 || texture.height < 1 ||
            texture.rgb.size() != static_cast<std::size_t>(texture.width) *
                                      static_cast<std::size_t>(texture.height) * 3) {
            error = texture.name + ": the texture's pixels do not match its size";
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
    const Material* material =
        mesh.material >= 0 ? &scene.materials[static_cast<std::size_t>(mesh.material)] : nullptr;
    const bool textured = material != nullptr && material->texture >= 0 && !mesh.texcoords.empty();
    if (!textured && mesh.colours.empty()) {
        return material != nullptr ? patternColour(*material, position) : kLightGrey;
    }
    const std::size_t base = static_cast<std::size_t>(triangle) * 3;
    const std::uint32_t i0 = mesh.indices[base];
    const std::uint32_t i1 = mesh.indices[base + 1];
    const std::uint32_t i2 = mesh.indices[base + 2];
    const float w = 1.0f - u - v;
    Colour colour{1.0f, 1.0f, 1.0f};
    if (textured) {
        const TexCoord& t0 = mesh.texcoords[i0];
        const TexCoord& t1 = mesh.texcoords[i1];
        const TexCoord& t2 = mesh.texcoords[i2];
        colour = sampleTexture(scene.textures[static_cast<std::size_t>(material->texture)],
                               w * t0.u + u * t1.u + v * t2.u, w * t0.v + u * t1.v + v * t2.v);
    }
    if (!mesh.colours.empty()) {
        const Colour& c0 = mesh.colours[i0];
        const Colour& c1 = mesh.colours[i1];
        const Colour& c2 = mesh.colours[i2];
        // Corners of one colour give exactly that colour (the weights need not sum to 1 exactly).
        colour = colour * (c0 == c1 && c1 == c2 ? c0
                                                : Colour{w * c0.r + u * c1.r + v * c2.r,
                                                         w * c0.g + u * c1.g + v * c2.g,
                                                         w * c0.b + u * c1.b + v * c2.b});
    }
    if (material != nullptr && material->tints) {
        colour = colour * material->diffuse;
    }
    return colour;
}

Vector3 surfaceNormal(const Scene& scene, int meshIndex, std::uint32_t triangle, float u, float v) {
    const TriangleMesh& mesh = scene.meshes[static_cast<std::size_t>(meshIndex)];
    const std::size_t base = static_cast<std::size_t>(triangle) * 3;
    const std::uint32_t i0 = mesh.indices[base];
    const std::uint32_t i1 = mesh.indices[base + 1];
    const std::uint32_t i2 = mesh.indices[base + 2];
    const Vector3& p0 = mesh.positions[i0];
    const Vector3 face = geometry::cross(mesh.positions[i1] - p0, mesh.positions[i2] - p0);
    if (!mesh.normals.empty()) {
        const float w = 1.0f - u - v;
        const Vector3 n = w * mesh.normals[i0] + u * mesh.normals[i1] + v * mesh.normals[i2];
        if (n.squaredLength() > 0.0f) {
            // After orientation the winding is the truth: normals given against it are turned.
            return geometry::normalized(mesh.windingOriented && geometry::dot(n, face) < 0.0f ? -n
                                                                                              : n);
        }
    }
    return geometry::normalized(face);
}

bool onOpenPart(const Scene& scene, int meshIndex, std::uint32_t triangle) {
    const TriangleMesh& mesh = scene.meshes[static_cast<std::size_t>(meshIndex)];
    return triangle < mesh.openFaces.size() && mesh.openFaces[triangle] != 0;
}

}  // namespace strata::maker
