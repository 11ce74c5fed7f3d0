#include "app/app_commands.h"

#include "app/app_view.h"

namespace strata::app {
namespace {

using K = CommandKind;
using C = CheckKind;

// Hands the false-colour switch, mode and size accuracy to the current LDI.
void handFalseColor(AppView& v) {
    if (v.ldi != nullptr) {
        v.ldi->options.useFalseColor = v.useFalseColor ? 1 : 0;
        v.ldi->options.falseColorMode = v.falseColorMode;
        v.ldi->options.sizeAccurate = v.sizeAccurate;
    }
}

void setFalseColorMode(AppView& v, std::int32_t mode) {
    v.falseColorMode = mode;
    // Accurate sizes go with mode 6 alone: no other choice keeps them from an earlier one.
    v.sizeAccurate = mode == 6 ? 1 : 0;
    handFalseColor(v);
}

void setBackground(AppView& v, std::uint32_t colour, bool horizon) {
    v.backgroundColor = colour;
    v.horizonBackground = horizon;
}

bool isBackground(const AppView& v, std::uint32_t colour, bool horizon) {
    return v.backgroundColor == colour && v.horizonBackground == horizon;
}

std::uint8_t byte(bool b) {
    return b ? 1 : 0;
}

// clang-format off
const CommandInfo kCommands[] = {
    {kIdSaveView, "&File", "Save View...", K::action, "", 0, false, false, C::none, false,
     [](AppView& v) { v.ChooseViewFile(kIdSaveView, true); }, nullptr},
    {kIdLoadView, "&File", "Load View...", K::action, "", 0, false, false, C::none, false,
     [](AppView& v) { v.ChooseViewFile(kIdLoadView, false); }, nullptr},

    {34000, "Options", "RESET", K::action, "", 0, true, false, C::none, false,
     [](AppView& v) { v.ResetView(v.clientWidth, v.clientHeight); }, nullptr},
    {34001, "Options", "Instrument", K::toggle, "instrument", 0, false, false, C::field, false,
     [](AppView& v) { v.instrument = !v.instrument; },
     [](const AppView& v) { return v.instrument; }},
    {34002, "Options", "Use Single Precision", K::toggle, "useSinglePrecision", 0, true, false, C::field, false,
     [](AppView& v) { v.useSinglePrecision = !v.useSinglePrecision; },
     [](const AppView& v) { return v.useSinglePrecision; }},
    {34003, "Options", "Use Trunc", K::toggle, "useTrunc", 0, true, false, C::field, false,
     [](AppView& v) { v.useTrunc = !v.useTrunc; },
     [](const AppView& v) { return v.useTrunc; }},
    {34004, "Options", "Threads: Automatic", K::assign, "drawThreads", 0, true, false, C::equals, false,
     [](AppView& v) { v.drawThreads = 0; },
     [](const AppView& v) { return v.drawThreads == 0; }},
    {34005, "Options", "Threads: 1", K::assign, "drawThreads", 1, true, false, C::equals, false,
     [](AppView& v) { v.drawThreads = 1; },
     [](const AppView& v) { return v.drawThreads == 1; }},
    {34006, "Options", "Threads: 2", K::assign, "drawThreads", 2, true, false, C::equals, false,
     [](AppView& v) { v.drawThreads = 2; },
     [](const AppView& v) { return v.drawThreads == 2; }},
    {34007, "Options", "Threads: 4", K::assign, "drawThreads", 4, true, false, C::equals, true,
     [](AppView& v) { v.drawThreads = 4; },
     [](const AppView& v) { return v.drawThreads == 4; }},
    {kIdRestoreDefaults, "Options", "Restore Default Settings", K::action, "", 0, true, false, C::none, false,
     [](AppView& v) { v.RestoreDefaultSettings(); }, nullptr},

    {35000, "Control", "Orbit Behind", K::assign, "orbitBehind", 1, false, false, C::equals, false,
     [](AppView& v) { v.orbitBehind = 1; },
     [](const AppView& v) { return v.orbitBehind == 1; }},
    {35001, "Control", "Orbit In Front", K::assign, "orbitBehind", 0, false, false, C::equals, false,
     [](AppView& v) { v.orbitBehind = 0; },
     [](const AppView& v) { return v.orbitBehind == 0; }},
    {35002, "Control", "Relative Mouse", K::assign, "relativeMouse", 1, false, false, C::equals, false,
     [](AppView& v) { v.relativeMouse = true; },
     [](const AppView& v) { return v.relativeMouse; }},
    {35003, "Control", "Constant Velocity Mouse", K::assign, "relativeMouse", 0, false, false, C::equals, false,
     [](AppView& v) { v.relativeMouse = false; },
     [](const AppView& v) { return !v.relativeMouse; }},
    {35004, "Control", "Restrict Movement", K::toggle, "restrictMovement", 0, false, false, C::field, false,
     [](AppView& v) { v.restrictMovement = !v.restrictMovement; },
     [](const AppView& v) { return v.restrictMovement; }},

    {37000, "LDIs", "Use False Color", K::toggle, "useFalseColor", 0, true, true, C::field, false,
     [](AppView& v) { v.useFalseColor = !v.useFalseColor; handFalseColor(v); },
     [](const AppView& v) { return v.useFalseColor; }},
    {37001, "False Color", "1 - Depth from Camera 1", K::assign, "falseColorMode", 1, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 1); },
     [](const AppView& v) { return v.falseColorMode == 1; }},
    {37002, "False Color", "2 - Depth from Camera 2", K::assign, "falseColorMode", 2, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 2); },
     [](const AppView& v) { return v.falseColorMode == 2; }},
    {37003, "False Color", "3 - Backface cull", K::assign, "falseColorMode", 3, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 3); },
     [](const AppView& v) { return v.falseColorMode == 3; }},
    {37004, "False Color", "4 - Normal", K::assign, "falseColorMode", 4, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 4); },
     [](const AppView& v) { return v.falseColorMode == 4; }},
    {37005, "False Color", "5 - Size - Approximate", K::assign, "falseColorMode", 5, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 5); },
     [](const AppView& v) { return v.falseColorMode == 5; }},
    {37006, "False Color", "6 - Size - Accurate", K::assign, "falseColorMode", 6, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 6); },
     [](const AppView& v) { return v.falseColorMode == 6; }},
    {37007, "False Color", "7 - Size - Anisotropic", K::assign, "falseColorMode", 7, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 7); },
     [](const AppView& v) { return v.falseColorMode == 7; }},
    {37008, "False Color", "8 - Layer", K::assign, "falseColorMode", 8, true, true, C::equals, false,
     [](AppView& v) { setFalseColorMode(v, 8); },
     [](const AppView& v) { return v.falseColorMode == 8; }},
    {37009, "False Color", "9 - Uncovered", K::assign, "falseColorMode", 9, true, true, C::equals, true,
     [](AppView& v) { setFalseColorMode(v, 9); },
     [](const AppView& v) { return v.falseColorMode == 9; }},
    {36000, "LDIs", "Use Splat", K::toggle, "useSplat", 0, true, false, C::field, false,
     [](AppView& v) { v.useSplat = !v.useSplat; },
     [](const AppView& v) { return v.useSplat; }},
    {36020, "LDIs", "High Quality Splats", K::toggle, "highQualitySplats", 0, true, false, C::field,
     false, [](AppView& v) { v.highQualitySplats = !v.highQualitySplats; },
     [](const AppView& v) { return v.highQualitySplats; }},
    {36001, "LDIs", "Use Depth Correction", K::toggle, "useDepthCorrection", 0, true, true, C::field, true,
     [](AppView& v) {
         v.useDepthCorrection = !v.useDepthCorrection;
         if (v.ldi != nullptr) v.ldi->options.useDepthCorrection = byte(v.useDepthCorrection);
     },
     [](const AppView& v) { return v.useDepthCorrection; }},
    {36002, "LDIs", "Backface Culling", K::toggle, "backfaceCulling", 0, true, true, C::field, false,
     [](AppView& v) {
         v.backfaceCulling = !v.backfaceCulling;
         if (v.ldi != nullptr) v.ldi->options.backfaceCulling = byte(v.backfaceCulling);
     },
     [](const AppView& v) { return v.backfaceCulling; }},
    {36003, "LDIs", "Scanline Culling", K::toggle, "scanlineCulling", 0, true, true, C::field, false,
     [](AppView& v) {
         v.scanlineCulling = !v.scanlineCulling;
         if (v.ldi != nullptr) v.ldi->options.scanlineCulling = byte(v.scanlineCulling);
     },
     [](const AppView& v) { return v.scanlineCulling; }},
    {36004, "LDIs", "Frustum Clipper", K::toggle, "frustumClipper", 0, true, true, C::field, true,
     [](AppView& v) {
         v.frustumClipper = !v.frustumClipper;
         if (v.ldi != nullptr) v.ldi->options.frustumClipper = byte(v.frustumClipper);
     },
     [](const AppView& v) { return v.frustumClipper; }},
    {36005, "LDIs", "Front Sement", K::toggle, "frontSegment", 0, true, false, C::field, false,
     [](AppView& v) { v.frontSegment = !v.frontSegment; },
     [](const AppView& v) { return v.frontSegment; }},
    {36006, "LDIs", "Back Segment", K::toggle, "backSegment", 0, true, false, C::field, true,
     [](AppView& v) { v.backSegment = !v.backSegment; },
     [](const AppView& v) { return v.backSegment; }},
    {36007, "LDIs", "Environment Map", K::toggle, "environmentMap", 0, true, false, C::field, false,
     [](AppView& v) { v.environmentMap = !v.environmentMap; },
     [](const AppView& v) { return v.environmentMap; }},
    {36008, "LDIs", "LDP", K::toggle, "useLdp", 0, true, false, C::field, false,
     [](AppView& v) { v.useLdp = !v.useLdp; },
     [](const AppView& v) { return v.useLdp; }},

    {39000, "Background", "Black", K::assign, "backgroundColor", 0x000000, true, false, C::equals, false,
     [](AppView& v) { setBackground(v, 0x000000u, false); },
     [](const AppView& v) { return isBackground(v, 0x000000u, false); }},
    {39001, "Background", "Grey", K::assign, "backgroundColor", 0xB2B2B2, true, false, C::equals, false,
     [](AppView& v) { setBackground(v, 0xB2B2B2u, false); },
     [](const AppView& v) { return isBackground(v, 0xB2B2B2u, false); }},
    {39002, "Background", "White", K::assign, "backgroundColor", 0xFFFFFF, true, false, C::equals, false,
     [](AppView& v) { setBackground(v, 0xFFFFFFu, false); },
     [](const AppView& v) { return isBackground(v, 0xFFFFFFu, false); }},
    {39003, "Background", "Blue", K::assign, "backgroundColor", 0x7F9FEF, true, false, C::equals, false,
     [](AppView& v) { setBackground(v, 0x7F9FEFu, false); },
     [](const AppView& v) { return isBackground(v, 0x7F9FEFu, false); }},
    {39004, "Background", "Horizon", K::assign, "backgroundColor", 0x7F9FEF, true, false, C::equals, false,
     [](AppView& v) { setBackground(v, 0x7F9FEFu, true); },
     [](const AppView& v) { return v.horizonBackground; }},
    {38000, "Stereo", "None", K::assign, "stereoMode", 0, true, false, C::equals, false,
     [](AppView& v) { v.stereoMode = 0; },
     [](const AppView& v) { return v.stereoMode == 0; }},
    {38002, "Stereo", "Color", K::assign, "stereoMode", 1, true, false, C::equals, false,
     [](AppView& v) { v.stereoMode = 1; },
     [](const AppView& v) { return v.stereoMode == 1; }},
    {38001, "Stereo", "Monochromatic", K::assign, "stereoMode", 2, true, false, C::equals, false,
     [](AppView& v) { v.stereoMode = 2; },
     [](const AppView& v) { return v.stereoMode == 2; }},

    {40000, "Bench", "Run test", K::action, "benchFlag", 0, false, true, C::none, false,
     [](AppView& v) { v.RunTest(); }, nullptr},
};
// clang-format on

}  // namespace

