// The format modules the registration table (engine_formats.cpp) lists, one
// per file, and the archive type codes they implement.
#pragma once

#include "archive/engine_format.h"

namespace torvane::engine {

constexpr int32_t kTypeZip = 0;
constexpr int32_t kTypeGzip = 10;
constexpr int32_t kTypeMacBinary = 12;
constexpr int32_t kTypeMime = 13;
constexpr int32_t kTypeStuffIt = 20;
constexpr int32_t kTypeTar = 21;

const FormatModule& ZipFormat();
const FormatModule& GzipFormat();
const FormatModule& TarFormat();
const FormatModule& MacBinaryFormat();
const FormatModule& MimeFormat();
const FormatModule& StuffItFormat();

}  // namespace torvane::engine
