#!/usr/bin/python3
"""Frames per second of an orbit drawn by strata.distributed.render_frames on local Dask
clusters of 1 and 2 worker processes, against `strata render --orbit` in one process and
`strata render --camera` run once per frame; the overhead per task is the difference per frame.

    PYTHONPATH=build/python bench/distributed_frames.py build [FILE] [--frames 240] [--size 1024]

FILE defaults to the demo's QP LDI (made in build/demo by `make run`). Each figure is the best
of --repeat runs; clusters are started (and warmed with one frame) before the clock runs. Beside
wall-clock frames per second, the processor time a frame costs (every process: the command's, or
the client, scheduler and workers') is printed: on a machine shared with other work it moves far
less than the wall clock does.
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time


def best(repeat, run):
    """The (wall, processor) seconds of the run with the least processor time."""
    return min((run() for _ in range(repeat)), key=lambda t: t[1])


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(run, cpu=children_cpu):
    """Wall and processor seconds of run(); cpu() reads the processor time to count."""
    start, start_cpu = time.perf_counter(), cpu()
    run()
    return time.perf_counter() - start, cpu() - start_cpu


def report(label, n, seconds, reference=None):
    wall, cpu = seconds
    line = "%s: %.2f frames/s (%.1f ms a frame), %.1f ms of processor time a frame" % (
        label, n / wall, 1e3 * wall / n, 1e3 * cpu / n)
    for name, other in reference or []:
        line += "; %+.1f ms processor time a frame against %s" % (1e3 * (cpu - other[1]) / n, name)
    print(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("file", nargs="?")
    parser.add_argument("--frames", type=int, default=240)
    parser.add_argument("--size", type=int, default=1024)
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--workers", default="1,2")
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import strata
    import strata.distributed as sd
    from distributed import Client, LocalCluster

    exe = os.path.join(args.build, "src", "tools", "strata")
    path = os.path.abspath(args.file or os.path.join(args.build, "demo", "demo.ldibrtqp"))
    size = "%dx%d" % (args.size, args.size)
    cameras = strata.orbit(path, 360, args.frames, size=(args.size, args.size))
    n = args.frames
    out = tempfile.mkdtemp(prefix="strata-bench-")
    print("load before: %s" % os.getloadavg()[0])

    orbit = best(args.repeat, lambda: timed(lambda: subprocess.run(
        [exe, "render", path, "--orbit", "360", "--frames", str(n), "--size", size, "-o",
         os.path.join(out, "cli%05d.png")], check=True, capture_output=True)))
    report("strata render --orbit (one process)", n, orbit)

    for i, camera in enumerate(cameras):
        camera.save(os.path.join(out, "cam%05d.json" % i))

    def loop():
        for i in range(n):
            subprocess.run([exe, "render", path, "--camera", os.path.join(out, "cam%05d.json" % i),
                            "-o", os.path.join(out, "loop.png")], check=True, capture_output=True)

    looped = best(args.repeat, lambda: timed(loop))
    report("strata render --camera in a loop", n, looped)

    for workers in [int(w) for w in args.workers.split(",")]:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
        pattern = os.path.join(out, "dask%05d.png")
        sd.render_frames(path, cameras[:workers], pattern, client=client)  # warm the workers

        def cluster_cpu():
            # This process (client and scheduler) and every worker process.
            return time.process_time() + sum(client.run(time.process_time).values())

        seconds = best(args.repeat, lambda: timed(
            lambda: sd.render_frames(path, cameras, pattern, client=client), cluster_cpu))
        report("render_frames, %d local worker(s)" % workers, n, seconds,
               [("the loop", looped), ("--orbit", orbit)])
        # What the cluster's processes spend when idle (heartbeats, monitors, event loops) grows
        # with the wall time, which other work on the machine stretches; the rest is per task.
        idle = timed(lambda: time.sleep(5.0), cluster_cpu)
        background = idle[1] / idle[0] * seconds[0]
        print("  of which the idle cluster's %.1f ms a frame (%.0f ms/s); per task beyond "
              "--orbit's frame %+.1f ms" % (1e3 * background / n, 1e3 * idle[1] / idle[0],
                                            1e3 * (seconds[1] - background - orbit[1]) / n))
        client.close()
        cluster.close()
    print("load after: %s" % os.getloadavg()[0])
    subprocess.run(["rm", "-rf", out])


if __name__ == "__main__":
    main()
