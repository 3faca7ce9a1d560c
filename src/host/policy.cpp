#include "host/policy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "automation/component_errors.h"
#include "host/script_context.h"
#include "platform/beneath.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace torvane {

namespace {
thread_local int32_t tPathPolicy = 0;

// Under "VirtualOnly" a virtual path must not reach outside the site through
// a symbolic link: the kernel resolves it against the site root, and a link
// that leads out (or is absolute) refuses it like a physical path.
void RefuseLinksOut(const std::string& mapped) {
  std::string root = ToNativePath(ScriptServer().MapPath("/"));
  if (!PathStaysBeneath(root, ToNativePath(mapped))) throw Error(component_error::VirtualOnly,
                                                                 "Only virtual directories may be used.");
}
}  // namespace

int32_t QueryRegistryValue(std::string_view key, std::string_view valueName, Variant& value) {
  RegValue rv;
  int32_t status = RegistryLookup(key, valueName, rv);
  if (status != 0) return status;
  switch (rv.type) {
    case kRegSz:
      value = Variant(rv.text + std::string(1, '\0'));
      return 0;
    case kRegDword:
      value = Variant(static_cast<int32_t>(rv.number));
      return 0;
    default:
      return -1;
  }
}

std::string ReadPolicyText(std::string_view valueName) {
  Variant v;
  QueryRegistryValue(kPolicyKey, valueName, v);
  std::string text = v.isString() ? v.str() : "";
  if (!text.empty()) text.pop_back();
  return text;
}

bool AllowImpersonation() { return ReadPolicyText("AllowImpersonation") != "False"; }

int32_t PathPolicy() {
  if (tPathPolicy == 0) tPathPolicy = ReadPolicyText("AllowPaths") == "VirtualOnly" ? 2 : 1;
  return tPathPolicy;
}

void ResetPathPolicy() { tPathPolicy = 0; }

std::string ResolvePath(std::string_view path, bool isDirectory) {
  std::string dir, name;
  if (isDirectory) {
    dir = std::string(path);
  } else {
    size_t cut = path.find_last_of("/\\");
    if (cut != std::string_view::npos) {
      dir = std::string(path.substr(0, cut + 1));
      name = std::string(path.substr(cut + 1));
    } else {
      name = std::string(path);
    }
  }
  bool physical = (dir.size() >= 3 && dir[1] == ':' && (dir[2] == '/' || dir[2] == '\\')) ||
                  (!dir.empty() && dir[0] == '\\') || dir.rfind("..", 0) == 0 ||
                  dir.find("/../") != std::string::npos;
  if (physical) {
    if (PathPolicy() == 2) throw Error(component_error::VirtualOnly, "Only virtual directories may be used.");
    return std::string(path);
  }
  std::string mapped;
  if (dir.rfind("./", 0) == 0 || dir.rfind("/", 0) == 0)
    mapped = ScriptServer().MapPath(dir);
  else
    mapped = ScriptServer().MapPath("./" + dir);
  if (!isDirectory) mapped += "\\" + name;
  if (PathPolicy() == 2) RefuseLinksOut(mapped);
  return mapped;
}

void SetFileDateTime(std::string_view path, double date) {
  int64_t unixTime = UnixFromDate(date);
  std::string native = ToNativePath(path);
  int fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) ThrowErrno(errno);
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(unixTime);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  int rc = ::futimens(fd, times);
  int e = errno;
  ::close(fd);
  if (rc != 0) ThrowErrno(e);
}

}  // namespace torvane
