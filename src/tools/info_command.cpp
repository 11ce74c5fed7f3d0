#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/commands.h"

namespace strata::tools {

void addInfoCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand("info", "(not built yet)");
    command->callback([&status] {
        std::fputs("strata info: not available in this build\n", stderr);
        status = 2;
    });
}

}  // namespace strata::tools
