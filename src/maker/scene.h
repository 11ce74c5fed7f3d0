// The maker's scene: triangle meshes with optional per-vertex normals, colours and texture
// coordinates, simple materials whose colour may be a procedural pattern of the world position
// (so a surface looks the same from every view), and the textures they use. Built by the demo
// builder or read from mesh files.
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
    friend Colour operator*(const Colour& x, const Colour& y) {
        return {x.r * y.r, x.g * y.g, x.b * y.b};
    }
};

// Colour of a surface without vertex colours or material.
inline constexpr Colour kLightGrey{0.8f, 0.8f, 0.8f};

enum class Pattern {
    solid,    // `diffuse` everywhere
    checker,  // 3-D checkerboard of cells `scale` wide, `diffuse` and `second`
    stripes,  // bands along x, `scale` wide, `diffuse` and `second`
};

// How texture coordinates outside 0..1 are folded back in, per axis.
enum class TextureWrap { repeat, clamp, mirror };

// An 8-bit RGB picture, sRGB encoded, row 0 at the TOP (as image files store it), so texture
// coordinate v = 1 is row 0.
struct Texture {
    std::string name;  // the file or embedded texture it came from, for messages
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3
    TextureWrap wrapU = TextureWrap::repeat;
    TextureWrap wrapV = TextureWrap::repeat;
};

struct Material {
    Colour diffuse = kLightGrey;
    Pattern pattern = Pattern::solid;
    Colour second;
    float scale = 1.0f;
    int texture = -1;  // index into Scene::textures, -1 none
    // The diffuse colour multiplies the texture and vertex colours (a glTF base colour factor);
    // otherwise it is only the colour of surfaces that have neither.
    bool tints = false;
};

struct TexCoord {
    float u = 0.0f;
    float v = 0.0f;
};

// One triangle list. Every index is below positions.size(); normals, colours and texture
// coordinates are either empty or hold one entry per position.
struct TriangleMesh {
    std::vector<geometry::Vector3> positions;
    std::vector<geometry::Vector3> normals;  // outward, per vertex (empty: face normals)
    std::vector<Colour> colours;             // per vertex (empty: material colour)
    std::vector<TexCoord> texcoords;         // per vertex (empty: no texture)
    std::vector<std::uint32_t> indices;      // three per triangle, counter-clockwise outside
    int material = -1;                       // index into Scene::materials, -1 none
    // Set by orientScene: the windings are consistent (a closed part's outward), so the face
    // normal decides a normal's side; openFaces marks (1) each triangle of an open, two-sided
    // part. Empty before orientation: every triangle as wound.
    bool windingOriented = false;
    std::vector<std::uint8_t> openFaces;

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
    std::vector<Texture> textures;
    bool litByDefault = false;  // lambert shading unless asked otherwise (the demo), else unlit
    // Height of the default camera above the scene centre, as an angle of elevation (radians):
    // the demo is seen from a little above, so its floor is not seen edge-on.
    float defaultElevation = 0.0f;

    Bounds bounds() const;
    std::size_t triangleCount() const;
    // False (with a message naming the problem) when an index, normal, colour or texture
    // coordinate list is out of step with its positions, or a material or texture index is out
    // of range, or a texture's pixels do not match its size.
    bool validate(std::string& error) const;
};

// The unshaded colour of a surface point. With a texture (the material has one and the mesh has
// texture coordinates): the texture at the texture coordinate interpolated with the barycentric
// weights (1 - u - v, u, v). Times the per-vertex colours interpolated the same way where the
// mesh has them, times the material's diffuse colour when it tints. Without texture or vertex
// colours: the material colour at `position`, else light grey. Precondition: mesh and triangle
// indices are valid.
Colour surfaceColour(const Scene& scene, int meshIndex, std::uint32_t triangle, float u, float v,
                     const geometry::Vector3& position);

// Outward unit normal at a surface point: interpolated vertex normals where present, else the
// face normal of the counter-clockwise winding; on an oriented mesh the interpolated normal is
// turned to the face normal's side. Never flipped toward the viewer.
geometry::Vector3 surfaceNormal(const Scene& scene, int meshIndex, std::uint32_t triangle, float u,
                                float v);

// True when the triangle belongs to an open (two-sided) part of an oriented mesh.
bool onOpenPart(const Scene& scene, int meshIndex, std::uint32_t triangle);

}  // namespace strata::maker
