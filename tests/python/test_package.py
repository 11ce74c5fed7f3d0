"""The strata package against the command line's own output: opening every kind, the sample
arrays against `strata export`, pictures against `strata render` and `strata trace`, files
against `strata make`, and the command's refusals."""

import json
import os
import threading
import time

import numpy as np
import pytest

import strata
from conftest import DEMO_FILES, cli_render, message, read_bmp, read_ply, run


@pytest.mark.parametrize("kind", sorted(DEMO_FILES))
def test_every_demo_kind_opens(demo, kind):
    f = strata.open(os.path.join(demo, DEMO_FILES[kind]))
    assert f.kind == kind
    width, height = f.grid
    counts = f.layer_counts
    assert counts.shape == (height, width) and counts.dtype == np.uint16
    s = f.samples()
    assert len(s["row"]) == int(counts.sum()) > 0
    # Every pixel's samples are its layers 0..count-1, once each.
    keys = s["row"].astype(np.int64) * width + s["column"]
    assert np.array_equal(np.bincount(keys, minlength=width * height), counts.ravel())
    assert s["layer"].min() == 0 and s["layer"].max() == counts.max() - 1
    # Layer 0 is the front: the nearest sample of every pixel, stored last.
    front = f.ldi.samples(layer=0)
    assert np.all(front["layer"] == 0) and len(front["row"]) == int((counts > 0).sum())
    assert np.array_equal(front["position"], s["position"][s["layer"] == 0])
    last = np.r_[keys[1:] != keys[:-1], True]
    assert np.array_equal(s["layer"][last], np.zeros(int(last.sum())))
    nearest = np.minimum.reduceat(s["distance"], np.r_[0, np.flatnonzero(keys[1:] != keys[:-1]) + 1])
    assert np.allclose(front["distance"], nearest)
    assert (s["normal"] is None) == (kind in ("rt-cp", "rtff-cp", "voxel"))
    assert (s["mask4"] is None) == ("mrqp" not in kind)
    lo, hi = f.bounds
    assert all(np.isfinite(lo + hi)) and all(a <= b for a, b in zip(lo, hi))
    camera = f.reference_camera
    assert (camera.width, camera.height) == (width, height)
    assert strata.Camera.from_json(camera.to_json()) == camera
    if kind == "pyramid":
        assert len(f.pyramid.levels) == 3 and f.pyramid.levels[1].grid == (32, 32)
    if kind == "set":
        assert len(f.members) == 4 and f.members[1].direction[0] == pytest.approx(1.0)
    if kind != "voxel":
        # Distances from the reference eye agree with the positions.
        eye = np.array(f.ldi.reference_camera.position)
        assert np.allclose(np.linalg.norm(s["position"] - eye, axis=1), s["distance"], rtol=1e-5)


@pytest.mark.parametrize(
    "kind,flags",
    [
        ("rt-cp", []),
        ("rt-qp", []),
        ("rt-mrqp", []),
        ("rtff-qp", []),
        ("quad", []),
        ("rt-qp", ["--layer", "0"]),
        ("rt-mrqp", ["--layer", "2"]),
        ("pyramid", ["--level", "1"]),
    ],
)
def test_samples_round_trip_against_strata_export(demo, tmp_path, kind, flags):
    path = os.path.join(demo, DEMO_FILES[kind])
    run("export", path, "-o", tmp_path / "points.ply", *flags)
    points = read_ply(tmp_path / "points.ply")
    f = strata.open(path)
    ldi = f.pyramid.levels[int(flags[1])] if kind == "pyramid" else f.ldi
    s = ldi.samples(layer=int(flags[1]) if flags[:1] == ["--layer"] else None)
    xyz = np.stack([points["x"], points["y"], points["z"]], axis=1)
    assert np.array_equal(s["position"], xyz)
    assert np.array_equal(s["rgb"], np.stack([points["red"], points["green"], points["blue"]], 1))
    if "nx" in points.dtype.names:
        assert np.array_equal(s["normal"], np.stack([points["nx"], points["ny"], points["nz"]], 1))
    else:
        assert s["normal"] is None


