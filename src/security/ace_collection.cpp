#include "security/ace_collection.h"

#include "host/script_context.h"
#include "host/shared_members.h"
#include "platform/security.h"
#include "security/ace.h"
#include "security/acl_holder.h"

namespace torvane {

const ClassInfo& AceCollection::Class() {
  static const ClassInfo info = ClassInfo::Make<AceCollection>(
      "cACE",
      {
          {"Exists", MemberKind::Method, {{"UserName"}}, [](AceCollection& c, Args& a) { return Variant(c.Exists(a[0])); },
           "True when an entry for the account exists", "Boolean"},
          {"Add", MemberKind::Method, {{"TrusteeName"}, {"Permissions"}, {"Inheritance", true, "TV_INHERIT_ALL for a folder, TV_INHERIT_NONE for a file"}},
           [](AceCollection& c, Args& a) { return Variant(c.Add(a[0], a[1], a[2])); },
           "Grants rights to an account on the file or folder and returns the entry", "ACE"},
          ItemMember<AceCollection>({"vntIndexKey"}, "The entry at a position (from 1) or for a trustee name", "ACE"),
          CountMember<AceCollection>("Number of entries"),
          RemoveMember<AceCollection>("vntIndexKey", "Removes the entry and its rights from the file or folder"),
          NewEnumMember<AceCollection>("Enumerator over the entries in order"),
          OnStartPageMember<AceCollection>(),
          XmlMember<AceCollection>("Every entry's XML inside an aces element"),
      });
  return info;
}

ObjectRef AceCollection::Create() { return std::make_shared<AceCollection>(); }

bool AceCollection::Exists(const Variant& userName) {
  try {
    Variant& item = items_.Item(userName);
    item.toObject()->Get("TrusteeName");
    return true;
  } catch (const Error&) {
    return false;
  }
}

ObjectRef AceCollection::Add(const Variant& trusteeName, const Variant& permissions, const Variant& inheritance) {
  auto ace = std::static_pointer_cast<Ace>(Ace::Create());
  ace->SetSuppressWrite(loading_);
  items_.Add(Variant(ObjectRef(ace)), trusteeName);
  bool wrote = false;
  try {
    ace->SetTrusteeName(trusteeName.toString());
    ace->SetTrusteeType(0);
    ace->SetPath(path_);
    ace->SetIsDirectory(isDirectory_);
    int32_t inherit = inheritance.isMissing() ? (isDirectory_ ? 1 : 0) : inheritance.toInt32();
    ace->LetInheritance(inherit);
    wrote = !loading_ && isDirectory_;
    ace->LetPermissions(permissions.toInt32());
  } catch (const Error&) {
    // The entry never made it to the file system: it leaves the collection again,
    // and a half-written folder entry makes the owner list afresh.
    for (int32_t i = items_.Count(); i >= 1; --i)
      if (items_.At(static_cast<size_t>(i - 1)).obj() == ace) {
        items_.Remove(Variant(i));
        break;
      }
    if (wrote) ResetOwner();
    throw;
  }
  if (!loading_) ResetOwner();
  ace->SetSuppressWrite(false);
  return ace;
}

std::shared_ptr<Ace> AceCollection::AceAt(const Variant& index) {
  return std::static_pointer_cast<Ace>(items_.Item(index).toObject());
}

void AceCollection::Remove(const Variant& index) {
  auto ace = AceAt(index);
  if (!loading_) CreateSystemUtility()->RemoveAce(path_, ace->TrusteeName());
  items_.Remove(index);
}

void AceCollection::SetOwner(const ObjectRef& owner, bool isDirectory) {
  (isDirectory ? ownerDirectory_ : ownerFile_) = owner;
}

void AceCollection::ResetOwner() {
  ObjectRef owner = ownerDirectory_.lock();
  if (!owner) owner = ownerFile_.lock();
  if (auto* aceOwner = dynamic_cast<AceOwner*>(owner.get())) {
    aceOwner->ResetAces();
    return;
  }
  bool was = loading_;
  loading_ = true;
  while (items_.Count() > 0) items_.Remove(Variant(int32_t{1}));
  loading_ = was;
}

}  // namespace torvane

