#include "automation/object.h"

#include <atomic>
#include <map>

namespace torvane {

// ---- class info -------------------------------------------------------------

ClassInfo::ClassInfo(std::string name, std::vector<MemberInfo> members)
    : name_(std::move(name)), members_(std::move(members)) {
  std::map<std::string, int32_t> ids;
  int32_t next = 1;
  for (size_t i = 0; i < members_.size(); ++i) {
    auto& m = members_[i];
    m.slot = static_cast<int>(i);
    m.folded = FoldCase(m.name);
    const std::string& key = m.folded;
    if (m.dispid != kDispIdAuto) {
      ids[key] = m.dispid;
      continue;
    }
    auto it = ids.find(key);
    if (it == ids.end()) it = ids.emplace(key, next++).first;
    m.dispid = it->second;
  }
  // A property whose getter carries dispid 0 gives its let/set the same id.
  for (auto& m : members_) m.dispid = ids[m.folded];
}

const MemberInfo* ClassInfo::Pick(const std::vector<const MemberInfo*>& c, CallKind kind) const {
  auto find = [&](MemberKind k) -> const MemberInfo* {
    for (auto* m : c)
      if (m->kind == k) return m;
    return nullptr;
  };
  const MemberInfo* m = find(kind);
  if (m) return m;
  switch (kind) {
    case MemberKind::Get: return find(MemberKind::Method);
    case MemberKind::Method: return find(MemberKind::Get);
    case MemberKind::Let: return find(MemberKind::Set);
    case MemberKind::Set: return find(MemberKind::Let);
  }
  return nullptr;
}

const MemberInfo* ClassInfo::Find(std::string_view name, CallKind kind) const {
  std::string key = FoldCase(name);
  std::vector<const MemberInfo*> c;
  for (const auto& m : members_)
    if (m.folded == key) c.push_back(&m);
  return Pick(c, kind);
}

const MemberInfo* ClassInfo::FindDispId(int32_t dispid, CallKind kind) const {
  std::vector<const MemberInfo*> c;
  for (const auto& m : members_)
    if (m.dispid == dispid) c.push_back(&m);
  return Pick(c, kind);
}

bool ClassInfo::HasName(std::string_view name) const {
  std::string key = FoldCase(name);
  for (const auto& m : members_)
    if (m.folded == key) return true;
  return false;
}

// ---- invoke -----------------------------------------------------------------

namespace {

std::atomic<ErrorSourceLookup> sourceLookup{nullptr};

// `e` as the member-call edge lets it leave a member of class `info`: an error
// raised with the generic source gets the class's.
Error Attributed(Error e, const ClassInfo& info) {
  ErrorSourceLookup lookup = sourceLookup.load(std::memory_order_acquire);
  if (lookup && e.source == kGenericErrorSource) {
    std::string_view source = lookup(info);
    if (!source.empty()) e.source = source;
  }
  return e;
}

void CheckArguments(const MemberInfo& m, const Args& args, size_t given) {
  for (size_t i = 0; i < m.params.size(); ++i)
    if (!m.params[i].optional && (i >= given || args[i].isMissing())) ThrowPlatform(err::ArgumentNotOptional);
}

}  // namespace

// The member-call edge: every error leaving a member, whatever raised it,
// leaves as an automation error with the class's source.
Variant Object::Call(const MemberInfo& m, Args& args) {
  size_t given = args.size();
  Variant result;
  try {
    if (given > m.params.size()) ThrowPlatform(err::WrongArgCount);
    args.resize(m.params.size(), Variant::Missing());
    CheckArguments(m, args, given);
    result = m.call(*this, args);
  } catch (...) {
    throw Attributed(CaughtError(), classInfo());
  }
  args.resize(given);
  return result;
}

void SetErrorSourceLookup(ErrorSourceLookup lookup) { sourceLookup.store(lookup, std::memory_order_release); }

void ThrowNoSuchMember(const Object& obj) {
  throw Attributed(Error(err::NoSuchMember, PlatformErrorText(err::NoSuchMember)), obj.classInfo());
}

Variant Object::Invoke(std::string_view name, CallKind kind, Args& args) {
  const MemberInfo* m = classInfo().Find(name, kind);
  if (!m) ThrowNoSuchMember(*this);
  return Call(*m, args);
}

Variant Object::InvokeDispId(int32_t dispid, CallKind kind, Args& args) {
  const MemberInfo* m = classInfo().FindDispId(dispid, kind);
  if (!m) ThrowNoSuchMember(*this);
  return Call(*m, args);
}

}  // namespace torvane