@pytest.mark.parametrize("kind", ["rt-mrqp", "rtff-cp", "quad"])
def test_counts_and_masks_agree_with_strata_info(demo, kind):
    path = os.path.join(demo, DEMO_FILES[kind])
    info = json.loads(run("info", path, "--json").stdout)
    f = strata.open(path)
    counts, s = f.layer_counts, f.samples()
    layers = info["layersPerPixel"]
    assert len(s["row"]) == info["depthPixels"] == int(counts.sum())
    assert (counts.min(), counts.max()) == (layers["min"], layers["max"])
    assert int((counts == 0).sum()) == layers["emptyPixels"]
    if kind == "rt-mrqp":
        # One colour per set mask bit: the 4 x 4 and 2 x 2 colour counts of the header.
        bits4 = sum(int(np.count_nonzero(s["mask4"] & (1 << b))) for b in range(16))
        bits2 = sum(int(np.count_nonzero(s["mask2"] & (1 << b))) for b in range(4))
        assert [bits4, bits2] == info["mrqpCounts"][1:3]
        assert np.allclose(s["depth"], s["code"] * (2.0 / 1048575.0) - 1.0, atol=1e-6)


# Cameras as the command line gives them, each drawn in both quality modes.
CAMERAS = {
    "default": {},
    "turned": {"yaw": 20.0, "pitch": -5.0, "size": (320, 200)},
    "moved": {"pos": (1.5, 3.0, 5.0), "fov": 60.0, "size": (200, 260)},
}


def _flags(settings):
    out = []
    for key, value in settings.items():
        out.append("--" + key)
        out.append("%dx%d" % value if key == "size" else (",".join(map(str, value))
                   if isinstance(value, tuple) else str(value)))
    return out


@pytest.mark.parametrize("quality", ["default", "high"])
@pytest.mark.parametrize("camera", sorted(CAMERAS))
def test_render_equals_strata_render(qp, tmp_path, camera, quality):
    f = strata.open(qp)
    picture = strata.render(f, quality=quality, **CAMERAS[camera])
    expected = cli_render(qp, "--quality", quality, *_flags(CAMERAS[camera]), tmp=tmp_path)
    assert picture.shape == expected.shape and picture.dtype == np.uint8
    assert np.array_equal(picture, expected)
    # The same camera handed over as a Camera gives the same picture.
    assert np.array_equal(strata.render(f, f.camera(**CAMERAS[camera]), quality=quality), expected)


@pytest.mark.parametrize("kind", ["rt-cp", "rt-mrqp", "quad", "pyramid", "set", "voxel"])
def test_render_equals_strata_render_for_every_kind(demo, tmp_path, kind):
    path = os.path.join(demo, DEMO_FILES[kind])
    false_color = {"false_color": 8} if kind == "rt-cp" else {}
    picture = strata.render(path, yaw=-12.0, size=(180, 150), **false_color)
    cli_flags = ["--yaw", "-12.0", "--size", "180x150"] + (["--false-color", "8"]
                                                          if false_color else [])
    expected = cli_render(path, *cli_flags, tmp=tmp_path)
    assert np.array_equal(picture, expected)


def test_switches_map_onto_the_command_flags(qp, tmp_path):
    f = strata.open(qp)
    for settings, flags in [
        ({"splat": False}, ["--no-splat"]),
        ({"depth_correction": False, "backface": True}, ["--no-depth-correction", "--backface"]),
        ({"backface": False, "round": "nearest"}, ["--round", "nearest"]),
        ({"layer": 1, "threads": 1}, ["--layer", "1", "--threads", "1"]),
    ]:
        assert np.array_equal(strata.render(f, **settings), cli_render(qp, *flags, tmp=tmp_path))


def test_camera_json_from_python_reads_back_in_strata_render(qp, tmp_path):
    f = strata.open(qp)
    camera = strata.Camera(position=(2.5, 3.25, 6.0), direction=(-0.3, -0.4, -1.0),
                           up=(0.0, 1.0, 0.1), fov=50.0, near=0.5, far=40.0, width=240,
                           height=180)
    camera.save(tmp_path / "cam.json")
    assert strata.Camera.from_json(str(tmp_path / "cam.json")) == camera
    assert strata.Camera.from_json(camera.to_json()) == camera
    expected = cli_render(qp, "--camera", tmp_path / "cam.json", tmp=tmp_path)
    assert expected.shape == (180, 240, 3)
    assert np.array_equal(strata.render(f, camera), expected)
    assert np.array_equal(strata.render(f, tmp_path / "cam.json"), expected)
    # Flags over the camera, as over a camera file: the size, a turn.
    resized = strata.render(f, camera, size=(100, 90))
    assert resized.shape == (90, 100, 3)
    assert np.array_equal(
        resized,
        cli_render(qp, "--camera", tmp_path / "cam.json", "--size", "100x90", tmp=tmp_path),
    )
    for quality in ["default", "high"]:
        assert np.array_equal(
            strata.render(f, camera, quality=quality, yaw=10.0),
            cli_render(qp, "--camera", tmp_path / "cam.json", "--quality", quality, "--yaw",
                       "10.0", tmp=tmp_path),
        )
    # The command's printed camera is the package's.
    printed = run("render", qp, "-o", tmp_path / "x.png", "--yaw", "15", "--print-camera",
                  "--json").stdout
    assert strata.Camera.from_json(printed) == f.camera(yaw=15)


