// Computer: the server machine as a page sees it: its drives (one Directory
// per drive of the drive table), the account the calling thread acts as, the
// machine's name, and impersonation of another account on the calling thread.
#pragma once

#include <string>

#include "automation/object.h"
#include "host/trace.h"

namespace torvane {

class Computer : public Object {
 public:
  // Member table, slot order: Drives get, TraceFile set, UserName get,
  // ComputerName get, TraceFile get, Impersonate, EndImpersonate, ToXML,
  // OnStartPage.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // No trace channel, no drives read yet (no attach on creation).
  static ObjectRef Create();

  // The cDirectories of the drive table's drives in letter order, built on the
  // first read and returned unchanged afterwards. Each drive root goes through
  // the path policy, so "VirtualOnly" fails with 9030 (and nothing is kept).
  Variant Drives();
  void SetTraceFile(const Variant& file) { trace_.Set(file, "Computer"); }
  Variant TraceFile() const { return trace_.Get("Computer"); }
  // The account the calling thread acts as for file access ("" when unknown).
  std::string UserName() const;
  // The host name up to its first dot, upper case, at most 15 characters ("" on failure).
  std::string ComputerName() const;
  // Policy "AllowImpersonation" = "False": 9033 "Access Denied". Otherwise the
  // calling thread switches to the account (login type 2 when omitted).
  void Impersonate(const Variant& user, const Variant& password, const Variant& domain, const Variant& loginType);
  void EndImpersonate();
  std::string ToXML(const Variant& properties, const Variant& extra);

  // Package-internal.
  void SetTraceChannel(TraceChannel channel) { trace_.SetChannel(std::move(channel)); }

 private:
  TraceFileProperty trace_;
  ObjectRef drives_;
  bool drivesListed_ = false;
};

}  // namespace torvane
