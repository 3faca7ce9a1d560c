#include "platform/security.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "automation/error.h"
#include "platform/accounts.h"
#include "platform/identity.h"
#include "platform/pam_auth.h"
#include "platform/paths.h"
#include "platform/settings.h"

namespace torvane {

namespace {

// Writes `text` and a NUL over the start of a caller's buffer; a text that does
// not fit is cut so that the NUL still fits.
void FillBuffer(std::string& buffer, const std::string& text) {
  if (buffer.empty()) return;
  size_t n = std::min(text.size(), buffer.size() - 1);
  buffer.replace(0, n, text, 0, n);
  buffer[n] = '\0';
}

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

bool KnownLogonType(int32_t type) { return (type >= 2 && type <= 5) || (type >= 7 && type <= 9); }

class LinuxSystemUtility final : public SystemUtility {
 public:
  void SetAce(const std::string& path, const std::string& trustee, int32_t mask, int32_t flags) override {
    Trustee t = ResolveTrustee(trustee);
    SetAceRecord(ToNativePath(path), t, static_cast<uint32_t>(mask), flags);
  }

  void RemoveAce(const std::string& path, const std::string& trustee) override {
    Trustee t = ResolveTrustee(trustee);
    RemoveTrusteeAces(ToNativePath(path), t);
  }

  void RevokeAce(const std::string& path, const std::string& trustee) override { RemoveAce(path, trustee); }

  void SetOwner(const std::string& path, const std::string& owner) override { ChangeOwner(ToNativePath(path), owner); }

  void GetOwner(const std::string& path, std::string& buffer) override { FillBuffer(buffer, OwnerOf(ToNativePath(path))); }

  void BeginAceList(const std::string& path) override {
    records_ = ListAceRecords(ToNativePath(path));
    next_ = 0;
  }

  void EndAceList() override {
    records_.clear();
    next_ = 0;
  }

  int32_t NextAce(int32_t& mask, int32_t& accessMode, int32_t& inheritance, int32_t& trusteeType,
                  std::string& nameBuffer) override {
    if (next_ >= records_.size()) return 0;
    const AceRecord& r = records_[next_++];
    mask = static_cast<int32_t>(r.mask);
    accessMode = r.mode;
    inheritance = r.flags;
    trusteeType = TrusteeTypeOf(r.trustee);
    FillBuffer(nameBuffer, TrusteeDisplayName(r.trustee));
    return 1;
  }

  void Impersonate(const std::string& domain, const std::string& user, const std::string& password,
                   int32_t logonType) override {
    if (!KnownLogonType(logonType)) throw Error(EINVAL, "Invalid login type " + std::to_string(logonType) + ".");
    std::string name = user.substr(user.find_last_of('\\') == std::string::npos ? 0 : user.find_last_of('\\') + 1);
    // PAM runs under the process's own identity (it may need to read the shadow
    // file); a refusal puts the thread back as it was, impersonating or not.
    FsIdentity before = CurrentThreadIdentity();
    bool wasImpersonating = ThreadIsImpersonating();
    RestoreThreadIdentity();
    try {
      // Account names are matched as the name service has them, or in lower case.
      auto known = FindUser(name);
      if (!known) known = FindUser(LowerAscii(name));
      if (!known) throw Error(EACCES, "Logon failure: unknown user name or bad password.");
      std::string settled = PamAuthenticate(CurrentSettings().pamService, known->name, password);
      auto account = FindUser(settled);
      if (!account) throw Error(EACCES, "Logon failure: unknown user name or bad password.");
      SwitchThreadIdentity(FsIdentity{account->uid, account->gid, GroupsOfUser(*account)});
    } catch (const Error&) {
      if (wasImpersonating) SwitchThreadIdentity(before);
      throw;
    }
  }

  void EndImpersonate() override { RestoreThreadIdentity(); }

 private:
  std::vector<AceRecord> records_;
  size_t next_ = 0;
};

std::mutex gFactoryMutex;
SystemUtilityFactory& FactoryStore() {
  static SystemUtilityFactory factory;
  return factory;
}

}  // namespace

std::unique_ptr<SystemUtility> CreateLinuxSystemUtility() { return std::make_unique<LinuxSystemUtility>(); }

std::unique_ptr<SystemUtility> CreateSystemUtility() {
  SystemUtilityFactory factory;
  {
    std::lock_guard<std::mutex> lock(gFactoryMutex);
    factory = FactoryStore();
  }
  return factory ? factory() : CreateLinuxSystemUtility();
}

SystemUtilityFactory SetSystemUtilityFactory(SystemUtilityFactory factory) {
  std::lock_guard<std::mutex> lock(gFactoryMutex);
  SystemUtilityFactory previous = std::move(FactoryStore());
  FactoryStore() = std::move(factory);
  return previous;
}

}  // namespace torvane
