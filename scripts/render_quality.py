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

With --figures it prints the PSNR table of both drawing modes ("basic": the blended footprints in
traversal order; "high": the high-quality splats) against `strata trace` of the same camera:
- the opening view (what the viewer shows first) of every file `strata make demo` writes;
- the scanned-looking mesh of scripts/scan_mesh.py, from its reference camera and turned;
- a box on an open floor with a sphere, written with consistent, reversed and randomly mixed
  triangle windings, from the reference camera and three moved ones;
- a sweep of seeded random cameras around a 512 x 512, 70-degree LDI of the demo: orbits of up
  to 40 degrees about the scene centre, raised up to 15 degrees, moved toward and away, and the
  view turned a little (median and minimum);
- the frame time of both modes at 350 x 350 on the demo's QP file, from its own camera and
  turned 15 degrees: the best of 7 runs of 100 frames each, and the ratio high / basic (wall
  clock: on a shared machine only the best runs mean anything).
--strata PATH draws with another build's program (for figures before a change), --out DIR
writes the pictures there, --parts names the parts to run (opening,scan,winding,sweep,timing);
--count N sets the sweep's cameras (default 40), --seed S its seed (default 1).

Usage: scripts/render_quality.py [BUILD_DIR] [--kinds | --figures [--strata PATH]]
       (default: build)
