// strata.open and what it returns: any file the viewer opens, its kind, grid, layer counts,
// bounds and reference camera, and its depth samples as NumPy arrays (filled once by the
// extension and handed over without a second copy).
#include <cmath>
#include <optional>

#include "ldi/ldi_rt_quad.h"
#include "ldi/ldi_types.h"
#include "maker/maker_kind.h"
#include "py_common.h"
#include "tools/camera_record.h"
#include "tools/ldi_samples.h"

namespace strata::python {

namespace {

// One LDI of an opened file (the file itself, a pyramid level, a set member's level) or the
// voxel frame of a voxel file; the opened file stays alive as long as any of them.
struct LdiView {
    std::shared_ptr<OpenedFile> owner;
    const ldi::LdiBase* ldi = nullptr;
    const ldi::VoxelFrame* voxel = nullptr;
};

// A pyramid of an opened file (the file itself, or a set member).
struct PyramidView {
    std::shared_ptr<OpenedFile> owner;
    const ldi::LdiPyramid* pyramid = nullptr;
    std::optional<geometry::Vector3> direction;  // a set member's
};

py::tuple triple(const geometry::Vector3& v) {
    return py::make_tuple(v.x, v.y, v.z);
}

const ldi::LdiRtQuad* asQuad(const LdiView& view) {
    return dynamic_cast<const ldi::LdiRtQuad*>(view.ldi);
}

std::pair<std::int32_t, std::int32_t> gridOf(const LdiView& view) {
    if (view.voxel != nullptr) {
        return {view.voxel->width, view.voxel->height};
    }
    if (const ldi::LdiRtQuad* quad = asQuad(view)) {
        const std::int32_t bottom = quad->bottom() ? quad->bottom()->header.height : 0;
        const std::int32_t top = quad->top() ? quad->top()->header.height : 0;
        return {view.ldi->header.width, bottom + top};
    }
    return {view.ldi->header.width, view.ldi->header.height};
}

render::CameraRecord cameraOf(const geometry::ViewCamera& view, std::int32_t width,
                              std::int32_t height) {
    render::CameraRecord r;
    r.position = view.pos;
    r.direction = view.dir;
    r.up = view.up;
    r.fovDegrees = tools::degreesFromRadians(view.fov);
    r.near = view.near;
    r.far = view.far;
    r.width = width;
    r.height = height;
    return r;
}

// The maker's name of an LDI's kind ("rt-qp", "rtff-mrqp", "quad").
std::string kindName(const ldi::LdiBase& ldi) {
    const auto type = static_cast<ldi::LdiType>(ldi.header.ldiType);
    if (type == ldi::LdiType::RTQuad) {
        return std::string(maker::makerKindInfo(maker::MakerKind::quad).name);
    }
    const auto dpt = static_cast<ldi::DptType>(ldi.header.dptType);
    for (const maker::MakerKindInfo& info : maker::makerKinds()) {
        if (!maker::isSingleFileKind(info.kind) ||
            maker::isBlockLayout(info.kind) != (type == ldi::LdiType::RTFF)) {
            continue;
        }
        const maker::PixelKind pixel = maker::pixelKindOf(info.kind);
        if ((pixel == maker::PixelKind::cp && dpt == ldi::DptType::CP) ||
            (pixel == maker::PixelKind::qp && dpt == ldi::DptType::QP) ||
            (pixel == maker::PixelKind::mrqp && dpt == ldi::DptType::MRQP)) {
            return std::string(info.name);
        }
    }
    return "unknown";
}

std::string encodingOf(const LdiView& view) {
    if (view.voxel != nullptr) {
        return "voxel";
    }
    return std::string(ldi::ldiTypeName(view.ldi->header.ldiType)) + "/" +
           std::string(ldi::dptTypeName(view.ldi->header.dptType));
}

py::array_t<std::uint16_t> layerCounts(const LdiView& view) {
    const auto [width, height] = gridOf(view);
    std::vector<std::uint16_t> counts(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    {
        py::gil_scoped_release release;
        const auto fill = [&](const ldi::LdiBase& ldi, std::int32_t rowOffset) {
            for (std::int32_t row = 0; row < ldi.header.height; ++row) {
                for (std::int32_t column = 0; column < ldi.header.width; ++column) {
                    counts[static_cast<std::size_t>(rowOffset + row) * width + column] =
                        static_cast<std::uint16_t>(ldi.LayerCount(row, column));
                }
            }
        };
        if (view.voxel != nullptr) {
            const ldi::VoxelFrame& f = *view.voxel;
            for (std::int32_t row = 0; row < f.height; ++row) {
                const std::size_t base = static_cast<std::size_t>(row) * (f.width + 1);
                for (std::int32_t column = 0; column < f.width; ++column) {
                    counts[static_cast<std::size_t>(row) * width + column] =
                        static_cast<std::uint16_t>(f.layerOffset[base + column + 1] -
                                                   f.layerOffset[base + column]);
                }
            }
        } else if (const ldi::LdiRtQuad* quad = asQuad(view)) {
            if (quad->bottom() != nullptr) {
                fill(*quad->bottom(), 0);
            }
            if (quad->top() != nullptr) {
                fill(*quad->top(), quad->bottom() ? quad->bottom()->header.height : 0);
            }
        } else {
            fill(*view.ldi, 0);
        }
    }
    return ownedArray(std::move(counts), {height, width});
}

// The columns of the sample table as they are filled.
struct SampleColumns {
    std::vector<std::int32_t> row;
    std::vector<std::int32_t> column;
    std::vector<std::int32_t> layer;
    std::vector<std::uint32_t> code;
    std::vector<float> depth;
    std::vector<float> distance;
    std::vector<float> position;
    std::vector<std::uint8_t> rgb;
    std::vector<float> normal;
    std::vector<std::uint16_t> mask4;
    std::vector<std::uint8_t> mask2;

    void add(const tools::LdiSample& s, const geometry::Vector3& eye, bool normals, bool masks) {
        row.push_back(s.row);
        column.push_back(s.column);
        layer.push_back(s.layer);
        code.push_back(s.code);
        depth.push_back(s.depth);
        const double dx = double{s.position.x} - eye.x;
        const double dy = double{s.position.y} - eye.y;
        const double dz = double{s.position.z} - eye.z;
        distance.push_back(static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz)));
        position.insert(position.end(), {s.position.x, s.position.y, s.position.z});
        rgb.insert(rgb.end(),
                   {static_cast<std::uint8_t>(s.colour >> 16),
                    static_cast<std::uint8_t>(s.colour >> 8), static_cast<std::uint8_t>(s.colour)});
        if (normals) {
            normal.insert(normal.end(), {s.normal.x, s.normal.y, s.normal.z});
        }
        if (masks) {
            mask4.push_back(static_cast<std::uint16_t>(s.masks & 0xFFFFu));
            mask2.push_back(static_cast<std::uint8_t>((s.masks >> 16) & 0xFu));
        }
    }
};

// The voxel frame's samples in the order of the LDIs': row by row, each cell's samples as stored
// (farthest first); unprojected through the frame's reference view.
bool visitVoxels(const ldi::VoxelFrame& f, int layer, const tools::SampleSink& sink,
                 std::string& error) {
    tools::Unprojector unproject;
    if (!unproject.prepare(f.view, f.width, f.height, error)) {
        return false;
    }
    tools::LdiSample s;
    for (std::int32_t row = 0; row < f.height; ++row) {
        const std::size_t base = static_cast<std::size_t>(row) * (f.width + 1);
        for (std::int32_t column = 0; column < f.width; ++column) {
            const std::int64_t first = std::int64_t{f.rowStart[row]} + f.layerOffset[base + column];
            const int count = f.layerOffset[base + column + 1] - f.layerOffset[base + column];
            for (int k = 0; k < count; ++k) {
                if (layer >= 0 && count - 1 - k != layer) {
                    continue;
                }
                const ldi::VoxelSample& v = f.samples[static_cast<std::size_t>(first + k)];
                s.row = row;
                s.column = column;
                s.layer = count - 1 - k;
                s.depth = v.z;
                s.position = unproject.at(row, column, v.z);
                s.colour = static_cast<std::uint32_t>(v.colour) & 0xFFFFFFu;
                sink(s);
            }
        }
    }
    return true;
}

py::dict samples(const LdiView& view, const std::optional<int>& layer) {
    if (layer && (*layer < 0 || *layer > 65535)) {
        throw Error(py::str("layer wants 0..65535 (0 the front), got {}").format(*layer));
    }
    SampleColumns columns;
    bool normals = false;
    bool masks = false;
    std::string error;
    {
        py::gil_scoped_release release;
        const int wanted = layer ? *layer : -1;
        bool ok = false;
        if (view.voxel != nullptr) {
            const geometry::Vector3 eye = view.voxel->view.pos;
            ok = visitVoxels(
                *view.voxel, wanted,
                [&](const tools::LdiSample& s) { columns.add(s, eye, false, false); }, error);
        } else {
            masks = view.ldi->header.dptType == ldi::toInt(ldi::DptType::MRQP);
            normals = view.ldi->header.dptType != ldi::toInt(ldi::DptType::CP);
            const ldi::LdiBase* eyeOf = view.ldi;
            if (const ldi::LdiRtQuad* quad = asQuad(view)) {
                eyeOf = quad->bottom() ? static_cast<const ldi::LdiBase*>(quad->bottom()) : eyeOf;
            }
            const geometry::Vector3 eye = eyeOf->header.view.pos;
            bool stored = false;
            ok = tools::visitSamples(
                *view.ldi, wanted,
                [&](const tools::LdiSample& s) { columns.add(s, eye, normals, masks); }, stored,
                error);
        }
        if (!ok) {
            // Nothing half-filled is handed out.
            columns = SampleColumns{};
        }
    }
    if (!error.empty()) {
        throw Error(error);
    }
    const auto n = static_cast<py::ssize_t>(columns.row.size());
    py::dict out;
    out["row"] = ownedArray(std::move(columns.row), {n});
    out["column"] = ownedArray(std::move(columns.column), {n});
    out["layer"] = ownedArray(std::move(columns.layer), {n});
    out["code"] = view.voxel != nullptr ? py::object(py::none())
                                        : py::object(ownedArray(std::move(columns.code), {n}));
    out["depth"] = ownedArray(std::move(columns.depth), {n});
    out["distance"] = ownedArray(std::move(columns.distance), {n});
    out["position"] = ownedArray(std::move(columns.position), {n, 3});
    out["rgb"] = ownedArray(std::move(columns.rgb), {n, 3});
    out["normal"] =
        normals ? py::object(ownedArray(std::move(columns.normal), {n, 3})) : py::none();
    out["mask4"] = masks ? py::object(ownedArray(std::move(columns.mask4), {n})) : py::none();
    out["mask2"] = masks ? py::object(ownedArray(std::move(columns.mask2), {n})) : py::none();
    return out;
}

render::CameraRecord referenceOf(const LdiView& view) {
    const auto [width, height] = gridOf(view);
    return cameraOf(view.voxel != nullptr ? view.voxel->view : view.ldi->header.view, width,
                    height);
}

py::tuple boundsOf(const geometry::Vector3& lo, const geometry::Vector3& hi) {
    return py::make_tuple(triple(lo), triple(hi));
}

py::object levelView(const std::shared_ptr<OpenedFile>& owner, const ldi::LdiBase* level) {
    if (level == nullptr) {
        return py::none();
    }
    return py::cast(LdiView{owner, level, nullptr});
}

// The LDI the file's reference camera comes from: the LDI itself, a pyramid's current (else
// first loaded) level, a set's first member with a loaded level, or the voxel frame.
LdiView referenceLdi(const std::shared_ptr<OpenedFile>& owner) {
    const tools::ViewerFile& f = owner->file;
    const auto levelOf = [](const ldi::LdiPyramid* pyramid) -> const ldi::LdiBase* {
        if (pyramid == nullptr) {
            return nullptr;
        }
        const ldi::LdiBase* level = pyramid->CurrentLdi();
        return level != nullptr ? level : pyramid->FirstLoadedLdi();
    };
    switch (f.kind) {
        case tools::ViewerFileKind::voxel:
            return {owner, nullptr, &f.voxel->current()};
        case tools::ViewerFileKind::pyramid:
            return {owner, levelOf(f.pyramid.get()), nullptr};
        case tools::ViewerFileKind::set:
            for (const auto& member : f.set->members) {
                if (const ldi::LdiBase* level = levelOf(member.get())) {
                    return {owner, level, nullptr};
                }
            }
            return {owner, nullptr, nullptr};
        case tools::ViewerFileKind::ldi:
            break;
    }
    return {owner, f.ldi.get(), nullptr};
}

std::string fileKind(const OpenedFile& opened) {
    switch (opened.file.kind) {
        case tools::ViewerFileKind::voxel:
            return std::string(maker::makerKindInfo(maker::MakerKind::voxel).name);
        case tools::ViewerFileKind::pyramid:
            return std::string(maker::makerKindInfo(maker::MakerKind::pyramid).name);
        case tools::ViewerFileKind::set:
            return std::string(maker::makerKindInfo(maker::MakerKind::set).name);
        case tools::ViewerFileKind::ldi:
            break;
    }
    return kindName(*opened.file.ldi);
}

std::shared_ptr<OpenedFile> openFile(const std::string& path) {
    auto opened = std::make_shared<OpenedFile>();
    opened->path = path;
    withoutGil(
        [&](std::string& error) { return tools::openViewerFile(path, opened->file, error, true); });
    return opened;
}

}  // namespace

