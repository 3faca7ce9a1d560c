// The fixture of the upload driver tests: multipart bodies built from parts,
// a site folder as the Post's Directory, and helpers to run and inspect a post.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dirs/directory.h"
#include "files/file.h"
#include "platform/paths.h"
#include "support/memhost.h"
#include "support/thrown_error.h"
#include "upload/post.h"

namespace torvane::upload_test {

using test::MemHost;
using test::TempDir;
using test::TraceMessages;

inline const std::string kB = "------TorvaneBoundary";

inline std::string Field(const std::string& name, const std::string& value) {
  return kB + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}
inline std::string FilePart(const std::string& name, const std::string& file, const std::string& content,
                     const std::string& type = "application/octet-stream") {
  std::string ct = type.empty() ? "" : "Content-Type: " + type + "\r\n";
  return kB + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file + "\"\r\n" + ct +
         "\r\n" + content + "\r\n";
}
inline std::string End() { return kB + "--\r\n"; }

inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class UploadTest : public ::testing::Test {
 protected:
  TempDir site;
  TempDir logs;
  MemHost host{site.path()};
  MemHost::Scope scope{host};

  std::shared_ptr<Post> NewPost(const std::string& body, bool withDirectory = true) {
    host.SetMultipart(body);
    auto post = Post::CreateTyped();
    if (withDirectory) {
      auto dir = Directory::New();
      dir->SetPath(ToDosPath(site.path()));
      post->SetDirectory(Variant(ObjectRef(dir)));
    }
    return post;
  }
  void Trace(Post& post) {
    auto f = File::New();
    f->SetName(ToDosPath(logs / "trace.log"));
    post.SetTraceFile(Variant(ObjectRef(f)));
  }
  std::shared_ptr<File> FileOf(Post& post, const std::string& field) {
    return std::dynamic_pointer_cast<File>(post.GetFormInputs()->Item(Variant(field))->FileObject());
  }
  std::string Native(const std::shared_ptr<File>& f) { return ToNativePath(f->PhysicalPath()); }
  int Fails(std::shared_ptr<Post> post, int method) {
    Error e = test::ThrownError(
        [&] { post->Upload(Variant::Missing(), Variant(int32_t{method}), Variant::Missing(), Variant::Missing()); });
    if (e.number != 0) lastError = e.description;
    return e.number;
  }
  std::string lastError;
};

}  // namespace torvane::upload_test
