// The kinds of file the viewer opens, by extension (compared lower-cased), for the open dialog's
// filters and for telling meshes from LDIs.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace strata::app {

struct FileKind {
    std::string_view name;                         // as the dialog shows it
    std::span<const std::string_view> extensions;  // without the dot
};

// LDIs of every single kind, pyramid and set lists, voxel files and meshes, in that order.
std::span<const FileKind> fileKinds();
// "Name (*.a *.b)" lines for a file dialog: every kind together first, then each kind.
std::string openFilters();
// Whether the path names a mesh (opened by making an LDI of it).
bool isMeshPath(const std::string& path);

}  // namespace strata::app
