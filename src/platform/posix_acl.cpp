#include "platform/posix_acl.h"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <sstream>

#include "automation/error.h"
#include "platform/accounts.h"

namespace torvane {

namespace {

constexpr unsigned kR = 4, kW = 2, kX = 1;
constexpr uint32_t kReadMask = 0x120089, kWriteMask = 0x120116, kExecMask = 0x1200A0;
constexpr uint32_t kGenAll = 0x10000000, kGenExec = 0x20000000, kGenWrite = 0x40000000, kGenRead = 0x80000000;
constexpr int32_t kInheritOnly = 8, kObjectInherit = 1, kContainerInherit = 2;
constexpr int32_t kDeny = 3, kAllow = 2;

// ---- names -----------------------------------------------------------------------------

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() < 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Drops a "DOMAIN\" prefix.
std::string WithoutDomain(const std::string& name) {
  size_t cut = name.find_last_of('\\');
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// Splits off a "user:" or "group:" prefix (any letter case); returns the kind asked for.
char KindPrefix(std::string& name) {
  std::string low = Lower(name);
  if (low.rfind("user:", 0) == 0) {
    name = name.substr(5);
    return 'u';
  }
  if (low.rfind("group:", 0) == 0) {
    name = name.substr(6);
    return 'g';
  }
  return 0;
}

std::optional<uint32_t> UserIdNamed(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (auto u = FindUser(name)) return u->uid;
  if (auto u = FindUser(Lower(name))) return u->uid;
  if (AllDigits(name)) return static_cast<uint32_t>(std::stoul(name));
  return std::nullopt;
}

std::optional<uint32_t> GroupIdNamed(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (auto g = FindGroup(name)) return g->gid;
  if (auto g = FindGroup(Lower(name))) return g->gid;
  if (AllDigits(name)) return static_cast<uint32_t>(std::stoul(name));
  return std::nullopt;
}

// ---- POSIX ACLs as plain values -----------------------------------------------------------

struct PEntry {
  acl_tag_t tag;
  uint32_t id;  // qualifier of ACL_USER / ACL_GROUP, else 0
  unsigned perms;
  bool operator==(const PEntry&) const = default;
};

struct PAcl {
  std::vector<PEntry> entries;

  PEntry* Find(acl_tag_t tag, uint32_t id) {
    for (auto& e : entries)
      if (e.tag == tag && (e.id == id || (tag != ACL_USER && tag != ACL_GROUP))) return &e;
    return nullptr;
  }
  const PEntry* Find(acl_tag_t tag, uint32_t id) const { return const_cast<PAcl*>(this)->Find(tag, id); }
  bool Has(acl_tag_t tag) const { return Find(tag, 0) != nullptr; }
  bool HasNamed() const {
    return std::any_of(entries.begin(), entries.end(), [](const PEntry& e) { return e.tag == ACL_USER || e.tag == ACL_GROUP; });
  }
  void Erase(acl_tag_t tag, uint32_t id) {
    std::erase_if(entries, [&](const PEntry& e) { return e.tag == tag && e.id == id; });
  }
  // The permissions the kernel grants through this entry (the group class is
  // limited by the mask entry).
  unsigned Effective(const PEntry& e) const {
    if (e.tag != ACL_USER && e.tag != ACL_GROUP && e.tag != ACL_GROUP_OBJ) return e.perms;
    const PEntry* mask = Find(ACL_MASK, 0);
    return mask ? (e.perms & mask->perms) : e.perms;
  }
  bool operator==(const PAcl&) const = default;
};

bool IsBaseTag(acl_tag_t tag) { return tag == ACL_USER_OBJ || tag == ACL_GROUP_OBJ || tag == ACL_OTHER; }

// Releases a libacl object when it goes out of scope.
struct AclPtr {
  acl_t acl = nullptr;
  ~AclPtr() {
    if (acl) acl_free(acl);
  }
};

PAcl ReadPosix(const std::string& native, acl_type_t type) {
  AclPtr a{acl_get_file(native.c_str(), type)};
  if (!a.acl) {
    // A file system without ACLs has no default ACL; the access ACL is the mode.
    if (errno != ENOTSUP && errno != EOPNOTSUPP) ThrowErrno(errno);
    if (type == ACL_TYPE_DEFAULT) return {};
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) ThrowErrno(errno);
    return PAcl{{{ACL_USER_OBJ, 0, (st.st_mode >> 6) & 7u},
                 {ACL_GROUP_OBJ, 0, (st.st_mode >> 3) & 7u},
                 {ACL_OTHER, 0, st.st_mode & 7u}}};
  }
  PAcl out;
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(a.acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
    PEntry e{};
    acl_get_tag_type(entry, &e.tag);
    if (e.tag == ACL_USER || e.tag == ACL_GROUP) {
      void* q = acl_get_qualifier(entry);
      if (q) {
        e.id = *static_cast<uint32_t*>(q);
        acl_free(q);
      }
    }
    acl_permset_t ps;
    acl_get_permset(entry, &ps);
    e.perms = (acl_get_perm(ps, ACL_READ) == 1 ? kR : 0) | (acl_get_perm(ps, ACL_WRITE) == 1 ? kW : 0) |
              (acl_get_perm(ps, ACL_EXECUTE) == 1 ? kX : 0);
    out.entries.push_back(e);
  }
  return out;
}

// Builds the libacl form; fails with EINVAL for an ACL the kernel would refuse.
AclPtr ToLibacl(const PAcl& in) {
  AclPtr a{acl_init(static_cast<int>(in.entries.size()))};
  if (!a.acl) ThrowErrno(errno);
  for (const auto& e : in.entries) {
    acl_entry_t entry;
    if (acl_create_entry(&a.acl, &entry) != 0) ThrowErrno(errno);
    acl_set_tag_type(entry, e.tag);
    if (e.tag == ACL_USER || e.tag == ACL_GROUP) {
      uint32_t id = e.id;
      acl_set_qualifier(entry, &id);
    }
    acl_permset_t ps;
    acl_get_permset(entry, &ps);
    acl_clear_perms(ps);
    if (e.perms & kR) acl_add_perm(ps, ACL_READ);
    if (e.perms & kW) acl_add_perm(ps, ACL_WRITE);
    if (e.perms & kX) acl_add_perm(ps, ACL_EXECUTE);
    acl_set_permset(entry, ps);
  }
  if (acl_valid(a.acl) != 0) ThrowErrno(EINVAL);
  return a;
}

void WritePosix(const std::string& native, acl_type_t type, const PAcl& acl) {
  if (type == ACL_TYPE_DEFAULT && acl.entries.empty()) {
    if (acl_delete_def_file(native.c_str()) != 0) ThrowErrno(errno);
    return;
  }
  AclPtr a = ToLibacl(acl);
  if (acl_set_file(native.c_str(), type, a.acl) != 0) ThrowErrno(errno);
}

// ---- where a trustee lives in the ACLs ------------------------------------------------------

struct Slot {
  acl_tag_t tag;
  uint32_t id;
};

// The access ACL entry that decides the trustee's access to the object.
Slot AccessSlot(const Trustee& t, const struct stat& st) {
  switch (t.kind) {
    case TrusteeKind::User: return t.id == st.st_uid ? Slot{ACL_USER_OBJ, 0} : Slot{ACL_USER, t.id};
    case TrusteeKind::Group: return t.id == st.st_gid ? Slot{ACL_GROUP_OBJ, 0} : Slot{ACL_GROUP, t.id};
    case TrusteeKind::Everyone: break;
  }
  return Slot{ACL_OTHER, 0};
}

// The default ACL entry that new files and folders inherit for the trustee.
Slot DefaultSlot(const Trustee& t) {
  switch (t.kind) {
    case TrusteeKind::User: return Slot{ACL_USER, t.id};
    case TrusteeKind::Group: return Slot{ACL_GROUP, t.id};
    case TrusteeKind::Everyone: break;
  }
  return Slot{ACL_OTHER, 0};
}

std::optional<Trustee> TrusteeOfAccess(const PEntry& e, const struct stat& st) {
  switch (e.tag) {
    case ACL_USER_OBJ: return Trustee{TrusteeKind::User, st.st_uid};
    case ACL_USER: return Trustee{TrusteeKind::User, e.id};
    case ACL_GROUP_OBJ: return Trustee{TrusteeKind::Group, st.st_gid};
    case ACL_GROUP: return Trustee{TrusteeKind::Group, e.id};
    case ACL_OTHER: return Trustee{TrusteeKind::Everyone, 0};
    default: return std::nullopt;
  }
}

std::optional<Trustee> TrusteeOfDefault(const PEntry& e) {
  switch (e.tag) {
    case ACL_USER: return Trustee{TrusteeKind::User, e.id};
    case ACL_GROUP: return Trustee{TrusteeKind::Group, e.id};
    case ACL_OTHER: return Trustee{TrusteeKind::Everyone, 0};
    default: return std::nullopt;  // owner, group and mask of new objects
  }
}

// ---- the object's whole state --------------------------------------------------------------

struct ObjectAcl {
  struct stat st {};
  bool isDir = false;
  PAcl access, dflt;
  std::vector<AceRecord> exact;  // as the attribute keeps them
};

// What a trustee's entries say the ACLs must hold.
struct Implied {
  bool accessHas = false, defaultHas = false;
  unsigned access = 0, dflt = 0;
};

bool AppliesToObject(int32_t flags) { return !(flags & kInheritOnly); }
bool AppliesToChildren(int32_t flags, bool isDir) { return isDir && (flags & (kObjectInherit | kContainerInherit)); }

Implied Imply(const std::vector<AceRecord>& list, bool isDir) {
  unsigned allowA = 0, denyA = 0, allowD = 0, denyD = 0;
  Implied out;
  for (const auto& r : list) {
    unsigned p = PermsOfMask(r.mask);
    bool deny = r.mode == kDeny;
    if (AppliesToObject(r.flags)) {
      out.accessHas = true;
      (deny ? denyA : allowA) |= p;
    }
    if (AppliesToChildren(r.flags, isDir)) {
      out.defaultHas = true;
      (deny ? denyD : allowD) |= p;
    }
  }
  out.access = allowA & ~denyA;
  out.dflt = allowD & ~denyD;
  return out;
}

bool DimensionAgrees(const PAcl& acl, Slot s, bool has, unsigned perms) {
  const PEntry* e = acl.Find(s.tag, s.id);
  if (has) return e && acl.Effective(*e) == perms;
  return IsBaseTag(s.tag) || !e;
}

// True when the POSIX ACLs still say what the trustee's exact entries say.
bool Agrees(const Trustee& t, const std::vector<AceRecord>& list, const PAcl& access, const PAcl& dflt,
            const ObjectAcl& o) {
  if (list.empty()) return false;
  Implied imp = Imply(list, o.isDir);
  if (!DimensionAgrees(access, AccessSlot(t, o.st), imp.accessHas, imp.access)) return false;
  return !o.isDir || DimensionAgrees(dflt, DefaultSlot(t), imp.defaultHas, imp.dflt);
}

std::vector<AceRecord> EntriesOf(const std::vector<AceRecord>& all, const Trustee& t) {
  std::vector<AceRecord> out;
  for (const auto& r : all)
    if (r.trustee == t) out.push_back(r);
  return out;
}

// The trustee's entries as the POSIX ACLs say: one entry with flag 2 when the
// access and default entries agree, else an access entry (flag 0) and a default
// entry (flag 9). `withAccess` / `withDefault` pick the parts.
std::vector<AceRecord> Derive(const Trustee& t, const ObjectAcl& o, bool withAccess = true, bool withDefault = true) {
  const PEntry* a = withAccess ? o.access.Find(AccessSlot(t, o.st).tag, AccessSlot(t, o.st).id) : nullptr;
  const PEntry* d = withDefault && o.isDir ? o.dflt.Find(DefaultSlot(t).tag, DefaultSlot(t).id) : nullptr;
  std::vector<AceRecord> out;
  if (a && d && o.access.Effective(*a) == o.dflt.Effective(*d)) {
    out.push_back({MaskOfPerms(o.access.Effective(*a)), kAllow, kContainerInherit, t});
    return out;
  }
  if (a) out.push_back({MaskOfPerms(o.access.Effective(*a)), kAllow, 0, t});
  if (d) out.push_back({MaskOfPerms(o.dflt.Effective(*d)), kAllow, kInheritOnly | kObjectInherit, t});
  return out;
}

// ---- the attribute --------------------------------------------------------------------------

constexpr const char* kExactHeader = "torvane-acl 1";

std::string FormatExact(const std::vector<AceRecord>& list) {
  std::string out = std::string(kExactHeader) + "\n";
  char line[96];
  for (const auto& r : list) {
    char kind = r.trustee.kind == TrusteeKind::User ? 'u' : r.trustee.kind == TrusteeKind::Group ? 'g' : 'e';
    std::snprintf(line, sizeof line, "%c %d %08x %c %u\n", r.mode == kDeny ? 'D' : 'A', r.flags, r.mask, kind,
                  r.trustee.id);
    out += line;
  }
  return out;
}

// Parses the attribute; anything malformed counts as no exact entries at all.
std::vector<AceRecord> ParseExact(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kExactHeader) return {};
  std::vector<AceRecord> out;
  while (std::getline(in, line)) {
    char mode = 0, kind = 0;
    int flags = 0;
    unsigned mask = 0, id = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "%c %d %x %c %u%n", &mode, &flags, &mask, &kind, &id, &used) != 5 ||
        static_cast<size_t>(used) != line.size() || (mode != 'A' && mode != 'D') ||
        (kind != 'u' && kind != 'g' && kind != 'e'))
      return {};
    TrusteeKind k = kind == 'u' ? TrusteeKind::User : kind == 'g' ? TrusteeKind::Group : TrusteeKind::Everyone;
    out.push_back({mask, mode == 'D' ? kDeny : kAllow, flags, Trustee{k, k == TrusteeKind::Everyone ? 0 : id}});
  }
  return out;
}

