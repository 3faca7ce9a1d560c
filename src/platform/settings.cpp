#include "platform/settings.h"

namespace torvane {

namespace {
Settings& Store() {
  static Settings s;
  return s;
}
}  // namespace

const Settings& CurrentSettings() { return Store(); }
void SetSettings(Settings s) { Store() = std::move(s); }

}  // namespace torvane
