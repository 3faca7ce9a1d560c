// The torvane command: `torvane serve` (the web host) and `torvane run` (one
// page, one request, the raw HTTP response on standard output).
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage:\n"
      "  torvane serve [OPTIONS]            serve a site folder over HTTP\n"
      "  torvane run [OPTIONS] PATH[?QUERY] run one page once; the HTTP response goes to standard output\n"
      "  torvane doc [OPTIONS]              print the reference of every class, constant and error\n"
      "  torvane --version                  print the version\n"
      "  torvane --help                     print this help\n"
      "\n"
      "Without a command, torvane serves the bundled demo site on 127.0.0.1:8080.\n"
      "\"torvane serve --help\", \"torvane run --help\" and \"torvane doc --help\" list each command's options.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) return torvane::cli::ServeCommand(0, argv + 1);
  std::string first = argv[1];
  if (first == "run") return torvane::cli::RunCommand(argc - 2, argv + 2);
  if (first == "serve") return torvane::cli::ServeCommand(argc - 2, argv + 2);
  if (first == "doc") return torvane::cli::DocCommand(argc - 2, argv + 2);
  if (first == "--help" || first == "-h" || first == "help") {
    Usage(stdout);
    return 0;
  }
  if (first == "--version" || first == "-V" || first == "version") {
    std::printf("%s\n", torvane::cli::VersionText());
    return 0;
  }
  std::fprintf(stderr, "torvane: %s %s\nTry \"torvane --help\".\n",
               first.size() > 1 && first[0] == '-' ? "unknown option" : "unknown command", first.c_str());
  return 2;
}
