// Archive reading: the fuzzer's bytes as a ZIP, TAR, GZIP, MacBinary or MIME
// file, opened, listed and extracted. Either it works or it fails with an
// automation error; and whatever the entries say, nothing is written outside
// the destination folder.
#include <cstdint>
#include <fstream>

#include "archive/archive.h"
#include "archive/archive_entries.h"
#include "archive/archive_entry.h"
#include "automation/error.h"
#include "fuzz_common.h"
#include "platform/paths.h"
#include "support/memhost.h"

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kExtensions[] = {".zip", ".tar", ".gz", ".bin", ".mmm", ".tgz"};
  fuzz::Cursor in(data, size);
  const char* ext = kExtensions[in.Byte() % 6];
  std::string content = in.Rest();
  auto work = fuzz::Scratch() / "archive";
  fuzz::EmptyFolder(work);
  auto file = work / (std::string("input") + ext);
  std::ofstream(file, std::ios::binary) << content;
  std::filesystem::create_directories(work / "dest");
  test::MemHost host(work.string());
  test::MemHost::Scope scope(host);
  try {
    auto a = Archive::New();
    a->OpenArchive(Variant(ToDosPath(file.string())));
    auto entries = a->Entries();
    for (int32_t i = 1; i <= entries->Count(); ++i) (void)entries->Item(Variant(i)).as<ArchiveEntry>()->Path();
    a->Extract(Variant("*"), Variant(ToDosPath((work / "dest").string())), Variant::Missing());
  } catch (const Error&) {
    // Damaged, unsupported or unsafe: a clear error is the right answer.
  }
  for (const auto& e : std::filesystem::directory_iterator(work)) {
    std::string name = e.path().filename().string();
    if (name != "dest" && name != file.filename().string()) fuzz::Fail("extraction wrote outside its destination");
  }
  return 0;
}
