// Every key and mouse binding of the view in two tables: the key handler and the drag choice run
// from them, and the help overlay and Help > Keys and Mouse list them, so the help cannot drift
// from what the keys do.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace strata::app {

class AppView;

struct KeyBinding {
    int firstKey = 0;  // the virtual-key codes firstKey..lastKey
    int lastKey = 0;
    std::string_view keys;  // as the help shows them
    std::string_view what;
    void (*press)(AppView& view, int virtualKey) = nullptr;
};

enum class MouseButton { left, right, middle, wheel, doubleClick };

struct MouseBinding {
    MouseButton button = MouseButton::left;
    bool shift = false;
    bool control = false;
    std::int32_t mode = 0;  // the drag mode a press starts (MouseMode)
    std::string_view keys;
    std::string_view what;
};

std::span<const KeyBinding> keyTable();
std::span<const MouseBinding> mouseTable();
// The row of a virtual key, or null.
const KeyBinding* findKey(int virtualKey);
// The drag mode of a press of button with those modifiers (MouseNone when unbound).
std::int32_t dragModeFor(MouseButton button, bool shift, bool control);

}  // namespace strata::app
