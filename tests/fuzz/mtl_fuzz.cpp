// libFuzzer target for the side files of a mesh: every input is the material file an OBJ names
// (mtllib), read through the importer and the texture lookup of the maker. The folder holds a
// small texture the materials may name, a FIFO and a file outside the folder, so the side-file
// rules are exercised too.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "maker/mesh_import.h"
#include "reader_fuzz_common.h"

namespace {

std::string modelFolder() {
    const std::string folder = strata::fuzz::scratchFolder() + "/model";
    std::filesystem::create_directories(folder);
    strata::imageutil::RgbImage texture = strata::imageutil::RgbImage::createOwned(2, 2);
    texture.at(0, 0) = 0xFF0000u;
    texture.at(1, 1) = 0x00FF00u;
    strata::imageutil::writePng(folder + "/t.png", texture);
    strata::imageutil::writePng(strata::fuzz::scratchFolder() + "/outside.png", texture);
    ::mkfifo((folder + "/fifo.png").c_str(), 0600);
    const std::string obj =
        "mtllib input.mtl\nusemtl a\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
        "f 1/1 2/2 3/3\nusemtl b\nv 0 0 1\nf 1 2 4\n";
    strata::fuzz::writeInput(folder + "/m.obj", reinterpret_cast<const std::uint8_t*>(obj.data()),
                             obj.size());
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        strata::fuzz::scratchFile(".mtl");  // silences the debug output
        return modelFolder();
    }();
    if (size > 16384) {
        return 0;
    }
    strata::fuzz::writeInput(folder + "/input.mtl", data, size);
    strata::maker::Scene scene;
    std::string error;
    std::vector<std::string> warnings;
    strata::maker::loadMeshScene(folder + "/m.obj", scene, error, 1 << 16, &warnings);
    return 0;
}

// The importer library keeps a few small allocations of a failed material read: its leaks are
// not this program's findings.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libassimp.so\n";
}
