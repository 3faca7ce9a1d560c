#include "server/page_compiler.h"

#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <mutex>
#include <sstream>

#include "host/mappath.h"

namespace torvane::server {

namespace {

constexpr int kMaxIncludeDepth = 16;

// The page text after include expansion, with the origin of each of its lines.
struct Expanded {
  std::string text;
  std::vector<SourceLine> lines;  // lines[i]: origin of line i (0-based)
  std::vector<FileStamp> files;
};

bool ReadWhole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return false;
  out = ss.str();
  return true;
}

// The virtual folder of a virtual path: "/a/b.asp" -> "/a/".
std::string FolderOf(const std::string& virtualPath) {
  size_t slash = virtualPath.find_last_of("/\\");
  return slash == std::string::npos ? "/" : virtualPath.substr(0, slash + 1);
}

// Normalises a virtual path (resolving "." and ".."); "" when it leaves the root.
std::string NormaliseVirtual(const std::string& path) { return NormaliseVirtualPath(path); }

bool StartsWithNoCase(std::string_view s, size_t pos, std::string_view word) {
  if (pos + word.size() > s.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[pos + i])) != word[i]) return false;
  return true;
}

// One include directive found in the text.
struct Directive {
  size_t begin = 0, end = 0;  // [begin, end) of "<!-- ... -->"
  bool isVirtual = false;
  std::string path;
};

// Parses an include directive starting at `pos` ("<!--"); false when the
// comment is something else.
bool ParseDirective(std::string_view s, size_t pos, Directive& d) {
  size_t i = pos + 4;
  auto skipSpace = [&]() {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  };
  skipSpace();
  if (!StartsWithNoCase(s, i, "#include")) return false;
  i += 8;
  skipSpace();
  if (StartsWithNoCase(s, i, "file")) {
    d.isVirtual = false;
    i += 4;
  } else if (StartsWithNoCase(s, i, "virtual")) {
    d.isVirtual = true;
    i += 7;
  } else {
    return false;
  }
  skipSpace();
  if (i >= s.size() || s[i] != '=') return false;
  ++i;
  skipSpace();
  if (i >= s.size() || (s[i] != '"' && s[i] != '\'')) return false;
  char quote = s[i++];
  size_t close = s.find(quote, i);
  if (close == std::string_view::npos) return false;
  d.path = std::string(s.substr(i, close - i));
  i = close + 1;
  skipSpace();
  if (s.substr(i, 3) != "-->") return false;
  d.begin = pos;
  d.end = i + 3;
  return true;
}

class Expander {
 public:
  Expander(const std::string& siteRoot, Expanded& out) : root_(siteRoot), out_(out) {}

  void File(const std::string& virtualPath, std::string_view text, int depth) {
    if (out_.lines.empty()) out_.lines.push_back({virtualPath, 1});
    int line = 1;
    size_t pos = 0;
    while (true) {
      size_t found = text.find("<!--", pos);
      Directive d;
      while (found != std::string_view::npos && !ParseDirective(text, found, d)) found = text.find("<!--", found + 4);
      if (found == std::string_view::npos) {
        Append(text.substr(pos), virtualPath, line);
        return;
      }
      Append(text.substr(pos, d.begin - pos), virtualPath, line);
      SourceLine where{virtualPath, line};
      for (size_t k = d.begin; k < d.end; ++k)
        if (text[k] == '\n') ++line;
      Include(virtualPath, d, where, depth);
      pos = d.end;
    }
  }

 private:
  void Append(std::string_view chunk, const std::string& file, int& line) {
    for (char c : chunk) {
      out_.text += c;
      if (c == '\n') out_.lines.push_back({file, ++line});
    }
  }

  void Include(const std::string& includer, const Directive& d, const SourceLine& where, int depth) {
    if (depth >= kMaxIncludeDepth)
      throw CompileError{"includes nested deeper than " + std::to_string(kMaxIncludeDepth) + " levels (a cycle?)", where};
    std::string target = d.path;
    if (d.isVirtual) {
      if (target.empty() || (target[0] != '/' && target[0] != '\\')) target = FolderOf(includer) + target;
    } else {
      target = FolderOf(includer) + target;
    }
    std::string virt = NormaliseVirtual(target);
    std::string native = virt.empty() ? "" : VirtualToNative(root_, virt);
    if (native.empty()) throw CompileError{"include path leaves the site: " + d.path, where};
    FileStamp stamp = StampOf(native);  // before reading: a change while reading shows next time
    std::string text;
    if (!ReadWhole(native, text)) throw CompileError{"cannot read include file " + virt, where};
    out_.files.push_back(stamp);
    File(virt, text, depth + 1);
  }

  std::string root_;
  Expanded& out_;
};

// Writes the JavaScript program, keeping the origin of every line it emits.
class Generator {
 public:
  Generator(const Expanded& src, CompiledPage& page) : src_(src), page_(page) {
    page_.lines.push_back(src_.lines.empty() ? SourceLine{page.virtualPath, 1} : src_.lines[0]);
  }

  void Run() {
    const std::string& s = src_.text;
    size_t pos = 0;
    while (pos < s.size()) {
      size_t open = s.find("<%", pos);
      if (open == std::string::npos) {
        Text(std::string_view(s).substr(pos));
        break;
      }
      Text(std::string_view(s).substr(pos, open - pos));
      size_t close = s.find("%>", open + 2);
      if (close == std::string::npos)
        throw CompileError{"a <% block is not closed with %>", Where(open)};
      Block(std::string_view(s).substr(open + 2, close - open - 2));
      pos = close + 2;
    }
  }

