// Throwaway users and groups for tests that need real accounts (ACL entries,
// owners, impersonation). They need root; tests skip themselves otherwise.
// Names carry the process id, so tests running in parallel never collide, and
// every account is removed again when its object goes away.
#pragma once

#include <sys/types.h>

#include <string>

namespace torvane::test {

bool IsRoot();

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string CommandOutput(const std::string& command);

class ThrowawayUser {
 public:
  // Creates "tv<tag><pid>" with its own group, no home and the password.
  explicit ThrowawayUser(const std::string& tag, const std::string& password = "Secret-123");
  ~ThrowawayUser();
  ThrowawayUser(const ThrowawayUser&) = delete;
  ThrowawayUser& operator=(const ThrowawayUser&) = delete;

  const std::string& name() const { return name_; }
  const std::string& password() const { return password_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }

 private:
  std::string name_, password_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

class ThrowawayGroup {
 public:
  explicit ThrowawayGroup(const std::string& tag);
  ~ThrowawayGroup();
  ThrowawayGroup(const ThrowawayGroup&) = delete;
  ThrowawayGroup& operator=(const ThrowawayGroup&) = delete;

  void AddMember(const std::string& user);
  const std::string& name() const { return name_; }
  gid_t gid() const { return gid_; }

 private:
  std::string name_;
  gid_t gid_ = 0;
};

}  // namespace torvane::test
