// The subcommands of the `strata` command line. Each adds itself to the application; when it
// runs it stores its exit status in `status` (0 success, 1 refused or failed, 2 usage error).
#pragma once

namespace CLI {
class App;
}

namespace strata::tools {

void addInfoCommand(CLI::App& app, int& status);
void addMakeCommand(CLI::App& app, int& status);
void addTraceCommand(CLI::App& app, int& status);
void addRenderCommand(CLI::App& app, int& status);
void addBenchCommand(CLI::App& app, int& status);
void addExportCommand(CLI::App& app, int& status);

}  // namespace strata::tools
