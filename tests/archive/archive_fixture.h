// Shared set-up of the archive tests: a page (MemHost) whose site root is a
// fresh folder, helpers to lay out files, run the real archive tools and
// catch automation errors.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "archive/archive.h"
#include "archive/archive_entries.h"
#include "archive/archive_entry.h"
#include "files/file.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"

namespace torvane::test {

// The error a call raises (number 0 and empty text when it raises none).
inline Error CatchError(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "");
}

// Runs a shell command; its exit status and what it printed (stdout and stderr).
struct ToolRun {
  int status = -1;
  std::string output;
};
inline ToolRun RunTool(const std::string& command) {
  ToolRun r;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}
inline bool HaveTool(const std::string& name) { return RunTool("command -v " + name).status == 0; }
inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Bytes of a file as a string ("" when missing).
inline std::string Content(const std::string& native) { return ReadFile(native); }

class ArchiveTest : public ::testing::Test {
 protected:
  TempDir site;
  RegistryFixture registry;
  MemHost host{site.path()};
  std::unique_ptr<MemHost::Scope> scope;
  Settings savedSettings;

  void SetUp() override {
    savedSettings = CurrentSettings();
    scope = std::make_unique<MemHost::Scope>(host);
  }
  void TearDown() override {
    scope.reset();
    SetSettings(savedSettings);
  }

  // Native and DOS (physical) forms of a path below the site root.
  std::string Native(const std::string& rel) const { return site / rel; }
  std::string Dos(const std::string& rel) const { return ToDosPath(site / rel); }

  // Writes a file below the site root, creating its folders.
  void Put(const std::string& rel, std::string_view content) const {
    std::filesystem::create_directories(std::filesystem::path(Native(rel)).parent_path());
    WriteFile(Native(rel), content);
  }

  std::shared_ptr<Archive> Make() const { return Archive::New(); }

  // An Archive tracing into `log` (below the site root).
  std::shared_ptr<Archive> Traced(const std::string& log) const {
    auto a = Archive::New();
    auto f = std::static_pointer_cast<File>(File::Create());
    f->SetName(Dos(log));
    a->SetTraceFile(Variant(ObjectRef(f)));
    return a;
  }

  // The paths listed by Entries, in order, folders marked with a trailing "/".
  static std::vector<std::string> Listing(Archive& a) {
    std::vector<std::string> out;
    auto entries = a.Entries();
    for (int32_t i = 1; i <= entries->Count(); ++i) {
      auto e = entries->Item(Variant(i)).as<ArchiveEntry>();
      out.push_back(e->Path() + (e->IsDirectory() ? "/" : ""));
    }
    return out;
  }

  static std::string Noise(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (auto& c : s) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x);
    }
    return s;
  }
};

}  // namespace torvane::test
