#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/commands.h"

namespace strata::tools {

void addRenderCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand("render", "(not built yet)");
    command->callback([&status] {
        std::fputs("strata render: not available in this build\n", stderr);
        status = 2;
    });
}

}  // namespace strata::tools
