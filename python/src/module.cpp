// strata._strata: the compiled part of the strata Python package, over the core and the command
// line's library. The pure-Python part (strata/__init__.py) gives it its keyword interface.
#include "py_common.h"

namespace strata::python {

std::vector<std::uint8_t> pictureBytes(const std::uint32_t* pixels, std::int32_t width,
                                       std::int32_t height) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) *
                                    static_cast<std::size_t>(height) * 3u);
    std::uint8_t* out = bytes.data();
    for (std::int32_t row = height - 1; row >= 0; --row) {
        const std::uint32_t* in = pixels + static_cast<std::size_t>(row) * width;
        for (std::int32_t column = 0; column < width; ++column, out += 3) {
            out[0] = static_cast<std::uint8_t>(in[column] >> 16);
            out[1] = static_cast<std::uint8_t>(in[column] >> 8);
            out[2] = static_cast<std::uint8_t>(in[column]);
        }
    }
    return bytes;
}

py::array_t<std::uint8_t> pictureArray(std::vector<std::uint8_t>&& bytes, std::int32_t width,
                                       std::int32_t height) {
    return ownedArray(std::move(bytes), {height, width, 3});
}

}  // namespace strata::python

PYBIND11_MODULE(_strata, module) {
    namespace py = pybind11;
    namespace sp = strata::python;
    module.doc() = "The compiled core of the strata package (use the strata module itself).";
    py::register_exception<sp::Error>(module, "Error");
    sp::addCamera(module);
    sp::addFiles(module);
    sp::addRender(module);
    sp::addMaker(module);
}
