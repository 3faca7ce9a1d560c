// A system utility for tests: records every call the classes make, plays back
// a scripted ACL listing and owner, and fails the operations a test names.
// RecordingUtility::Scope installs it for the current test and puts the Linux
// one back afterwards.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/error.h"
#include "platform/security.h"

namespace torvane::test {

struct ScriptedAce {
  std::string name;     // written into the caller's buffer
  int32_t mask = 0;
  int32_t mode = 2;
  int32_t inheritance = 0;
  int32_t type = 1;
  bool withNul = true;  // false: the name fills the buffer without a NUL
  bool blank = false;   // true: the buffer is left as it was (all blanks)
};

struct RecordingState {
  std::vector<std::string> calls;
  std::vector<ScriptedAce> listing;
  std::string owner = "root";
  bool ownerWithoutNul = false;
  std::map<std::string, Error> failures;  // operation name -> error thrown
  std::optional<size_t> failNextAceAt;    // NextAce fails when asked for entry n (0-based)
  int32_t lastLogonType = -1;
};

class RecordingUtility : public SystemUtility {
 public:
  explicit RecordingUtility(std::shared_ptr<RecordingState> s) : s_(std::move(s)) {}

  void SetAce(const std::string& path, const std::string& trustee, int32_t mask, int32_t flags) override {
    char m[16];
    std::snprintf(m, sizeof m, "0x%X", static_cast<uint32_t>(mask));
    Record("SetAce", path + " " + trustee + " " + m + " " + std::to_string(flags));
  }
  void RemoveAce(const std::string& path, const std::string& trustee) override { Record("RemoveAce", path + " " + trustee); }
  void RevokeAce(const std::string& path, const std::string& trustee) override { Record("RevokeAce", path + " " + trustee); }
  void SetOwner(const std::string& path, const std::string& owner) override { Record("SetOwner", path + " " + owner); }
  void GetOwner(const std::string& path, std::string& buffer) override {
    Record("GetOwner", path);
    buffer.replace(0, s_->owner.size(), s_->owner);
    if (!s_->ownerWithoutNul) buffer[s_->owner.size()] = '\0';
  }
  void BeginAceList(const std::string& path) override {
    Record("BeginAceList", path);
    next_ = 0;
  }
  void EndAceList() override { Record("EndAceList", ""); }
  int32_t NextAce(int32_t& mask, int32_t& mode, int32_t& inheritance, int32_t& type, std::string& buffer) override {
    if (s_->failNextAceAt && *s_->failNextAceAt == next_) Fail("NextAce");
    if (next_ >= s_->listing.size()) return 0;
    const ScriptedAce& a = s_->listing[next_++];
    mask = a.mask;
    mode = a.mode;
    inheritance = a.inheritance;
    type = a.type;
    if (!a.blank) {
      if (a.withNul) {
        buffer.replace(0, a.name.size(), a.name);
        buffer[a.name.size()] = '\0';
      } else {
        buffer.assign(a.name);
      }
    }
    return 1;
  }
  void Impersonate(const std::string& domain, const std::string& user, const std::string& password,
                   int32_t logonType) override {
    s_->lastLogonType = logonType;
    Record("Impersonate", domain + " " + user + " " + password + " " + std::to_string(logonType));
  }
  void EndImpersonate() override { Record("EndImpersonate", ""); }

  // Installs a factory of recording utilities sharing one state.
  class Scope {
   public:
    Scope() : state(std::make_shared<RecordingState>()) {
      auto s = state;
      previous_ = SetSystemUtilityFactory([s] { return std::make_unique<RecordingUtility>(s); });
    }
    ~Scope() { SetSystemUtilityFactory(previous_); }
    std::shared_ptr<RecordingState> state;

   private:
    SystemUtilityFactory previous_;
  };

 private:
  void Record(const std::string& op, const std::string& args) {
    s_->calls.push_back(args.empty() ? op : op + " " + args);
    Fail(op);
  }
  void Fail(const std::string& op) {
    auto it = s_->failures.find(op);
    if (it != s_->failures.end()) throw it->second;
  }
  std::shared_ptr<RecordingState> s_;
  size_t next_ = 0;
};

}  // namespace torvane::test
