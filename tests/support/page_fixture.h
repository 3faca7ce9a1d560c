// The page fixture of the component tests: one page over the in-memory host
// whose site root is a fresh temporary folder, with a registry of the test's
// own and the host settings restored afterwards.
//
//   class FileObject : public test::PageTest {};          // empty registry
//   class FileTest : public test::PageTest {               // a registry body
//     FileTest() : PageTest(kFileTypesReg) {}
//   };
//
// Paths: Native("a/b.txt") is the Linux path below the site root, Dos("a/b.txt")
// its DOS (physical) form as pages write it; Dos() is the site root itself,
// without a trailing separator. Trace logs: Traced(obj) gives any object with a
// TraceFile a log at trace.log below the site root and returns its native path;
// Lines(log) (or Lines() for trace.log) are its messages after the two lines
// every log starts with ("TraceLog Opened" and the SetTraceFile line).
//
// The page is current on the constructing thread from construction to
// destruction. Folders a test made read-only are made writable again at the
// end, so the site root is always removed.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/object.h"
#include "platform/settings.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"
#include "support/thrown_error.h"

namespace torvane {
class File;
}

namespace torvane::test {

// A registry body naming a few file types: .txt with its content type and
// description, .lnk with a class but no content type, .xyz with nothing.
inline const char* const kFileTypesReg =
    "[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n\"Content Type\"=\"text/plain\"\n\n"
    "[HKEY_CLASSES_ROOT\\txtfile]\n@=\"Text Document\"\n\n"
    "[HKEY_CLASSES_ROOT\\.lnk]\n@=\"lnkfile\"\n\n"
    "[HKEY_CLASSES_ROOT\\.xyz]\n\n";

class PageTest : public ::testing::Test {
 protected:
  // `registryBody`: the registry's lines after its header (see RegistryFixture).
  explicit PageTest(const std::string& registryBody = "");
  ~PageTest() override;

  // ---- paths below the site root -------------------------------------------
  std::string Native(std::string_view rel) const;
  std::string Dos(std::string_view rel = "") const;
  // Creates the folder and its parents.
  void MakeDir(std::string_view rel) const;
  // Writes the file, creating its folders.
  void Put(std::string_view rel, std::string_view content = "") const;

  // A File named (Name put) by the DOS path of `rel`.
  std::shared_ptr<File> FileAt(std::string_view rel) const;

  // ---- trace logs --------------------------------------------------------------
  // A File whose Name is `dosName` (put as a page puts it): a TraceFile value.
  static ObjectRef FileNamed(const std::string& dosName);
  // Gives `obj` (File, Directory, Archive, Post, Computer...) a trace log at
  // `log` below the site root; returns the log's native path.
  template <class T>
  std::string Traced(T& obj, std::string_view log = "trace.log") const {
    obj.SetTraceFile(Variant(FileNamed(Dos(log))));
    return Native(log);
  }
  // The log's messages after "TraceLog Opened" and the SetTraceFile line.
  static std::vector<std::string> Lines(const std::string& nativeLog);
  std::vector<std::string> Lines() const { return Lines(Native("trace.log")); }

  TempDir site;
  RegistryFixture registry;
  MemHost host{site.path()};

 private:
  Settings savedSettings_ = CurrentSettings();
  MemHost::Scope scope_{host};
};

}  // namespace torvane::test
