#include "platform/accounts.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>

namespace torvane {

namespace {

// Runs one reentrant NSS query, growing the buffer while the answer does not fit.
template <class Rec, class Query>
bool Ask(Rec& rec, std::vector<char>& buf, Query query) {
  buf.resize(1024);
  for (;;) {
    Rec* result = nullptr;
    int rc = query(&rec, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 4);
      continue;
    }
    return rc == 0 && result != nullptr;
  }
}

std::optional<UserAccount> FromPasswd(bool found, const passwd& pw) {
  if (!found) return std::nullopt;
  return UserAccount{pw.pw_name, pw.pw_uid, pw.pw_gid};
}

std::optional<GroupAccount> FromGroup(bool found, const group& gr) {
  if (!found) return std::nullopt;
  return GroupAccount{gr.gr_name, gr.gr_gid};
}

}  // namespace

std::optional<UserAccount> FindUser(const std::string& name) {
  passwd pw{};
  std::vector<char> buf;
  bool found = Ask(pw, buf, [&](passwd* r, char* b, size_t n, passwd** out) {
    return getpwnam_r(name.c_str(), r, b, n, out);
  });
  return FromPasswd(found, pw);
}

std::optional<UserAccount> FindUser(uid_t uid) {
  passwd pw{};
  std::vector<char> buf;
  bool found = Ask(pw, buf, [&](passwd* r, char* b, size_t n, passwd** out) { return getpwuid_r(uid, r, b, n, out); });
  return FromPasswd(found, pw);
}

std::optional<GroupAccount> FindGroup(const std::string& name) {
  group gr{};
  std::vector<char> buf;
  bool found = Ask(gr, buf, [&](group* r, char* b, size_t n, group** out) {
    return getgrnam_r(name.c_str(), r, b, n, out);
  });
  return FromGroup(found, gr);
}

std::optional<GroupAccount> FindGroup(gid_t gid) {
  group gr{};
  std::vector<char> buf;
  bool found = Ask(gr, buf, [&](group* r, char* b, size_t n, group** out) { return getgrgid_r(gid, r, b, n, out); });
  return FromGroup(found, gr);
}

std::vector<gid_t> GroupsOfUser(const UserAccount& user) {
  int count = 32;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  while (getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0) {
    if (count <= static_cast<int>(groups.size())) count = static_cast<int>(groups.size()) * 2;
    groups.resize(static_cast<size_t>(count));
  }
  groups.resize(static_cast<size_t>(count));
  return groups;
}

std::string UserNameOf(uid_t uid) {
  auto user = FindUser(uid);
  return user ? user->name : std::to_string(uid);
}

}  // namespace torvane
