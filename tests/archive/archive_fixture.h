// Shared set-up of the archive tests: the page fixture (see
// support/page_fixture.h) plus helpers to run the real archive tools, craft
// hostile archives and read an Archive's listing.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/archive.h"
#include "archive/archive_entries.h"
#include "archive/archive_entry.h"
#include "files/file.h"
#include "platform/paths.h"
#include "support/page_fixture.h"

namespace torvane::test {

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

// An entry written as it is, however hostile (crafted with libarchive itself).
struct RawEntry {
  std::string name;
  unsigned type = AE_IFREG;
  std::string data;
  std::string link;  // symlink target, or hard link target when `hard`
  bool hard = false;
};

inline void WriteRaw(const std::string& native, const std::vector<RawEntry>& entries, bool zip) {
  struct archive* a = archive_write_new();
  if (zip) archive_write_set_format_zip(a);
  else archive_write_set_format_pax_restricted(a);
  ASSERT_EQ(archive_write_open_filename(a, native.c_str()), ARCHIVE_OK);
  for (const auto& r : entries) {
    struct archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, r.name.c_str());
    archive_entry_set_filetype(e, r.type);
    archive_entry_set_perm(e, r.type == AE_IFDIR ? 0755 : 0644);
    archive_entry_set_size(e, static_cast<la_int64_t>(r.data.size()));
    if (r.type == AE_IFLNK) archive_entry_set_symlink(e, r.link.c_str());
    if (r.hard) archive_entry_set_hardlink(e, r.link.c_str());
    ASSERT_GE(archive_write_header(a, e), ARCHIVE_WARN) << archive_error_string(a);
    if (!r.data.empty()) archive_write_data(a, r.data.data(), r.data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
}

class ArchiveTest : public PageTest {
 protected:
  // Every path below `native` (relative), sorted.
  static std::vector<std::string> Tree(const std::string& native) {
    std::vector<std::string> out;
    if (!std::filesystem::exists(native)) return out;
    for (const auto& p : std::filesystem::recursive_directory_iterator(native))
      out.push_back(p.path().lexically_relative(native).string());
    std::sort(out.begin(), out.end());
    return out;
  }

  std::shared_ptr<Archive> Make() const { return Archive::New(); }

  // An Archive tracing into `log` (below the site root).
  std::shared_ptr<Archive> TracedArchive(std::string_view log) const {
    auto a = Archive::New();
    Traced(*a, log);
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
