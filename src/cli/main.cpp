// The torvane command: `torvane serve` (the web host) and `torvane run` (one
// page, one request, the raw HTTP response on standard output).
#include <cstdio>
#include <cstring>

#include "cli/commands.h"

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage:\n"
      "  torvane serve [--root DIR] [--listen HOST:PORT] [--registry FILE] [--config FILE]\n"
      "  torvane run [--root DIR] [--registry FILE] [--config FILE] [--method M]\n"
      "              [--header \"Name: value\"]... [--body FILE|-] PATH[?QUERY]\n"
      "\n"
      "serve: serves DIR (default: the bundled demo site) on HOST:PORT (default 127.0.0.1:8080).\n"
      "run:   runs the page at PATH once and writes the complete HTTP response to standard output.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return torvane::cli::RunCommand(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) return torvane::cli::ServeCommand(argc - 2, argv + 2);
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                    std::strcmp(argv[1], "help") == 0)) {
    Usage(stdout);
    return 0;
  }
  if (argc == 1) return torvane::cli::ServeCommand(0, argv + 1);
  Usage(stderr);
  return 2;
}
