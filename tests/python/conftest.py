"""Shared pieces of the Python package's tests: the `strata` program, demo LDIs of every kind
made by it, and readers of what it writes (BMP pictures, PLY point clouds) that do not go
through the package."""

import os
import subprocess

import numpy as np
import pytest

import strata

_HERE = os.path.dirname(os.path.abspath(strata.__file__))
STRATA = os.environ.get("STRATA_EXE") or os.path.join(_HERE, "..", "..", "src", "tools", "strata")

# The demo's files by kind, as `strata make demo -o DIR` names them.
DEMO_FILES = {
    "rt-cp": "demo.ldibrtcp",
    "rt-qp": "demo.ldibrtqp",
    "rt-mrqp": "demo.ldibrtmrqp",
    "rtff-cp": "demo.ldirtffcp",
    "rtff-qp": "demo.ldirtffqp",
    "rtff-mrqp": "demo.ldirtffmrqp",
    "quad": "demo.ldiquad",
    "pyramid": "demo.ldipyr",
    "set": "demo.ldiset",
    "voxel": "demo.vox",
}


def run(*arguments, check=True):
    """Runs strata with the arguments; the finished process (text output)."""
    done = subprocess.run(
        [STRATA] + [str(a) for a in arguments], capture_output=True, text=True, timeout=300
    )
    if check and done.returncode != 0:
        raise AssertionError("strata %s failed: %s" % (" ".join(map(str, arguments)), done.stderr))
    return done


def message(done, command):
    """The first line the command printed on stderr, without its program prefix."""
    line = done.stderr.splitlines()[0]
    prefix = "strata %s: " % command
    return line[len(prefix) :] if line.startswith(prefix) else line


def read_bmp(path):
    """A 32-bit BMP as `strata` writes it, as an H x W x 3 uint8 array, top row first."""
    data = open(path, "rb").read()
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    assert int.from_bytes(data[28:30], "little") == 32
    rows = np.frombuffer(data, np.uint8, 4 * width * abs(height), offset)
    rows = rows.reshape(abs(height), width, 4)[:, :, 2::-1]  # BGRA to RGB
    return rows[::-1] if height > 0 else rows


def cli_render(file, *flags, tmp):
    """`strata render FILE FLAGS` as an array."""
    out = os.path.join(tmp, "cli.bmp")
    run("render", file, "-o", out, *flags)
    return read_bmp(out)


def read_ply(path):
    """The vertices of a binary little-endian PLY as a structured array."""
    data = open(path, "rb").read()
    end = data.index(b"end_header\n") + len(b"end_header\n")
    header = data[:end].decode("ascii").splitlines()
    fields = []
    for line in header:
        words = line.split()
        if words[:1] == ["property"]:
            fields.append((words[2], "<f4" if words[1] == "float" else "u1"))
    return np.frombuffer(data, np.dtype(fields), offset=end)


@pytest.fixture(scope="session")
def demo(tmp_path_factory):
    """A folder of the demo made by `strata make` (small grids: quick, and enough layers)."""
    folder = tmp_path_factory.mktemp("demo")
    run("make", "demo", "-o", folder, "--size", "64")
    return str(folder)


@pytest.fixture(scope="session")
def qp(demo):
    return os.path.join(demo, DEMO_FILES["rt-qp"])


def pytest_configure(config):
    # Dask's tornado loop warns about its own use of make_current.
    config.addinivalue_line("filterwarnings", "ignore:make_current is deprecated")
