// Body-level properties of the upload engine. Random well-formed forms (files
// and fields, content with CR, LF and boundary-like bytes, header blocks in
// random order with extra headers, quoting, blanks and filename*) are stored
// and read back exactly, in memory and on disk, under every storage method.
// Random truncations and corruptions of those bodies give either the result
// the bytes that arrived describe, or an error that leaves no file behind.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>

#include "platform/codepage.h"
#include "upload/upload_fixture.h"

namespace torvane {
namespace {

using namespace upload_test;

struct SentPart {
  bool isFile = false;
  std::string name;
  std::string fileName;  // as the page must see it (Value of a file input)
  std::string type;      // "" : none sent
  std::string content;
};

// A body and where its pieces lie: every delimiter line's start, the end of its
// delimiter proper, and the end of its line (after CR LF).
struct Form {
  std::string boundary;
  std::vector<SentPart> parts;
  std::string body;
  std::vector<size_t> delimStart, delimEnd, lineEnd;  // the last one is the closing delimiter
  std::vector<std::pair<size_t, size_t>> contentAt;   // each part's content in the body
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  Form Make() {
    Form f;
    f.boundary = "----Prop" + Word(6 + Pick(10), "abcdefghijklmnopqrstuvwxyz0123456789'()+_,-./:=?");
    std::string delim = "--" + f.boundary;
    if (Chance(5)) f.body += "A preamble the form ignores.\r\n--not the boundary\r\n";
    int count = 1 + Pick(7);
    for (int i = 0; i < count; ++i) {
      SentPart p;
      p.isFile = Chance(2);
      p.name = "f" + std::to_string(i) + (Chance(4) ? " with \"quotes\" and ;" : "");
      p.content = Content(f.boundary);
      std::vector<std::string> headers;
      if (p.isFile) {
        std::string base = "file" + std::to_string(i) + (Chance(3) ? " name" : "") + ".bin";
        if (Chance(4)) {
          p.fileName = "\xC3\xA9t\xC3\xA9" + std::to_string(i) + ".txt";  // "été": sent as filename*
          headers.push_back(HeaderName("Content-Disposition") + ": form-data" + Params(p.name, "fallback.txt", true, i));
        } else {
          p.fileName = Chance(3) ? "C:\\Users\\me\\" + base : base;
          headers.push_back(HeaderName("Content-Disposition") + ": form-data" + Params(p.name, p.fileName, false, i));
        }
        if (Chance(4) == false) p.type = Chance(2) ? "application/octet-stream" : "image/png";
        if (!p.type.empty()) headers.push_back(HeaderName("Content-Type") + ":" + (Chance(2) ? " " : "") + p.type);
      } else {
        headers.push_back(HeaderName("Content-Disposition") + ": form-data" + Params(p.name, "", false, i));
        if (Chance(4)) headers.push_back("Content-Type: text/plain; charset=utf-8");
      }
      if (Chance(3)) headers.push_back("Content-Transfer-Encoding: binary");
      if (Chance(4)) headers.push_back("X-Added-By-A-Proxy: yes");
      std::shuffle(headers.begin(), headers.end(), rng_);
      Delimiter(f, delim, false);
      for (const auto& h : headers) f.body += h + "\r\n";
      f.body += "\r\n";
      f.contentAt.emplace_back(f.body.size(), p.content.size());
      f.body += p.content + "\r\n";
      f.parts.push_back(std::move(p));
    }
    Delimiter(f, delim, true);
    if (Chance(4)) f.body += "an epilogue\r\n";
    return f;
  }

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  bool Chance(int oneIn) { return Pick(oneIn) == 0; }

 private:
  void Delimiter(Form& f, const std::string& delim, bool closing) {
    f.delimStart.push_back(f.body.size());
    f.body += delim + (closing ? "--" : "");
    f.delimEnd.push_back(f.body.size());
    if (!closing && Chance(4)) f.body += " \t";  // blanks after a delimiter are allowed
    f.body += "\r\n";
    f.lineEnd.push_back(f.body.size());
  }

  std::string Word(int n, const char* alphabet) {
    std::string s;
    size_t len = std::strlen(alphabet);
    for (int i = 0; i < n; ++i) s += alphabet[Pick(static_cast<int>(len))];
    return s;
  }

  std::string HeaderName(const std::string& name) {
    std::string out = name;
    if (Chance(3))
      for (auto& c : out) c = static_cast<char>(Chance(2) ? std::toupper(c) : std::tolower(c));
    return out;
  }

  // A quoted value with \" for each quote, or the bare value when it can go
  // without quotes.
  std::string Value(const std::string& v) {
    bool bare = v.find_first_of(" \";\\") == std::string::npos;
    if (bare && Chance(2)) return v;
    std::string out = "\"";
    for (char c : v) {
      if (c == '"') out += '\\';
      out += c;
    }
    return out + "\"";
  }

