"""strata.distributed on a real Dask cluster: a scheduler and worker processes started here with
Dask's own commands on free ports of this machine, the frames and sets they make compared with
the command line's."""

import glob
import json
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import strata
import strata.distributed as sd
from conftest import DEMO_FILES, run
from test_package import same_ldi_bytes

distributed = pytest.importorskip("distributed")

_ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))


def _start(arguments, log):
    return subprocess.Popen(
        [sys.executable, "-m"] + arguments,
        stdout=log,
        stderr=subprocess.STDOUT,
        env=_ENV,
        start_new_session=True,
    )


def _stop(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
    process.wait(30)


class Cluster:
    """A scheduler on a free port and worker processes without nannies (a killed worker stays
    dead), all stopped by close()."""

    def __init__(self, folder):
        self.folder = folder
        self.log = open(os.path.join(folder, "cluster.log"), "w")
        self.processes = []
        scheduler_file = os.path.join(folder, "scheduler.json")
        self.processes.append(
            _start(
                ["distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0",
                 "--no-dashboard", "--scheduler-file", scheduler_file],
                self.log,
            )
        )
        deadline = time.monotonic() + 60
        while not os.path.exists(scheduler_file):
            if time.monotonic() > deadline or self.processes[0].poll() is not None:
                raise RuntimeError("the scheduler did not start: " + self.read_log())
            time.sleep(0.1)
        self.address = json.load(open(scheduler_file))["address"]
        self.client = distributed.Client(self.address, timeout=60)

    def add_workers(self, count):
        """Starts count workers and waits until the scheduler has them; their processes."""
        started = []
        for i in range(count):
            folder = os.path.join(self.folder, "worker%d" % len(self.processes))
            started.append(
                _start(
                    ["distributed.cli.dask_worker", self.address, "--no-nanny", "--nthreads",
                     "1", "--no-dashboard", "--host", "127.0.0.1", "--local-directory", folder],
                    self.log,
                )
            )
        self.processes += started
        self.client.wait_for_workers(self.workers() + count, timeout=90)
        return started

    def workers(self):
        return len(self.client.scheduler_info()["workers"])

    def read_log(self):
        self.log.flush()
        return open(self.log.name).read()[-4000:]

    def close(self):
        try:
            self.client.close()
        finally:
            for process in reversed(self.processes):
                _stop(process)
            self.log.close()


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    c = Cluster(str(tmp_path_factory.mktemp("cluster")))
    try:
        c.add_workers(2)
        yield c
    finally:
        c.close()


def _files(folder, pattern="*"):
    return sorted(os.path.basename(p) for p in glob.glob(os.path.join(folder, pattern)))


def test_orbit_frames_equal_strata_render(cluster, demo, tmp_path):
    path = os.path.join(demo, DEMO_FILES["rt-mrqp"])
    flags = ["--orbit", "360", "--frames", "24", "--size", "160x120", "--quality", "high"]
    run("render", path, *flags, "-o", tmp_path / "cli" / "%03d.png")
    done = subprocess.run(
        [sys.executable, "-m", "strata.distributed", "render", path, *flags, "-o",
         str(tmp_path / "dask" / "%03d.png"), "--scheduler", cluster.address],
        capture_output=True, text=True, env=_ENV, timeout=300,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "wrote 24 frames: %s" % (tmp_path / "dask" / "%03d.png")
    names = _files(tmp_path / "cli")
    assert len(names) == 24 and _files(tmp_path / "dask") == names
    for name in names:
        assert open(tmp_path / "cli" / name, "rb").read() == open(
            tmp_path / "dask" / name, "rb").read(), name
    # Each frame is `strata render --camera` of its camera.
    cameras = strata.orbit(path, 360, 24, size=(160, 120))
    for i in (5, 17):
        cameras[i].save(tmp_path / "cam.json")
        run("render", path, "--camera", tmp_path / "cam.json", "--quality", "high", "-o",
            tmp_path / "one.png")
        assert open(tmp_path / "one.png", "rb").read() == open(
            tmp_path / "dask" / ("%03d.png" % i), "rb").read()


def test_a_worker_killed_mid_run_leaves_every_frame_once_and_right(cluster, demo, tmp_path):
    path = os.path.join(demo, DEMO_FILES["rt-qp"])
    cameras = strata.orbit(path, 180, 32, size=(640, 480))
    # The frames the command draws for the same cameras.
    run("render", path, "--orbit", "180", "--frames", "32", "--size", "640x480", "--quality",
        "high", "--threads", "1", "-o", tmp_path / "cli" / "%02d.png")
    victim, = cluster.add_workers(1)
    client = cluster.client
    outcome = {}

    def render():
        try:
            outcome["names"] = sd.render_frames(path, cameras, tmp_path / "dask" / "%02d.png",
                                                client=client, quality="high", threads=1)
        except BaseException as e:  # handed to the test below
            outcome["error"] = e

    runner = threading.Thread(target=render)
    runner.start()
    # Kill the extra worker as soon as it is drawing a frame.
    deadline = time.monotonic() + 120
    killed = False
    while time.monotonic() < deadline and runner.is_alive() and not killed:
        busy = [w for w, keys in client.processing().items() if keys]
        pids = client.run(os.getpid, workers=busy) if busy else {}
        if victim.pid in pids.values():
            victim.send_signal(signal.SIGKILL)
            killed = runner.is_alive()
        time.sleep(0.02)
    assert killed, "the extra worker was never killed mid-run"
    runner.join(300)
    assert not runner.is_alive() and "error" not in outcome, outcome.get("error")
    assert victim.wait(30) == -signal.SIGKILL
    names = _files(tmp_path / "cli")
    assert len(names) == 32
    assert [os.path.basename(n) for n in outcome["names"]] == names
    assert sorted(os.listdir(tmp_path / "dask")) == names  # once each, no temporaries left
    for name in names:
        assert open(tmp_path / "cli" / name, "rb").read() == open(
            tmp_path / "dask" / name, "rb").read(), name


def test_make_set_equals_strata_make(cluster, tmp_path):
    os.makedirs(tmp_path / "cli")
    run("make", "demo", "--kind", "set", "--members", "5", "--size", "48", "--levels", "2",
        "-o", tmp_path / "cli" / "demo.ldiset")
    made = sd.make_set("demo", tmp_path / "dask" / "demo.ldiset", members=5,
                       client=cluster.client, size=48, levels=2)
    names = _files(tmp_path / "cli")
    assert len(names) == 1 + 5 * 3
    assert _files(tmp_path / "dask") == names  # no parts folder left
    assert sorted(os.path.basename(m["path"]) for m in made) == names
    for name in names:
        cli, dask = tmp_path / "cli" / name, tmp_path / "dask" / name
        if name.endswith(".ldibrtqp"):
            assert same_ldi_bytes(cli, dask), name
        else:
            assert open(cli, "rb").read() == open(dask, "rb").read(), name
    # Members that fail on the workers leave the existing set as it was, and no parts.
    before = {n: open(tmp_path / "dask" / n, "rb").read() for n in names}
    with pytest.raises(strata.Error, match="missing.obj"):
        sd.make_set(tmp_path / "missing.obj", tmp_path / "dask" / "demo.ldiset", members=5,
                    client=cluster.client, size=48, levels=2)
    assert _files(tmp_path / "dask") == names
    assert {n: open(tmp_path / "dask" / n, "rb").read() for n in names} == before


def test_coverage_grid_equals_coverage(cluster, demo):
    path = os.path.join(demo, DEMO_FILES["rt-cp"])
    f = strata.open(path)
    cameras = strata.orbit(f, 90, 6, size=(120, 90), offset=(0.0, 0.0, 3.0))
    shares = sd.coverage_grid(path, cameras, client=cluster.address)
    assert shares.dtype == np.float64 and shares.shape == (6,)
    assert list(shares) == [strata.coverage(f, c)[1] for c in cameras]
    assert shares.max() > 0.0


def test_stale_temporaries_of_the_frames_alone_are_removed(tmp_path):
    names = [str(tmp_path / "f00.png"), str(tmp_path / "f01.png")]
    for name in ["f00.png", "f00.png.tmpAb3xYz", "f01.png.tmp000000", "f02.png.tmpAb3xYz",
                 "f00.png.tmp12", "f00.png.old0Ab3xY"]:
        (tmp_path / name).write_bytes(b"x")
    sd._remove_stale_temporaries(names)
    assert sorted(os.listdir(tmp_path)) == ["f00.png", "f00.png.old0Ab3xY", "f00.png.tmp12",
                                            "f02.png.tmpAb3xYz"]
