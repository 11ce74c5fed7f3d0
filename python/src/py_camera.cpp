// strata.Camera: the camera record of the JSON camera files (`strata render --camera`,
// `--print-camera --json`, the viewer's Save View), and the camera paths of the command line.
#include <pybind11/stl/filesystem.h>

#include <array>
#include <cctype>
#include <filesystem>

#include "py_common.h"
#include "render/camera_path.h"
#include "tools/sequence.h"

namespace strata::python {

namespace {

using Triple = std::array<double, 3>;

py::tuple triple(const geometry::Vector3& v) {
    return py::make_tuple(v.x, v.y, v.z);
}

geometry::Vector3 vector(const Triple& t) {
    return {static_cast<float>(t[0]), static_cast<float>(t[1]), static_cast<float>(t[2])};
}

std::string text(const render::CameraRecord& r) {
    return py::str(
               "Camera(position={}, direction={}, up={}, fov={}, near={}, far={}, width={}, "
               "height={})")
        .format(py::make_tuple(r.position.x, r.position.y, r.position.z),
                py::make_tuple(r.direction.x, r.direction.y, r.direction.z),
                py::make_tuple(r.up.x, r.up.y, r.up.z), r.fovDegrees, r.near, r.far, r.width,
                r.height);
}

bool same(const render::CameraRecord& a, const render::CameraRecord& b) {
    const auto equal = [](const geometry::Vector3& u, const geometry::Vector3& v) {
        return u.x == v.x && u.y == v.y && u.z == v.z;
    };
    return equal(a.position, b.position) && equal(a.direction, b.direction) && equal(a.up, b.up) &&
           a.fovDegrees == b.fovDegrees && a.near == b.near && a.far == b.far &&
           a.width == b.width && a.height == b.height;
}

render::CameraRecord fromJson(const py::object& source) {
    const std::string textOrPath =
        py::hasattr(source, "__fspath__")
            ? py::module_::import("os").attr("fspath")(source).cast<std::string>()
            : source.cast<std::string>();
    std::size_t first = 0;
    while (first < textOrPath.size() &&
           std::isspace(static_cast<unsigned char>(textOrPath[first])) != 0) {
        ++first;
    }
    render::CameraRecord record;
    std::string error;
    const bool ok = first < textOrPath.size() && textOrPath[first] == '{'
                        ? render::cameraFromJson(textOrPath, "camera", record, error)
                        : render::loadCameraFile(textOrPath, record, error);
    if (!ok) {
        throw Error(error);
    }
    return record;
}

std::vector<render::CameraRecord> cameraPath(const py::object& keys, std::int32_t frames) {
    std::vector<render::CameraRecord> records;
    std::string error;
    if (py::isinstance<py::str>(keys) || py::hasattr(keys, "__fspath__")) {
        const std::string path = py::str(keys);
        if (!render::loadCameraListFile(path, records, error)) {
            throw Error(error);
        }
    } else {
        for (const py::handle key : keys) {
            records.push_back(checkedRecord(key.cast<render::CameraRecord>()));
        }
        if (records.empty()) {
            throw Error("a path wants one or more cameras");
        }
    }
    // The command's check of --frames.
    tools::SequenceOptions options;
    options.path = "keys";
    options.frames = frames;
    tools::SequenceTarget target;
    double degrees = 0.0;
    if (!tools::checkSequence(options, "%d.png", target, degrees, error)) {
        throw Error(error);
    }
    py::gil_scoped_release release;
    return render::pathSequence(records, frames);
}

}  // namespace

render::CameraRecord checkedRecord(const render::CameraRecord& record) {
    render::CameraRecord checked;
    std::string error;
    if (!render::cameraFromJson(render::cameraToJson(record), "camera", checked, error)) {
        throw Error(error);
    }
    return checked;
}

void addCamera(py::module_& module) {
    const render::CameraRecord defaults;
    py::class_<render::CameraRecord>(module, "Camera", R"(A camera as the JSON camera files hold it.

position, direction and up are (x, y, z) in world units (any lengths; up is made
perpendicular to direction where the camera is used), fov is the full field of view in
degrees across the frame's smaller side, near and far the depth range, width and height
the frame size in pixels. The same record as `strata render --camera FILE`, `strata render
--print-camera --json` and the viewer's Save View.)")
        .def(
            py::init([](const Triple& position, const Triple& direction, const Triple& up,
                        float fov, float near, float far, std::int32_t width, std::int32_t height) {
                render::CameraRecord r;
                r.position = vector(position);
                r.direction = vector(direction);
                r.up = vector(up);
                r.fovDegrees = fov;
                r.near = near;
                r.far = far;
                r.width = width;
                r.height = height;
                return checkedRecord(r);
            }),
            py::arg("position") = triple(defaults.position),
            py::arg("direction") = triple(defaults.direction), py::arg("up") = triple(defaults.up),
            py::arg("fov") = defaults.fovDegrees, py::arg("near") = defaults.near,
            py::arg("far") = defaults.far, py::arg("width") = defaults.width,
            py::arg("height") = defaults.height,
            "A camera; strata.Error when it cannot view (the camera file's checks).")
        .def_property(
            "position", [](const render::CameraRecord& r) { return triple(r.position); },
            [](render::CameraRecord& r, const Triple& v) { r.position = vector(v); },
            "The eye (x, y, z).")
        .def_property(
            "direction", [](const render::CameraRecord& r) { return triple(r.direction); },
            [](render::CameraRecord& r, const Triple& v) { r.direction = vector(v); },
            "The viewing direction (x, y, z).")
        .def_property(
            "up", [](const render::CameraRecord& r) { return triple(r.up); },
            [](render::CameraRecord& r, const Triple& v) { r.up = vector(v); },
            "The up direction (x, y, z).")
        .def_readwrite("fov", &render::CameraRecord::fovDegrees,
                       "Full field of view in degrees across the frame's smaller side.")
        .def_readwrite("near", &render::CameraRecord::near, "Near distance.")
        .def_readwrite("far", &render::CameraRecord::far, "Far distance.")
        .def_readwrite("width", &render::CameraRecord::width, "Frame width in pixels.")
        .def_readwrite("height", &render::CameraRecord::height, "Frame height in pixels.")
        .def_static("from_json", &fromJson, py::arg("text_or_path"),
                    "The camera of a JSON text (starting with '{') or of a camera file.")
        .def(
            "to_json",
            [](const render::CameraRecord& r) { return render::cameraToJson(checkedRecord(r)); },
            "The camera as the JSON text of a camera file (reads back bit for bit).")
        .def(
            "save",
            [](const render::CameraRecord& r, const std::filesystem::path& path) {
                std::string error;
                if (!render::saveCameraFile(path.string(), checkedRecord(r), error)) {
                    throw Error(error);
                }
            },
            py::arg("path"), "Writes the camera file (through a temporary file).")
        .def("__repr__", &text)
        .def("__eq__", &same)
        .def(py::pickle(
            [](const render::CameraRecord& r) {
                return py::make_tuple(triple(r.position), triple(r.direction), triple(r.up),
                                      r.fovDegrees, r.near, r.far, r.width, r.height);
            },
            [](const py::tuple& t) {
                render::CameraRecord r;
                r.position = vector(t[0].cast<Triple>());
                r.direction = vector(t[1].cast<Triple>());
                r.up = vector(t[2].cast<Triple>());
                r.fovDegrees = t[3].cast<float>();
                r.near = t[4].cast<float>();
                r.far = t[5].cast<float>();
                r.width = t[6].cast<std::int32_t>();
                r.height = t[7].cast<std::int32_t>();
                return r;
            }));

    module.def("path", &cameraPath, py::arg("keys"), py::arg("frames"),
               R"(The cameras of `strata render --path KEYS --frames N`.

keys is a list of Camera or a camera path file (a JSON array of camera records).
Positions follow a Catmull-Rom spline, orientations a slerp, field of view, near and far
change linearly; the frames on a key are that key exactly.)");
}

}  // namespace strata::python
