// Users and groups as the system's name service (NSS) reports them.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace torvane {

struct UserAccount {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;  // primary group
};

struct GroupAccount {
  std::string name;
  gid_t gid = 0;
};

// Name lookups; nullopt when the name service knows no such account.
std::optional<UserAccount> FindUser(const std::string& name);
std::optional<UserAccount> FindUser(uid_t uid);
std::optional<GroupAccount> FindGroup(const std::string& name);
std::optional<GroupAccount> FindGroup(gid_t gid);

// The user's primary group and every group that lists the user as a member.
std::vector<gid_t> GroupsOfUser(const UserAccount& user);

// The user's name, or the number in decimal for a uid the name service does
// not know.
std::string UserNameOf(uid_t uid);

}  // namespace torvane