std::vector<AceRecord> ReadExact(const std::string& native) {
  std::string buf(4096, '\0');
  for (;;) {
    ssize_t n = getxattr(native.c_str(), kExactAceAttribute, buf.data(), buf.size());
    if (n >= 0) {
      buf.resize(static_cast<size_t>(n));
      return ParseExact(buf);
    }
    if (errno != ERANGE || buf.size() >= (1u << 16)) return {};  // absent, unsupported or unreadable
    buf.resize(1u << 16);
  }
}

// Best effort: where the attribute cannot be kept, listings derive from the ACL.
void WriteExact(const std::string& native, const std::vector<AceRecord>& list) {
  if (list.empty()) {
    removexattr(native.c_str(), kExactAceAttribute);
    return;
  }
  std::string text = FormatExact(list);
  if (setxattr(native.c_str(), kExactAceAttribute, text.data(), text.size(), 0) != 0)
    removexattr(native.c_str(), kExactAceAttribute);
}

ObjectAcl Load(const std::string& native) {
  ObjectAcl o;
  if (::stat(native.c_str(), &o.st) != 0) ThrowErrno(errno);
  o.isDir = S_ISDIR(o.st.st_mode);
  o.access = ReadPosix(native, ACL_TYPE_ACCESS);
  if (o.isDir) o.dflt = ReadPosix(native, ACL_TYPE_DEFAULT);
  o.exact = ReadExact(native);
  return o;
}

