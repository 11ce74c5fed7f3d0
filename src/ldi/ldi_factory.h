// Turning type codes and files into LDI objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ldi/ldi_base.h"

namespace strata::ldi {

// The object for a (ldiType, dptType) pair: (RT, CP) LdiRtCp, (RT, QP) LdiRtQp, (RT, MRQP)
// LdiRtMrqp, (RTFF, CP) LdiRtffCp, (RTFF, QP) LdiRtffQp, (RTFF, MRQP) LdiRtffMrqp, (RTQuad, QP)
// LdiRtQuad; none for every other pair.
std::unique_ptr<LdiBase> CreateLdi(int ldiType, int dptType);

// Loads the LDI file at path. A name ending in ".ldiquad" is read as a quad list; any other
// file by its header's type pair. Returns the loaded object, or none when the file does not
// open, its header is short or names no buildable pair, or its body is refused; error (when
// given) then receives the one-line reason, which is also printed once.
std::unique_ptr<LdiBase> LoadLdi(const std::string& path, std::string* error = nullptr);

}  // namespace strata::ldi