"""
import math
import os
import random
import statistics
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


def option(name, default=None):
    """The value after --name on the command line, or default."""
    argv = sys.argv[1:]
    if name in argv and argv.index(name) + 1 < len(argv):
        return argv[argv.index(name) + 1]
    return default


def winding_scene(path, winding, seed=7):
    """A closed box standing on an open floor, and a sphere, as an OBJ file with vertex colours
    (a checker on the floor, bands on the box and the sphere). winding: "consistent" (outward,
    the floor facing up), "reversed" (every triangle turned over) or "mixed" (each triangle
    turned over with probability one half)."""
    rng = random.Random(seed)
    vertices = []
    triangles = []

    def corner(p, colour):
        vertices.append((p, colour))
        return len(vertices)

    def triangle(a, b, c):
        flip = winding == "reversed" or (winding == "mixed" and rng.random() < 0.5)
        triangles.append((a, c, b) if flip else (a, b, c))

    # The floor: 12 x 12 cells of two triangles, each cell its own corners (a checker).
    n, half = 12, 3.0
    for j in range(n):
        for i in range(n):
            x0, x1 = -half + 2 * half * i / n, -half + 2 * half * (i + 1) / n
            z0, z1 = -half + 2 * half * j / n, -half + 2 * half * (j + 1) / n
            colour = (0.85, 0.8, 0.6) if (i + j) % 2 == 0 else (0.25, 0.3, 0.45)
            a = corner((x0, 0.0, z1), colour)
            b = corner((x1, 0.0, z1), colour)
            c = corner((x1, 0.0, z0), colour)
            d = corner((x0, 0.0, z0), colour)
            triangle(a, b, c)
            triangle(a, c, d)
    # The box: six faces, 4 x 4 cells each, corners shared within a face.
    lo, hi = (-1.8, 0.0, -0.6), (-0.4, 1.4, 0.8)
    faces = [((0, 1, 2), 0, (0.8, 0.2, 0.15)), ((0, 1, 2), 1, (0.7, 0.15, 0.1)),
             ((1, 2, 0), 0, (0.85, 0.35, 0.2)), ((1, 2, 0), 1, (0.6, 0.1, 0.1)),
             ((2, 0, 1), 0, (0.9, 0.5, 0.3)), ((2, 0, 1), 1, (0.75, 0.25, 0.2))]
    m = 4
    for (u, v, w), side, colour in faces:
        ids = {}
        for j in range(m + 1):
            for i in range(m + 1):
                p = [0.0, 0.0, 0.0]
                p[u] = lo[u] + (hi[u] - lo[u]) * i / m
                p[v] = lo[v] + (hi[v] - lo[v]) * j / m
                p[w] = hi[w] if side else lo[w]
                shade = 0.1 * ((i + j) % 2)
                ids[i, j] = corner(tuple(p), tuple(min(1.0, c + shade) for c in colour))
        for j in range(m):
            for i in range(m):
                a, b, c, d = ids[i, j], ids[i + 1, j], ids[i + 1, j + 1], ids[i, j + 1]
                # Outward: counter-clockwise seen from outside (the w axis points out on the
                # high side).
                if side:
                    triangle(a, b, c)
                    triangle(a, c, d)
                else:
                    triangle(a, c, b)
                    triangle(a, d, c)
    # The sphere.
    centre, radius, rings, segments = (1.2, 0.9, 0.2), 0.9, 16, 32
    ids = {}
    for j in range(rings + 1):
        theta = math.pi * j / rings
        for i in range(segments + 1):
            phi = 2 * math.pi * i / segments
            nrm = (math.sin(theta) * math.cos(phi), math.cos(theta),
                   math.sin(theta) * math.sin(phi))
            p = tuple(c + radius * k for c, k in zip(centre, nrm))
            band = 0.5 + 0.4 * math.sin(5 * phi) * math.sin(3 * theta)
            ids[i, j] = corner(p, (0.2, band, 0.9 - 0.5 * band))
    for j in range(rings):
        for i in range(segments):
            a, b, c, d = ids[i, j], ids[i + 1, j], ids[i + 1, j + 1], ids[i, j + 1]
            triangle(a, b, c)
            triangle(a, c, d)
    with open(path, "w") as f:
        for (x, y, z), (r, g, b) in vertices:
            f.write(f"v {x:.6f} {y:.6f} {z:.6f} {r:.4f} {g:.4f} {b:.4f}\n")
        for a, b, c in triangles:
            f.write(f"f {a} {b} {c}\n")


def timing(run, modes, out):
    """Prints the best frame time of each mode over 7 runs of 100 frames, and their ratio."""
    demo = os.path.join(out, "demo")
    if not os.path.exists(os.path.join(demo, "demo.ldibrtqp")):
        run("make", "demo", "-o", demo)
    ldi = os.path.join(demo, "demo.ldibrtqp")
    for label, extra in (("own camera", []), ("yaw 15", ["--yaw", "15"])):
        best = {}
        for mode, flags in modes:
            times = []
            for _ in range(7):
                text = run("render", ldi, "--size", f"{SIZE}x{SIZE}", "--frames", "100", *extra,
                           *flags, "-o", os.path.join(out, "timing.png"))
                times.append(float(text.split("ms_per_frame=")[1].split()[0]))
            best[mode] = min(times)
        print(f"{'ms per frame, ' + label:<34} {best['basic']:7.2f} {best['high']:7.2f}"
              f"  high / basic {best['high'] / best['basic']:.1f}")


def figures(strata, out):
    def run(*args):
        return subprocess.run([strata, *args], check=True, capture_output=True, text=True).stdout

    help_text = run("render", "--help")
    # The specified drawing's name on this program (older builds call it "default", where it
    # was the default).
    basic = "basic" if "basic" in help_text else "default"
    modes = (("basic", ["--quality", basic]), ("high", ["--quality", "high"]))
    if option("--modes", "--sweep-ldi") == "high":  # a quicker run
        modes = (("basic", ["--quality", "high"]), ("high", ["--quality", "high"]))

    def psnr_of(text):
        return float(text.split("psnr=")[1].split()[0])

    def camera_flags(ldi, *extra):
        return run("render", ldi, "-o", os.path.join(out, "camera.png"), "--print-camera",
                   *extra).split("\n")[0].split()

    def compare(name, ldi, scene, flags, trace_flags=None):
        truth = os.path.join(out, f"{name}_truth.png")
        run("trace", scene, "--size", f"{SIZE}x{SIZE}",
            *(flags if trace_flags is None else trace_flags), "-o", truth)
        row = []
        for mode, extra in modes:
            picture = os.path.join(out, f"{name}_{mode}.png")
            row.append(psnr_of(run("render", ldi, *flags, *extra, "-o", picture,
                                   "--compare", truth)))
        return row

    print(f"{'picture':<34} {'basic':>7} {'high':>7}")
    parts = option("--parts", "opening,scan,winding,sweep,timing").split(",")

    # Opening views of the demo files, as `make run` makes them.
    demo = os.path.join(out, "demo")
    if "opening" not in parts:
        demo = None
    if demo is not None and not os.path.exists(os.path.join(demo, "demo.vox")):
        run("make", "demo", "-o", demo)
    for name in () if demo is None else ("demo.ldibrtcp", "demo.ldibrtqp", "demo.ldibrtmrqp", "demo.ldirtffcp",
                 "demo.ldirtffqp", "demo.ldirtffmrqp", "demo.ldiquad", "demo.ldipyr",
                 "demo.ldiset", "demo.vox"):
        ldi = os.path.join(demo, name)
        # The voxel model draws from its own frame, whose origin is the maker's camera: the
        # default camera of `strata trace`.
        trace_flags = [] if name.endswith(".vox") else camera_flags(ldi)
        row = compare("open_" + name.replace(".", "_"), ldi, "demo", [], trace_flags)
        print(f"{'opening ' + name:<34} {row[0]:7.2f} {row[1]:7.2f}")

    # The scan mesh.
    scan = os.path.join(out, "scan.ply")
    if not os.path.exists(scan):
        subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "scan_mesh.py"),
                        scan], check=True)
    scan_ldi = os.path.join(out, "scan_fig.ldibrtqp")
    if "scan" in parts:
        run("make", scan, "--kind", "rt-qp", "--size", str(SIZE), "-o", scan_ldi)
    for label, extra in () if "scan" not in parts else (
            ("reference", []), ("yaw 15", ["--yaw", "15"]),
            ("yaw -30, pitch 15", ["--yaw", "-30", "--pitch", "15"])):
        flags = camera_flags(scan_ldi, *extra)
        row = compare("scan_" + label.replace(" ", "_").replace(",", ""), scan_ldi, scan, flags)
        print(f"{'scan ' + label:<34} {row[0]:7.2f} {row[1]:7.2f}")

    # One scene, three windings.
    moves = (("reference", []), ("yaw 25", ["--yaw", "25"]),
             ("raised", ["--offset", "0,1.5,0", "--pitch", "-15"]),
             ("forward, yaw -20", ["--offset", "0,0,2", "--yaw", "-20"]))
    by_winding = {}
    for winding in () if "winding" not in parts else ("consistent", "reversed", "mixed"):
        mesh = os.path.join(out, f"winding_{winding}.obj")
        winding_scene(mesh, winding)
        ldi = os.path.join(out, f"winding_{winding}.ldibrtqp")
        # Seen from above the floor, as the maker's default camera (from +z at the scene
        # centre's height) would see it edge-on.
        run("make", mesh, "--kind", "rt-qp", "--size", str(SIZE), "--pos", "0.5,3.2,6.5",
            "--dir", "-0.1,-0.45,-1", "-o", ldi)
        for label, extra in moves:
            flags = camera_flags(ldi, *extra)
            row = compare(f"winding_{winding}_" + label.replace(" ", "_").replace(",", ""), ldi,
                          mesh, flags)
            by_winding[winding, label] = row
            print(f"{winding + ' ' + label:<34} {row[0]:7.2f} {row[1]:7.2f}")
    for winding in () if "winding" not in parts else ("reversed", "mixed"):
        worst = max(abs(by_winding[winding, label][1] - by_winding["consistent", label][1])
                    for label, _ in moves)
        print(f"{'high: ' + winding + ' vs consistent':<34} {'':>7} {worst:7.2f} dB at most")

    if "timing" in parts:
        timing(run, modes, out)

    # The sweep.
    if "sweep" not in parts:
        print(f"pictures in {out}")
        return
    count = int(option("--count", "40"))
    seed = int(option("--seed", "1"))
    fov = option("--sweep-fov", "70")
    sweep_ldi = option("--sweep-ldi", os.path.join(out, "sweep_512_70.ldibrtqp"))
    if not os.path.exists(sweep_ldi):
        run("make", "demo", "--kind", "rt-qp", "--size", "512", "--fov", "70", "-o", sweep_ldi)
    flags = dict(zip(*[iter(camera_flags(sweep_ldi, "--fov", "45"))] * 2))
    pos, direction, up = (parse_vector(flags[k]) for k in ("--pos", "--dir", "--up"))
    bounds = [line for line in run("info", sweep_ldi).splitlines()
              if line.startswith("bounds:")][0]
    corners = bounds.replace("bounds:", "").replace("to", "").replace("(", " ").replace(")", " ")
    values = [float(v) for v in corners.replace(",", " ").split()]
    centre = [(values[i] + values[i + 3]) / 2 for i in range(3)]
    side = [direction[1] * up[2] - direction[2] * up[1], direction[2] * up[0] - direction[0] * up[2],
            direction[0] * up[1] - direction[1] * up[0]]
    rng = random.Random(seed)
    results = {"basic": [], "high": []}
    worst = []

    def fmt(v):
        return ",".join(f"{x:.6f}" for x in v)

    for i in range(count):
        yaw, pitch = rng.uniform(-40, 40), rng.uniform(0, 15)
        dolly, turn_x, turn_y = rng.uniform(0.6, 1.3), rng.uniform(-5, 5), rng.uniform(-5, 5)
        arm = [p - c for p, c in zip(pos, centre)]
        arm = rotate(arm, up, yaw)
        look = rotate(direction, up, yaw)
        cam_up = rotate(up, up, yaw)
        axis = rotate(side, up, yaw)
        arm, look, cam_up = (rotate(v, axis, pitch) for v in (arm, look, cam_up))
        eye = [c + a * dolly for c, a in zip(centre, arm)]
        look = rotate(look, cam_up, turn_x)
        look = rotate(look, axis, turn_y)
        cam_up = rotate(cam_up, axis, turn_y)
        cam = ["--pos", fmt(eye), "--dir", fmt(look), "--up", fmt(cam_up), "--fov", fov]
        with open(os.path.join(out, f"sweep_{i:02d}.camera"), "w") as f:
            f.write(" ".join(cam) + "\n")
        row = compare(f"sweep_{i:02d}", sweep_ldi, "demo", cam)
        results["basic"].append(row[0])
        results["high"].append(row[1])
        worst.append((row[1], i, yaw, pitch, dolly))
    for mode in ("basic", "high"):
        values = results[mode]
        print(f"{f'sweep of {count} cameras, {mode}':<34} median {statistics.median(values):6.2f}"
              f" min {min(values):6.2f}")
    worst.sort()
    print("lowest high-quality sweep cameras: " +
          ", ".join(f"#{i} {p:.2f} dB (yaw {y:.0f}, pitch {pt:.0f}, dolly {d:.2f})"
                    for p, i, y, pt, d in worst[:3]))
    print(f"pictures in {out}")


def main():
    argv = sys.argv[1:]
    args = [a for i, a in enumerate(argv) if not a.startswith("--") and
            (i == 0 or argv[i - 1] not in ("--strata", "--count", "--seed", "--out", "--parts", "--sweep-fov",
                                    "--modes", "--sweep-ldi"))]
    build = args[0] if args else os.environ.get("BUILD_DIR", "build")
    strata = os.path.join(build, "src", "tools", "strata")
    out = option("--out", os.path.join(build, "demo-quality"))
    os.makedirs(out, exist_ok=True)

    if "--kinds" in sys.argv[1:]:
        kinds_table(strata, out)
        return
    if "--figures" in sys.argv[1:]:
        figures(option("--strata", strata), out)
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
