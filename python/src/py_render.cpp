// Drawing from Python through `strata render`'s own library: its flags (parsed by the command's
// option table), its camera, its frame function. The GIL is released while a frame is drawn;
// draws of one file take turns, draws of different files run at once.
#include <shared_mutex>

#include "imageutil/png_file.h"
#include "platform/worker_pool.h"
#include "py_common.h"
#include "render/inspection.h"
#include "tools/camera_record.h"
#include "tools/render_job.h"

namespace strata::python {

namespace {

// Changing the drawing thread count waits for the frames being drawn; frames share it.
std::shared_mutex& drawThreadsLock() {
    static std::shared_mutex lock;
    return lock;
}

// Flags that write or time something besides the one frame a call returns.
void refuseNonFrameFlags(const tools::RenderJob& job) {
    if (job.sequence()) {
        throw Error(
            "--orbit and --path draw a sequence: use strata.orbit or strata.path and "
            "strata.distributed.render_frames");
    }
    for (const std::string& flag : job.given()) {
        for (const char* refused : {"--frames", "--fps", "--compare", "--coverage",
                                    "--print-camera", "--json", "--stats", "--camera"}) {
            if (flag == refused) {
                throw Error(flag + " is not a setting of one drawn frame");
            }
        }
    }
}

struct Drawn {
    std::vector<std::uint8_t> picture;
    std::vector<std::uint8_t> mask;
    std::int32_t width = 0;
    std::int32_t height = 0;
    double share = 0.0;
};

// One frame as `strata render FILE [--camera RECORD] FLAGS` draws it.
Drawn drawFrame(OpenedFile& opened, const std::optional<render::CameraRecord>& camera,
                const tools::RenderJob& job, bool coverage) {
    const std::optional<render::CameraRecord> record =
        camera ? std::optional(checkedRecord(*camera)) : std::nullopt;
    py::gil_scoped_release release;
    Drawn drawn;
    std::string error;
    tools::FrameCamera frameCamera;
    if (!job.camera(opened.file, record ? &*record : nullptr, frameCamera, error)) {
        py::gil_scoped_acquire acquire;
        throw Error(error);
    }
    imageutil::RgbImage frame =
        imageutil::RgbImage::createOwned(frameCamera.width, frameCamera.height);
    if (frame.empty()) {
        py::gil_scoped_acquire acquire;
        throw Error(py::str("cannot make a {}x{} frame")
                        .format(frameCamera.width, frameCamera.height)
                        .cast<std::string>());
    }
    ldi::FrameSettings settings = job.settings();
    if (coverage) {
        drawn.mask.resize(static_cast<std::size_t>(frame.width) * frame.height);
        settings.coverage = drawn.mask.data();
    }
    {
        const std::unique_lock change(drawThreadsLock());
        tools::useDrawThreads(job.threads());
    }
    {
        const std::shared_lock share(drawThreadsLock());
        const std::lock_guard turn(opened.drawing);
        tools::drawViewerFile(opened.file, settings, tools::frameView(frameCamera), frame);
    }
    drawn.width = frame.width;
    drawn.height = frame.height;
    if (coverage) {
        drawn.share = render::measureCoverage(drawn.mask, frame.width, frame.height).share();
        // Top row first, as the picture.
        std::vector<std::uint8_t> flipped(drawn.mask.size());
        for (std::int32_t row = 0; row < frame.height; ++row) {
            std::copy_n(drawn.mask.begin() + static_cast<std::ptrdiff_t>(row) * frame.width,
                        frame.width,
                        flipped.begin() +
                            static_cast<std::ptrdiff_t>(frame.height - 1 - row) * frame.width);
        }
        for (std::uint8_t& m : flipped) {
            m = m != 0 ? 1 : 0;
        }
        drawn.mask = std::move(flipped);
    } else {
        drawn.picture = pictureBytes(frame.pixels, frame.width, frame.height);
    }
    return drawn;
}

py::array_t<std::uint8_t> renderArray(OpenedFile& opened,
                                      const std::optional<render::CameraRecord>& camera,
                                      const tools::RenderJob& job) {
    refuseNonFrameFlags(job);
    Drawn drawn = drawFrame(opened, camera, job, false);
    return pictureArray(std::move(drawn.picture), drawn.width, drawn.height);
}

py::tuple coverageOf(OpenedFile& opened, const std::optional<render::CameraRecord>& camera,
                     const tools::RenderJob& job) {
    refuseNonFrameFlags(job);
    Drawn drawn = drawFrame(opened, camera, job, true);
    const py::array_t<std::uint8_t> mask =
        ownedArray(std::move(drawn.mask), {drawn.height, drawn.width});
    return py::make_tuple(mask.attr("astype")("bool"), drawn.share);
}

render::CameraRecord renderCamera(OpenedFile& opened, const tools::RenderJob& job) {
    tools::FrameCamera c;
    std::string error;
    if (!job.camera(opened.file, nullptr, c, error)) {
        throw Error(error);
    }
    return tools::recordFromPinhole(c.camera, c.width, c.height, c.near, c.far);
}

std::vector<render::CameraRecord> sequenceCameras(OpenedFile& opened,
                                                  const std::optional<render::CameraRecord>& camera,
                                                  const tools::RenderJob& job) {
    if (!job.sequence()) {
        throw Error("the cameras of a sequence want --orbit or --path");
    }
    const std::optional<render::CameraRecord> record =
        camera ? std::optional(checkedRecord(*camera)) : std::nullopt;
    tools::FrameCamera start;
    std::vector<render::CameraRecord> cameras;
    std::string error;
    if (!job.camera(opened.file, record ? &*record : nullptr, start, error) ||
        !job.sequenceCameras(opened.file, start, cameras, error)) {
        throw Error(error);
    }
    return cameras;
}

// One frame of a sequence drawn from its record with the job's switches and written to `name`
// through a temporary file renamed into place, as `strata render --orbit` writes its frames.
void writeFrame(OpenedFile& opened, const render::CameraRecord& camera, const tools::RenderJob& job,
                const std::string& name) {
    const render::CameraRecord record = checkedRecord(camera);
    py::gil_scoped_release release;
    std::string error;
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(record.width, record.height);
    bool ok = !frame.empty();
    if (ok) {
        {
            const std::unique_lock change(drawThreadsLock());
            tools::useDrawThreads(job.threads());
        }
        const std::shared_lock share(drawThreadsLock());
        const std::lock_guard turn(opened.drawing);
        ok = tools::drawRecord(opened.file, job.settings(), record, frame, error);
    } else {
        error = "no memory for a frame";
    }
    if (ok && !imageutil::writeImageFile(name, frame, &error)) {
        error = name + ": " + error;
        ok = false;
    }
    if (!ok) {
        py::gil_scoped_acquire acquire;
        throw Error(error);
    }
}

}  // namespace

void addRender(py::module_& module) {
    py::class_<tools::RenderJob>(module, "RenderJob",
                                 "The flags of one `strata render` run, parsed and checked.")
        .def(py::init(&parsedJob<tools::RenderJob>), py::arg("arguments"),
             "Parses what follows `strata render` on a command line; strata.Error with the "
             "command's message.")
        .def_property_readonly("given", &tools::RenderJob::given, "The long flags given.")
        .def_property_readonly("moves_camera", &tools::RenderJob::movesCamera,
                               "True when a flag moves or names the camera or sets the size.")
        .def_property_readonly("sequence", &tools::RenderJob::sequence,
                               "True for --orbit or --path.")
        .def_property_readonly("input", &tools::RenderJob::input)
        .def_property_readonly("output", &tools::RenderJob::output)
        .def_property_readonly("threads", &tools::RenderJob::threads)
        .def_property_readonly("pattern",
                               [](const tools::RenderJob& j) { return j.target().pattern; })
        .def_property_readonly("video", [](const tools::RenderJob& j) { return j.target().video; })
        .def_static("flag_names", &tools::RenderJob::flagNames,
                    "Every long flag `strata render` takes.");

    module.def("render", &renderArray, py::arg("file"), py::arg("camera"), py::arg("job"));
    module.def("coverage", &coverageOf, py::arg("file"), py::arg("camera"), py::arg("job"));
    module.def("render_camera", &renderCamera, py::arg("file"), py::arg("job"));
    module.def("sequence_cameras", &sequenceCameras, py::arg("file"), py::arg("camera"),
               py::arg("job"));
    module.def("write_frame", &writeFrame, py::arg("file"), py::arg("camera"), py::arg("job"),
               py::arg("name"));
    module.def("frame_name", &tools::frameName, py::arg("pattern"), py::arg("index"),
               "The file name of frame `index` of a picture pattern such as frames/%05d.png.");
}

}  // namespace strata::python
