// Writes valid pyramid and set lists (the names the list fuzzer's scratch folder provides):
// the seed corpus of the list fuzzer.
#include <cstdio>
#include <string>

#include "ldi/ldi_samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ldi_list_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    using strata::ldi::testing::writeText;
    writeText(folder + "/pyramid_two", "2\nlevel0.ldi 1.000000\nlevel1.ldi 2.000000\n");
    writeText(folder + "/pyramid_one", "1 level1.ldi 3.5\n");
    writeText(folder + "/pyramid_gap", "3\nlevel0.ldi 1\nmissing.ldi 2\nlevel1.ldi 4\n");
    writeText(folder + "/set_two",
              "2\nmember.ldipyr 0.000000 0.000000 1.000000\nmember.ldipyr 1 0 0\n");
    writeText(folder + "/set_one", "1 member.ldipyr 0 0 -1\n");
    return 0;
}
