#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/commands.h"

namespace strata::tools {

void addBenchCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand("bench", "(not built yet)");
    command->callback([&status] {
        std::fputs("strata bench: not available in this build\n", stderr);
        status = 2;
    });
}

}  // namespace strata::tools
