#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/commands.h"

namespace strata::tools {

void addTraceCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand("trace", "(not built yet)");
    command->callback([&status] {
        std::fputs("strata trace: not available in this build\n", stderr);
        status = 2;
    });
}

}  // namespace strata::tools
