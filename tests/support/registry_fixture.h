// Points the registry stand-in at a temporary .reg file for one test and
// forgets the thread's cached path policy before and after.
#pragma once

#include <string>

#include "host/policy.h"
#include "platform/registry.h"
#include "support/memhost.h"

namespace torvane::test {

class RegistryFixture {
 public:
  // `body` holds lines after the header, e.g. "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brightmoor\\Torvane]\n\"AllowPaths\"=\"VirtualOnly\"\n".
  explicit RegistryFixture(const std::string& body = "") : previous_(RegistryFile()) {
    path_ = dir_ / "registry.reg";
    Write(body);
    SetRegistryFile(path_);
    ResetPathPolicy();
  }
  ~RegistryFixture() {
    SetRegistryFile(previous_);
    ResetPathPolicy();
  }
  void Write(const std::string& body) {
    WriteFile(path_, "Windows Registry Editor Version 5.00\r\n\r\n" + body);
    SetRegistryFile(path_);
  }
  // Sets the policy key's values (each "name", "value" pair).
  void SetPolicy(const std::string& name, const std::string& value) {
    Write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brightmoor\\Torvane]\n\"" + name + "\"=\"" + value + "\"\n");
  }
  const std::string& path() const { return path_; }

 private:
  std::string previous_;
  TempDir dir_;
  std::string path_;
};

}  // namespace torvane::test
