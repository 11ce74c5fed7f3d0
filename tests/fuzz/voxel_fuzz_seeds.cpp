// Writes small valid voxel files: the seed corpus of the voxel fuzzer.
#include <cstdio>
#include <string>
#include <vector>

#include "ldi/ldi_samples.h"
#include "platform/byte_io.h"

namespace {

void sample(strata::platform::ByteWriter& out, float depth, std::uint8_t r, std::uint8_t g,
            std::uint8_t b) {
    out.putF32BE(depth);
    out.putU8(r);
    out.putU8(g);
    out.putU8(b);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: voxel_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    // A 5 x 5 grid with a few columns, in row-major order.
    strata::platform::ByteWriter grid;
    grid.putI32BE(3);
    grid.putF32BE(0.5f);
    grid.putI32BE(-1);
    grid.putI32BE(0);
    grid.putI32BE(2);
    sample(grid, -0.5f, 255, 0, 0);
    sample(grid, 0.5f, 0, 255, 0);
    grid.putI32BE(0);
    grid.putI32BE(0);
    grid.putI32BE(1);
    sample(grid, 0.0f, 18, 52, 86);
    grid.putI32BE(2);
    grid.putI32BE(-2);
    grid.putI32BE(0);
    strata::ldi::testing::writeBytes(folder + "/grid5.vox", grid.bytes());
    // A single cell of three samples.
    strata::platform::ByteWriter one;
    one.putI32BE(1);
    one.putF32BE(2.0f);
    one.putI32BE(0);
    one.putI32BE(0);
    one.putI32BE(3);
    sample(one, -1.0f, 1, 2, 3);
    sample(one, 0.0f, 4, 5, 6);
    sample(one, 1.0f, 7, 8, 9);
    strata::ldi::testing::writeBytes(folder + "/cell.vox", one.bytes());
    return 0;
}
