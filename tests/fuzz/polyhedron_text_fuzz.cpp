// libFuzzer target for the polyhedron text reader.
#include <cstdint>

#include "mesh/polyhedron.h"
#include "reader_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = strata::fuzz::scratchFile(".txt");
    strata::fuzz::writeInput(path, data, size);
    strata::mesh::Polyhedron polyhedron;
    strata::mesh::ReadPolyhedron(path.c_str(), polyhedron);
    return 0;
}