def test_coverage_equals_strata_render_coverage(qp, tmp_path):
    f = strata.open(qp)
    mask, share = strata.coverage(f, offset=(0.0, 0.0, 2.5), quality="high")
    done = run("render", qp, "-o", tmp_path / "x.bmp", "--offset", "0,0,2.5", "--quality", "high",
               "--coverage", tmp_path / "mask.bmp")
    line = [l for l in done.stdout.splitlines() if l.startswith("uncovered=")][0]
    assert "uncovered=%.6f" % share == line.split()[0]
    cli_mask = read_bmp(tmp_path / "mask.bmp")
    assert mask.dtype == bool and mask.shape == cli_mask.shape[:2]
    assert np.array_equal(mask, cli_mask[:, :, 0] == 0)
    # From the LDI's own camera every pixel of the picture is reached.
    assert strata.coverage(f, f.reference_camera)[1] == 0.0
    assert strata.coverage(f)[1] > 0.0


def test_orbit_and_path_follow_the_command(qp, tmp_path):
    f = strata.open(qp)
    cameras = strata.orbit(f, 360, 5, size=(100, 80))
    assert len(cameras) == 5 and cameras[0] == cameras[4] == f.camera(size=(100, 80))
    assert cameras[2].position != cameras[0].position
    # Frame 2 of the command's orbit is drawn from cameras[2].
    run("render", qp, "--orbit", "360", "--frames", "5", "--size", "100x80", "-o",
        tmp_path / "o%d.bmp")
    assert np.array_equal(strata.render(f, cameras[2]), read_bmp(tmp_path / "o2.bmp"))
    keys = [cameras[0], cameras[1]]
    flown = strata.path(keys, 3)
    assert flown[0] == keys[0] and flown[2] == keys[1]
    with open(tmp_path / "keys.json", "w") as out:
        out.write("[" + ",".join(k.to_json() for k in keys) + "]")
    assert strata.path(str(tmp_path / "keys.json"), 3) == flown
    with pytest.raises(strata.Error, match=r"--frames N with N in 1\.\.100000"):
        strata.path(keys, 0)


def test_trace_and_make_equal_the_commands(tmp_path):
    scene = strata.Scene("demo")
    camera = strata.Camera(position=(3.0, 2.5, 6.0), direction=(-0.4, -0.3, -1.0), width=90,
                           height=70)
    camera.save(tmp_path / "cam.json")
    run("trace", "demo", "--camera", tmp_path / "cam.json", "-o", tmp_path / "t.bmp")
    assert np.array_equal(strata.trace(scene, camera), read_bmp(tmp_path / "t.bmp"))
    run("trace", "demo", "--size", "64x48", "--shading", "normal", "-o", tmp_path / "t2.bmp")
    assert np.array_equal(strata.trace("demo", size=(64, 48), shading="normal"),
                          read_bmp(tmp_path / "t2.bmp"))
    # Made files are the command's, byte for byte.
    run("make", "demo", "--kind", "rt-mrqp", "--size", "48", "--layers", "5", "-o",
        tmp_path / "cli.ldibrtmrqp")
    made = strata.make(scene, tmp_path / "py.ldibrtmrqp", kind="rt-mrqp", size=48, layers=5)
    assert [m["kind"] for m in made] == ["rt-mrqp"]
    assert same_ldi_bytes(tmp_path / "cli.ldibrtmrqp", tmp_path / "py.ldibrtmrqp")
    # A camera given to make is the camera flags of the command.
    run("make", "demo", "--kind", "rt-qp", "--size", "40", "--pos", "3,2.5,6", "--dir",
        "-0.4,-0.3,-1", "--up", "0,1,0", "--fov", "45", "-o", tmp_path / "cam.ldibrtqp")
    strata.make(scene, tmp_path / "pycam.ldibrtqp", kind="rt-qp", size=40,
                camera=strata.Camera(position=(3, 2.5, 6), direction=(-0.4, -0.3, -1)))
    assert same_ldi_bytes(tmp_path / "cam.ldibrtqp", tmp_path / "pycam.ldibrtqp")
    opened = strata.make("demo", kind="pyramid", size=32)
    assert opened.kind == "pyramid" and opened.grid == (32, 32)


# The header's time words (load, sample and write minutes and seconds): wall time.
TIME_WORDS = slice(44 + 8 * 4, 44 + 14 * 4)