 private:
  SourceLine Where(size_t offset) const {
    size_t line = 0;
    for (size_t i = 0; i < offset && i < src_.text.size(); ++i)
      if (src_.text[i] == '\n') ++line;
    return line < src_.lines.size() ? src_.lines[line] : SourceLine{page_.virtualPath, 1};
  }

  // A newline of the source: the program follows it.
  void SourceNewline() {
    ++srcLine_;
    page_.script += '\n';
    page_.lines.push_back(Current());
  }
  // A newline only the program has (it stays on the same source line).
  void ExtraNewline() {
    page_.script += '\n';
    page_.lines.push_back(Current());
  }
  SourceLine Current() const {
    return srcLine_ < src_.lines.size() ? src_.lines[srcLine_] : SourceLine{page_.virtualPath, 1};
  }

  void Text(std::string_view t) {
    if (t.empty()) return;
    std::string& js = page_.script;
    js += "__torvane_write(\"";
    int newlines = 0;
    for (size_t i = 0; i < t.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(t[i]);
      switch (c) {
        case '\\': js += "\\\\"; break;
        case '"': js += "\\\""; break;
        case '\n': js += "\\n"; ++newlines; break;
        case '\r': js += "\\r"; break;
        default:
          // U+2028 and U+2029 end lines inside ES5 string literals.
          if (c == 0xE2 && i + 2 < t.size() && static_cast<unsigned char>(t[i + 1]) == 0x80 &&
              (static_cast<unsigned char>(t[i + 2]) == 0xA8 || static_cast<unsigned char>(t[i + 2]) == 0xA9)) {
            js += static_cast<unsigned char>(t[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
          } else {
            js += static_cast<char>(c);
          }
      }
    }
    js += "\");";
    for (int k = 0; k < newlines; ++k) SourceNewline();
  }

  void Copy(std::string_view code) {
    for (char c : code) {
      if (c == '\n') SourceNewline();
      else page_.script += c;
    }
  }

  void Block(std::string_view body) {
    size_t i = 0;
    while (i < body.size() && (body[i] == ' ' || body[i] == '\t')) ++i;
    if (i < body.size() && body[i] == '@') {
      // A directive (<%@ Language="JScript" %>): accepted and ignored.
      for (char c : body)
        if (c == '\n') SourceNewline();
      return;
    }
    if (i < body.size() && body[i] == '=') {
      page_.script += "__torvane_write(";
      Copy(body.substr(i + 1));
      // The newline ends a trailing // comment inside the expression.
      ExtraNewline();
      page_.script += ");";
      return;
    }
    Copy(body);
    // Ends the block's last statement (by automatic semicolon insertion) and
    // any trailing // comment, as each script block of a page ends a line.
    ExtraNewline();
  }

  const Expanded& src_;
  CompiledPage& page_;
  size_t srcLine_ = 0;
};

std::shared_ptr<const CompiledPage> Compile(const std::string& siteRoot, const std::string& virtualPath,
                                            std::string_view text, std::vector<FileStamp> files) {
  auto page = std::make_shared<CompiledPage>();
  page->virtualPath = virtualPath;
  Expanded ex;
  ex.files = std::move(files);
  Expander(siteRoot, ex).File(virtualPath, text, 0);
  Generator(ex, *page).Run();
  page->files = std::move(ex.files);
  return page;
}

}  // namespace

std::shared_ptr<const std::string> CompiledPage::Bytecode() const {
  std::lock_guard<std::mutex> hold(bytecodeLock_);
  return bytecode_;
}

void CompiledPage::SetBytecode(std::string code) const {
  std::lock_guard<std::mutex> hold(bytecodeLock_);
  if (!bytecode_) bytecode_ = std::make_shared<const std::string>(std::move(code));
}

SourceLine CompiledPage::Origin(int jsLine) const {
  if (jsLine >= 1 && static_cast<size_t>(jsLine) <= lines.size()) return lines[static_cast<size_t>(jsLine) - 1];
  return {virtualPath, 1};
}

FileStamp StampOf(const std::string& nativePath) {
  FileStamp st{nativePath, -1, -1};
  struct stat sb {};
  if (::stat(nativePath.c_str(), &sb) == 0) {
    st.size = sb.st_size;
    st.mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
  }
  return st;
}

std::shared_ptr<const CompiledPage> CompilePageText(const std::string& siteRoot, const std::string& virtualPath,
                                                    std::string_view text) {
  return Compile(siteRoot, virtualPath, text, {});
}

std::shared_ptr<const CompiledPage> CompilePage(const std::string& siteRoot, const std::string& virtualPath) {
  std::string native = VirtualToNative(siteRoot, virtualPath);
  FileStamp stamp = StampOf(native);  // before reading: a change while reading shows next time
  std::string text;
  if (native.empty() || !ReadWhole(native, text)) throw CompileError{"cannot read page " + virtualPath, {virtualPath, 1}};
  return Compile(siteRoot, virtualPath, text, {stamp});
}

std::shared_ptr<const CompiledPage> PageCache::Get(const std::string& siteRoot, const std::string& virtualPath) {
  std::string key = siteRoot + '\n' + virtualPath;
  {
    std::shared_lock lock(mutex_);
    auto it = pages_.find(key);
    if (it != pages_.end()) {
      bool fresh = true;
      for (const auto& f : it->second->files) {
        FileStamp now = StampOf(f.nativePath);
        if (now.size != f.size || now.mtimeNs != f.mtimeNs) {
          fresh = false;
          break;
        }
      }
      if (fresh) return it->second;
    }
  }
  auto page = CompilePage(siteRoot, virtualPath);
  std::unique_lock lock(mutex_);
  pages_[key] = page;
  return page;
}

}  // namespace torvane::server
