// Writes the data the speed table draws: `bench_data scan FILE.ply` writes the scanned-looking
// mesh the tests use (a bumpy terrain with a lumpy sphere, coloured per vertex), for
// `strata make` to turn into LDIs.
#include <cstdio>
#include <cstring>

#include "render/scan_mesh.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "scan") != 0) {
        std::fprintf(stderr, "usage: bench_data scan FILE.ply\n");
        return 2;
    }
    if (!strata::render::testing::writeScanMesh(argv[2])) {
        std::fprintf(stderr, "bench_data: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
