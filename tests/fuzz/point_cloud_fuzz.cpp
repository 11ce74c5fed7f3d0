// libFuzzer target for the point-cloud reader: the bytes as a PLY cloud, read and completed
// (neighbours, normals, footprints).
#include <cstdint>
#include <string>
#include <vector>

#include "maker/point_cloud.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    strata::maker::PointCloud cloud;
    std::string error;
    strata::maker::decodePointCloud("fuzz.ply", bytes, cloud, error);
    return 0;
}