// Every trustee the ACLs or the attribute name, in ACL order.
std::vector<Trustee> TrusteesOf(const ObjectAcl& o) {
  std::vector<Trustee> out;
  auto add = [&](const std::optional<Trustee>& t) {
    if (t && std::find(out.begin(), out.end(), *t) == out.end()) out.push_back(*t);
  };
  for (const auto& e : o.access.entries) add(TrusteeOfAccess(e, o.st));
  for (const auto& e : o.dflt.entries) add(TrusteeOfDefault(e));
  return out;
}

// The trustees of the exact entries, in the order they first appear.
std::vector<Trustee> TrusteesOfExact(const std::vector<AceRecord>& list) {
  std::vector<Trustee> out;
  for (const auto& r : list)
    if (std::find(out.begin(), out.end(), r.trustee) == out.end()) out.push_back(r.trustee);
  return out;
}

// ---- changing one trustee --------------------------------------------------------------------

// Sets the ACL entry of one slot to what the trustee's entries imply. A named
// entry without any applying entry goes away; the owner, group and other
// entries cannot, so they keep their bits, or lose them when `clearBase`.
void ApplySlot(PAcl& acl, Slot s, bool has, unsigned perms, bool clearBase) {
  PEntry* e = acl.Find(s.tag, s.id);
  if (has) {
    if (e) e->perms = perms;
    else acl.entries.push_back({s.tag, s.id, perms});
  } else if (!IsBaseTag(s.tag)) {
    acl.Erase(s.tag, s.id);
  } else if (clearBase && e) {
    e->perms = 0;
  }
}

