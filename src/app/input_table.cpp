#include "app/input_table.h"

#include "app/app_commands.h"
#include "app/app_view.h"

namespace strata::app {
namespace {

using B = MouseButton;

void pressDump(AppView& v, int /*key*/) {
    v.DumpViews();
}

void pressFreeze(AppView& v, int key) {
    v.freezeSelection = key == vk::kS;
}

void pressHalf(AppView& v, int key) {
    const bool lower = key == vk::kL && !v.lowerToggle;
    const bool upper = key == vk::kU && !v.upperToggle;
    v.lowerToggle = lower;
    v.upperToggle = upper;
    v.needsRedraw = true;
}

void pressOrbitCentre(AppView& v, int key) {
    v.orbitAboutPivot = key == vk::kT ? 1 : 0;
}

void pressSpin(AppView& v, int /*key*/) {
    v.animate = !v.animate;
    if (v.animate) {
        v.timerId = kSpinTimerId;
        if (v.onStartTimer) {
            v.onStartTimer(v.timerId, kSpinTimerMs);
        }
    } else if (v.onKillTimer) {
        v.onKillTimer(v.timerId);
    }
}

void pressLevel(AppView& v, int key) {
    if (v.pyramid && v.pyramid->levelCount > 0) {
        v.pyramid->SetLevel(key - vk::kNumpad0);
        if (v.pyramid->CurrentLdi() != nullptr) {
            v.ldi = v.pyramid->CurrentLdi();
        }
    }
    v.needsRedraw = true;
    v.freezeSelection = true;
}

void pressReset(AppView& v, int /*key*/) {
    v.OnCommand(kIdReset);
}

void pressFit(AppView& v, int /*key*/) {
    v.FitView();
}

void pressHelp(AppView& v, int /*key*/) {
    v.helpOverlay = !v.helpOverlay;
    v.needsRedraw = true;
}

void pressSaveFrame(AppView& v, int /*key*/) {
    v.SaveNumberedFrame();
}

// The arrows and A, Z step the camera in its own axes (AppView::OnKeyDown).
constexpr KeyBinding kKeys[] = {
    {vk::kLeft, vk::kDown, "Arrows", "step left, forward, right or back", nullptr},
    {vk::kA, vk::kA, "A", "step up", nullptr},
    {vk::kZ, vk::kZ, "Z", "step down", nullptr},
    {vk::kD, vk::kD, "D", "pyramid and set levels chosen by distance", pressFreeze},
    {vk::kS, vk::kS, "S", "freeze the level and member choice", pressFreeze},
    {vk::kNumpad0, vk::kNumpad5, "Keypad 0-5", "show that pyramid level (frozen)", pressLevel},
    {vk::kL, vk::kL, "L", "lower half only (QP), again: whole", pressHalf},
    {vk::kU, vk::kU, "U", "upper half only (QP), again: whole", pressHalf},
    {vk::kN, vk::kN, "N", "both halves", pressHalf},
    {vk::kT, vk::kT, "T", "drags turn about a point in front of the eye", pressOrbitCentre},
    {vk::kO, vk::kO, "O", "drags turn about the eye (orbit drags as chosen)", pressOrbitCentre},
    {vk::kR, vk::kR, "R", "start or stop the spin", pressSpin},
    {vk::kH, vk::kH, "H", "dump nine views about the scene to files", pressDump},
    {vk::kHome, vk::kHome, "Home", "RESET: back to the start view", pressReset},
    {vk::kF, vk::kF, "F", "fit the whole scene in view from here", pressFit},
    {vk::kF1, vk::kF1, "F1", "show or hide this help", pressHelp},
    {vk::kQuestion, vk::kQuestion, "?", "show or hide this help", pressHelp},
    {vk::kF12, vk::kF12, "F12", "save the frame as the next numbered PNG", pressSaveFrame},
};

constexpr MouseBinding kMouse[] = {
    {B::left, false, false, MousePan, "Left drag", "turn the view (pan)"},
    {B::left, false, true, MousePan, "Ctrl+Left drag", "turn the view (pan)"},
    {B::left, true, false, MouseOrbit, "Shift+Left drag", "orbit"},
    {B::left, true, true, MouseSpin, "Shift+Ctrl+Left drag", "spin the scene"},
    {B::right, false, false, MouseTranslate, "Right drag", "move sideways and up or down"},
    {B::right, true, false, MouseDolly, "Shift+Right drag", "dolly forward and back"},
    {B::right, false, true, MouseZoom, "Ctrl+Right drag", "zoom (view angle)"},
    {B::right, true, true, MousePush, "Shift+Ctrl+Right drag", "push forward and back"},
    {B::middle, false, false, MouseTurntable, "Middle drag", "orbit about the pivot, upright"},
    {B::middle, true, false, MouseSlide, "Shift+Middle drag", "pan the view and the pivot"},
    {B::wheel, false, false, MouseNone, "Wheel", "move toward or away from the pivot"},
    {B::doubleClick, false, false, MouseNone, "Double-click", "the pivot becomes that point"},
};

}  // namespace

std::span<const KeyBinding> keyTable() {
    return kKeys;
}

std::span<const MouseBinding> mouseTable() {
    return kMouse;
}

const KeyBinding* findKey(int virtualKey) {
    for (const KeyBinding& k : kKeys) {
        if (virtualKey >= k.firstKey && virtualKey <= k.lastKey) {
            return &k;
        }
    }
    return nullptr;
}

std::int32_t dragModeFor(MouseButton button, bool shift, bool control) {
    for (const MouseBinding& m : kMouse) {
        if (m.button == button && m.shift == shift && m.control == control) {
            return m.mode;
        }
    }
    return MouseNone;
}

}  // namespace strata::app

namespace strata::app {

std::vector<std::string> AppView::HelpLines() const {
    // Neighbouring rows that do the same share a line.
    std::vector<std::string> lines;
    std::string_view last;
    const auto add = [&](std::string_view keys, std::string_view what) {
        if (!lines.empty() && what == last) {
            lines.back().insert(lines.back().find('\t'), ", " + std::string(keys));
            return;
        }
        lines.push_back(std::string(keys) + "\t" + std::string(what));
        last = what;
    };
    for (const MouseBinding& m : kMouse) {
        add(m.keys, m.what);
    }
    for (const KeyBinding& k : kKeys) {
        add(k.keys, k.what);
    }
    return lines;
}

}  // namespace strata::app
