// Process-wide host settings that the component reads. The host sets them once
// at start-up from its configuration; every value has a documented default.
#pragma once

#include <string>

namespace torvane {

struct Settings {
  // Code page 0 of the upload engine: the host's default code page.
  int defaultCodePage = 65001;
  // PAM service used to authenticate impersonation.
  std::string pamService = "torvane";
};

const Settings& CurrentSettings();
void SetSettings(Settings s);

}  // namespace torvane
