// The page compiler over any page text, with includes that exist, that are
// missing, that include each other, and that try to leave the site. A page
// either compiles (and every program line knows the page line it came from)
// or fails with a CompileError naming a file and line.
#include <cstdint>
#include <fstream>

#include "fuzz_common.h"
#include "server/page_compiler.h"

using namespace torvane;

namespace {

const std::string& Site() {
  static const std::string root = [] {
    auto dir = fuzz::Scratch() / "pages";
    std::filesystem::create_directories(dir / "lib");
    std::ofstream(dir / "lib" / "a.inc") << "<% var a = 1; %>A<!-- #include file=\"b.inc\" -->\n";
    std::ofstream(dir / "lib" / "b.inc") << "B<%= 2 %>\nline two\n";
    std::ofstream(dir / "lib" / "loop.inc") << "<!-- #include file=\"loop.inc\" -->";
    std::ofstream(dir / "top.inc") << "<% if (x) { %>T<% } %>";
    return std::filesystem::canonical(dir).string();
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    auto page = server::CompilePageText(Site(), "/dir/page.asp", text);
    size_t programLines = 1;
    for (char c : page->script) programLines += c == '\n';
    for (size_t line = 1; line <= programLines; ++line) {
      server::SourceLine origin = page->Origin(static_cast<int>(line));
      if (origin.file.empty() || origin.line < 1) fuzz::Fail("a program line has no origin");
    }
    for (const auto& f : page->files)
      if (f.nativePath.compare(0, Site().size(), Site()) != 0) fuzz::Fail("an include outside the site was read");
  } catch (const server::CompileError& e) {
    if (e.message.empty()) fuzz::Fail("a compile error without a message");
  }
  return 0;
}