  std::string Sep(char c) {
    std::string pad = Chance(3) ? " " : "";
    return pad + c + (Chance(2) ? " " : "");
  }

  std::string Params(const std::string& name, const std::string& fileName, bool star, int i) {
    std::vector<std::string> params;
    params.push_back("name" + Sep('=') + Value(name));
    if (!fileName.empty() || star) {
      params.push_back("filename" + Sep('=') + Value(fileName));
      if (star) params.push_back("filename*=UTF-8''%C3%A9t%C3%A9" + std::to_string(i) + ".txt");
    }
    std::shuffle(params.begin(), params.end(), rng_);
    std::string out;
    for (const auto& p : params) out += Sep(';') + p;
    if (Chance(6)) out = ";\r\n " + out.substr(out.find(';') + 1);  // a folded header
    return out;
  }

  // Content with CR, LF, CR LF, hyphens and pieces of the boundary, never a
  // delimiter line of its own.
  std::string Content(const std::string& boundary) {
    std::string out;
    int pieces = Pick(40);
    if (Chance(8)) pieces += 300;
    for (int i = 0; i < pieces; ++i) {
      switch (Pick(8)) {
        case 0: out += "\r\n"; break;
        case 1: out += "\r"; break;
        case 2: out += "\n"; break;
        case 3: out += "--" + boundary.substr(0, static_cast<size_t>(Pick(static_cast<int>(boundary.size())))); break;
        case 4: out += "\r\n--" + boundary + "x"; break;
        case 5: out += std::string(static_cast<size_t>(Pick(3) == 0 ? 12000 : 50), static_cast<char>('a' + Pick(26))); break;
        default:
          for (int k = Pick(60); k > 0; --k) out += static_cast<char>(Pick(256));
      }
    }
    std::string scan = "\r\n" + out + "\r\n";
    std::string delim = "\r\n--" + boundary;
    for (size_t at = scan.find(delim); at != std::string::npos; at = scan.find(delim, at + 1)) {
      size_t after = at + delim.size();
      char c = after < scan.size() ? scan[after] : '\r';
      if (c == '\r' || c == '-' || c == ' ' || c == '\t') return Content(boundary);  // would end the part
    }
    return out;
  }

  std::mt19937 rng_;
};

class UploadProperty : public UploadTest {
 protected:
  // Runs one post of `body` (announcing `announced` bytes) with `method`.
  int Run(const std::string& body, int64_t announced, int method) {
    for (const auto& n : FilesIn(site.path())) std::filesystem::remove(site / n);
    post = NewPost(body);
    host.request->serverVariables["CONTENT_TYPE"] = "multipart/form-data; boundary=" + boundary;
    host.request->totalBytesOverride = announced;
    Error e = test::ThrownError(
        [&] { post->Upload(Variant::Missing(), Variant(int32_t{method}), Variant(false), Variant::Missing()); });
    if (e.number != 0) lastError = e.description;
    return e.number;
  }

  // The first `count` parts are what the post holds, byte for byte, and the
  // folder holds exactly their files.
  void ExpectParts(const Form& f, size_t count, int method, const std::string& what) {
    auto inputs = post->GetFormInputs();
    ASSERT_EQ(inputs->Count(), static_cast<int32_t>(count)) << what;
    std::vector<std::string> stored;
    for (size_t i = 0; i < count; ++i) {
      const SentPart& p = f.parts[i];
      auto input = inputs->Find(p.name);
      ASSERT_TRUE(input) << what << ": part " << i;
      std::string joined = input->Values()->Item(Variant::Missing());
      if (!p.isFile) {
        std::span<const uint8_t> raw(reinterpret_cast<const uint8_t*>(p.content.data()), p.content.size());
        EXPECT_TRUE(joined == ConvertToText(raw, 0)) << what << ": value of part " << i;
        continue;
      }
      EXPECT_EQ(joined, p.fileName) << what << ": part " << i;
      EXPECT_EQ(input->ContentType(), p.type.empty() ? "application/unknown" : p.type) << what;
      auto file = std::dynamic_pointer_cast<File>(input->FileObject());
      ASSERT_TRUE(file) << what;
      if (method == kUploadInMemory) {
        Bytes bytes = file->GetContent();
        EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == p.content) << what << ": content of part " << i;
      } else {
        EXPECT_TRUE(test::ReadFile(Native(file)) == p.content) << what << ": file of part " << i;
        stored.push_back(std::filesystem::path(Native(file)).filename().string());
      }
    }
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(FilesIn(site.path()), stored) << what;
  }

