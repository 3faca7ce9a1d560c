// Shared set-up of the File tests: a temporary site root served by the
// in-memory host, a registry with a few file types, and helpers to name files
// by DOS path and to read a File's trace log.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "files/file.h"
#include "platform/paths.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"

namespace torvane::test {

inline const char* kFileTypesReg =
    "[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n\"Content Type\"=\"text/plain\"\n\n"
    "[HKEY_CLASSES_ROOT\\txtfile]\n@=\"Text Document\"\n\n"
    "[HKEY_CLASSES_ROOT\\.lnk]\n@=\"lnkfile\"\n\n"
    "[HKEY_CLASSES_ROOT\\.xyz]\n\n";

class FileTest : public ::testing::Test {
 protected:
  FileTest() : registry_(kFileTypesReg), host_(dir_.path()), scope_(host_) {}

  // The DOS-form physical path of a name inside the temporary folder.
  std::string Dos(std::string_view name) const { return ToDosPath(dir_ / name); }
  std::string Native(std::string_view name) const { return dir_ / name; }

  std::shared_ptr<File> NewFile() { return File::New(); }
  // A File named (through Name put) by the DOS path of `name`.
  std::shared_ptr<File> Named(std::string_view name) {
    auto f = File::New();
    f->SetName(Dos(name));
    return f;
  }
  // A File that traces into its own log; returns the log's native path.
  std::string Traced(File& f, std::string_view logName = "trace.log") {
    auto log = File::New();
    log->SetName(Dos(logName));
    Variant v{ObjectRef(log)};
    f.SetTraceFile(v);
    return Native(logName);
  }
  // The messages of a log after "TraceLog Opened" and the SetTraceFile line.
  std::vector<std::string> Lines(const std::string& log) const {
    auto all = TraceMessages(log);
    if (all.size() >= 2) all.erase(all.begin(), all.begin() + 2);
    return all;
  }

  TempDir dir_;
  RegistryFixture registry_;
  MemHost host_;
  MemHost::Scope scope_;
};

// The error thrown by `fn`; fails the test when nothing is thrown.
template <class Fn>
Error Caught(Fn&& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error thrown";
  return Error(0, "");
}

}  // namespace torvane::test