// Gives an ACL with named entries a mask that lets `needed` through the group
// class; an existing mask is only ever widened.
void FixMask(PAcl& acl, Slot s, unsigned needed) {
  PEntry* mask = acl.Find(ACL_MASK, 0);
  bool groupClass = s.tag == ACL_USER || s.tag == ACL_GROUP || s.tag == ACL_GROUP_OBJ;
  if (mask) {
    if (groupClass) mask->perms |= needed;
    return;
  }
  if (!acl.HasNamed()) return;
  unsigned all = 0;
  for (const auto& e : acl.entries)
    if (e.tag == ACL_USER || e.tag == ACL_GROUP || e.tag == ACL_GROUP_OBJ) all |= e.perms;
  acl.entries.push_back({ACL_MASK, 0, all});
}

// A folder's first default entry: the default ACL starts as a copy of the
// access ACL's owner, group and other entries (as setfacl does).
void EnsureDefaultBase(PAcl& dflt, const PAcl& access) {
  if (!dflt.entries.empty()) return;
  for (acl_tag_t tag : {ACL_USER_OBJ, ACL_GROUP_OBJ, ACL_OTHER}) {
    const PEntry* e = access.Find(tag, 0);
    dflt.entries.push_back({tag, 0, e ? e->perms : 0});
  }
}

