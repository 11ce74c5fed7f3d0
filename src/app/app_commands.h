// The menu commands of the viewer in one table: id, menu, text, kind and field. OnCommand and
// IsChecked run from it, and the shell builds its menus from it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace strata::app {

class AppView;

enum class CommandKind {
    action,  // runs an operation (RESET, Run test)
    toggle,  // the field becomes its negation
    assign,  // the field takes a constant
};

// What the check mark shows.
enum class CheckKind {
    none,
    field,   // the field's value
    equals,  // the field equals the command's constant; the commands of one menu that set
             // the same field form a radio group
};

struct CommandInfo {
    int id = 0;
    std::string_view menu;  // "Options", "Control", "LDIs", "False Color", "Background", ...
    std::string_view text;  // the menu text as shown
    CommandKind kind = CommandKind::action;
    std::string_view field;  // the AppView field the command changes ("" for none)
    std::int32_t value = 0;  // the constant of assign commands
    bool redraw = true;      // sets needsRedraw
    bool handToLdi = false;  // hands the new value to the current LDI
    CheckKind check = CheckKind::none;
    bool separatorAfter = false;
    void (*apply)(AppView& view) = nullptr;
    bool (*checked)(const AppView& view) = nullptr;
};

// Every command in menu order.
std::span<const CommandInfo> commandTable();
// The row of id, or null.
const CommandInfo* findCommand(int id);

inline constexpr int kIdReset = 34000;
inline constexpr int kIdRunTest = 40000;
inline constexpr int kIdRestoreDefaults = 34010;
// The shell's own commands.
inline constexpr int kIdFileExit = 57665;
inline constexpr int kIdHelpAbout = 57664;
// The view-file commands of the File menu; the shell supplies the file (AppView::onChooseFile).
inline constexpr int kIdSaveView = 57620;
inline constexpr int kIdLoadView = 57621;

// The top-level menus in order ("&File" and "&Help" hold the shell's own commands).
inline constexpr std::string_view kTopMenus[] = {"&File", "Options", "Control", "LDIs",
                                                 "View",  "Bench",   "&Help"};

// The submenus of the command table and the menu each opens from. A submenu stands in its parent
// where its first command falls in table order.
struct SubmenuInfo {
    std::string_view name;
    std::string_view parent;
};
inline constexpr SubmenuInfo kSubmenus[] = {
    {"False Color", "LDIs"}, {"Background", "View"}, {"Stereo", "View"}};

// The About box: caption and help text.
inline constexpr std::string_view kAboutCaption = "About StrataViewer";
inline constexpr std::string_view kAboutVersion = "StrataViewer Version 1.0";
inline constexpr std::string_view kHelpText =
    "Left Mouse -- pan\nShift-Left Mouse -- orbit\nRight Mouse -- translate\nShift-Right Mouse "
    "-- dolly\nControl-Right Mouse -- Zoom\nOptions - RESET starts over\nFalse Color 8 - Layer: "
    "front red, 2nd green, 3rd blue, 4th yellow, 5th cyan, 6th orange, 7th purple, farther "
    "white\nFalse Color 9 - Uncovered: pixels no sample reached in magenta\nHigh Quality Splats "
    "is on by default: each surface hides what lies behind it. Off, the LDIs draw the basic "
    "blended splats, which show hidden surfaces through nearer ones";

}  // namespace strata::app
