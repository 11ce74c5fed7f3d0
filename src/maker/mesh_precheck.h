// A cheap look at a mesh file before the importer sees it. The importer trusts the element
// counts a file declares and reserves memory for them up front, so a few hundred bytes claiming
// billions of vertices would take minutes and gigabytes before failing, and a file shorter than
// its counts would load as if complete. PLY (ASCII and binary) and binary STL declare their
// counts in a header: those must fit in the bytes the file holds, every PLY list length too
// (binary: in the bytes left after it; ASCII: every element line holds all of its values), and
// they must account for the file's size (at most 1 MB more). Any other file, text STL included,
// is read only up to kMaxMeshFileBytes (the importer reads a file whole before parsing it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace strata::maker {

// Largest mesh file (or file a mesh names) the importer is given, unless its header sizes it.
inline constexpr std::uint64_t kMaxMeshFileBytes = std::uint64_t{2} << 30;

// Checks the file at path: it must be a regular file, and its declared element counts must fit
// its size. False with error set to one line naming the file and the problem.
bool precheckMeshFile(const std::string& path, std::string& error);

// The same checks on file contents in memory; `name` supplies the extension (".stl"). Returns
// "" when the contents pass, else the problem (without a file name).
std::string precheckMeshBytes(std::string_view name, std::span<const std::uint8_t> bytes);

}  // namespace strata::maker
