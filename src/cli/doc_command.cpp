// torvane doc: the reference of every class, constant and error, rendered
// from the member tables, on standard output or into a file.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "basics/fdio.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "server/reference.h"

namespace torvane::cli {

namespace {

constexpr OptionSpec kDocOptions[] = {
    {"--format", "md|html|html-fragment", "Markdown (default), a standalone HTML page, or the HTML body alone"},
    {"--out", "FILE", "write to FILE (replaced whole, only once the rendering is complete) instead of standard output"},
};

void DocHelp() {
  std::printf(
      "usage: torvane doc [OPTIONS]\n"
      "\n"
      "Prints the reference of every class a page can create or reach (each member in\n"
      "slot order with its kind, parameters, result and description), every public\n"
      "constant and every error number, rendered from the member tables in the code.\n"
      "docs/reference.md is this output (\"make reference\" regenerates it).\n"
      "\n"
      "options (--name value or --name=value):\n%s",
      OptionsHelp(kDocOptions).c_str());
}

// Writes `text` to `path` through a temporary file beside it, so that a
// failure leaves any earlier file as it was. False with `error` set.
bool WriteWhole(const std::string& path, const std::string& text, std::string& error) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int saved = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    std::remove(tmp.c_str());
    error = path + ": " + std::strerror(saved);
  }
  return ok;
}

}  // namespace

int DocCommand(int argc, char** argv) {
  ParsedArgs args;
  std::string error;
  if (!ParseOptions(argc, argv, kDocOptions, args, error)) return UsageError("doc", error);
  if (args.help) {
    DocHelp();
    return 0;
  }
  if (!args.positional.empty()) return UsageError("doc", "unexpected argument \"" + args.positional.front() + "\"");
  server::ReferenceFormat format = server::ReferenceFormat::Markdown;
  std::string out;
  for (const auto& [name, value] : args.options) {
    if (name == "--out") {
      if (value.empty()) return UsageError("doc", "--out needs a file name");
      out = value;
    } else if (name == "--format") {
      if (value == "md" || value == "markdown")
        format = server::ReferenceFormat::Markdown;
      else if (value == "html")
        format = server::ReferenceFormat::Html;
      else if (value == "html-fragment")
        format = server::ReferenceFormat::HtmlFragment;
      else
        return UsageError("doc", "--format must be md, html or html-fragment, not \"" + value + "\"");
    }
  }
  std::string text = server::RenderReference(format);
  if (out.empty()) {
    if (!WriteAll(STDOUT_FILENO, text.data(), text.size())) {
      std::fprintf(stderr, "torvane doc: writing standard output: %s\n", std::strerror(errno));
      return 1;
    }
    return 0;
  }
  if (!WriteWhole(out, text, error)) {
    std::fprintf(stderr, "torvane doc: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace torvane::cli
