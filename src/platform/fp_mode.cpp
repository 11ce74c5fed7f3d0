#include "platform/fp_mode.h"

#include <cfenv>
#include <cmath>

#if defined(__i386__) && !defined(__SSE2_MATH__)
#include <fpu_control.h>
#define STRATA_X87_PRECISION 1
#endif

namespace strata::platform {

NearestRoundingGuard::NearestRoundingGuard() : savedRounding_(std::fegetround()) {
    std::fesetround(FE_TONEAREST);
}

NearestRoundingGuard::~NearestRoundingGuard() {
    std::fesetround(savedRounding_);
}

FpModeGuard::FpModeGuard(bool useTrunc, bool useSinglePrecision) {
    if (useTrunc) {
        savedRounding_ = std::fegetround();
        roundingChanged_ = std::fesetround(FE_TOWARDZERO) == 0;
    }
#ifdef STRATA_X87_PRECISION
    if (useSinglePrecision) {
        fpu_control_t word;
        _FPU_GETCW(word);
        savedControlWord_ = static_cast<unsigned short>(word);
        word = static_cast<fpu_control_t>((word & ~_FPU_EXTENDED) | _FPU_SINGLE);
        _FPU_SETCW(word);
        precisionChanged_ = true;
    }
#else
    // SSE float arithmetic is single precision already: nothing to lower.
    (void)useSinglePrecision;
    (void)savedControlWord_;
#endif
}

FpModeGuard::~FpModeGuard() {
#ifdef STRATA_X87_PRECISION
    if (precisionChanged_) {
        fpu_control_t word = savedControlWord_;
        _FPU_SETCW(word);
    }
#else
    (void)precisionChanged_;
#endif
    if (roundingChanged_) {
        std::fesetround(savedRounding_);
    }
}

long toIntNearestEven(float x) {
    // Decided by hand so the result does not depend on the rounding mode in force.
    const float f = std::floor(x);
    const float diff = x - f;  // exact for floats of this size
    const long lo = static_cast<long>(f);
    if (diff < 0.5f) {
        return lo;
    }
    if (diff > 0.5f) {
        return lo + 1;
    }
    return (lo % 2 == 0) ? lo : lo + 1;
}

}  // namespace strata::platform
