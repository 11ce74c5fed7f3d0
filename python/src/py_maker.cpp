// Ray casting from Python through `strata trace` and `strata make`'s own library: a scene read
// once and cast many times, pictures as arrays, LDI files made as the command makes them, and a
// set made one member at a time (on a cluster) then put in place as one file set.
#include "platform/file_io.h"
#include "py_common.h"
#include "tools/make_job.h"

namespace strata::python {

namespace {

using SharedScene = std::shared_ptr<tools::LoadedScene>;

SharedScene loadScene(const std::string& name) {
    auto loaded = std::make_shared<tools::LoadedScene>();
    withoutGil([&](std::string& error) { return tools::loadScene(name, *loaded, error); });
    return loaded;
}

// The scene argument: a Scene, or a name read now.
SharedScene sceneOf(const py::object& scene) {
    if (py::isinstance<tools::LoadedScene>(scene)) {
        return scene.cast<SharedScene>();
    }
    return loadScene(py::str(scene));
}

py::array_t<std::uint8_t> trace(const py::object& sceneArg,
                                const std::optional<render::CameraRecord>& camera,
                                const tools::TraceJob& job) {
    if (job.sequence()) {
        throw Error("--orbit and --path trace a sequence; trace() traces one picture");
    }
    const std::optional<render::CameraRecord> record =
        camera ? std::optional(checkedRecord(*camera)) : std::nullopt;
    const SharedScene scene = sceneOf(sceneArg);
    maker::TraceOptions options;
    std::vector<std::uint8_t> picture;
    withoutGil([&](std::string& error) {
        maker::PinholeCamera pinhole;
        std::vector<std::uint32_t> pixels;
        if (!job.prepare(scene->scene, record ? &*record : nullptr, options, pinhole, error) ||
            !maker::traceImage(*scene->caster, pinhole, options, pixels, error)) {
            return false;
        }
        picture = pictureBytes(pixels.data(), options.width, options.height);
        return true;
    });
    return pictureArray(std::move(picture), options.width, options.height);
}

py::list madeList(const std::vector<maker::MadeFile>& made) {
    py::list out;
    for (const maker::MadeFile& file : made) {
        py::dict entry;
        entry["path"] = file.path;
        entry["kind"] = file.kindName;
        entry["width"] = file.width;
        entry["height"] = file.height;
        entry["depth_pixels"] = file.depthPixels;
        entry["mean_layers"] = file.meanLayers;
        entry["max_layers"] = file.maxLayers;
        entry["rays_per_second"] = file.raysPerSecond;
        entry["summary"] = maker::summaryLine(file);
        out.append(entry);
    }
    return out;
}

// The command's line of a file made, from an entry of madeList.
std::string summaryOf(const py::dict& entry) {
    maker::MadeFile file;
    file.path = entry["path"].cast<std::string>();
    file.kindName = entry["kind"].cast<std::string>();
    file.width = entry["width"].cast<std::int32_t>();
    file.height = entry["height"].cast<std::int32_t>();
    file.depthPixels = entry["depth_pixels"].cast<std::int64_t>();
    file.meanLayers = entry["mean_layers"].cast<double>();
    file.maxLayers = entry["max_layers"].cast<int>();
    file.raysPerSecond = entry["rays_per_second"].cast<double>();
    return maker::summaryLine(file);
}

// The maker's request of the job for the scene, timed as the command times the scene's load.
maker::MakeRequest requestOf(const tools::MakeJob& job, const tools::LoadedScene& scene) {
    maker::MakeRequest request;
    std::string error;
    if (!job.request(scene.scene, request, error)) {
        throw Error(error);
    }
    request.loadSeconds = scene.loadSeconds;
    return request;
}

py::list make(const py::object& sceneArg, const tools::MakeJob& job) {
    const SharedScene scene = sceneOf(sceneArg);
    const maker::MakeRequest request = requestOf(job, *scene);
    std::vector<maker::MadeFile> made;
    withoutGil([&](std::string& error) { return job.make(*scene->caster, request, made, error); });
    return madeList(made);
}

void requireSet(const tools::MakeJob& job) {
    maker::MakeRequest request;
    job.sizes(request);
    if (!job.kindGiven() || request.kind != maker::MakerKind::set) {
        throw Error("a set made member by member wants --kind set");
    }
}

py::list makeSetMember(const py::object& sceneArg, const tools::MakeJob& job, int member,
                       const std::string& directory) {
    requireSet(job);
    const SharedScene scene = sceneOf(sceneArg);
    const maker::MakeRequest request = requestOf(job, *scene);
    std::vector<maker::MadeFile> made;
    withoutGil([&](std::string& error) {
        return maker::makeSetMember(*scene->caster, request, job.kindOutput(), member, directory,
                                    made, error);
    });
    return madeList(made);
}

void commitSet(const tools::MakeJob& job, const std::string& directory) {
    requireSet(job);
    maker::MakeRequest request;
    job.sizes(request);
    withoutGil([&](std::string& error) {
        return maker::commitSet(request, job.kindOutput(), directory, error);
    });
}

}  // namespace

void addMaker(py::module_& module) {
    py::class_<tools::LoadedScene, SharedScene>(
        module, "Scene",
        "A scene read once for ray casting: \"demo\" or a mesh file (OBJ, PLY, glTF, STL, ...).")
        .def(py::init(&loadScene), py::arg("name"),
             "Reads the scene and builds its ray caster; strata.Error with the command line's "
             "message.")
        .def_readonly("name", &tools::LoadedScene::name)
        .def_readonly("load_seconds", &tools::LoadedScene::loadSeconds,
                      "Seconds the scene and its caster took (stored in the LDIs made from it).")
        .def_property_readonly(
            "bounds",
            [](const tools::LoadedScene& s) {
                const maker::Bounds b = s.scene.bounds();
                return py::make_tuple(py::make_tuple(b.min.x, b.min.y, b.min.z),
                                      py::make_tuple(b.max.x, b.max.y, b.max.z));
            },
            "((x, y, z) min, (x, y, z) max) of the scene.");

    py::class_<tools::TraceJob>(module, "TraceJob", "The flags of one `strata trace` run.")
        .def(py::init(&parsedJob<tools::TraceJob>), py::arg("arguments"))
        .def_static("flag_names", &tools::TraceJob::flagNames);
    py::class_<tools::MakeJob>(module, "MakeJob", "The flags of one `strata make` run.")
        .def(py::init(&parsedJob<tools::MakeJob>), py::arg("arguments"))
        .def_property_readonly("kind_given", &tools::MakeJob::kindGiven)
        .def_property_readonly("kind_output", &tools::MakeJob::kindOutput)
        .def_property_readonly("output", &tools::MakeJob::output)
        .def_property_readonly("scene", &tools::MakeJob::sceneName)
        .def_static("flag_names", &tools::MakeJob::flagNames);

    module.def("trace", &trace, py::arg("scene"), py::arg("camera"), py::arg("job"));
    module.def("make", &make, py::arg("scene"), py::arg("job"));
    module.def("make_set_member", &makeSetMember, py::arg("scene"), py::arg("job"),
               py::arg("member"), py::arg("directory"));
    module.def("commit_set", &commitSet, py::arg("job"), py::arg("directory"));
    module.def("summary_line", &summaryOf, py::arg("entry"));
}

}  // namespace strata::python
