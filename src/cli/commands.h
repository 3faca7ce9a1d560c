// The torvane command's subcommands.
#pragma once

namespace torvane::cli {

// torvane run [--root DIR] [--registry FILE] [--config FILE] [--method M]
//             [--header "Name: value"]... [--body FILE|-] PATH[?QUERY]
int RunCommand(int argc, char** argv);

// torvane serve [--root DIR] [--listen HOST:PORT] [--registry FILE] [--config FILE]
int ServeCommand(int argc, char** argv);

// torvane doc [--format md|html|html-fragment] [--out FILE]: the reference
// rendered from the member tables.
int DocCommand(int argc, char** argv);

}  // namespace torvane::cli
