// Writes small valid LDI files of every kind (and a quad list with its halves) into a folder:
// the seed corpus of the LDI loader fuzzer.
#include <cstdio>
#include <string>

#include "ldi/ldi_samples.h"

int main(int argc, char** argv) {
    // A second argument (the fuzz target) is accepted and ignored.
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: ldi_fuzz_seeds FOLDER [TARGET]\n");
        return 2;
    }
    const std::string folder = argv[1];
    int failures = 0;
    for (const auto& kind : strata::ldi::testing::allSampleKinds()) {
        for (int seed = 1; seed <= 2; ++seed) {
            const int width = seed == 1 ? 3 : 5;
            const int height = seed == 1 ? 2 : 3;  // height x (width + 1) even for RTFF/MRQP
            auto ldi = strata::ldi::testing::makeSample(kind.ldiType, kind.dptType, width, height,
                                                        static_cast<std::uint32_t>(seed));
            const std::string stem = folder + "/" + kind.name + "_" + std::to_string(seed);
            if (!ldi || ldi->Save(kind.ldiType == 5 ? stem : stem + ".ldi") == 0) {
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
