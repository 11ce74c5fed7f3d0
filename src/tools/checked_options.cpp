#include "tools/checked_options.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "platform/allocation_report.h"
#include "platform/folder_fence.h"
#include "platform/number_parse.h"

namespace strata::tools {

CLI::Validator wholeNumber(std::int64_t min, std::int64_t max) {
    return CLI::Validator(
        [min, max](std::string& text) {
            std::int64_t value = 0;
            if (!platform::parseWholeNumber(text, min, max, value)) {
                return "wants a whole number " + std::to_string(min) + ".." + std::to_string(max) +
                       ", not \"" + text + "\"";
            }
            text = std::to_string(value);
            return std::string();
        },
        "INT");
}

CLI::Validator finiteNumber() {
    return CLI::Validator(
        [](std::string& text) {
            float value = 0.0f;
            if (!platform::parseFiniteFloat(text, value)) {
                return "wants a finite number, not \"" + text + "\"";
            }
            return std::string();
        },
        "NUMBER");
}

void addAllowOutsidePathsFlag(CLI::App& command) {
    command.add_flag_callback(
        "--allow-outside-paths", [] { platform::setOutsidePathsAllowed(true); },
        "also read files a model or list names outside its own folder (by default only files in "
        "that folder and its subfolders are read)");
}

int reportOutOfMemory(const std::string& tool) {
    std::fprintf(stderr, "%s: %s\n", tool.c_str(), platform::outOfMemoryMessage().c_str());
    return 1;
}

}  // namespace strata::tools
