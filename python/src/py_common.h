// Pieces shared by the parts of the strata extension: the error every refused file and argument
// raises, arrays that own their buffers, the opened files and frames handed to NumPy.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/camera_file.h"
#include "tools/viewer_file.h"

namespace strata::python {

namespace py = pybind11;

// strata.Error: the one line the command line prints for the same file or argument (without
// the "strata <command>: " prefix).
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A NumPy array over values it takes over (no copy); shape multiplies out to values.size().
template <typename T>
py::array_t<T> ownedArray(std::vector<T>&& values, const std::vector<py::ssize_t>& shape) {
    auto* owned = new std::vector<T>(std::move(values));
    const py::capsule release(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>(shape, owned->data(), release);
}

// Runs work(error), which returns false with error set, without the GIL; Error with its message.
template <typename Work>
void withoutGil(Work&& work) {
    std::string error;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = work(error);
    }
    if (!ok) {
        throw Error(error);
    }
}

// A command's job of the arguments that follow the command's name; Error with its message.
template <typename Job>
Job parsedJob(const std::vector<std::string>& arguments) {
    Job job;
    std::string error;
    if (!job.parse(arguments, error)) {
        throw Error(error);
    }
    return job;
}

// Pixel words 0x00RRGGBB, rows bottom first, as the H x W x 3 bytes of a picture top row first.
std::vector<std::uint8_t> pictureBytes(const std::uint32_t* pixels, std::int32_t width,
                                       std::int32_t height);
py::array_t<std::uint8_t> pictureArray(std::vector<std::uint8_t>&& bytes, std::int32_t width,
                                       std::int32_t height);

// A file opened as the viewer opens it. One draw at a time: drawing sets the objects' warp state
// (and picks a pyramid's level).
struct OpenedFile {
    std::string path;
    tools::ViewerFile file;
    std::mutex drawing;
};

// The record, checked as a camera file's is when read (message prefixed "camera"): Error when
// it cannot view.
render::CameraRecord checkedRecord(const render::CameraRecord& record);

void addCamera(py::module_& module);
void addFiles(py::module_& module);
void addRender(py::module_& module);
void addMaker(py::module_& module);

}  // namespace strata::python
