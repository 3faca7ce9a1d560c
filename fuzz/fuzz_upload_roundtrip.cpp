// Round trip: a well-formed multipart form built from the fuzzer's bytes
// (fields with any text, CR and LF included; files with any bytes) is
// uploaded in memory and to disk, and every value and file comes back byte
// for byte.
#include <cstdint>
#include <vector>

#include "automation/error.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "form/cform_input.h"
#include "form/cform_value.h"
#include "form/form_input.h"
#include "fuzz_common.h"
#include "platform/paths.h"
#include "support/memhost.h"
#include "upload/post.h"

using namespace torvane;

namespace {

struct Part {
  std::string name;
  bool file = false;
  std::string value;  // a field's text, or a file's bytes
};

std::string Encode(const std::vector<Part>& parts, const std::string& boundary) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    const Part& p = parts[i];
    out += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
    if (p.file) out += "; filename=\"file" + std::to_string(i) + ".bin\"\r\nContent-Type: application/octet-stream";
    out += "\r\n\r\n" + p.value + "\r\n";
  }
  return out + "--" + boundary + "--\r\n";
}

std::string ReadNative(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  std::string s;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

void Check(const std::vector<Part>& parts, const std::string& body, const std::string& boundary, bool inMemory) {
  auto dir = fuzz::Scratch() / "roundtrip";
  fuzz::EmptyFolder(dir);
  test::MemHost host(fuzz::Scratch().string());
  host.SetMultipart(body, boundary);
  test::MemHost::Scope scope(host);
  auto post = Post::CreateTyped();
  auto d = Directory::New();
  d->SetPath(ToDosPath(dir.string()));
  post->SetDirectory(Variant(ObjectRef(d)));
  try {
    post->Upload(Variant::Missing(), Variant(int32_t{inMemory ? kUploadInMemory : kUploadUseTemp}), Variant(false),
                 Variant::Missing());
  } catch (const Error& e) {
    std::fprintf(stderr, "upload failed: %d %s\n", e.number, e.description.c_str());
    fuzz::Fail("a well-formed form failed to upload");
  }
  auto inputs = post->GetFormInputs();
  if (inputs->Count() != static_cast<int32_t>(parts.size())) fuzz::Fail("the number of inputs differs");
  for (size_t i = 0; i < parts.size(); ++i) {
    auto input = inputs->Item(Variant(static_cast<int32_t>(i + 1)));
    if (!parts[i].file) {
      if (input->Values()->Item(Variant::Missing()) != parts[i].value) fuzz::Fail("a field's value differs");
      continue;
    }
    auto file = std::dynamic_pointer_cast<File>(input->FileObject());
    if (!file) fuzz::Fail("a file part has no file");
    std::string got;
    if (inMemory) {
      const Bytes* b = file->ContentView();
      got = b ? std::string(b->begin(), b->end()) : std::string();
    } else {
      got = ReadNative(ToNativePath(file->PhysicalPath()));
    }
    if (got != parts[i].value) fuzz::Fail(inMemory ? "a file's bytes differ in memory" : "a file's bytes differ on disk");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  std::vector<Part> parts;
  size_t count = 1 + in.Below(6);
  for (size_t i = 0; i < count && in.Left() > 0; ++i) {
    Part p;
    p.name = "p" + std::to_string(i);
    p.file = in.Byte() & 1;
    p.value = in.Take(in.Below(p.file ? 5000 : 1200));
    if (!p.file) {
      // Field text: printable ASCII, tabs and line ends (the code page turns
      // other bytes into characters, which is not a byte round trip).
      for (char& c : p.value) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u == '\r' || u == '\n' || u == '\t') continue;
        c = static_cast<char>(0x20 + u % 0x5f);
      }
    }
    parts.push_back(std::move(p));
  }
  std::string boundary = "----FuzzBoundary7e3a";
  std::string body = Encode(parts, boundary);
  // A well-formed form never holds its own delimiter inside a part.
  for (const auto& p : parts)
    if (p.value.find("--" + boundary) != std::string::npos) return 0;
  Check(parts, body, boundary, true);
  Check(parts, body, boundary, false);
  return 0;
}
