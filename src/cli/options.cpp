#include "cli/options.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifndef TORVANE_VERSION
#define TORVANE_VERSION "unknown"
#endif

namespace torvane::cli {

namespace {

const OptionSpec* Find(std::span<const OptionSpec> specs, const std::string& name) {
  for (const auto& s : specs)
    if (name == s.name) return &s;
  return nullptr;
}

}  // namespace

bool ParseOptions(int argc, char** argv, std::span<const OptionSpec> specs, ParsedArgs& out, std::string& error) {
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      out.help = true;
      continue;
    }
    size_t eq = a.find('=');
    std::string name = a.substr(0, eq);
    const OptionSpec* spec = Find(specs, name);
    if (!spec) {
      error = "unknown option " + name;
      return false;
    }
    if (!spec->valueName) {
      if (eq != std::string::npos) {
        error = "option " + name + " takes no value";
        return false;
      }
      out.options.emplace_back(name, "");
      continue;
    }
    if (eq != std::string::npos) {
      out.options.emplace_back(name, a.substr(eq + 1));
    } else if (i + 1 < argc) {
      out.options.emplace_back(name, argv[++i]);
    } else {
      error = "option " + name + " needs a value (" + spec->valueName + ")";
      return false;
    }
  }
  return true;
}

std::string OptionsHelp(std::span<const OptionSpec> specs) {
  std::vector<std::string> heads;
  size_t width = 0;
  for (const auto& s : specs) {
    heads.push_back(std::string(s.name) + (s.valueName ? std::string(" ") + s.valueName : ""));
    width = std::max(width, heads.back().size());
  }
  std::string out;
  for (size_t i = 0; i < specs.size(); ++i)
    out += "  " + heads[i] + std::string(width - heads[i].size() + 2, ' ') + specs[i].help + "\n";
  out += "  --help" + std::string(width > 6 ? width - 6 + 2 : 2, ' ') + "show this help and exit\n";
  return out;
}

int UsageError(const char* command, const std::string& error) {
  std::fprintf(stderr, "torvane %s: %s\nTry \"torvane %s --help\".\n", command, error.c_str(), command);
  return 2;
}

const char* VersionText() { return "torvane " TORVANE_VERSION; }

}  // namespace torvane::cli
