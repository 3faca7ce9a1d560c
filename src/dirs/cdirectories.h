// cDirectories: the collection of Directory objects that Computer.Drives
// returns.
//
// A thin wrapper around the keyed collection; Add builds the Directory itself
// from a path. The collection's own errors pass through unchanged. No trace
// lines. It attaches the script context only in OnStartPage.
#pragma once

#include <memory>
#include <string>

#include "host/collection_object.h"

namespace torvane {

class Directory;

class CDirectories : public CollectionObject {
 public:
  CDirectories() : CollectionObject("drives") {}

  // Member table in slot order: Add, Item (default), Count, Remove, NewEnum
  // (dispatch id -4), OnStartPage, ToXML.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create();
  static std::shared_ptr<CDirectories> New();

  // Add(Path): a new Directory whose Path is set to `path` (a path the policy
  // refuses fails here and nothing is added), appended without a key.
  std::shared_ptr<Directory> Add(const std::string& path);
  std::shared_ptr<Directory> Item(const Variant& indexOrKey) const;
  // Count, Remove, NewEnum: the collection's; ToXML: <drives>, each
  // Directory's ToXML("*"), ExtraXML, </drives>.
  using CollectionObject::ToXML;
};

}  // namespace torvane