void SortAcl(PAcl& acl) {
  std::sort(acl.entries.begin(), acl.entries.end(),
            [](const PEntry& a, const PEntry& b) { return a.tag != b.tag ? a.tag < b.tag : a.id < b.id; });
}

// Writes the trustee's new entry list: the ACLs first (the access ACL is put
// back when the default ACL cannot be written), then the attribute with the
// other trustees' entries that still agree.
void Store(const std::string& native, ObjectAcl& o, const Trustee& t, const std::vector<AceRecord>& mine,
           bool clearBase) {
  Implied imp = Imply(mine, o.isDir);
  PAcl access = o.access, dflt = o.dflt;
  Slot as = AccessSlot(t, o.st);
  ApplySlot(access, as, imp.accessHas, imp.access, clearBase);
  FixMask(access, as, imp.access);
  SortAcl(access);
  bool dfltChanged = false;
  if (o.isDir) {
    Slot ds = DefaultSlot(t);
    if (imp.defaultHas) EnsureDefaultBase(dflt, o.access);
    ApplySlot(dflt, ds, imp.defaultHas, imp.dflt, clearBase);
    FixMask(dflt, ds, imp.dflt);
    SortAcl(dflt);
    PAcl before = o.dflt;
    SortAcl(before);
    dfltChanged = !(dflt == before);
  }
  ToLibacl(access);  // refuse an invalid ACL before anything is written
  if (dfltChanged && !dflt.entries.empty()) ToLibacl(dflt);
  WritePosix(native, ACL_TYPE_ACCESS, access);
  if (dfltChanged) {
    try {
      WritePosix(native, ACL_TYPE_DEFAULT, dflt);
    } catch (const Error&) {
      try {
        WritePosix(native, ACL_TYPE_ACCESS, o.access);
      } catch (const Error&) {
      }
      throw;
    }
  }
  std::vector<AceRecord> kept;
  bool placed = false;
  for (const auto& other : TrusteesOfExact(o.exact)) {
    if (other == t) {
      kept.insert(kept.end(), mine.begin(), mine.end());
      placed = true;
      continue;
    }
    auto list = EntriesOf(o.exact, other);
    if (Agrees(other, list, access, dflt, o)) kept.insert(kept.end(), list.begin(), list.end());
  }
  if (!placed) kept.insert(kept.end(), mine.begin(), mine.end());
  WriteExact(native, kept);
}

}  // namespace

// ---- public -----------------------------------------------------------------------------------

Trustee ResolveTrustee(const std::string& given) {
  std::string name = WithoutDomain(given);
  if (Lower(name) == "everyone") return Trustee{TrusteeKind::Everyone, 0};
  char kind = KindPrefix(name);
  if (kind != 'g')
    if (auto uid = UserIdNamed(name)) return Trustee{TrusteeKind::User, *uid};
  if (kind != 'u')
    if (auto gid = GroupIdNamed(name)) return Trustee{TrusteeKind::Group, *gid};
  throw Error(EINVAL, "No user or group is named " + given + ".");
}