  std::shared_ptr<Post> post;
  std::string boundary;
};

// How many parts a body cut after `cut` bytes holds when those bytes are all
// the client announced: a cut right after a delimiter (blanks at most) ends
// the form there; nullopt when the form is incomplete.
std::optional<size_t> PartsWhenCut(const Form& f, size_t cut) {
  size_t last = f.delimStart.size() - 1;
  // The closing delimiter, with or without its hyphens, or its whole line.
  if (cut >= f.lineEnd[last] || cut == f.delimEnd[last] || cut == f.delimEnd[last] - 2) return f.parts.size();
  // Another delimiter (blanks after it at most), or its whole line: the parts
  // before it.
  for (size_t k = 0; k < last; ++k)
    if ((cut >= f.delimEnd[k] && cut + 2 <= f.lineEnd[k]) || cut == f.lineEnd[k]) return k;
  return std::nullopt;
}

TEST_F(UploadProperty, RandomFormsRoundTripTruncationsAndCorruptionsLoseNothing) {
  Generator gen(20261213);
  for (int round = 0; round < 150; ++round) {
    Form f = gen.Make();
    boundary = f.boundary;
    int method = gen.Pick(5);
    std::string what = "round " + std::to_string(round) + ", method " + std::to_string(method);
    auto size = static_cast<int64_t>(f.body.size());

    // The form as sent.
    ASSERT_EQ(Run(f.body, size, method), 0) << what << ": " << lastError;
    ExpectParts(f, f.parts.size(), method, what);

    // The client sends less than it announced: an error unless the closing
    // delimiter line arrived whole; nothing of a failed post stays.
    size_t cut = static_cast<size_t>(gen.Pick(static_cast<int>(f.body.size())));
    int err = Run(f.body.substr(0, cut), size, method);
    if (cut >= f.lineEnd.back()) {
      EXPECT_EQ(err, 0) << what << ", short at " << cut;
      if (err == 0) ExpectParts(f, f.parts.size(), method, what + ", short");
    } else {
      EXPECT_EQ(err, 9037) << what << ", short at " << cut;
      EXPECT_TRUE(FilesIn(site.path()).empty()) << what << ", short at " << cut;
    }

    // The body ends early but its length says so: complete up to a delimiter,
    // else an error with nothing left. Half the cuts fall right at a delimiter.
    size_t k = static_cast<size_t>(gen.Pick(static_cast<int>(f.delimStart.size())));
    cut = gen.Chance(2) ? f.delimEnd[k] + static_cast<size_t>(gen.Pick(3))
                        : static_cast<size_t>(gen.Pick(static_cast<int>(f.body.size())));
    cut = std::min(cut, f.body.size());
    err = Run(f.body.substr(0, cut), static_cast<int64_t>(cut), method);
    if (auto parts = PartsWhenCut(f, cut)) {
      EXPECT_EQ(err, 0) << what << ", ends at " << cut << ": " << lastError;
      if (err == 0) ExpectParts(f, *parts, method, what + ", ends at " + std::to_string(cut));
    } else {
      EXPECT_NE(err, 0) << what << ", ends at " << cut;
      EXPECT_TRUE(FilesIn(site.path()).empty()) << what << ", ends at " << cut;
    }

    // A damaged closing delimiter: the form never ends, nothing is kept.
    std::string damaged = f.body;
    size_t at = f.delimStart.back() + static_cast<size_t>(gen.Pick(static_cast<int>(f.lineEnd.back() - f.delimStart.back())));
    damaged[at] = damaged[at] == 'x' ? 'y' : 'x';
    err = Run(damaged, size, method);
    EXPECT_EQ(err, 9037) << what << ", closing delimiter damaged at " << at;
    EXPECT_TRUE(FilesIn(site.path()).empty()) << what;

    // A damaged byte of a part's content: that part carries the damaged byte.
    size_t part = static_cast<size_t>(gen.Pick(static_cast<int>(f.parts.size())));
    if (f.contentAt[part].second > 0) {
      Form changed = f;
      size_t off = static_cast<size_t>(gen.Pick(static_cast<int>(f.contentAt[part].second)));
      char byte = static_cast<char>(changed.parts[part].content[off] ^ 0x55);
      changed.parts[part].content[off] = byte;
      changed.body[f.contentAt[part].first + off] = byte;
      std::string check = "\r\n" + changed.parts[part].content + "\r\n";
      if (check.find("\r\n--" + f.boundary) == std::string::npos) {
        ASSERT_EQ(Run(changed.body, size, method), 0) << what << ": " << lastError;
        ExpectParts(changed, changed.parts.size(), method, what + ", content damaged");
      }
    }
  }
}

}  // namespace
}  // namespace torvane
