#include "platform/bit_count.h"

namespace strata::platform {

const bool kHardwareBitCount = [] {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("popcnt") != 0;
#else
    return false;
#endif
}();

}  // namespace strata::platform