std::span<const CommandInfo> commandTable() {
    return kCommands;
}

const CommandInfo* findCommand(int id) {
    for (const CommandInfo& c : kCommands) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

// ---- AppView's side of the table ----------------------------------------------------------

void AppView::RestoreDefaultSettings() {
    // What a new view starts with, for every field a menu sets.
    const AppView d;
    instrument = d.instrument;
    useSinglePrecision = d.useSinglePrecision;
    useTrunc = d.useTrunc;
    drawThreads = d.drawThreads;
    orbitBehind = d.orbitBehind;
    relativeMouse = d.relativeMouse;
    restrictMovement = d.restrictMovement;
    useFalseColor = d.useFalseColor;
    falseColorMode = d.falseColorMode;
    sizeAccurate = d.sizeAccurate;
    useSplat = d.useSplat;
    highQualitySplats = d.highQualitySplats;
    useDepthCorrection = d.useDepthCorrection;
    backfaceCulling = d.backfaceCulling;
    scanlineCulling = d.scanlineCulling;
    frustumClipper = d.frustumClipper;
    frontSegment = d.frontSegment;
    backSegment = d.backSegment;
    environmentMap = d.environmentMap;
    useLdp = d.useLdp;
    backgroundColor = d.backgroundColor;
    horizonBackground = d.horizonBackground;
    groundColor = d.groundColor;
    stereoMode = d.stereoMode;
    benchFlag = d.benchFlag;
    HandSettingsToLdi();
    if (ldi != nullptr) {
        ldi->options.frustumClipper = frustumClipper ? 1 : 0;
    }
    needsRedraw = true;
}

void AppView::OnCommand(int id) {
    const CommandInfo* command = findCommand(id);
    if (command == nullptr) {
        return;
    }
    command->apply(*this);
    if (command->redraw) {
        needsRedraw = true;
    }
}

bool AppView::IsChecked(int id) const {
    const CommandInfo* command = findCommand(id);
    return command != nullptr && command->checked != nullptr && command->checked(*this);
}

}  // namespace strata::app
