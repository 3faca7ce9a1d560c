#include "form/cform_value.h"

#include "host/script_context.h"
#include "host/shared_members.h"

namespace torvane {

const ClassInfo& CFormValue::Class() {
  using C = CFormValue;
  static const ClassInfo info = ClassInfo::Make<C>(
      "cFormValue",
      {
          {"Add", MemberKind::Method, {{"sValue"}}, [](C& c, Args& a) { c.Add(a[0].toString()); return Variant(); },
           "Appends a value"},
          {"Remove", MemberKind::Method, {{"vIndex"}}, [](C& c, Args& a) { c.Remove(a[0]); return Variant(); },
           "Removes the value at a position"},
          {"Count", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.Count()); },
           "Number of values", "Long"},
          {"Item", MemberKind::Get, {{"vIndex", true}}, [](C& c, Args& a) { return Variant(c.Item(a[0])); },
           kDispIdDefault,
           "The value at a position (from 1), or all values joined when omitted", "String"},
          {"NewEnum", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.NewEnum()); }, kDispIdNewEnum,
           "Enumerator over the values in order", "Enumerator"},
          OnStartPageMember<C>(),
      });
  return info;
}

std::shared_ptr<CFormValue> CFormValue::CreateTyped() {
  auto c = std::make_shared<CFormValue>();
  AttachScriptContext();
  return c;
}

ObjectRef CFormValue::Create() { return CreateTyped(); }

void CFormValue::Add(std::string value) { values_.Add(Variant(std::move(value))); }

void CFormValue::Remove(const Variant& index) { values_.Remove(index); }

std::string CFormValue::Item(const Variant& index) const {
  if (!index.isMissing()) return values_.Item(index).toString();
  int32_t count = values_.Count();
  if (count == 0) return std::string();
  if (count > 32767) ThrowPlatform(err::Overflow);  // the join counts in 16 bits
  const char* sep = joinWithComma_ ? ", " : "\r\n";
  std::string out = values_.At(0).toString();
  for (int32_t i = 1; i < count; ++i) {
    out += sep;
    out += values_.At(static_cast<size_t>(i)).toString();
  }
  return out;
}

ObjectRef CFormValue::NewEnum() const { return std::make_shared<Enumerator>(values_.Snapshot()); }

}  // namespace torvane
