// Per-object drawing state of an LDI: renderer tables and the warp constants of the current
// draw. Filled in by the renderer.
#pragma once

namespace strata::render {

struct WarpState {};

}  // namespace strata::render
