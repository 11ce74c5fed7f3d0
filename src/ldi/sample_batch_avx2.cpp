// The AVX2 path of placeSamples, built with -mavx2 alone: without FMA the compiler cannot fuse
// a multiply and an add, so every lane rounds exactly as placeSample does. This file calls no
// inline function of the headers it includes, so no AVX2 copy of one can stand in for the copy
// the rest of the program uses on a processor without AVX2.
#include <immintrin.h>

#include "geometry/depth.h"
#include "ldi/sample_batch.h"

namespace strata::ldi::kernel {

void placeSamplesAvx2(SampleBatch& batch, const geometry::Vector4& zc, const FrameTarget& target) {
    const __m256 zcx = _mm256_set1_ps(zc.x);
    const __m256 zcy = _mm256_set1_ps(zc.y);
    const __m256 zcz = _mm256_set1_ps(zc.z);
    const __m256 zcw = _mm256_set1_ps(zc.w);
    const __m256 guardX = _mm256_set1_ps(target.guardX);
    const __m256 guardY = _mm256_set1_ps(target.guardY);
    const __m256 edge = _mm256_set1_ps(2.5f);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 zero = _mm256_setzero_ps();
    // Integer limits one past each side: X < 3 is 3 > X, X > maxX as it stands.
    const __m256i low = _mm256_set1_epi32(3);
    const __m256i maxX = _mm256_set1_epi32(target.maxX);
    const __m256i maxY = _mm256_set1_epi32(target.maxY);
    const __m256i stride = _mm256_set1_epi32(target.stride);
    const __m256i outside = _mm256_set1_epi32(static_cast<std::int32_t>(Placement::outside));
    const __m256i inside = _mm256_set1_epi32(static_cast<std::int32_t>(Placement::inside));

    for (int i = 0; i < batch.count; i += 8) {
        const __m256 z = _mm256_load_ps(batch.z + i);
        const __m256 w = _mm256_add_ps(_mm256_load_ps(batch.pw + i), _mm256_mul_ps(zcw, z));
        const __m256 x = _mm256_add_ps(_mm256_mul_ps(zcx, z), _mm256_load_ps(batch.px + i));
        const __m256 y = _mm256_add_ps(_mm256_mul_ps(zcy, z), _mm256_load_ps(batch.py + i));
        // Ordered comparisons: a NaN fails every test, as in the scalar code.
        const __m256 front = _mm256_cmp_ps(w, zero, _CMP_GT_OQ);
        const __m256 w25 = _mm256_mul_ps(edge, w);
        __m256 keep = _mm256_and_ps(_mm256_cmp_ps(w25, x, _CMP_LT_OQ),
                                    _mm256_cmp_ps(x, _mm256_mul_ps(guardX, w), _CMP_LT_OQ));
        keep = _mm256_and_ps(keep, _mm256_cmp_ps(w25, y, _CMP_LT_OQ));
        keep = _mm256_and_ps(keep, _mm256_cmp_ps(y, _mm256_mul_ps(guardY, w), _CMP_LT_OQ));
        const __m256 inv = _mm256_div_ps(one, w);
        const __m256 sx = _mm256_mul_ps(x, inv);
        const __m256 sy = _mm256_mul_ps(y, inv);
        // Converted with the rounding mode in force, as cvtss2si does.
        const __m256i X = _mm256_cvtps_epi32(_mm256_add_ps(sx, half));
        const __m256i Y = _mm256_cvtps_epi32(_mm256_add_ps(sy, half));
        __m256i off = _mm256_or_si256(_mm256_cmpgt_epi32(low, X), _mm256_cmpgt_epi32(X, maxX));
        off = _mm256_or_si256(off, _mm256_cmpgt_epi32(low, Y));
        off = _mm256_or_si256(off, _mm256_cmpgt_epi32(Y, maxY));
        const __m256i in = _mm256_andnot_si256(off, _mm256_castps_si256(keep));
        const __m256 zOut =
            _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(zcz, z), _mm256_load_ps(batch.pz + i)), inv);
        // behind (0) unless in front; then outside (1) unless inside (2).
        const __m256i placement =
            _mm256_and_si256(_mm256_castps_si256(front), _mm256_blendv_epi8(outside, inside, in));
        _mm256_store_ps(batch.sx + i, sx);
        _mm256_store_ps(batch.sy + i, sy);
        _mm256_store_ps(batch.zOut + i, zOut);
        _mm256_store_si256(reinterpret_cast<__m256i*>(batch.X + i), X);
        _mm256_store_si256(reinterpret_cast<__m256i*>(batch.Y + i), Y);
        _mm256_store_si256(reinterpret_cast<__m256i*>(batch.offset + i),
                           _mm256_add_epi32(_mm256_mullo_epi32(Y, stride), X));
        _mm256_store_si256(reinterpret_cast<__m256i*>(batch.placement + i), placement);
    }
}

void placeDepthWordsAvx2(SampleBatch& batch, const geometry::Vector4& zc,
                         const FrameTarget& target) {
    // Codes below 2^20 convert to float exactly; the product and the difference round as in
    // geometry::decodeDepth.
    const __m256i codeMask = _mm256_set1_epi32(0xFFFFF);
    const __m256 scale = _mm256_set1_ps(geometry::kDepthCodeScale);
    const __m256 one = _mm256_set1_ps(1.0f);
    for (int i = 0; i < batch.count; i += 8) {
        const __m256i code = _mm256_and_si256(
            _mm256_load_si256(reinterpret_cast<const __m256i*>(batch.word + i)), codeMask);
        _mm256_store_ps(batch.z + i,
                        _mm256_sub_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(code), scale), one));
    }
    placeSamplesAvx2(batch, zc, target);
}

}  // namespace strata::ldi::kernel
