// ArchiveEntry: one item of an archive (a file or a folder) as the engine
// listed it. A read-only snapshot for pages; Archive fills it while listing.
#pragma once

#include <cstdint>
#include <string>

#include "automation/object.h"

namespace torvane {

class ArchiveEntry : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // A fresh, empty entry (no script-context attach on creation).
  static ObjectRef Create();
  static std::shared_ptr<ArchiveEntry> New() { return std::make_shared<ArchiveEntry>(); }

  bool IsDirectory() const { return isDirectory_; }
  int64_t UnCompressedSize() const { return unCompressedSize_; }
  int64_t CompressedSize() const { return compressedSize_; }
  const std::string& Path() const { return path_; }
  std::string ToXML(const Variant& properties, const Variant& extra);

  // Package-internal setters, called by Archive in this order while listing.
  void SetPath(std::string path) { path_ = std::move(path); }
  void SetCompressedSize(int64_t size) { compressedSize_ = size; }
  void SetUnCompressedSize(int64_t size) { unCompressedSize_ = size; }
  void SetIsDirectory(bool dir) { isDirectory_ = dir; }

 private:
  std::string path_;
  int64_t compressedSize_ = 0;
  int64_t unCompressedSize_ = 0;
  bool isDirectory_ = false;
};

}  // namespace torvane
