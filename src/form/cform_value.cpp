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
          RemoveMember<C>("vIndex", "Removes the value at a position"),
          CountMember<C>("Number of values"),
          ItemMember<C>({"vIndex", true}, "The value at a position (from 1), or all values joined when omitted",
                        "String"),
          NewEnumMember<C>("Enumerator over the values in order"),
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

void CFormValue::Add(std::string value) { items_.Add(Variant(std::move(value))); }

std::string CFormValue::Item(const Variant& index) const {
  if (!index.isMissing()) return items_.Item(index).toString();
  int32_t count = items_.Count();
  if (count == 0) return std::string();
  if (count > 32767) ThrowPlatform(err::Overflow);  // the join counts in 16 bits
  const char* sep = joinWithComma_ ? ", " : "\r\n";
  std::string out = items_.At(0).toString();
  for (int32_t i = 1; i < count; ++i) {
    out += sep;
    out += items_.At(static_cast<size_t>(i)).toString();
  }
  return out;
}

}  // namespace torvane
