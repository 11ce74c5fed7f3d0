// strata: the command line over the core library (make, trace, render, info, bench, export).
#include <CLI/CLI.hpp>
#include <new>

#include "tools/checked_options.h"
#include "tools/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"strata: make, trace, render, inspect and export layered depth images (LDIs)"};
    app.require_subcommand(0, 1);
    int status = 0;
    strata::tools::addMakeCommand(app, status);
    strata::tools::addTraceCommand(app, status);
    strata::tools::addRenderCommand(app, status);
    strata::tools::addInfoCommand(app, status);
    strata::tools::addBenchCommand(app, status);
    strata::tools::addExportCommand(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    } catch (const std::bad_alloc&) {
        // Memory ran out in a command: one line, and the saves it had begun were undone as the
        // stack unwound (temporaries removed, targets untouched).
        const auto commands = app.get_subcommands();
        return strata::tools::reportOutOfMemory(
            commands.empty() ? std::string("strata") : "strata " + commands.front()->get_name());
    }
    if (app.get_subcommands().empty()) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    }
    return status;
}
