// Textures of the maker's scenes: decoding PNG and JPEG pictures (from files or from bytes a mesh
// file embeds) and sampling them. Sampling is bilinear between the four nearest texel centres,
// with the four texels turned into linear light first and the mix turned back into sRGB, so a
// texture looks the same from every view (no level of detail is chosen by distance).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "maker/scene.h"

namespace strata::maker {

// Largest picture accepted: a side and a texel count (the decoded RGB takes 3 bytes a texel).
inline constexpr std::int32_t kMaxTextureSide = 16384;
inline constexpr std::int64_t kMaxTexturePixels = std::int64_t{1} << 26;
// Largest texture file read.
inline constexpr std::int64_t kMaxTextureFileBytes = std::int64_t{256} << 20;

// The sRGB transfer functions on 0..1 (IEC 61966-2-1).
float srgbToLinear(float encoded);
float linearToSrgb(float linear);
// srgbToLinear of every 8-bit value b / 255.
const std::array<float, 256>& linearOfByte();

// The colour at texture coordinate (u, v): (0, 0) is the bottom-left corner of the picture and
// (1, 1) the top-right one; texel centres lie at ((i + 0.5) / W, 1 - (j + 0.5) / H) for texel
// column i and row j (row 0 at the top). Coordinates outside 0..1 are folded by the texture's
// wrap mode on each axis. The result is the nearest 8-bit sRGB value of the mix, as c with
// truncate(c * 255) equal to that value; so a coordinate at a texel centre gives that texel.
// Non-finite coordinates read as 0. Precondition: the texture is valid (Scene::validate).
Colour sampleTexture(const Texture& texture, float u, float v);

// Decodes a PNG or JPEG picture held in `bytes` into `texture` (rgb, width, height; the name
// and wrap modes are left as they are). False, with one line naming `name` and the problem,
// for any other format, a damaged picture, or one beyond the size limits; `texture` is then
// unchanged.
bool decodeTexture(std::span<const std::uint8_t> bytes, const std::string& name, Texture& texture,
                   std::string& error);

// Reads and decodes the picture file at `path` (at most kMaxTextureFileBytes).
bool readTextureFile(const std::string& path, Texture& texture, std::string& error);

}  // namespace strata::maker
