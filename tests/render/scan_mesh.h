// A scanned-looking test mesh written as an ASCII PLY file with per-vertex colours: a bumpy
// terrain patch with a noisy, displaced sphere resting on it, coloured per vertex with noise the
// way a colour scan is. Made here so the tests need no downloaded data.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace strata::render::testing {

// Deterministic noise in -1..1 from two integers.
inline float scanNoise(int a, int b) {
    std::uint32_t x =
        static_cast<std::uint32_t>(a) * 0x9E3779B1u ^ static_cast<std::uint32_t>(b) * 0x85EBCA77u;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return static_cast<float>(x & 0xFFFFu) / 32767.5f - 1.0f;
}

// Writes the mesh to path; returns false when the file cannot be written.
inline bool writeScanMesh(const std::string& path) {
    struct Vertex {
        float x, y, z;
        int r, g, b;
    };
    std::vector<Vertex> vertices;
    std::vector<int> faces;  // three per triangle, counter-clockwise seen from outside
    auto channel = [](float v) { return v < 0.0f ? 0 : v > 255.0f ? 255 : static_cast<int>(v); };

    // Terrain: x, z in -2..2, facing +y.
    const int g = 96;
    for (int j = 0; j <= g; ++j) {
        for (int i = 0; i <= g; ++i) {
            const float x = -2.0f + 4.0f * static_cast<float>(i) / g;
            const float z = -2.0f + 4.0f * static_cast<float>(j) / g;
            const float y =
                0.12f * std::sin(2.3f * x) * std::cos(1.7f * z) + 0.015f * scanNoise(i, j) - 0.1f;
            const float shade = 40.0f * std::sin(3.0f * x + 2.0f * z) + 25.0f * scanNoise(j, i);
            vertices.push_back({x, y, z, channel(120.0f + shade + 300.0f * y),
                                channel(105.0f + shade), channel(60.0f + 0.5f * shade)});
        }
    }
    for (int j = 0; j < g; ++j) {
        for (int i = 0; i < g; ++i) {
            const int a = j * (g + 1) + i;
            faces.insert(faces.end(), {a, a + g + 1, a + 1, a + 1, a + g + 1, a + g + 2});
        }
    }
    // Sphere: centre (0.1, 0.4, -0.2), radius 0.45 with a lumpy, noisy surface.
    const int base = static_cast<int>(vertices.size());
    const int rings = 48;
    const int segments = 96;
    for (int j = 0; j <= rings; ++j) {
        const float theta = 3.14159265f * static_cast<float>(j) / rings;
        for (int i = 0; i <= segments; ++i) {
            const float phi = 6.2831853f * static_cast<float>(i % segments) / segments;
            const int key = i % segments;
            const float lump = 0.06f * std::sin(5.0f * theta) * std::sin(4.0f * phi) +
                               0.012f * scanNoise(key + 1000, j);
            const float radius = 0.45f * (1.0f + lump);
            const float nx = std::sin(theta) * std::cos(phi);
            const float ny = std::cos(theta);
            const float nz = std::sin(theta) * std::sin(phi);
            const float spot = 50.0f * std::sin(7.0f * phi) * std::sin(6.0f * theta) +
                               30.0f * scanNoise(j, key + 2000);
            vertices.push_back({0.1f + radius * nx, 0.4f + radius * ny, -0.2f + radius * nz,
                                channel(190.0f + spot), channel(110.0f + 60.0f * ny + 0.5f * spot),
                                channel(90.0f + 60.0f * nx)});
        }
    }
    for (int j = 0; j < rings; ++j) {
        for (int i = 0; i < segments; ++i) {
            const int a = base + j * (segments + 1) + i;
            const int b = a + segments + 1;
            faces.insert(faces.end(), {a, a + 1, b, a + 1, b + 1, b});
        }
    }

    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    std::fprintf(f,
                 "ply\nformat ascii 1.0\nelement vertex %zu\nproperty float x\nproperty float "
                 "y\nproperty float z\nproperty uchar red\nproperty uchar green\nproperty uchar "
                 "blue\nelement face %zu\nproperty list uchar int vertex_indices\nend_header\n",
                 vertices.size(), faces.size() / 3);
    for (const Vertex& v : vertices) {
        std::fprintf(f, "%.6f %.6f %.6f %d %d %d\n", v.x, v.y, v.z, v.r, v.g, v.b);
    }
    for (std::size_t t = 0; t + 2 < faces.size(); t += 3) {
        std::fprintf(f, "3 %d %d %d\n", faces[t], faces[t + 1], faces[t + 2]);
    }
    return std::fclose(f) == 0;
}

}  // namespace strata::render::testing
