"""python3 -m strata.distributed render FILE --orbit DEGREES --frames N -o frames/%05d.png
[any flag of strata render] [--scheduler tcp://HOST:PORT | --workers N]

Draws the frames of `strata render FILE --orbit ...` (or --path) on a Dask cluster, one task
per frame: the cluster of --scheduler, else a local cluster of --workers processes (default:
one per core). The frames are the command's own, picture for picture.
"""

import os
import sys

import strata
from strata import Error, _strata
from strata.distributed import _render_cameras

PROGRAM = "strata.distributed"


class _Usage(Error):
    """A usage error (exit status 2, as the command line's)."""


def _take(arguments, flag):
    """Removes `flag VALUE` (or flag=VALUE) from arguments; the value or None. Error when the
    value is missing."""
    for i, argument in enumerate(arguments):
        if argument == flag:
            if i + 1 >= len(arguments):
                raise _Usage("%s wants a value" % flag)
            value = arguments[i + 1]
            del arguments[i : i + 2]
            return value
        if argument.startswith(flag + "="):
            del arguments[i]
            return argument[len(flag) + 1 :]
    return None


def render(arguments):
    scheduler = _take(arguments, "--scheduler")
    workers = _take(arguments, "--workers")
    client = scheduler
    if workers is not None:
        if scheduler is not None:
            raise _Usage("--scheduler and --workers exclude each other")
        if not workers.isdigit() or not 1 <= int(workers) <= 1024:
            raise _Usage('--workers wants 1..1024, got "%s"' % workers)
        client = int(workers)
    try:
        job = _strata.RenderJob(arguments)
    except Error as e:
        raise _Usage(str(e)) from None
    if not job.sequence:
        raise _Usage("render on a cluster wants --orbit or --path with --frames N")
    if job.video:
        raise _Usage(
            "the frames are written as numbered pictures, not a video: give -o a pattern such "
            "as frames/%05d.png"
        )
    file = strata.open(job.input)
    cameras = _strata.sequence_cameras(file, None, job)
    path = os.path.abspath(job.input)
    _render_cameras(path, cameras, os.path.abspath(job.pattern), arguments, client)
    print("wrote %d frames: %s" % (len(cameras), job.pattern))
    return 0


def main(argv=None):
    arguments = list(sys.argv[1:] if argv is None else argv)
    if not arguments or arguments[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if arguments[0] != "render":
        print("%s: unknown command \"%s\" (render)" % (PROGRAM, arguments[0]), file=sys.stderr)
        return 2
    try:
        return render(arguments[1:])
    except Error as e:
        print("%s render: %s" % (PROGRAM, e), file=sys.stderr)
        return 2 if isinstance(e, _Usage) else 1


if __name__ == "__main__":
    sys.exit(main())
