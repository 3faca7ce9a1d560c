// Command-line options of the torvane subcommands: one table per command,
// "--name value" and "--name=value" alike, one wording for every mistake.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace torvane::cli {

struct OptionSpec {
  const char* name;       // "--root"
  const char* valueName;  // "DIR"; nullptr for an option without a value
  const char* help;       // one line for --help
};

struct ParsedArgs {
  std::vector<std::pair<std::string, std::string>> options;  // in command-line order
  std::vector<std::string> positional;
  bool help = false;  // --help or -h was given
};

// Parses `argv` against `specs`. "--" ends the options; "-" alone is a
// positional argument. False with `error` set on an unknown option, a missing
// value, or a value given to an option that takes none.
bool ParseOptions(int argc, char** argv, std::span<const OptionSpec> specs, ParsedArgs& out, std::string& error);

// The options part of a --help text: one aligned line per option.
std::string OptionsHelp(std::span<const OptionSpec> specs);

// Prints "torvane COMMAND: ERROR" and the hint to --help on standard error;
// returns 2, the exit status of a usage error.
int UsageError(const char* command, const std::string& error);

// The version of this build ("torvane 1.2.3").
const char* VersionText();

}  // namespace torvane::cli
