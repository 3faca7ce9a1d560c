#include "support/accounts.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace torvane::test {

bool IsRoot() { return geteuid() == 0; }

int RunCommand(const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

ThrowawayUser::ThrowawayUser(const std::string& tag, const std::string& password)
    : name_("tv" + tag + std::to_string(getpid())), password_(password) {
  RunCommand("userdel -f " + name_ + " >/dev/null 2>&1");
  if (RunCommand("useradd -M -U -s /usr/sbin/nologin " + name_ + " >/dev/null 2>&1") != 0)
    throw std::runtime_error("useradd failed for " + name_);
  RunCommand("echo '" + name_ + ":" + password_ + "' | chpasswd");
  struct passwd* pw = getpwnam(name_.c_str());
  if (!pw) throw std::runtime_error("new user not visible: " + name_);
  uid_ = pw->pw_uid;
  gid_ = pw->pw_gid;
}

ThrowawayUser::~ThrowawayUser() { RunCommand("userdel -f " + name_ + " >/dev/null 2>&1"); }

ThrowawayGroup::ThrowawayGroup(const std::string& tag) : name_("tvg" + tag + std::to_string(getpid())) {
  RunCommand("groupdel " + name_ + " >/dev/null 2>&1");
  if (RunCommand("groupadd " + name_ + " >/dev/null 2>&1") != 0) throw std::runtime_error("groupadd failed for " + name_);
  struct group* gr = getgrnam(name_.c_str());
  if (!gr) throw std::runtime_error("new group not visible: " + name_);
  gid_ = gr->gr_gid;
}

ThrowawayGroup::~ThrowawayGroup() { RunCommand("groupdel " + name_ + " >/dev/null 2>&1"); }

void ThrowawayGroup::AddMember(const std::string& user) { RunCommand("usermod -a -G " + name_ + " " + user); }

}  // namespace torvane::test
