// The record parser and upload driver over raw bodies: any bytes, any
// boundary, to disk or to memory. A body either uploads or fails with an
// automation error; nothing crashes, leaks or reads out of bounds.
#include <cstdint>

#include "automation/error.h"
#include "dirs/directory.h"
#include "fuzz_common.h"
#include "platform/paths.h"
#include "support/memhost.h"
#include "upload/post.h"

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  bool inMemory = in.Byte() & 1;
  std::string boundary = in.Take(in.Below(72));
  std::string body = in.Rest();
  auto dir = fuzz::Scratch() / "upload";
  fuzz::EmptyFolder(dir);
  test::MemHost host(fuzz::Scratch().string());
  host.SetMultipart(body, boundary);
  test::MemHost::Scope scope(host);
  try {
    auto post = Post::CreateTyped();
    auto d = Directory::New();
    d->SetPath(ToDosPath(dir.string()));
    post->SetDirectory(Variant(ObjectRef(d)));
    post->Upload(Variant::Missing(), Variant(int32_t{inMemory ? kUploadInMemory : kUploadUseTemp}), Variant::Missing(),
                 Variant::Missing());
    auto inputs = post->GetFormInputs();
    for (int32_t i = 1; i <= inputs->Count(); ++i) (void)inputs->Item(Variant(i))->Values()->Item(Variant::Missing());
  } catch (const Error&) {
    // A clear error is a correct answer to a bad body.
  }
  return 0;
}
