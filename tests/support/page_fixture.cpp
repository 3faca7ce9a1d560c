#include "support/page_fixture.h"

#include <sys/stat.h>

#include <filesystem>

#include "files/file.h"
#include "platform/paths.h"

namespace torvane::test {

PageTest::PageTest(const std::string& registryBody) : registry(registryBody) {}

PageTest::~PageTest() {
  SetSettings(savedSettings_);
  ::chmod(site.path().c_str(), 0755);
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(site.path(), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
}

std::string PageTest::Native(std::string_view rel) const { return site / rel; }

std::string PageTest::Dos(std::string_view rel) const { return ToDosPath(rel.empty() ? site.path() : site / rel); }

void PageTest::MakeDir(std::string_view rel) const { std::filesystem::create_directories(Native(rel)); }

void PageTest::Put(std::string_view rel, std::string_view content) const {
  std::filesystem::create_directories(std::filesystem::path(Native(rel)).parent_path());
  WriteFile(Native(rel), content);
}

std::shared_ptr<File> PageTest::FileAt(std::string_view rel) const {
  auto f = File::New();
  f->SetName(Dos(rel));
  return f;
}

ObjectRef PageTest::FileNamed(const std::string& dosName) {
  auto f = File::New();
  f->SetName(dosName);
  return f;
}

std::vector<std::string> PageTest::Lines(const std::string& nativeLog) {
  auto all = TraceMessages(nativeLog);
  if (all.size() >= 2) all.erase(all.begin(), all.begin() + 2);
  return all;
}

}  // namespace torvane::test
