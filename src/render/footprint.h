// Splat footprints: a sample covers one pixel or a 3x3, 5x5 or 7x7 block centred on it, whose
// outer pixels are blended over what the frame holds. The blends work on all four bytes of a
// pixel word at once: shifting the word right and masking off the bits that crossed a byte
// boundary halves (or quarters) every channel in one integer operation.
#pragma once

#include <cstdint>

namespace strata::render {

// Even mix of old and new, per byte.
inline std::uint32_t blendHalf(std::uint32_t oldWord, std::uint32_t newWord) {
    return ((oldWord >> 1) & 0x7F7F7F7Fu) + ((newWord >> 1) & 0x7F7F7F7Fu);
}

// About three quarters old, one quarter new, per byte.
inline std::uint32_t blendQuarter(std::uint32_t oldWord, std::uint32_t newWord) {
    return ((oldWord >> 1) & 0x7F7F7F7Fu) + ((oldWord >> 2) & 0x3F3F3F3Fu) +
           ((newWord >> 2) & 0x3F3F3F3Fu);
}

// The footprint radius a splat size selects: 0 one pixel (s < 1), 1 the 3x3 (s < 3), 3 the 7x7
// (s >= 5), otherwise 2, the 5x5 (a NaN size compares false everywhere and lands there too).
inline int footprintRadius(float size) {
    if (size < 1.0f) {
        return 0;
    }
    if (size < 3.0f) {
        return 1;
    }
    if (size >= 5.0f) {
        return 3;
    }
    return 2;
}

// The 3 x 3 footprint alone: Q H Q / H N H / Q H Q.
[[gnu::always_inline]] inline void writeFootprint3(std::uint32_t* at, std::int32_t stride,
                                                   std::uint32_t word) {
    const std::intptr_t s = stride;
    const std::uint32_t halfNew = (word >> 1) & 0x7F7F7F7Fu;
    const std::uint32_t quarterNew = (word >> 2) & 0x3F3F3F3Fu;
    auto half = [halfNew](std::uint32_t* p) { *p = ((*p >> 1) & 0x7F7F7F7Fu) + halfNew; };
    auto quarter = [quarterNew](std::uint32_t* p) {
        *p = ((*p >> 1) & 0x7F7F7F7Fu) + ((*p >> 2) & 0x3F3F3F3Fu) + quarterNew;
    };
    std::uint32_t* lo = at - s;
    std::uint32_t* hi = at + s;
    quarter(lo - 1);
    half(lo);
    quarter(lo + 1);
    half(at - 1);
    *at = word;
    half(at + 1);
    quarter(hi - 1);
    half(hi);
    quarter(hi + 1);
}

// Writes word at pixel `at` of a frame whose rows are `stride` words apart, with the footprint
// of the given radius (0..3). Precondition: the whole block lies inside the frame.
inline void writeFootprint(std::uint32_t* at, std::int32_t stride, int radius, std::uint32_t word) {
    const std::intptr_t s = stride;
    // Q H Q / H N H / Q H Q
    auto quarter = [word](std::uint32_t* p) { *p = blendQuarter(*p, word); };
    auto half = [word](std::uint32_t* p) { *p = blendHalf(*p, word); };
    switch (radius) {
        case 0:
            *at = word;
            return;
        case 1: {
            std::uint32_t* lo = at - s;
            std::uint32_t* hi = at + s;
            quarter(lo - 1), half(lo), quarter(lo + 1);
            half(at - 1), *at = word, half(at + 1);
            quarter(hi - 1), half(hi), quarter(hi + 1);
            return;
        }
        case 2: {
            // Q H H H Q / H H N H H / H N N N H / H H N H H / Q H H H Q
            std::uint32_t* r0 = at - 2 * s;
            quarter(r0 - 2), half(r0 - 1), half(r0), half(r0 + 1), quarter(r0 + 2);
            std::uint32_t* r1 = at - s;
            half(r1 - 2), half(r1 - 1), r1[0] = word, half(r1 + 1), half(r1 + 2);
            half(at - 2), at[-1] = word, at[0] = word, at[1] = word, half(at + 2);
            std::uint32_t* r3 = at + s;
            half(r3 - 2), half(r3 - 1), r3[0] = word, half(r3 + 1), half(r3 + 2);
            std::uint32_t* r4 = at + 2 * s;
            quarter(r4 - 2), half(r4 - 1), half(r4), half(r4 + 1), quarter(r4 + 2);
            return;
        }
        default: {
            // Q H H H H H Q / H H H N H H H / H H N N N H H / H N N N N N H / (mirrored)
            std::uint32_t* r0 = at - 3 * s;
            std::uint32_t* r6 = at + 3 * s;
            quarter(r0 - 3), quarter(r0 + 3), quarter(r6 - 3), quarter(r6 + 3);
            for (int c = -2; c <= 2; ++c) {
                half(r0 + c), half(r6 + c);
            }
            for (int k = 1; k <= 2; ++k) {
                // Rows at distance 3 - k from the centre row have 2k - 1 new pixels.
                std::uint32_t* rows[2] = {at - (3 - k) * s, at + (3 - k) * s};
                for (std::uint32_t* r : rows) {
                    for (int c = -3; c <= 3; ++c) {
                        const int dc = c < 0 ? -c : c;
                        if (dc < k) {
                            r[c] = word;
                        } else {
                            half(r + c);
                        }
                    }
                }
            }
            half(at - 3);
            for (int c = -2; c <= 2; ++c) {
                at[c] = word;
            }
            half(at + 3);
            return;
        }
    }
}

// Writes value into every entry of the same square of a depth buffer (radius 0..3).
inline void writeDepthSquare(float* at, std::int32_t stride, int radius, float value) {
    for (int dy = -radius; dy <= radius; ++dy) {
        float* row = at + static_cast<std::intptr_t>(dy) * stride;
        for (int dx = -radius; dx <= radius; ++dx) {
            row[dx] = value;
        }
    }
}

}  // namespace strata::render
