// The maker's scene: triangle meshes with optional per-vertex normals and colours, and simple
// materials whose colour may be a procedural pattern of the world position (so a surface looks
// the same from every view). Built by the demo builder or read from mesh files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector.h"

namespace strata::maker {

// Linear colour channels, nominally 0..1.
struct Colour {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;

    friend bool operator==(const Colour&, const Colour&) = default;
};

// Colour of a surface without vertex colours or material.
inline constexpr Colour kLightGrey{0.8f, 0.8f, 0.8f};

enum class Pattern {
    solid,    // `diffuse` everywhere
    checker,  // 3-D checkerboard of cells `scale` wide, `diffuse` and `second`
    stripes,  // bands along x, `scale` wide, `diffuse` and `second`
};

struct Material {
    Colour diffuse = kLightGrey;
    Pattern pattern = Pattern::solid;
    Colour second;
    float scale = 1.0f;
};

// One triangle list. Every index is below positions.size(); normals and colours are either
// empty or hold one entry per position.
struct TriangleMesh {
    std::vector<geometry::Vector3> positions;
    std::vector<geometry::Vector3> normals;  // outward, per vertex (empty: face normals)
    std::vector<Colour> colours;             // per vertex (empty: material colour)
    std::vector<std::uint32_t> indices;      // three per triangle, counter-clockwise outside
    int material = -1;                       // index into Scene::materials, -1 none

    std::size_t triangleCount() const { return indices.size() / 3; }
};

struct Bounds {
    geometry::Vector3 min{1e30f, 1e30f, 1e30f};
    geometry::Vector3 max{-1e30f, -1e30f, -1e30f};

    bool empty() const { return min.x > max.x || min.y > max.y || min.z > max.z; }
    void add(const geometry::Vector3& p);
    geometry::Vector3 centre() const;
    float radius() const;  // half the diagonal
};

struct Scene {
    std::string name;
    std::vector<TriangleMesh> meshes;
    std::vector<Material> materials;
    bool litByDefault = false;  // lambert shading unless asked otherwise (the demo), else unlit
    // Height of the default camera above the scene centre, as an angle of elevation (radians):
    // the demo is seen from a little above, so its floor is not seen edge-on.
    float defaultElevation = 0.0f;

    Bounds bounds() const;
    std::size_t triangleCount() const;
    // False (with a message naming the problem) when an index, normal or colour list is out of
    // step with its positions, or a material index is out of range.
    bool validate(std::string& error) const;
};

// The unshaded colour of a surface point: per-vertex colours interpolated with the barycentric
// weights (1 - u - v, u, v) where the mesh has them, else the material colour at `position`,
// else light grey. Precondition: mesh and triangle indices are valid.
Colour surfaceColour(const Scene& scene, int meshIndex, std::uint32_t triangle, float u, float v,
                     const geometry::Vector3& position);

// Outward unit normal at a surface point: interpolated vertex normals where present, else the
// face normal of the counter-clockwise winding. Never flipped toward the viewer.
geometry::Vector3 surfaceNormal(const Scene& scene, int meshIndex, std::uint32_t triangle, float u,
                                float v);

}  // namespace strata::maker
