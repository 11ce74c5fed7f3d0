// A command's option table run outside the program: on an argument list, or to list its flags.
// The library's jobs parse through it, so they take exactly what the command takes.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "tools/camera_options.h"

namespace strata::tools {

// What adds a command's options (filling Args) to its CLI::App.
template <typename Args>
using AddOptions = void (*)(CLI::App*, const std::shared_ptr<Args>&);

// Parses the arguments with the command's options into fresh Args, then runs
// finish(command, args) for what the command's callback reads from the parser. Null with the
// parser's message.
template <typename Args, typename Finish>
std::shared_ptr<Args> parseCommand(AddOptions<Args> add, const std::vector<std::string>& arguments,
                                   std::string& error, Finish&& finish) {
    auto args = std::make_shared<Args>();
    CLI::App command;
    add(&command, args);
    if (!parseArguments(command, arguments, error)) {
        return nullptr;
    }
    finish(command, *args);
    return args;
}

// Every long flag name of the command.
template <typename Args>
std::vector<std::string> commandFlagNames(AddOptions<Args> add) {
    CLI::App command;
    add(&command, std::make_shared<Args>());
    return longFlagNames(command, false);
}

}  // namespace strata::tools
