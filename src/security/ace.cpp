#include "security/ace.h"

#include "automation/member_binding.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"
#include "platform/security.h"
#include "security/rights.h"

namespace torvane {

const ClassInfo& Ace::Class() {
  static const ClassInfo info = ClassInfo::Make<Ace>(
      "ACE",
      {
          {"TrusteeName", MemberKind::Get, {}, Getter(&Ace::TrusteeName),
           "The account or group the entry is for", "String"},
          {"TrusteeType", MemberKind::Get, {}, Getter(&Ace::TrusteeType),
           "Whether the trustee is a user or a group (TV_TRUSTEETYPE)", "Long"},
          {"Inheritance", MemberKind::Let, {{"value"}},
           [](Ace& a, Args& v) { a.LetInheritance(v[0].toInt32()); return Variant(); },
           "Sets how the entry passes to files and folders below (TV_INHERITS)"},
          {"Permissions", MemberKind::Let, {{"value"}},
           [](Ace& a, Args& v) { a.LetPermissions(v[0].toInt32()); return Variant(); }, kDispIdDefault,
           "Sets the rights and writes the entry to disk (TV_PERMISSIONS)"},
          {"Permissions", MemberKind::Get, {}, [](Ace& a, Args&) { return Variant(a.Permissions()); }, kDispIdDefault,
           "The rights the entry grants (TV_PERMISSIONS)", "Long"},
          OnStartPageMember<Ace>(),
          XmlMember<Ace>("The entry as an XML element"),
      });
  return info;
}

ObjectRef Ace::Create() { return std::make_shared<Ace>(); }

void Ace::LetPermissions(int32_t value) {
  if (!suppressWrite_) {
    auto utility = CreateSystemUtility();
    if (value == 0)
      utility->RevokeAce(path_, trusteeName_);
    else
      utility->SetAce(path_, trusteeName_, static_cast<int32_t>(PermissionsToRights(value)), kFlagContainerInherit);
  }
  permissions_ = value;
}

void Ace::LetInheritance(int32_t value) {
  if (!suppressWrite_ && isDirectory_)
    CreateSystemUtility()->SetAce(path_, trusteeName_, static_cast<int32_t>(InheritanceToRights(value)),
                                  kFlagInheritOnlyObjects);
  inheritance_ = value;
}

std::string Ace::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "ace", "permissions,trusteename,trusteetype", properties, extra);
}

}  // namespace torvane
