// AppleDouble companions: how a Macintosh file's Finder data and resource fork
// travel on a file system that has no forks. The companion of "name" is
// "._name" in the same folder (the form macOS itself writes on foreign
// volumes): a header (magic 0x00051607, version 2), then the Finder info
// (entry 9, 32 bytes) and the resource fork (entry 2).
#pragma once

#include <string>

#include "archive/engine_format.h"

namespace torvane::engine {

Bytes EncodeAppleDouble(const MacForks& forks);
// False when `data` is not an AppleDouble file.
bool DecodeAppleDouble(const Bytes& data, MacForks& forks);
// "dir/name" -> "dir/._name".
std::string AppleDoubleName(const std::string& path);
// True when the forks carry anything worth keeping.
bool HasForkData(const MacForks& forks);

}  // namespace torvane::engine
