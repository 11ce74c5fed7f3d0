// Floating-point modes of a frame draw. The warp kernels turn screen positions into pixel
// indices with the conversion of the rounding mode in force, so a frame runs either with
// truncation (the cheapest conversion, and the default) or with round-to-nearest-even.
#pragma once

#include <cmath>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace strata::platform {

// Sets the frame's floating-point modes for its lifetime and restores the previous ones, in
// reverse order, when it ends. Guards nest.
//   useTrunc: round toward zero (std::fesetround(FE_TOWARDZERO)); otherwise the mode in force
//     (normally round-to-nearest-even) is left alone.
//   useSinglePrecision: 24-bit precision of the x87 unit. Only 32-bit x87 builds have anything
//     to set: on x86-64 float arithmetic runs on SSE, where every float operation is already
//     rounded to single precision, so the flag changes nothing there.
class FpModeGuard {
  public:
    FpModeGuard(bool useTrunc, bool useSinglePrecision);
    ~FpModeGuard();
    FpModeGuard(const FpModeGuard&) = delete;
    FpModeGuard& operator=(const FpModeGuard&) = delete;

  private:
    int savedRounding_ = 0;
    bool roundingChanged_ = false;
    unsigned short savedControlWord_ = 0;
    bool precisionChanged_ = false;
};

// Round-to-nearest-even for its lifetime, whatever mode a frame set, restored when it ends: for
// work done on the way through a draw whose results outlive it (tables an object keeps), which
// must not depend on the rounding mode of the frame that happened to make them.
class NearestRoundingGuard {
  public:
    NearestRoundingGuard();
    ~NearestRoundingGuard();
    NearestRoundingGuard(const NearestRoundingGuard&) = delete;
    NearestRoundingGuard& operator=(const NearestRoundingGuard&) = delete;

  private:
    int savedRounding_ = 0;
};

// Float to integer with the rounding mode in force: truncation under a guard with useTrunc,
// round-half-to-even otherwise (10.5 -> 10, 11.5 -> 12). Precondition: x fits in an int32 (a
// value outside converts to INT32_MIN).
// On SSE this is one cvtss2si, which converts with the rounding mode of MXCSR.
inline long toInt(float x) {
#if defined(__SSE__)
    return _mm_cvtss_si32(_mm_set_ss(x));
#else
    return std::lrintf(x);
#endif
}

// The same conversion with the mode stated explicitly, independent of the mode in force.
inline long toIntTruncate(float x) {
    return static_cast<long>(x);
}
long toIntNearestEven(float x);

}  // namespace strata::platform
