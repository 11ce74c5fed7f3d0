#!/usr/bin/env python3
"""Novel-view quality of `strata render` against `strata trace`.

For sideways turns of the camera it renders an 8-layer LDI and a 1-layer LDI of the same
reference camera, ray-traces the true picture from the turned camera, and prints the PSNR of each
rendering over the whole frame and over the uncovered pixels: those where the turn shows a
surface that the 1-layer LDI does not hold (its single-pixel rendering shows background there
while the true picture shows a surface). Two scenes: the demo, and the scanned-looking mesh with
per-vertex colours that scripts/scan_mesh.py writes. Settings: the default splats, the
high-quality splats (--quality high), the default with backface culling, and single pixels.

With --kinds it instead compares the CP, QP and MRQP LDIs of one 256 x 256 reference camera,
drawn at 350 x 350: turns of 5, 10 and 20 degrees about the scene centre (the camera's up axis
through the centre of the LDI's bounds) and dollies toward the centre to 1.5 and 2 times the
magnification there, with the viewer's default settings and with splatting off.

Usage: scripts/render_quality.py [BUILD_DIR] [--kinds]   (default: build)
"""
import math
import os
import struct
import subprocess
import sys

BACKGROUND = 0xB2B2B2
SIZE = 350


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bpp = struct.unpack_from("<H", data, 28)[0]
    step = bpp // 8
    stride = (width * step + 3) & ~3
    pixels = []
    for row in range(abs(height)):
        base = offset + row * stride
        for col in range(width):
            b, g, r = data[base + col * step], data[base + col * step + 1], data[base + col * step + 2]
            pixels.append((r << 16) | (g << 8) | b)
    return pixels


def psnr(a, b, mask=None):
    total = 0.0
    count = 0
    for i, (x, y) in enumerate(zip(a, b)):
        if mask is not None and not mask[i]:
            continue
        for shift in (16, 8, 0):
            d = ((x >> shift) & 255) - ((y >> shift) & 255)
            total += d * d
        count += 3
    if count == 0:
        return float("nan")
    if total == 0:
        return float("inf")
    return 10.0 * math.log10(255.0 * 255.0 / (total / count))


def parse_vector(text):
    return [float(v) for v in text.split(",")]


def rotate(v, axis, degrees):
    """v turned about the unit axis (Rodrigues)."""
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    d = sum(x * y for x, y in zip(axis, v))
    cross = [axis[1] * v[2] - axis[2] * v[1], axis[2] * v[0] - axis[0] * v[2],
             axis[0] * v[1] - axis[1] * v[0]]
    return [v[i] * c + cross[i] * s + axis[i] * d * (1 - c) for i in range(3)]