void addFiles(py::module_& module) {
    py::class_<LdiView>(module, "Ldi",
                        R"(One LDI: a file's, a pyramid level or a set member's level, or
the grid of a voxel file.

Rows count from the bottom of the grid (row 0 is the bottom row, as stored); layers from
the front (0 the nearest sample).)")
        .def_property_readonly(
            "encoding", &encodingOf,
            "The header's type pair, e.g. \"RT/QP\" (\"voxel\" for a voxel grid).")
        .def_property_readonly(
            "kind",
            [](const LdiView& v) {
                return v.voxel != nullptr
                           ? std::string(maker::makerKindInfo(maker::MakerKind::voxel).name)
                           : kindName(*v.ldi);
            },
            "The kind by the maker's names: rt-cp, rt-qp, rt-mrqp, rtff-cp, ..., quad, voxel.")
        .def_property_readonly("grid", &gridOf, "(width, height) of the grid in pixels.")
        .def_property_readonly("layer_counts", &layerCounts,
                               "Layers of every pixel: a height x width uint16 array, row 0 the "
                               "bottom row.")
        .def_property_readonly(
            "bounds",
            [](const LdiView& v) {
                if (v.voxel != nullptr) {
                    return boundsOf({-1.0f, -1.0f, -1.0f}, {1.0f, 1.0f, 1.0f});
                }
                return boundsOf(v.ldi->header.boundsMin, v.ldi->header.boundsMax);
            },
            "((x, y, z) min, (x, y, z) max): the box of the samples as the header gives it.")
        .def_property_readonly("reference_camera", &referenceOf,
                               "The camera the LDI was made from (its field of view, near and far, "
                               "and its grid as the frame size).")
        .def(
            "samples", &samples, py::arg("layer") = py::none(),
            R"(Every depth sample as NumPy arrays (a dict), in the order `strata export` writes them.

row, column (int32): the pixel (row 0 the bottom row); layer (int32): counted from the
front; code (uint32): the depth as stored (QP/MRQP 20-bit code, CP bin code; None for
voxels); depth (float32): the normalised depth of that code; distance (float32): the
distance from the reference eye; position (N x 3 float32): the sample in world space
(as `strata export`); rgb (N x 3 uint8); normal (N x 3 float32, None for kinds that store
none); mask4 (uint16) and mask2 (uint8): MRQP's 4 x 4 and 2 x 2 coverage masks (else None).
layer=K keeps only layer K of every pixel.)");

    py::class_<PyramidView>(module, "Pyramid", "A pyramid of LDIs: a .ldipyr file or a set member.")
        .def_property_readonly(
            "levels",
            [](const PyramidView& p) {
                py::list levels;
                for (const auto& level : p.pyramid->levels) {
                    levels.append(levelView(p.owner, level.get()));
                }
                return levels;
            },
            "The levels, finest first (None for a level whose file did not load).")
        .def_property_readonly(
            "distances", [](const PyramidView& p) { return p.pyramid->levelDistance; },
            "The distance of every level, as the list gives it.")
        .def_property_readonly(
            "direction",
            [](const PyramidView& p) -> py::object {
                if (!p.direction) {
                    return py::none();
                }
                return triple(*p.direction);
            },
            "A set member's direction (from the scene centre toward its camera), else None.");

    py::class_<OpenedFile, std::shared_ptr<OpenedFile>>(
        module, "File", "A file opened as the viewer opens it (strata.open).")
        .def_readonly("path", &OpenedFile::path, "The path it was opened from.")
        .def_property_readonly("kind", &fileKind,
                               "rt-cp, rt-qp, rt-mrqp, rtff-cp, rtff-qp, rtff-mrqp, quad, "
                               "pyramid, set or voxel.")
        .def_property_readonly(
            "ldi",
            [](const std::shared_ptr<OpenedFile>& f) -> py::object {
                const LdiView view = referenceLdi(f);
                if (view.ldi == nullptr && view.voxel == nullptr) {
                    return py::none();
                }
                return py::cast(view);
            },
            "The LDI the reference camera comes from: the file's own, a pyramid's first level, a "
            "set's first member's, or a voxel file's grid.")
        .def_property_readonly(
            "pyramid",
            [](const std::shared_ptr<OpenedFile>& f) -> py::object {
                if (f->file.kind != tools::ViewerFileKind::pyramid) {
                    return py::none();
                }
                return py::cast(PyramidView{f, f->file.pyramid.get(), std::nullopt});
            },
            "The pyramid of a .ldipyr file, else None.")
        .def_property_readonly(
            "members",
            [](const std::shared_ptr<OpenedFile>& f) -> py::object {
                if (f->file.kind != tools::ViewerFileKind::set) {
                    return py::none();
                }
                py::list members;
                const ldi::LdiSet& set = *f->file.set;
                for (std::size_t m = 0; m < set.members.size(); ++m) {
                    members.append(PyramidView{f, set.members[m].get(),
                                               m < set.memberDirection.size()
                                                   ? std::optional(set.memberDirection[m])
                                                   : std::nullopt});
                }
                return members;
            },
            "The member pyramids of a .ldiset file, else None.")
        .def_property_readonly(
            "bounds",
            [](const std::shared_ptr<OpenedFile>& f) {
                return boundsOf(f->file.boundsMin, f->file.boundsMax);
            },
            "((x, y, z) min, (x, y, z) max) of the reference LDI (a voxel file: -1..1).")
        .def_property_readonly(
            "reference_camera",
            [](const std::shared_ptr<OpenedFile>& f) {
                const LdiView view = referenceLdi(f);
                if (view.ldi == nullptr && view.voxel == nullptr) {
                    return cameraOf(f->file.reference, 0, 0);
                }
                return referenceOf(view);
            },
            "The reference camera a view of the file starts from, with its own field of view "
            "and grid (strata.render's default camera has the viewer's 45 degrees instead).");

    module.def(
        "open", &openFile, py::arg("path"),
        R"(Opens any file the viewer opens, chosen by its extension as File > Open does: .vox a
voxel file, .ldiset a set, .ldipyr a pyramid, anything else an LDI file of any kind
(or a .ldiquad list). strata.Error with the command line's message when it is refused.)");
}

}  // namespace strata::python
