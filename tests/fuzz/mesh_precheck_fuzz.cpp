// libFuzzer target for the mesh pre-check: the bytes as a PLY (found by its first line) and as
// an STL (found by its name).
#include <cstdint>
#include <span>

#include "maker/mesh_precheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    strata::maker::precheckMeshBytes("fuzz.ply", bytes);
    strata::maker::precheckMeshBytes("fuzz.stl", bytes);
    return 0;
}
