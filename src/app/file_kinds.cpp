#include "app/file_kinds.h"

#include "platform/file_io.h"

namespace strata::app {
namespace {

constexpr std::string_view kLdi[] = {"ldibrtcp",  "ldibrtqp",    "ldibrtmrqp", "ldirtffcp",
                                     "ldirtffqp", "ldirtffmrqp", "ldiquad"};
constexpr std::string_view kLists[] = {"ldipyr", "ldiset"};
constexpr std::string_view kVoxel[] = {"vox"};
// The mesh formats the maker's importer is used with.
constexpr std::string_view kMesh[] = {"obj", "ply", "stl", "off", "gltf",
                                      "glb", "fbx", "dae", "3ds"};

constexpr FileKind kKinds[] = {
    {"LDI files", kLdi},
    {"Pyramids and sets", kLists},
    {"Voxel files", kVoxel},
    {"Meshes", kMesh},
};

std::string patterns(const FileKind& kind) {
    std::string out;
    for (const std::string_view e : kind.extensions) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.append("*.").append(e);
    }
    return out;
}

}  // namespace

std::span<const FileKind> fileKinds() {
    return kKinds;
}

std::string openFilters() {
    std::string all;
    std::string each;
    for (const FileKind& kind : kKinds) {
        if (!all.empty()) {
            all.push_back(' ');
        }
        all.append(patterns(kind));
        each.append(";;").append(kind.name).append(" (").append(patterns(kind)).append(")");
    }
    return "Everything the viewer opens (" + all + ")" + each + ";;All files (*)";
}

bool isMeshPath(const std::string& path) {
    for (const std::string_view e : kMesh) {
        if (platform::hasExtension(path, e)) {
            return true;
        }
    }
    return false;
}

}  // namespace strata::app
