// The owner and access-control members that File and Directory share:
// Directory.ListAces / File.List, ACEs get, Owner get and let, ResetAces and the
// DropAces step. Both classes embed one AclHolder and describe themselves with a
// SecurityTarget at each call; the messages differ only by class name and the
// display name (a Directory's Path, a File's Name).
#pragma once

#include <string>

#include "automation/object.h"
#include "host/trace.h"

namespace torvane {

// Implemented by File and Directory: what a cACE calls back on its owner (its
// Add, outside loading, resets the owner's cache).
class AceOwner {
 public:
  virtual ~AceOwner() = default;
  virtual void ResetAces() = 0;
};

struct SecurityTarget {
  bool isDirectoryClass = false;  // Directory (true) or File (false): message texts
  std::string physicalPath;       // passed to every system call
  std::string displayName;        // Directory: Path; File: Name
  bool isDirectory = false;       // File: its IsDirectory(); Directory: true
  TraceChannel channel;           // the object's trace channel (may be null)
};

class AceCollection;

// Member functions raise torvane::Error only. Trace lines go to the target's
// channel; failures of the listing and of the owner members are traced and
// raised again with a negative number reduced to its low 16 bits.
class AclHolder {
 public:
  // DropAces: a new, empty cACE; AcesListed false (a collection a page holds keeps its entries).
  void Drop();
  // ResetAces: AcesListed false and the existing collection emptied (in loading).
  void Reset();
  // ListAces / List: reads the entries once per cache. `self` becomes the
  // collection's (weak) owner.
  void List(const std::shared_ptr<Object>& self, const SecurityTarget& t);
  // ACEs get; `exists` is the caller's existence test (Directory: its Exists()).
  // Missing: 9027 "File " + display name + " does not exist.". The listing runs
  // through the object's own member table ("ListAces" on a Directory, "List" on
  // a File), so `self` must have that member.
  Variant Aces(const std::shared_ptr<Object>& self, const SecurityTarget& t, bool exists);
  // Owner get and let.
  std::string GetOwner(const SecurityTarget& t);
  void LetOwner(const SecurityTarget& t, const std::string& owner);

  bool listed() const { return listed_; }
  // The owner name last read or written ("" before).
  const std::string& owner() const { return owner_; }

 private:
  AceCollection& Collection();  // creates the empty cACE on first use
  void AddListed(AceCollection& c, const std::string& buffer, int32_t mask, int32_t mode, int32_t inheritance,
                 int32_t type);

  ObjectRef aces_;  // the cACE, created on first use
  bool listed_ = false;
  std::string owner_;
};

}  // namespace torvane