def same_ldi_bytes(a, b):
    x, y = bytearray(open(a, "rb").read()), bytearray(open(b, "rb").read())
    for data in (x, y):
        data[TIME_WORDS] = bytes(TIME_WORDS.stop - TIME_WORDS.start)
    return x == y


BAD_FILES = {
    "missing.ldibrtqp": None,
    "short.ldibrtqp": b"\x00" * 100,
    "garbage.ldibrtmrqp": bytes(range(256)) * 60,
    "bad.ldipyr": b"2\nlevel.ldibrtqp 1.0\n",
    "bad.ldiset": b"three\n",
    "bad.vox": b"\x00\x00\x00\x01\x7f\xc0\x00\x00",
    "bad.ldiquad": b"not a list",
}


@pytest.mark.parametrize("name", sorted(BAD_FILES))
def test_bad_files_raise_the_command_lines_message(tmp_path, name):
    path = tmp_path / name
    if BAD_FILES[name] is not None:
        path.write_bytes(BAD_FILES[name])
    done = run("render", path, "-o", tmp_path / "x.png", check=False)
    assert done.returncode == 1
    with pytest.raises(strata.Error) as refused:
        strata.open(path)
    assert str(refused.value) == message(done, "render")


BAD_SETTINGS = [
    ({"quality": "best"}, ["--quality", "best"]),
    ({"threads": 0}, ["--threads", "0"]),
    ({"threads": 257}, ["--threads", "257"]),
    ({"size": (15, 100)}, ["--size", "15x100"]),
    ({"size": (16385, 16)}, ["--size", "16385x16"]),
    ({"false_color": 10}, ["--false-color", "10"]),
    ({"layer": 65536}, ["--layer", "65536"]),
    ({"round": "up"}, ["--round", "up"]),
    ({"pos": (1, 2)}, ["--pos", "1x2"]),
    ({"dir": (0, 1, 0), "up": (0, 2, 0)}, ["--dir", "0,1,0", "--up", "0,2,0"]),
    ({"sparkle": True}, ["--sparkle"]),
]


@pytest.mark.parametrize("settings,flags", BAD_SETTINGS)
def test_bad_settings_raise_the_command_lines_message(qp, tmp_path, settings, flags):
    done = run("render", qp, "-o", tmp_path / "x.png", *flags, check=False)
    assert done.returncode == 2
    with pytest.raises(strata.Error) as refused:
        strata.render(qp, **settings)
    assert str(refused.value) == message(done, "render")


# The other side of each limit above: taken, and drawn as the command draws it.
EDGE_SETTINGS = [
    ({"threads": 256}, ["--threads", "256"]),
    ({"size": (16, 17)}, ["--size", "16x17"]),
    ({"false_color": 9}, ["--false-color", "9"]),
    ({"layer": 65535}, ["--layer", "65535"]),
]


@pytest.mark.parametrize("settings,flags", EDGE_SETTINGS)
def test_settings_at_their_limits_are_taken(qp, tmp_path, settings, flags):
    assert np.array_equal(strata.render(qp, **settings), cli_render(qp, *flags, tmp=tmp_path))


def test_settings_that_are_not_one_frame_are_refused(qp):
    for settings in ({"orbit": 90, "frames": 3}, {"stats": True}, {"coverage": "m.png"}):
        with pytest.raises(strata.Error):
            strata.render(qp, **settings)
    with pytest.raises(strata.Error, match="field \"fovDegrees\""):
        strata.Camera(fov=180.0)
    with pytest.raises(strata.Error, match="--size wants WxH"):
        strata.trace("demo", size=(0, 10))
    with pytest.raises(strata.Error, match="unknown kind"):
        strata.make("demo", "x", kind="rt-xx")


def test_render_releases_the_gil(qp):
    f, g = strata.open(qp), strata.open(qp)
    big = {"size": (2000, 2000), "quality": "high", "threads": 1}
    reference = strata.render(f, **big)
    results = {}

    def draw(name, file):
        results[name] = [strata.render(file, **big) for _ in range(3)]

    first = threading.Thread(target=draw, args=("first", f))
    second = threading.Thread(target=draw, args=("second", g))
    # While the first thread draws, this one keeps running Python code.
    ticks = 0
    first.start()
    start = time.monotonic()
    while first.is_alive():
        time.sleep(0.001)
        ticks += 1
    elapsed = time.monotonic() - start
    assert elapsed > 0.05 and ticks >= 20, (elapsed, ticks)
    # Two threads draw at once, the same file from both included, and both finish.
    second.start()
    third = threading.Thread(target=draw, args=("third", f))
    third.start()
    for t in (second, third):
        t.join(120)
        assert not t.is_alive()
    for name in ("first", "second", "third"):
        assert all(np.array_equal(p, reference) for p in results[name])
