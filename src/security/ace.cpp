#include "security/ace.h"

#include "host/script_context.h"
#include "host/xml.h"
#include "platform/security.h"
#include "security/rights.h"

namespace torvane {

const ClassInfo& Ace::Class() {
  static const ClassInfo info = ClassInfo::Make<Ace>(
      "ACE",
      {
          {"TrusteeName", MemberKind::Get, {}, [](Ace& a, Args&) { return Variant(a.TrusteeName()); }},
          {"TrusteeType", MemberKind::Get, {}, [](Ace& a, Args&) { return Variant(a.TrusteeType()); }},
          {"Inheritance", MemberKind::Let, {{"value"}},
           [](Ace& a, Args& v) { a.LetInheritance(v[0].toInt32()); return Variant(); }},
          {"Permissions", MemberKind::Let, {{"value"}},
           [](Ace& a, Args& v) { a.LetPermissions(v[0].toInt32()); return Variant(); }, kDispIdDefault},
          {"Permissions", MemberKind::Get, {}, [](Ace& a, Args&) { return Variant(a.Permissions()); }, kDispIdDefault},
          {"OnStartPage", MemberKind::Method, {{"myScriptingContext", true}},
           [](Ace&, Args&) { AttachScriptContext(); return Variant(); }},
          {"ToXML", MemberKind::Method, {{"Properties", true}, {"ExtraXML", true}},
           [](Ace& a, Args& v) { return Variant(a.ToXML(v[0], v[1])); }},
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
