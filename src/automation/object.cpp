#include "automation/object.h"

#include <locale.h>
#include <wctype.h>

#include <cwctype>
#include <map>

namespace torvane {

// ---- case folding ---------------------------------------------------------

namespace {

// Decodes one UTF-8 sequence at s[i]; invalid bytes pass as themselves.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len <= 1 || i + static_cast<size_t>(len) > s.size()) { ++i; return c; }
  char32_t cp = c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((cc >> 6) != 2) { ++i; return c; }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<size_t>(len);
  return cp;
}

void EncodeUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) out += static_cast<char>(cp);
  else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
  else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t FoldChar(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  // The C.UTF-8 locale's wide tables carry Unicode's simple case mappings,
  // whatever locale the process runs in.
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (!utf8) return c;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8));
}

}  // namespace

std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  bool ascii = true;
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) { ascii = false; break; }
  if (ascii) {
    for (char c : s) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return out;
  }
  for (size_t i = 0; i < s.size();) EncodeUtf8(FoldChar(DecodeUtf8(s, i)), out);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

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

Variant Object::Call(const MemberInfo& m, Args& args) {
  if (args.size() > m.params.size()) ThrowPlatform(err::WrongArgCount);
  size_t given = args.size();
  args.resize(m.params.size(), Variant::Missing());
  for (size_t i = 0; i < m.params.size(); ++i)
    if (!m.params[i].optional && (i >= given || args[i].isMissing())) ThrowPlatform(err::ArgumentNotOptional);
  Variant result;
  try {
    result = m.call(*this, args);
  } catch (const Error&) {
    throw;
  } catch (...) {
    // No other C++ exception leaves a member.
    throw CaughtError();
  }
  args.resize(given);
  return result;
}

Variant Object::Invoke(std::string_view name, CallKind kind, Args& args) {
  const MemberInfo* m = classInfo().Find(name, kind);
  if (!m) ThrowPlatform(err::NoSuchMember);
  return Call(*m, args);
}

Variant Object::InvokeDispId(int32_t dispid, CallKind kind, Args& args) {
  const MemberInfo* m = classInfo().FindDispId(dispid, kind);
  if (!m) ThrowPlatform(err::NoSuchMember);
  return Call(*m, args);
}

}  // namespace torvane
