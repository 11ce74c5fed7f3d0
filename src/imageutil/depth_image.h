// Depth maps: the distance along the camera's viewing direction to the nearest surface of each
// pixel, as 16-bit greyscale PNG files (depth times a scale in units per metre, rounded; 0 where
// there is no surface) or as one-channel float PFM files (little-endian when written, bottom row
// first as the format has it; infinity where there is no surface).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace strata::imageutil {

struct DepthImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<float> depth;  // row 0 at the BOTTOM; +infinity where there is no surface
};

// Units of a 16-bit PNG value per metre (scene unit) unless a scale is given: millimetres.
inline constexpr double kDefaultDepthScale = 1000.0;
// Largest value a 16-bit PNG holds, and largest side of a PFM file read.
inline constexpr std::uint32_t kMaxDepthUnits = 65535;
inline constexpr std::int32_t kMaxPfmSide = 65535;

enum class DepthFormat { png16, pfm };

// The format a name asks for: ".pfm" in any letter case is PFM, anything else a 16-bit PNG.
DepthFormat depthFormatOf(const std::string& path);

// "" when every depth can be stored in the format at `scale` (PNG: finite depths round to
// 1..65535 units; no surface is 0), else the problem in one line naming the first pixel that
// cannot, and the scale that would fit. Negative and NaN depths never can.
std::string depthImageProblem(const DepthImage& image, DepthFormat format, double scale);

// Writes the file in the format its name asks for, through a temporary file renamed into place.
// False with one line naming path (and nothing written) when a depth does not fit or the write
// fails. scale must be finite and positive (PNG only).
bool writeDepthImage(const std::string& path, const DepthImage& image, double scale,
                     std::string& error);

// Reads a depth map: PNG values v become v / scale (0: none), PFM values are taken as they are
// (0 and +infinity: none; the magnitude of the header's scale is ignored, its sign gives the byte
// order: negative little-endian, positive big-endian). Refused with one line naming path: a
// file that is not what its name says (".pfm" a PFM file, ".png" a 16-bit greyscale PNG; other
// names go by the contents), a PFM header that is not exactly "Pf", whitespace, width, height,
// scale and one whitespace byte (no text after a number, no colour "PF" files), pixel data of
// another length, and negative, NaN or minus-infinite depths. On failure `image` is unchanged.
bool readDepthImage(const std::string& path, double scale, DepthImage& image, std::string& error);
// The same on file contents in memory (path names them in messages).
bool decodeDepthBytes(const std::string& path, std::span<const std::uint8_t> bytes, double scale,
                      DepthImage& image, std::string& error);

// The PFM file of an image: "Pf\n<W> <H>\n-1\n", then the floats little-endian, bottom row first.
std::vector<std::uint8_t> encodePfm(const DepthImage& image);

}  // namespace strata::imageutil
