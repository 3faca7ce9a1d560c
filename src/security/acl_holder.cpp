// Placeholder until the security subsystem lands: every owner and ACL member
// fails with a clear error, so ToXML leaves `owner` out.
#include "security/acl_holder.h"

namespace torvane {

namespace {
[[noreturn]] void NotAvailable() {
  throw Error(445, "Owner and access-control entries are not available in this build");
}
}  // namespace

void AclHolder::Drop() {
  aces_.reset();
  listed_ = false;
}
void AclHolder::Reset() { listed_ = false; }
void AclHolder::List(const std::shared_ptr<Object>&, const SecurityTarget&) { NotAvailable(); }
Variant AclHolder::Aces(const std::shared_ptr<Object>&, const SecurityTarget&, bool) { NotAvailable(); }
std::string AclHolder::GetOwner(const SecurityTarget&) { NotAvailable(); }
void AclHolder::LetOwner(const SecurityTarget&, const std::string&) { NotAvailable(); }

}  // namespace torvane
