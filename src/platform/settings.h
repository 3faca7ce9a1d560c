// Process-wide host settings that the component reads. The host sets them once
// at start-up from its configuration; every value has a documented default.
#pragma once

#include <cstdint>
#include <string>

namespace torvane {

struct Settings {
  // Code page 0 of the upload engine: the host's default code page.
  int defaultCodePage = 65001;
  // PAM service used to authenticate impersonation.
  std::string pamService = "torvane";
  // Archive extraction bounds (the zip-bomb guard). One extraction (Archive.Extract)
  // writes at most min(archiveExtractMaxBytes, archiveExtractMaxRatio x the
  // archive's file size) bytes, and no entry may grow beyond the size its
  // archive records for it. Deflate cannot expand data more than about 1032:1,
  // so a genuine ZIP or GZIP stays under 1100:1; overlapping-entry bombs reach
  // ratios of many thousands. A value of 0 or less switches that bound off.
  int64_t archiveExtractMaxRatio = 1100;
  int64_t archiveExtractMaxBytes = int64_t{8} << 30;  // 8 GiB
  // Defaults of the request limits of every new Post (MaxFiles, MaxParts,
  // MaxFieldSize, MaxTotalFieldSize); a value below 1 means no limit.
  int32_t uploadMaxFiles = 1000;
  int32_t uploadMaxParts = 10000;
  int64_t uploadMaxFieldSize = int64_t{1} << 20;         // 1 MiB
  int64_t uploadMaxTotalFieldSize = int64_t{16} << 20;   // 16 MiB
};

const Settings& CurrentSettings();
void SetSettings(Settings s);

}  // namespace torvane
