// ACE: one trustee's access to a file or folder.
//
// Setting Permissions (or, on a folder, Inheritance) writes the entry to the
// file system at once through the system utility, unless SuppressWrite is on
// (while the owner fills its collection from the file system). A failed write
// raises the system's error and keeps the old value.
#pragma once

#include <string>

#include "automation/object.h"

namespace torvane {

class Ace : public Object {
 public:
  // Member table, slot order: TrusteeName get, TrusteeType get, Inheritance
  // let, Permissions let and get (default member), OnStartPage, ToXML.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // A new entry: empty trustee, no path, writes on, everything 0 (no attach).
  static ObjectRef Create();

  const std::string& TrusteeName() const { return trusteeName_; }
  int32_t TrusteeType() const { return trusteeType_; }
  int32_t Permissions() const { return permissions_; }
  int32_t Inheritance() const { return inheritance_; }
  // Writes the entry (0 revokes the trustee's access), then stores the value.
  void LetPermissions(int32_t value);
  // On a folder writes the entry that new files inherit, then stores the value.
  void LetInheritance(int32_t value);
  std::string ToXML(const Variant& properties, const Variant& extra);

  // Package-internal.
  void SetTrusteeName(std::string name) { trusteeName_ = std::move(name); }
  void SetTrusteeType(int32_t type) { trusteeType_ = type; }
  void SetPath(std::string path) { path_ = std::move(path); }
  void SetIsDirectory(bool isDirectory) { isDirectory_ = isDirectory; }
  void SetSuppressWrite(bool suppress) { suppressWrite_ = suppress; }
  bool SuppressWrite() const { return suppressWrite_; }
  const std::string& Path() const { return path_; }
  bool IsDirectory() const { return isDirectory_; }

 private:
  std::string trusteeName_;
  std::string path_;
  bool suppressWrite_ = false;
  int32_t permissions_ = 0;
  int32_t inheritance_ = 0;
  int32_t trusteeType_ = 0;
  bool isDirectory_ = false;
};

}  // namespace torvane
