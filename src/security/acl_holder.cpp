// The owner and ACL members File and Directory share: listing the entries into
// the cached cACE, returning it, and reading and changing the owner, with the
// classes' trace lines.
#include "security/acl_holder.h"

#include <new>

#include "automation/component_errors.h"
#include "platform/security.h"
#include "security/ace.h"
#include "security/ace_collection.h"
#include "security/rights.h"

namespace torvane {

namespace {

constexpr size_t kNameBufferSize = 2000;
constexpr size_t kOwnerBufferSize = 2001;

// Raises the error again as the handlers do: a negative number reduced to its
// low 16 bits, the description kept.
[[noreturn]] void Reraise(const TraceChannel& channel, const Error& e) {
  int32_t number = LowWord(e.number);
  WriteTraceLine(channel, "(" + std::to_string(number) + ") " + e.description);
  throw Error(number, e.description, e.source);
}

// The text up to the first NUL; a buffer without one is an invalid argument.
std::string UpToNul(const std::string& buffer) {
  size_t nul = buffer.find('\0');
  if (nul == std::string::npos) ThrowPlatform(err::InvalidArgument);
  return buffer.substr(0, nul);
}

std::string TrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// Runs `fn`, turning any other C++ exception into an automation error.
template <class Fn>
void AsAutomation(Fn&& fn) {
  try {
    fn();
  } catch (const Error&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw Error(7, "Out of memory");
  } catch (const std::exception& e) {
    throw Error(err::InvalidArgument, e.what());
  }
}

std::string ClassName(const SecurityTarget& t) { return t.isDirectoryClass ? "Directory" : "File"; }

}  // namespace

AceCollection& AclHolder::Collection() {
  if (!aces_) aces_ = AceCollection::Create();
  return static_cast<AceCollection&>(*aces_);
}

void AclHolder::Drop() {
  aces_.reset();
  listed_ = false;
}

void AclHolder::Reset() {
  listed_ = false;
  if (!aces_) return;
  AceCollection& c = Collection();
  c.SetLoading(true);
  while (c.Count() > 0) c.Remove(Variant(int32_t{1}));
  c.SetLoading(false);
}

void AclHolder::List(const std::shared_ptr<Object>& self, const SecurityTarget& t) {
  if (listed_) return;
  listed_ = true;
  AceCollection& c = Collection();
  c.SetPath(t.physicalPath);
  c.SetIsDirectory(t.isDirectoryClass ? true : t.isDirectory);
  if (t.isDirectoryClass)
    c.SetOwnerDirectory(self);
  else
    c.SetOwnerFile(self);
  c.SetLoading(true);
  int32_t more = 0;
  std::unique_ptr<SystemUtility> utility;
  try {
    AsAutomation([&] {
      utility = CreateSystemUtility();
      utility->BeginAceList(t.physicalPath);
      for (;;) {
        std::string buffer(kNameBufferSize, ' ');
        int32_t mask = 0, mode = 0, inheritance = 0, type = 0;
        more = utility->NextAce(mask, mode, inheritance, type, buffer);
        if (more == 0) break;
        AddListed(c, buffer, mask, mode, inheritance, type);
      }
      utility->EndAceList();
    });
  } catch (const Error& e) {
    if (more != 0 && utility) utility->EndAceList();
    // The entries read so far stay, and the collection leaves loading, so a
    // page's later Add writes to the file system instead of being swallowed.
    c.SetLoading(false);
    WriteTraceLine(t.channel, "***Error in " + ClassName(t) + ".ListAces *** ListAces for " + t.displayName + " failed.");
    Reraise(t.channel, e);
  }
  WriteTraceLine(t.channel, t.isDirectoryClass ? "Directory.FileListAces - DirectoryListAces " + t.displayName + "."
                                               : "File.FileListAces - FileListAces " + t.displayName + ".");
  c.SetLoading(false);
}

void AclHolder::AddListed(AceCollection& c, const std::string& buffer, int32_t mask, int32_t mode,
                          int32_t inheritance, int32_t type) {
  std::string name = TrimBlanks(buffer);
  if (name.empty()) return;
  name = UpToNul(name);
  if (name.empty()) return;
  int32_t permissions = mode == kAccessDeny ? 0 : RightsToPermissions(static_cast<uint32_t>(mask));
  std::shared_ptr<Ace> ace;
  if (!c.Exists(Variant(name))) {
    ace = std::static_pointer_cast<Ace>(c.Add(Variant(name), Variant(permissions), Variant(inheritance)));
  } else {
    ace = c.AceAt(Variant(name));
    ace->SetSuppressWrite(true);
    ace->LetPermissions(permissions);
    ace->SetSuppressWrite(false);
  }
  ace->SetTrusteeType(type);
}

Variant AclHolder::Aces(const std::shared_ptr<Object>& self, const SecurityTarget& t, bool exists) {
  if (!exists) throw ComponentError(component_error::FileMissing,
                                    "File " + t.displayName + " does not exist.", ClassName(t));
  Args none;
  self->Invoke(t.isDirectoryClass ? "ListAces" : "List", CallKind::Method, none);
  Collection();
  WriteTraceLine(t.channel, "File.GetACEs - Returned ACE collection for " + t.displayName + ".");
  return Variant(aces_);
}

std::string AclHolder::GetOwner(const SecurityTarget& t) {
  std::string owner;
  try {
    AsAutomation([&] {
      std::string buffer(kOwnerBufferSize, ' ');
      CreateSystemUtility()->GetOwner(t.physicalPath, buffer);
      owner = UpToNul(buffer);
    });
  } catch (const Error& e) {
    WriteTraceLine(t.channel, "***Error in File.LetOwner *** - Let Owner of " + t.displayName + " Failed.");
    Reraise(t.channel, e);
  }
  owner_ = owner;
  return owner;
}

void AclHolder::LetOwner(const SecurityTarget& t, const std::string& owner) {
  try {
    AsAutomation([&] { CreateSystemUtility()->SetOwner(t.physicalPath, owner); });
  } catch (const Error& e) {
    WriteTraceLine(t.channel, "***Error in File.LetOwner *** - Let Owner of " + t.displayName + " Failed.");
    Reraise(t.channel, e);
  }
  owner_ = owner;
}

}  // namespace torvane
