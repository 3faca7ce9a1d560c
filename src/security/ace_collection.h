// cACE: the access-control entries of one file or folder, keyed by trustee name
// (letter case ignored). File.ACEs and Directory.ACEs return it; their owner
// describes it (path, folder or not, owner) and fills it while Loading is on,
// when nothing is written to the file system.
#pragma once

#include <memory>
#include <string>

#include "host/collection_object.h"

namespace torvane {

class AceCollection : public CollectionObject {
 public:
  AceCollection() : CollectionObject("aces") {}

  // Member table, slot order: Exists, Add, Item (default member), Count,
  // Remove, NewEnum (-4), OnStartPage, ToXML.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // An empty collection without owner (no attach).
  static ObjectRef Create();

  // True when an entry is stored under the key (any failure counts as false).
  bool Exists(const Variant& userName);
  // A new entry for the trustee: stored under its name, its Inheritance then
  // Permissions set (written outside loading; a folder without Inheritance gets
  // the inherited entry for everything first); outside loading the owner's
  // cache is reset afterwards, so this collection is then empty. When a write
  // fails the entry is taken out again and the error raised.
  ObjectRef Add(const Variant& trusteeName, const Variant& permissions, const Variant& inheritance);
  // Removes the entry; outside loading also removes the trustee's entries on disk first.
  void Remove(const Variant& index);
  // Item, Count, NewEnum: the collection's; ToXML: <aces>, each entry's XML, ExtraXML, </aces>.
  using CollectionObject::ToXML;

  // Package-internal.
  void SetPath(std::string path) { path_ = std::move(path); }
  void SetIsDirectory(bool isDirectory) { isDirectory_ = isDirectory; }
  // The owning Directory or File (held weakly: the owner holds this collection).
  void SetOwnerDirectory(const ObjectRef& owner) { SetOwner(owner, true); }
  void SetOwnerFile(const ObjectRef& owner) { SetOwner(owner, false); }
  void SetLoading(bool loading) { loading_ = loading; }
  bool Loading() const { return loading_; }
  const std::string& Path() const { return path_; }
  bool IsDirectory() const { return isDirectory_; }
  // The entry at a position or key, as an ACE.
  std::shared_ptr<class Ace> AceAt(const Variant& index);

 private:
  void SetOwner(const ObjectRef& owner, bool isDirectory);
  // Asks the owner to drop its cache (ResetAces); without a live owner, empties itself.
  void ResetOwner();

  std::string path_;
  bool loading_ = false;
  bool isDirectory_ = false;
  std::weak_ptr<Object> ownerDirectory_, ownerFile_;
};

}  // namespace torvane
