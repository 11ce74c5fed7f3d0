"""strata: layered depth images (LDIs) from Python, over the same core as the `strata` command.

Open any file the viewer opens and read its samples as NumPy arrays, draw it from any camera
into an H x W x 3 uint8 array equal to `strata render`'s picture, ray-trace scenes and make LDI
files as `strata trace` and `strata make` do. Long jobs go to a Dask cluster through
`strata.distributed`.

    import strata
    ldi = strata.open("build/demo/demo.ldibrtqp")
    picture = strata.render(ldi, yaw=15)             # as `strata render FILE --yaw 15`
    s = ldi.samples()                                 # s["position"], s["rgb"], ...

Keyword settings are the command line's flags: `name=value` is `--name value` (underscores
become dashes; a tuple (x, y, z) is "x,y,z", a (width, height) size "WxH"), `name=True` is
the switch `--name` and `name=False` its `--no-name` form (or nothing, when the switch is off
by default). A setting left out takes the command's default, whatever that default is. Every
refused file or setting raises strata.Error with the message the command line prints.
"""

import os as _os
import shutil as _shutil
import tempfile as _tempfile

from . import _strata
from ._strata import Camera, Error, File, Ldi, Pyramid, Scene, path

__all__ = [
    "Camera",
    "Error",
    "File",
    "Ldi",
    "Pyramid",
    "Scene",
    "open",
    "render",
    "coverage",
    "trace",
    "make",
    "orbit",
    "path",
]

# The name a frame call gives the command's required output; nothing is written to it.
_UNUSED_OUTPUT = "unused.png"


def _text(value):
    if isinstance(value, (tuple, list)):
        if len(value) == 2:
            return "%sx%s" % tuple(_text(v) for v in value)
        return ",".join(_text(v) for v in value)
    if isinstance(value, float):
        return repr(value)
    return str(value)


def _arguments(flag_names, settings):
    """The command-line flags of keyword settings (see the module's documentation)."""
    names = set(flag_names)
    out = []
    for key, value in settings.items():
        if value is None:
            continue
        flag = "--" + key.replace("_", "-")
        if value is True:
            out.append(flag)
        elif value is False:
            negative = "--no-" + key.replace("_", "-")
            if negative in names:
                out.append(negative)
            elif flag not in names:
                out.append(negative)  # neither form exists: let the command refuse it
        else:
            out += [flag, _text(value)]
    return out


_flag_cache = {}


def _flags(command):
    if command not in _flag_cache:
        table = {"render": _strata.RenderJob, "trace": _strata.TraceJob, "make": _strata.MakeJob}
        _flag_cache[command] = table[command].flag_names()
    return _flag_cache[command]


def _render_job(file, output, settings):
    return _strata.RenderJob([file.path, "-o", output] + _arguments(_flags("render"), settings))


def _opened(file):
    return file if isinstance(file, File) else open(file)


def _camera(camera):
    """A Camera, None, or a camera file's path read into a Camera."""
    if camera is None or isinstance(camera, Camera):
        return camera
    return Camera.from_json(_os.fspath(camera))


def open(path):
    """Opens any file the viewer opens (an LDI of any kind, .ldiquad, .ldipyr, .ldiset, .vox).

    The result tells its kind, bounds and reference camera; its `ldi` (the LDI the reference
    camera comes from) gives the grid, layer counts and samples as NumPy arrays, `pyramid` and
    `members` the levels of a pyramid or set. strata.Error with the command line's message when
    the file is refused.
    """
    return _strata.open(_os.fspath(path))


def _delegate(name, doc):
    def get(self):
        ldi = self.ldi
        if ldi is None:
            raise Error("%s: no level of it loaded" % self.path)
        return getattr(ldi, name)

    return property(get, doc=doc)


File.grid = _delegate("grid", "(width, height) of the reference LDI's grid.")
File.layer_counts = _delegate("layer_counts", "Layers of every pixel of the reference LDI.")


def _file_samples(self, layer=None):
    """The samples of the reference LDI as NumPy arrays (see Ldi.samples)."""
    ldi = self.ldi
    if ldi is None:
        raise Error("%s: no level of it loaded" % self.path)
    return ldi.samples(layer)


def _file_camera(self, **flags):
    """The camera `strata render FILE FLAGS` draws from (its flags: size, pos, dir, up, fov, near,
    far, offset, yaw, pitch, camera): with none, the reference camera with the viewer's 45-degree
    field of view at the command's default frame size."""
    if "camera" in flags and isinstance(flags["camera"], Camera):
        raise Error("camera() takes a camera file name; give a Camera to render() directly")
    return _strata.render_camera(self, _render_job(self, _UNUSED_OUTPUT, flags))