def kinds_table(strata, out):
    def run(*args):
        return subprocess.run([strata, *args], check=True, capture_output=True, text=True).stdout

    grid = 256
    ldis = {}
    for kind in ("rt-mrqp", "rt-qp", "rt-cp"):
        ldis[kind] = os.path.join(out, f"demo_{kind}_{grid}.ldi")
        if not os.path.exists(ldis[kind]):
            run("make", "demo", "--kind", kind, "--size", str(grid), "-o", ldis[kind])
    camera = run("render", ldis["rt-qp"], "-o", os.path.join(out, "camera.png"), "--fov", "45",
                 "--print-camera").split("\n")[0].split()
    flags = dict(zip(camera[0::2], camera[1::2]))
    pos, direction, up = (parse_vector(flags[k]) for k in ("--pos", "--dir", "--up"))
    bounds = [line for line in run("info", ldis["rt-qp"]).splitlines()
              if line.startswith("bounds:")][0]
    corners = bounds.replace("bounds:", "").replace("to", "").replace("(", " ").replace(")", " ")
    values = [float(v) for v in corners.replace(",", " ").split()]
    centre = [(values[i] + values[i + 3]) / 2 for i in range(3)]
    distance = math.sqrt(sum((p - c) ** 2 for p, c in zip(pos, centre)))

    views = []
    for yaw in (5, 10, 20):
        arm = rotate([p - c for p, c in zip(pos, centre)], up, yaw)
        views.append((f"yaw {yaw}", [c + a for c, a in zip(centre, arm)],
                      rotate(direction, up, yaw), up))
    for zoom in (1.5, 2.0):
        views.append((f"dolly {zoom}x", [c - d * distance / zoom
                                         for c, d in zip(centre, direction)], direction, up))

    def fmt(v):
        return ",".join(f"{x:.6f}" for x in v)

    print(f"{'view':<10} {'settings':<9} {'MRQP':>7} {'QP':>7} {'CP':>7}")
    for name, eye, look, upv in views:
        flags = ["--pos", fmt(eye), "--dir", fmt(look), "--up", fmt(upv), "--fov", "45"]
        tag = name.replace(" ", "_")
        truth = os.path.join(out, f"truth_{tag}.png")
        run("trace", "demo", "--size", f"{SIZE}x{SIZE}", *flags, "-o", truth)
        for setting, extra in (("default", []), ("no-splat", ["--no-splat"])):
            row = []
            for kind in ("rt-mrqp", "rt-qp", "rt-cp"):
                picture = os.path.join(out, f"{kind}_{tag}_{setting}.png")
                text = run("render", ldis[kind], "-o", picture, *flags, *extra, "--compare", truth)
                row.append(float(text.split("psnr=")[1].split()[0]))
            print(f"{name:<10} {setting:<9} " + " ".join(f"{v:7.2f}" for v in row))
    print(f"pictures in {out}")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    build = args[0] if args else os.environ.get("BUILD_DIR", "build")
    strata = os.path.join(build, "src", "tools", "strata")
    out = os.path.join(build, "demo-quality")
    os.makedirs(out, exist_ok=True)

    if "--kinds" in sys.argv[1:]:
        kinds_table(strata, out)
        return

    def run(*args):
        return subprocess.run([strata, *args], check=True, capture_output=True, text=True).stdout

    scan = os.path.join(out, "scan.ply")
    if not os.path.exists(scan):
        subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "scan_mesh.py"),
                        scan], check=True)
    for name, scene in (("demo", "demo"), ("scan", scan)):
        ldis = {}
        for layers in (8, 1):
            ldis[layers] = os.path.join(out, f"{name}_l{layers}.ldibrtqp")
            if not os.path.exists(ldis[layers]):
                run("make", scene, "--kind", "rt-qp", "--size", str(SIZE), "--layers",
                    str(layers), "-o", ldis[layers])

        print(f"{name}:")
        print(f"{'yaw':>5} {'settings':<9} {'whole 8L':>9} {'whole 1L':>9} "
              f"{'uncov 8L':>9} {'uncov 1L':>9} {'uncov gain':>10} {'pixels':>7}")
        for yaw in (5, 10, 20, 30):
            camera = run("render", ldis[8], "-o", os.path.join(out, "camera.bmp"), "--fov", "45",
                         "--yaw", str(yaw), "--print-camera").split("\n")[0].split()
            truth_path = os.path.join(out, f"{name}_truth_yaw{yaw}.bmp")
            run("trace", scene, "--size", f"{SIZE}x{SIZE}", *camera, "-o", truth_path)
            truth = read_bmp(truth_path)
            # Uncovered pixels: the 1-layer LDI drawn as single pixels leaves them empty.
            probe = os.path.join(out, f"{name}_probe_yaw{yaw}.bmp")
            run("render", ldis[1], "-o", probe, "--fov", "45", "--yaw", str(yaw), "--no-splat")
            holes = read_bmp(probe)
            mask = [h == BACKGROUND and t != BACKGROUND for h, t in zip(holes, truth)]
            for setting, extra in (("default", []), ("high", ["--quality", "high"]),
                                   ("backface", ["--backface"]), ("no-splat", ["--no-splat"])):
                pictures = {}
                for layers in (8, 1):
                    path = os.path.join(out, f"{name}_l{layers}_yaw{yaw}_{setting}.bmp")
                    run("render", ldis[layers], "-o", path, "--fov", "45", "--yaw", str(yaw),
                        *extra)
                    pictures[layers] = read_bmp(path)
                w8, w1 = psnr(pictures[8], truth), psnr(pictures[1], truth)
                u8, u1 = psnr(pictures[8], truth, mask), psnr(pictures[1], truth, mask)
                print(f"{yaw:>5} {setting:<9} {w8:9.2f} {w1:9.2f} {u8:9.2f} {u1:9.2f} "
                      f"{u8 - u1:10.2f} {sum(mask):>7}")
    print(f"pictures in {out}")


if __name__ == "__main__":
    main()
