// A page over the in-memory host whose site root is a fresh temporary folder,
// with an empty registry, plus helpers for Directory tests: DOS paths of native
// ones, a trace log, error capture.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dirs/directory.h"
#include "files/file.h"
#include "platform/paths.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"

namespace torvane::test {

inline Error CaptureError(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

class DirFixture : public ::testing::Test {
 protected:
  RegistryFixture registry;
  TempDir site;  // the site root; physical work folders live below it too
  MemHost host{site.path()};
  std::unique_ptr<MemHost::Scope> scope;

  void SetUp() override { scope = std::make_unique<MemHost::Scope>(host); }
  void TearDown() override {
    std::error_code ec;
    for (auto& p : std::filesystem::recursive_directory_iterator(site.path(), ec))
      ::chmod(p.path().c_str(), 0755);  // let TempDir remove read-only folders
    scope.reset();
  }

  // Native path below the site root.
  std::string Native(const std::string& rel) const { return site / rel; }
  // DOS form of a path below the site root (C:\tmp\torvane-test-...\rel).
  std::string Dos(const std::string& rel = "") const {
    return ToDosPath(rel.empty() ? site.path() : site / rel);
  }
  void MakeDir(const std::string& rel) const { std::filesystem::create_directories(Native(rel)); }
  void Write(const std::string& rel, const std::string& content = "") const { WriteFile(Native(rel), content); }

  // A File named `name` (through its public Name put) to use as a TraceFile.
  static ObjectRef FileNamed(const std::string& name) {
    ObjectRef f = File::Create();
    Args a{Variant(name)};
    f->Invoke("Name", CallKind::Let, a);
    return f;
  }
  // Gives `dir` a trace log at trace.log below the site root.
  void Trace(Directory& dir) { dir.SetTraceFile(Variant(FileNamed(Dos("trace.log")))); }
  // The log's messages after "TraceLog Opened" and the SetTraceFile line.
  std::vector<std::string> Log() const {
    auto all = TraceMessages(Native("trace.log"));
    if (all.size() >= 2) all.erase(all.begin(), all.begin() + 2);
    return all;
  }
  static bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
      if (l == line) return true;
    return false;
  }
};

}  // namespace torvane::test
