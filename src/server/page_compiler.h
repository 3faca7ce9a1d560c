// The page compiler: an .asp file to one JavaScript program for the engine.
//
// Text outside <% %> becomes __torvane_write("...") calls; <%= expr %> becomes
// __torvane_write(expr); <% code %> is copied as it is; <%@ ... %> directives are
// ignored. <!-- #include file="..." --> (relative to the including file) and
// <!-- #include virtual="..." --> (from the site root, or from the page's folder
// when relative) are expanded first, as text, before blocks are recognised.
// Every line of the program remembers the file and line it came from, so an
// error names the page line a person sees in the editor.
//
// PageCache keeps compiled pages until any of their files changes (size or
// modification time), and is safe to use from all worker threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::server {

struct SourceLine {
  std::string file;  // virtual path of the page or included file
  int line = 0;      // 1-based line in that file
};

struct FileStamp {
  std::string nativePath;
  int64_t size = -1;
  int64_t mtimeNs = -1;
};

struct CompiledPage {
  std::string virtualPath;          // the page itself ("/sub/page.asp")
  std::string script;               // the JavaScript program
  std::vector<SourceLine> lines;    // lines[i]: origin of program line i + 1
  std::vector<FileStamp> files;     // the page and every included file

  // The origin of program line `jsLine` (1-based); the page's first line when out of range.
  SourceLine Origin(int jsLine) const;

  // The program as the page engine compiled it (bytecode), kept with the page
  // so that every worker loads it instead of compiling the text again. Null
  // until an engine compiled the page without an error; set once.
  std::shared_ptr<const std::string> Bytecode() const;
  void SetBytecode(std::string code) const;

 private:
  mutable std::mutex bytecodeLock_;
  mutable std::shared_ptr<const std::string> bytecode_;
};

// A page that cannot be compiled (missing include, include cycle, unterminated
// block): the message names the file and line.
struct CompileError {
  std::string message;
  SourceLine where;
};

// Compiles the page at `virtualPath` under `siteRoot` (a Linux directory).
// Throws CompileError.
std::shared_ptr<const CompiledPage> CompilePage(const std::string& siteRoot, const std::string& virtualPath);

// Compiles page text given directly (tests, and the runner's error paths):
// includes are resolved under siteRoot relative to virtualPath's folder.
std::shared_ptr<const CompiledPage> CompilePageText(const std::string& siteRoot, const std::string& virtualPath,
                                                    std::string_view text);

// The current stamp of a file (size -1 when it cannot be read).
FileStamp StampOf(const std::string& nativePath);

class PageCache {
 public:
  // The compiled page, from the cache when none of its files changed.
  // Throws CompileError.
  std::shared_ptr<const CompiledPage> Get(const std::string& siteRoot, const std::string& virtualPath);

 private:
  std::shared_mutex mutex_;
  std::map<std::string, std::shared_ptr<const CompiledPage>> pages_;
};

}  // namespace torvane::server