File.samples = _file_samples
File.camera = _file_camera
File.__repr__ = lambda self: "<strata.File %s %r>" % (self.kind, self.path)


def render(file, camera=None, *, quality=None, threads=None, **flags):
    """Draws a file as `strata render` does; returns an H x W x 3 uint8 array, top row first.

    file: an opened File or a path. camera: a Camera or a camera file (drawn as `strata render
    --camera` of it), or None for the command's default (the file's reference camera with the
    viewer's field of view). quality ("default" or "high"), threads (1..256, the picture is
    the same) and the other flags are `strata render`'s (splat=False, false_color=4, yaw=15,
    size=(640, 480), ...); left out, they take the command's defaults. The GIL is released
    while drawing.
    """
    file = _opened(file)
    flags.update(quality=quality, threads=threads)
    return _strata.render(file, _camera(camera), _render_job(file, _UNUSED_OUTPUT, flags))


def coverage(file, camera=None, **flags):
    """Which pixels a draw reaches, as `strata render --coverage` measures it.

    Returns (mask, share): mask is an H x W bool array (top row first), True where a sample
    landed; share is the part of the picture (reached pixels and holes inside it) that no
    sample reached, the command's uncovered= figure. Arguments as for render().
    """
    file = _opened(file)
    return _strata.coverage(file, _camera(camera), _render_job(file, _UNUSED_OUTPUT, flags))


def orbit(file, degrees=360.0, frames=2, camera=None, **flags):
    """The cameras of `strata render FILE --orbit DEGREES --frames N FLAGS`.

    The start camera is camera (a Camera) or the command's (its flags over the file's
    reference camera); it turns about the file's bounding-box centre around its up axis, frame
    i by degrees * i / (frames - 1).
    """
    file = _opened(file)
    flags.update(orbit=degrees, frames=frames)
    return _strata.sequence_cameras(
        file, _camera(camera), _render_job(file, "frame%d.png", flags)
    )


def _scene(scene):
    return scene if isinstance(scene, Scene) else _os.fspath(scene)


def _scene_name(scene):
    return scene.name if isinstance(scene, Scene) else _os.fspath(scene)


def trace(scene, camera=None, **flags):
    """Ray-traces the nearest surfaces as `strata trace` does; an H x W x 3 uint8 array.

    scene: "demo", a mesh file or a Scene (read once, traced many times). camera: a Camera
    (as `strata trace --camera` of a file holding it), or None for the scene's default camera
    with the flags over it (size, bg, shading, light, ambient, threads, pos, dir, ...). The GIL
    is released while tracing.
    """
    job = _strata.TraceJob(
        [_scene_name(scene), "-o", _UNUSED_OUTPUT] + _arguments(_flags("trace"), flags)
    )
    return _strata.trace(_scene(scene), _camera(camera), job)


def _camera_flags(camera):
    """A Camera as the maker's camera flags (its near and far are left to the maker)."""
    camera = _camera(camera)
    if camera is None:
        return {}
    return {
        "pos": "%.9g,%.9g,%.9g" % camera.position,
        "dir": "%.9g,%.9g,%.9g" % camera.direction,
        "up": "%.9g,%.9g,%.9g" % camera.up,
        "fov": "%.9g" % camera.fov,
    }


def _make_job(scene, output, kind, camera, flags):
    settings = dict(_camera_flags(camera))
    settings.update(flags)
    settings["kind"] = kind
    return _strata.MakeJob(
        [_scene_name(scene), "-o", _os.fspath(output)] + _arguments(_flags("make"), settings)
    )


def make(scene, output=None, *, kind=None, camera=None, size=None, layers=None, **flags):
    """Makes LDIs as `strata make` does.

    With output, writes what `strata make SCENE -o OUTPUT` writes (every kind into a folder,
    or with kind= one file, a folder getting the scene's file name) and returns one dict per
    file written (path, kind, width, height, depth_pixels, mean_layers, max_layers, summary).
    Without output (kind= is then needed), makes the kind in a temporary folder and returns
    it opened (strata.File). camera: a Camera whose position, direction, up and fov are used
    (near and far fitted by the maker unless near= and far= are given); size, layers and the
    other flags (levels, members, shading, light, ambient, threads, ...) are the command's.
    The GIL is released while making.
    """
    flags.update(size=size, layers=layers)
    if output is not None:
        return _strata.make(_scene(scene), _make_job(scene, output, kind, camera, flags))
    if kind is None:
        raise Error("make() without output= wants kind=")
    folder = _tempfile.mkdtemp(prefix="strata-make-")
    try:
        job = _make_job(scene, folder + "/", kind, camera, flags)
        _strata.make(_scene(scene), job)
        return open(job.kind_output)
    finally:
        _shutil.rmtree(folder, ignore_errors=True)
