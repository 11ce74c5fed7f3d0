// Samples placed in batches: a kernel gathers the samples of a row run in drawing order (each
// with its pixel's warped centre and its depth), places the whole batch at once, then writes
// the placed samples in the same order. Placing is the same arithmetic as placeSample, done
// eight samples at a time with AVX2 where the processor has it; the scalar loop is the
// reference and gives the same bits.
#pragma once

#include <cstdint>

#include "geometry/vector.h"
#include "ldi/draw_support.h"

namespace strata::ldi::kernel {

// Parallel arrays, each with room for one vector step past the last sample. The kernel fills
// px, py, pz, pw (its pixel's warped centre at depth 0) and z (normalised depth) or word (its
// depth word) for samples 0 .. count - 1; placeSamples or placeDepthWords fills the rest.
struct SampleBatch {
    static constexpr int kCapacity = 128;
    static constexpr int kPadded = kCapacity + 8;

    alignas(32) float px[kPadded];
    alignas(32) float py[kPadded];
    alignas(32) float pz[kPadded];
    alignas(32) float pw[kPadded];
    alignas(32) float z[kPadded];
    alignas(32) std::uint32_t word[kPadded];  // depth words, for placeDepthWords
    alignas(32) float sx[kPadded];
    alignas(32) float sy[kPadded];
    alignas(32) float zOut[kPadded];
    alignas(32) std::int32_t X[kPadded];
    alignas(32) std::int32_t Y[kPadded];
    alignas(32) std::int32_t offset[kPadded];
    alignas(32) Placement placement[kPadded];
    int count = 0;

    // Sets slot i to a sample of depth `depth` in the pixel whose warped centre is p. Kernels
    // count their slots in a local and store count before placing.
    void set(int i, const geometry::Vector4& p, float depth) {
        setCentre(i, p);
        z[i] = depth;
    }
    // The same with the sample's depth word, for placeDepthWords.
    void setWord(int i, const geometry::Vector4& p, std::uint32_t depthWord) {
        setCentre(i, p);
        word[i] = depthWord;
    }
    void setCentre(int i, const geometry::Vector4& p) {
        px[i] = p.x;
        py[i] = p.y;
        pz[i] = p.z;
        pw[i] = p.w;
    }
};

// Places samples 0 .. count - 1 of the batch (placeSample for each), with the vector unit in
// use. Positions are converted with the rounding mode in force.
void placeSamples(SampleBatch& batch, const geometry::Vector4& zc, const FrameTarget& target);

// The same for samples given by depth word instead of depth: z = the decoded 20-bit depth code
// of word (geometry::decodeDepth), then placeSamples.
void placeDepthWords(SampleBatch& batch, const geometry::Vector4& zc, const FrameTarget& target);

// The scalar loops, always available: the reference for the vector path.
void placeSamplesScalar(SampleBatch& batch, const geometry::Vector4& zc, const FrameTarget& target);
void placeDepthWordsScalar(SampleBatch& batch, const geometry::Vector4& zc,
                           const FrameTarget& target);

// Whether placeSamples uses AVX2: true when the processor has it, unless the environment
// variable STRATA_SCALAR is set to 1 at the first call or useVectorUnits(false) was called.
bool vectorUnitsInUse();

// Switches the vector path on (where the processor has it) or off, for every later draw.
void useVectorUnits(bool on);

}  // namespace strata::ldi::kernel
