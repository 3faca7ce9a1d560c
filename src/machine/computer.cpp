#include "machine/computer.h"

#include <unistd.h>

#include <cctype>
#include <climits>

#include "automation/component_errors.h"
#include "automation/member_binding.h"
#include "basics/ascii.h"
#include "dirs/cdirectories.h"
#include "dirs/directory.h"
#include "host/policy.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"
#include "platform/accounts.h"
#include "platform/identity.h"
#include "platform/paths.h"
#include "platform/security.h"

namespace torvane {

namespace {

[[noreturn]] void AccessDenied() { throw ComponentError(component_error::AccessDenied, "Access Denied", "Computer"); }

// A value's text for a trace line; a value without one gives "".
std::string TextOf(const Variant& v) {
  try {
    return v.toString();
  } catch (const Error&) {
    return "";
  }
}

}  // namespace

const ClassInfo& Computer::Class() {
  static const ClassInfo info = ClassInfo::Make<Computer>(
      "Computer",
      {
          {"Drives", MemberKind::Get, {}, Getter(&Computer::Drives),
           "The drive table's folders as a collection", "cDirectories"},
          TraceFileSetMember<Computer>(),
          {"UserName", MemberKind::Get, {}, Getter(&Computer::UserName),
           "The account the page runs as", "String"},
          {"ComputerName", MemberKind::Get, {}, Getter(&Computer::ComputerName),
           "The machine's host name", "String"},
          {"TraceFile", MemberKind::Get, {}, Getter(&Computer::TraceFile),
           "The trace-log File", "File"},
          {"Impersonate", MemberKind::Method, {{"User"}, {"Password"}, {"Domain"}, {"LoginType", true, "TV_LOGIN_INTERACTIVE"}},
           [](Computer& c, Args& a) { c.Impersonate(a[0], a[1], a[2], a[3]); return Variant(); },
           "Runs the rest of the page as another account after checking its password"},
          {"EndImpersonate", MemberKind::Method, {}, Action(&Computer::EndImpersonate),
           "Returns to the host's own account"},
          XmlMember<Computer>("Computer and user name as an XML element"),
          OnStartPageMember<Computer>(),
      });
  return info;
}

ObjectRef Computer::Create() { return std::make_shared<Computer>(); }

std::string Computer::UserName() const {
  uid_t uid = CurrentThreadIdentity().uid;
  auto user = FindUser(uid);
  return user ? user->name : "";
}

std::string Computer::ComputerName() const {
  char buf[HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return "";
  std::string name(buf);
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) name.resize(15);
  return AsciiUpper(name);
}

void Computer::Impersonate(const Variant& user, const Variant& password, const Variant& domain,
                           const Variant& loginType) {
  if (!AllowImpersonation()) AccessDenied();
  try {
    int32_t type = loginType.isMissing() ? 2 : loginType.toInt32();
    std::string d = domain.toString(), u = user.toString(), p = password.toString();
    CreateSystemUtility()->Impersonate(d, u, p, type);
    trace_.Write("Computer.Impersonate - Impersonate " + u + ".");
  } catch (const Error& e) {
    int32_t number = LowWord(e.number);
    trace_.Write("***Error in Computer.Impersonate *** - Impersonate of " + TextOf(user) + " Failed.");
    trace_.Write("(" + std::to_string(number) + ") " + e.description);
    throw Error(number, e.description, e.source);
  }
}

void Computer::EndImpersonate() {
  if (!AllowImpersonation()) AccessDenied();
  try {
    CreateSystemUtility()->EndImpersonate();
    trace_.Write("Computer.EndImpersonate.");
  } catch (const Error& e) {
    int32_t number = LowWord(e.number);
    trace_.Write("***Error in Computer.EndImpersonate ***");
    trace_.Write("(" + std::to_string(number) + ") " + e.description);
    throw Error(number, e.description, e.source);
  }
}

Variant Computer::Drives() {
  if (!drivesListed_) {
    // The drive table stands for the platform's mask of present drives: one
    // Directory per letter, A to Z. A refused root fails the whole read and
    // nothing is kept, so a later read starts again.
    auto list = CDirectories::New();
    DriveTable table = torvane::Drives();
    for (const auto& [letter, root] : table.drives)
      if (letter >= 'A' && letter <= 'Z') list->Add(std::string(1, letter) + ":\\");
    drives_ = list;
    drivesListed_ = true;
  }
  return Variant(drives_);
}

std::string Computer::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "computer", "computername,username", properties, extra);
}

}  // namespace torvane
