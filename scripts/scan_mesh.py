#!/usr/bin/env python3
"""Writes the scanned-looking test mesh as an ASCII PLY file with per-vertex colours.

A bumpy terrain patch with a noisy, displaced sphere resting on it, coloured per vertex with
noise the way a colour scan is; the same mesh as tests/render/scan_mesh.h, made here so the
quality figures need no downloaded data.

Usage: scripts/scan_mesh.py OUTPUT.ply
"""
import math
import sys


def noise(a, b):
    x = ((a * 0x9E3779B1) ^ (b * 0x85EBCA77)) & 0xFFFFFFFF
    x ^= x >> 15
    x = (x * 0x2C1B3C6D) & 0xFFFFFFFF
    x ^= x >> 12
    return (x & 0xFFFF) / 32767.5 - 1.0


def channel(v):
    return 0 if v < 0 else 255 if v > 255 else int(v)


def main():
    vertices = []
    faces = []
    g = 96
    for j in range(g + 1):
        for i in range(g + 1):
            x = -2.0 + 4.0 * i / g
            z = -2.0 + 4.0 * j / g
            y = 0.12 * math.sin(2.3 * x) * math.cos(1.7 * z) + 0.015 * noise(i, j) - 0.1
            shade = 40.0 * math.sin(3.0 * x + 2.0 * z) + 25.0 * noise(j, i)
            vertices.append((x, y, z, channel(120.0 + shade + 300.0 * y), channel(105.0 + shade),
                             channel(60.0 + 0.5 * shade)))
    for j in range(g):
        for i in range(g):
            a = j * (g + 1) + i
            faces += [(a, a + g + 1, a + 1), (a + 1, a + g + 1, a + g + 2)]
    base = len(vertices)
    rings, segments = 48, 96
    for j in range(rings + 1):
        theta = math.pi * j / rings
        for i in range(segments + 1):
            key = i % segments
            phi = 2.0 * math.pi * key / segments
            lump = 0.06 * math.sin(5.0 * theta) * math.sin(4.0 * phi) + 0.012 * noise(key + 1000, j)
            radius = 0.45 * (1.0 + lump)
            nx = math.sin(theta) * math.cos(phi)
            ny = math.cos(theta)
            nz = math.sin(theta) * math.sin(phi)
            spot = 50.0 * math.sin(7.0 * phi) * math.sin(6.0 * theta) + 30.0 * noise(j, key + 2000)
            vertices.append((0.1 + radius * nx, 0.4 + radius * ny, -0.2 + radius * nz,
                             channel(190.0 + spot), channel(110.0 + 60.0 * ny + 0.5 * spot),
                             channel(90.0 + 60.0 * nx)))
    for j in range(rings):
        for i in range(segments):
            a = base + j * (segments + 1) + i
            b = a + segments + 1
            faces += [(a, a + 1, b), (a + 1, b + 1, b)]
    with open(sys.argv[1], "w") as f:
        f.write("ply\nformat ascii 1.0\nelement vertex %d\nproperty float x\nproperty float y\n"
                "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
                "element face %d\nproperty list uchar int vertex_indices\nend_header\n"
                % (len(vertices), len(faces)))
        for v in vertices:
            f.write("%.6f %.6f %.6f %d %d %d\n" % v)
        for t in faces:
            f.write("3 %d %d %d\n" % t)


if __name__ == "__main__":
    main()
