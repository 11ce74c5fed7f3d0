"""strata.distributed: the long jobs of strata on a Dask cluster.

render_frames draws many cameras into numbered pictures, make_set makes a set one member
pyramid per task, coverage_grid measures the uncovered share of many cameras. Without a
client they run on a local cluster of this machine's cores; `client` may also be a
distributed.Client, a scheduler address ("tcp://HOST:PORT") or a number of local workers.

Every task is idempotent: it writes its own files through a temporary file renamed into
place, so a task run again after its worker died leaves the same files. Paths must name the
same files on every worker (a shared file system, or one machine). The workers must import
strata (PYTHONPATH as for the client). A progress bar runs on a terminal.
"""

import os
import shutil
import sys
import threading
import time
import uuid

import numpy as np

import strata
from strata import Error, _strata

__all__ = ["render_frames", "make_set", "coverage_grid", "connect"]


# ---- The cluster --------------------------------------------------------------------------


def connect(client=None):
    """A Dask client and whether the caller owns it (and closes it afterwards).

    client: a distributed.Client (used as it is), a scheduler address, a number of local
    worker processes, or None for a local cluster of one single-threaded worker per core.
    """
    from distributed import Client, LocalCluster

    if isinstance(client, Client):
        return client, False
    if isinstance(client, str):
        return Client(client), True
    workers = client if isinstance(client, int) else (os.cpu_count() or 1)
    if workers < 1:
        raise Error("a local cluster wants 1 or more workers, got %d" % workers)
    cluster = LocalCluster(
        n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None
    )
    return Client(cluster), True


def _close(client, owned):
    if owned:
        cluster = client.cluster
        client.close()
        if cluster is not None:
            cluster.close()


