#include "ldi/sample_batch.h"

#include "geometry/depth.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace strata::ldi::kernel {

#if defined(__x86_64__) || defined(__i386__)
void placeSamplesAvx2(SampleBatch& batch, const geometry::Vector4& zc, const FrameTarget& target);
void placeDepthWordsAvx2(SampleBatch& batch, const geometry::Vector4& zc,
                         const FrameTarget& target);
#endif

namespace {

bool processorHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

bool scalarRequested() {
    const char* v = std::getenv("STRATA_SCALAR");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

// Read by every draw, possibly on several threads: an atomic flag, set once from the processor
// and the environment.
std::atomic<bool>& vectorFlag() {
    static std::atomic<bool> flag{processorHasAvx2() && !scalarRequested()};
    return flag;
}

}  // namespace

void placeSamplesScalar(SampleBatch& batch, const geometry::Vector4& zc,
                        const FrameTarget& target) {
    for (int i = 0; i < batch.count; ++i) {
        SamplePlace place;
        const geometry::Vector4 p{batch.px[i], batch.py[i], batch.pz[i], batch.pw[i]};
        batch.placement[i] = placeSample(p, zc, batch.z[i], target, place);
        batch.sx[i] = place.sx;
        batch.sy[i] = place.sy;
        batch.zOut[i] = place.zOut;
        batch.X[i] = place.X;
        batch.Y[i] = place.Y;
        batch.offset[i] = place.offset;
    }
}

void placeSamples(SampleBatch& batch, const geometry::Vector4& zc, const FrameTarget& target) {
#if defined(__x86_64__) || defined(__i386__)
    if (vectorFlag().load(std::memory_order_relaxed)) {
        placeSamplesAvx2(batch, zc, target);
        return;
    }
#endif
    placeSamplesScalar(batch, zc, target);
}

void placeDepthWordsScalar(SampleBatch& batch, const geometry::Vector4& zc,
                           const FrameTarget& target) {
    for (int i = 0; i < batch.count; ++i) {
        batch.z[i] = geometry::decodeDepth(batch.word[i] & 0xFFFFFu);
    }
    placeSamplesScalar(batch, zc, target);
}

void placeDepthWords(SampleBatch& batch, const geometry::Vector4& zc, const FrameTarget& target) {
#if defined(__x86_64__) || defined(__i386__)
    if (vectorFlag().load(std::memory_order_relaxed)) {
        placeDepthWordsAvx2(batch, zc, target);
        return;
    }
#endif
    placeDepthWordsScalar(batch, zc, target);
}

bool vectorUnitsInUse() {
    return vectorFlag().load(std::memory_order_relaxed);
}

void useVectorUnits(bool on) {
    vectorFlag().store(on && processorHasAvx2(), std::memory_order_relaxed);
}

}  // namespace strata::ldi::kernel
