// Pieces every subcommand shares: numbers checked by the platform's parser before CLI11 converts
// them, the --allow-outside-paths flag, and the one line for memory that ran out.
#pragma once

#include <cstdint>
#include <string>

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace strata::tools {

// A transform for whole-number options: the text must be a decimal whole number in min..max
// (no octal, hex, spaces or trailing characters; overflow refused) and is handed on in plain
// decimal. Range messages of existing options stay with their own checks.
CLI::Validator wholeNumber(std::int64_t min, std::int64_t max);
// A transform for float options: a finite decimal number within the float range.
CLI::Validator finiteNumber();

// Adds --allow-outside-paths: files a model or list names may then lie outside its folder.
void addAllowOutsidePathsFlag(CLI::App& command);

// Prints "<tool>: out of memory: could not allocate N while ..." on stderr; returns 1.
int reportOutOfMemory(const std::string& tool);

}  // namespace strata::tools