class _Progress:
    """label [#####.........................]  45% on stderr, only on a terminal and only once
    the work has run for a second, as the command line draws it."""

    def __init__(self, label, total):
        self.label = label if len(label) <= 40 else "..." + label[-37:]
        self.total = max(total, 1)
        self.done = 0
        self.terminal = sys.stderr.isatty()
        self.start = time.monotonic()
        self.drawn = False
        self.last = -1

    def step(self):
        self.done += 1
        if not self.terminal or time.monotonic() - self.start < 1.0:
            return
        percent = min(100, self.done * 100 // self.total)
        if percent == self.last:
            return
        self.last = percent
        filled = percent * 30 // 100
        sys.stderr.write(
            "\r\033[K%s [%s%s] %3d%%" % (self.label, "#" * filled, "." * (30 - filled), percent)
        )
        sys.stderr.flush()
        self.drawn = True

    def finish(self):
        if self.drawn:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()
            self.drawn = False


def _run(client, futures, label):
    """The results of the futures in their order; the first task error is raised (the others
    are cancelled)."""
    from distributed import as_completed

    progress = _Progress(label, len(futures))
    try:
        for future in as_completed(futures):
            if future.status == "error":
                future.result()
            progress.step()
        return [future.result() for future in futures]
    except BaseException:
        client.cancel(futures)
        raise
    finally:
        progress.finish()


# ---- What the workers keep between tasks ----------------------------------------------------

_local = threading.local()
_scenes = {}
_scenes_lock = threading.Lock()


def _stamp(path):
    """The path with its change time and size (a file that cannot be read is left to the
    opening, which says why)."""
    try:
        info = os.stat(path)
    except OSError:
        return (path, None, None)
    return (path, info.st_mtime_ns, info.st_size)


def _opened(path):
    """The file opened by this worker thread (draws of one file take turns, so each thread
    keeps its own); opened again when it changed."""
    key = _stamp(path)
    files = getattr(_local, "files", None)
    if files is None or key not in files:
        files = _local.files = {key: strata.open(path)}
    return files[key]


def _render_job(arguments):
    jobs = getattr(_local, "jobs", None)
    if jobs is None:
        jobs = _local.jobs = {}
    key = tuple(arguments)
    if key not in jobs:
        jobs.clear()
        jobs[key] = _strata.RenderJob(list(arguments))
    return jobs[key]


def _scene(name):
    """The scene read once by this worker process (Scenes serve several threads at once)."""
    key = name if name == "demo" else _stamp(name)
    with _scenes_lock:
        if key not in _scenes:
            _scenes.clear()
            _scenes[key] = strata.Scene(name)
        return _scenes[key]


# ---- Tasks ----------------------------------------------------------------------------------


def _frame_task(path, arguments, camera, name):
    _strata.write_frame(_opened(path), camera, _render_job(arguments), name)
    return name


def _coverage_task(path, arguments, camera):
    return _strata.coverage(_opened(path), camera, _render_job(arguments))[1]


def _member_task(scene, arguments, member, directory):
    job = _strata.MakeJob(list(arguments))
    return _strata.make_set_member(_scene(scene), job, member, directory)


# ---- Jobs -----------------------------------------------------------------------------------


def _absolute(path):
    return os.path.abspath(os.fspath(path))


def _frame_job(path, settings, output):
    """The parsed drawing settings of a job over given cameras: strata render's flags, the
    camera left to the cameras."""
    arguments = [path, "-o", output] + strata._arguments(strata._flags("render"), settings)
    job = _strata.RenderJob(arguments)
    if job.sequence or job.moves_camera:
        raise Error("the cameras are given: leave out the flags that move or size the camera")
    for flag in ("--frames", "--fps", "--compare", "--coverage", "--print-camera", "--stats"):
        if flag in job.given:
            raise Error("%s is not a setting of the frames" % flag)
    return arguments


def _checked_pattern(pattern, frames):
    """The command's checks of a frame pattern: one number, .png or .bmp; not a video."""
    job = _strata.RenderJob(
        ["file", "-o", pattern, "--orbit", "0", "--frames", str(frames)]
    )
    if job.video:
        raise Error(
            "the frames are written as numbered pictures, not a video: give a pattern such as "
            "frames/%05d.png"
        )
    return job.pattern


def _remove_stale_temporaries(names):
    """Removes the temporary files of frames whose writer was killed mid-write."""
    folders = {}
    for name in names:
        folders.setdefault(os.path.dirname(name) or ".", set()).add(os.path.basename(name))
    for folder, bases in folders.items():
        try:
            entries = os.listdir(folder)
        except OSError:
            continue
        for entry in entries:
            stem, dot, tail = entry.rpartition(".")
            if dot and tail.startswith("tmp") and len(tail) == 9 and stem in bases:
                try:
                    os.remove(os.path.join(folder, entry))
                except OSError:
                    pass


def _render_cameras(path, cameras, pattern, arguments, client):
    names = [_strata.frame_name(pattern, i) for i in range(len(cameras))]
    folder = os.path.dirname(pattern)
    if folder:
        os.makedirs(folder, exist_ok=True)
    client, owned = connect(client)
    try:
        futures = [
            client.submit(_frame_task, path, arguments, camera, name, pure=False)
            for camera, name in zip(cameras, names)
        ]
        _run(client, futures, pattern)
    finally:
        _close(client, owned)
    _remove_stale_temporaries(names)
    return names


def render_frames(path, cameras, out_pattern, client=None, **settings):
    """Draws every camera of the list into the numbered pictures of out_pattern, one task per
    frame; returns the file names in camera order.

    Each frame is the picture `strata render PATH --camera CAMERA SETTINGS -o NAME` writes
    (settings as for strata.render: quality="high", splat=False, threads=1, ...; the cameras
    give position, field of view and size). out_pattern has one number, as the command's -o
    of a sequence (frames/%05d.png; .png or .bmp); its folder is made. Frames are numbered
    from 0.
    """
    path = _absolute(path)
    cameras = list(cameras)
    if not cameras:
        raise Error("render_frames wants one or more cameras")
    pattern = _absolute(_checked_pattern(os.fspath(out_pattern), len(cameras)))
    arguments = _frame_job(path, settings, "frame.png")
    return _render_cameras(path, cameras, pattern, arguments, client)


def coverage_grid(path, cameras, client=None, **settings):
    """The uncovered share of every camera (strata.coverage's share, `strata render
    --coverage`'s uncovered=), one task per camera; a float64 array in camera order."""
    path = _absolute(path)
    cameras = list(cameras)
    arguments = _frame_job(path, settings, "frame.png")
    client, owned = connect(client)
    try:
        futures = [
            client.submit(_coverage_task, path, arguments, camera, pure=False)
            for camera in cameras
        ]
        shares = _run(client, futures, "coverage of " + os.path.basename(path))
    finally:
        _close(client, owned)
    return np.asarray(shares, dtype=np.float64)


def make_set(mesh, output, members=4, client=None, camera=None, **flags):
    """Makes a set as `strata make MESH --kind set --members N -o OUTPUT` does, one member
    pyramid per task; returns one dict per file written, as strata.make does.

    The members are written into a folder of parts beside the set; once all are made, every
    member file and then the set list are put in place as one file set: the old set stays as it
    was unless the whole new one is in place. mesh: "demo" or a mesh file; camera and flags as
    for strata.make (size, layers, levels, shading, ...).
    """
    scene = "demo" if os.fspath(mesh) == "demo" else _absolute(mesh)
    output = os.fspath(output)
    settings = dict(strata._camera_flags(camera))
    settings.update(flags)
    settings.update(kind="set", members=members)

    def arguments_for(out):
        return [scene, "-o", out] + strata._arguments(strata._flags("make"), settings)

    # The set's file (within the output when it names a folder), then the job that writes it.
    set_path = _absolute(
        _strata.MakeJob(arguments_for(output if output.endswith("/") else _absolute(output)))
        .kind_output
    )
    arguments = arguments_for(set_path)
    job = _strata.MakeJob(arguments)
    folder = os.path.dirname(set_path)
    parts = os.path.join(
        folder, ".%s.parts-%s" % (os.path.basename(set_path), uuid.uuid4().hex[:12])
    )
    os.makedirs(parts)
    client, owned = connect(client)
    try:
        futures = [
            client.submit(_member_task, scene, arguments, m, parts, pure=False)
            for m in range(members)
        ]
        results = _run(client, futures, set_path)
        _strata.commit_set(job, parts)
    finally:
        _close(client, owned)
        shutil.rmtree(parts, ignore_errors=True)
    made = []
    for files in results:
        for entry in files:
            final = os.path.join(folder, os.path.basename(entry["path"]))
            entry["summary"] = entry["summary"].replace(entry["path"], final, 1)
            entry["path"] = final
            made.append(entry)
    # The set's own line: its first member's grid and layers, the depth pixels of every member.
    listed = dict(results[0][0], path=set_path, kind="set")
    listed["depth_pixels"] = sum(files[-1]["depth_pixels"] for files in results)
    listed["summary"] = _strata.summary_line(listed)
    made.append(listed)
    return made
