// STRATA_SANITIZED is defined in builds with the address or thread sanitizer: their allocators
// reserve the whole address space and stop the program on impossible requests, so tests that
// limit the address space or ask for such memory skip there.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define STRATA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define STRATA_SANITIZED 1
#endif
#endif