std::string TrusteeDisplayName(const Trustee& t) {
  switch (t.kind) {
    case TrusteeKind::Everyone: return "Everyone";
    case TrusteeKind::User: return UserNameOf(t.id);
    case TrusteeKind::Group: break;
  }
  auto g = FindGroup(static_cast<gid_t>(t.id));
  if (!g) return "group:" + std::to_string(t.id);
  return FindUser(g->name) ? "group:" + g->name : g->name;
}

int32_t TrusteeTypeOf(const Trustee& t) { return t.kind == TrusteeKind::User ? 1 : 2; }

unsigned PermsOfMask(uint32_t mask) {
  auto holds = [&](uint32_t bits) { return (mask & bits) == bits; };
  unsigned p = 0;
  if (holds(kReadMask) || (mask & (kGenRead | kGenAll))) p |= kR;
  if (holds(kWriteMask) || (mask & (kGenWrite | kGenAll))) p |= kW;
  if (holds(kExecMask) || (mask & (kGenExec | kGenAll))) p |= kX;
  return p;
}

uint32_t MaskOfPerms(unsigned perms) {
  return ((perms & kR) ? kReadMask : 0) | ((perms & kW) ? kWriteMask : 0) | ((perms & kX) ? kExecMask : 0);
}

std::vector<AceRecord> ListAceRecords(const std::string& native) {
  ObjectAcl o = Load(native);
  std::vector<AceRecord> out;
  for (const Trustee& t : TrusteesOf(o)) {
    auto mine = EntriesOf(o.exact, t);
    if (!Agrees(t, mine, o.access, o.dflt, o)) {
      auto derived = Derive(t, o);
      out.insert(out.end(), derived.begin(), derived.end());
      continue;
    }
    // The owner, group and other entries always exist; a part the exact
    // entries do not speak for is listed as the ACL says.
    Implied imp = Imply(mine, o.isDir);
    bool accessOpen = !imp.accessHas && IsBaseTag(AccessSlot(t, o.st).tag);
    bool defaultOpen = o.isDir && !imp.defaultHas && IsBaseTag(DefaultSlot(t).tag);
    if (accessOpen || defaultOpen) {
      auto derived = Derive(t, o, accessOpen, defaultOpen);
      out.insert(out.end(), derived.begin(), derived.end());
    }
    out.insert(out.end(), mine.begin(), mine.end());
  }
  return out;
}

void SetAceRecord(const std::string& native, const Trustee& t, uint32_t mask, int32_t flags) {
  ObjectAcl o = Load(native);
  bool toObject = AppliesToObject(flags), toChildren = AppliesToChildren(flags, o.isDir);
  if (!toObject && !toChildren) return;
  AceRecord entry{mask, kAllow, flags, t};
  auto mine = EntriesOf(o.exact, t);
  if (Agrees(t, mine, o.access, o.dflt, o)) {
    // Entries the page wrote: the one with the same flags is replaced.
    auto same = [&](const AceRecord& r) { return r.flags == flags; };
    auto it = std::find_if(mine.begin(), mine.end(), same);
    if (it == mine.end()) {
      mine.push_back(entry);
    } else {
      *it = entry;
      mine.erase(std::remove_if(it + 1, mine.end(), same), mine.end());
    }
  } else {
    // What other tools set: the parts the new entry covers are replaced by it.
    mine = Derive(t, o, !toObject, !toChildren);
    mine.push_back(entry);
  }
  Store(native, o, t, mine, false);
}

void RemoveTrusteeAces(const std::string& native, const Trustee& t) {
  ObjectAcl o = Load(native);
  Store(native, o, t, {}, true);
}

std::string OwnerOf(const std::string& native) {
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) ThrowErrno(errno);
  return UserNameOf(st.st_uid);
}

void ChangeOwner(const std::string& native, const std::string& owner) {
  std::string name = WithoutDomain(owner);
  if (KindPrefix(name) == 'g') throw Error(EINVAL, "No user is named " + owner + ".");
  auto uid = UserIdNamed(name);
  if (!uid) throw Error(EINVAL, "No user is named " + owner + ".");
  if (::chown(native.c_str(), static_cast<uid_t>(*uid), static_cast<gid_t>(-1)) != 0) ThrowErrno(errno);
}

}  // namespace torvane
