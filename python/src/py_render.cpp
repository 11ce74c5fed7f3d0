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

// Runs draw() with the job's drawing threads, its turn on the file taken.
template <typename Draw>
void drawing(OpenedFile& opened, const tools::RenderJob& job, Draw&& draw) {
    {
        const std::unique_lock change(drawThreadsLock());
        tools::useDrawThreads(job.threads());
    }
    const std::shared_lock share(drawThreadsLock());
    const std::lock_guard turn(opened.drawing);
    draw();
}

struct Drawn {
    std::vector<std::uint8_t> picture;  // H x W x 3, top row first
    std::vector<std::uint8_t> mask;     // H x W of 0 and 1, top row first
    std::int32_t width = 0;
    std::int32_t height = 0;
    double share = 0.0;
};

// One frame as `strata render FILE [--camera RECORD] FLAGS` draws it: the picture, or the
// coverage mask and its uncovered share.
Drawn drawFrame(OpenedFile& opened, const std::optional<render::CameraRecord>& camera,
                const tools::RenderJob& job, bool coverage) {
    const std::optional<render::CameraRecord> record =
        camera ? std::optional(checkedRecord(*camera)) : std::nullopt;
    Drawn drawn;
    withoutGil([&](std::string& error) {
        tools::FrameCamera frameCamera;
        if (!job.camera(opened.file, record ? &*record : nullptr, frameCamera, error)) {
            return false;
        }
        imageutil::RgbImage frame =
            imageutil::RgbImage::createOwned(frameCamera.width, frameCamera.height);
        if (frame.empty()) {
            error = "no memory for a frame";
            return false;
        }
        ldi::FrameSettings settings = job.settings();
        std::vector<std::uint8_t> reached;
        if (coverage) {
            reached.resize(static_cast<std::size_t>(frame.width) * frame.height);
            settings.coverage = reached.data();
        }
        drawing(opened, job, [&] {
            tools::drawViewerFile(opened.file, settings, tools::frameView(frameCamera), frame);
        });
        drawn.width = frame.width;
        drawn.height = frame.height;
        if (!coverage) {
            drawn.picture = pictureBytes(frame.pixels, frame.width, frame.height);
            return true;
        }
        drawn.share = render::measureCoverage(reached, frame.width, frame.height).share();
        // Top row first, as the picture.
        drawn.mask.resize(reached.size());
        for (std::int32_t row = 0; row < frame.height; ++row) {
            const std::uint8_t* in = reached.data() + static_cast<std::size_t>(row) * frame.width;
            std::uint8_t* out =
                drawn.mask.data() + static_cast<std::size_t>(frame.height - 1 - row) * frame.width;
            for (std::int32_t column = 0; column < frame.width; ++column) {
                out[column] = in[column] != 0 ? 1 : 0;
            }
        }
        return true;
    });
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
    // The bytes are 0 and 1: NumPy's booleans as they are.
    py::array mask = ownedArray(std::move(drawn.mask), {drawn.height, drawn.width});
    return py::make_tuple(mask.view("bool"), drawn.share);
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
    withoutGil([&](std::string& error) {
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(record.width, record.height);
        if (frame.empty()) {
            error = "no memory for a frame";
            return false;
        }
        bool ok = false;
        drawing(opened, job,
                [&] { ok = tools::drawRecord(opened.file, job.settings(), record, frame, error); });
        if (ok && !imageutil::writeImageFile(name, frame, &error)) {
            error = name + ": " + error;
            return false;
        }
        return ok;
    });
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
