#include "form/cform_input.h"

#include "host/script_context.h"
#include "host/shared_members.h"

namespace torvane {

const ClassInfo& CFormInput::Class() {
  using C = CFormInput;
  static const ClassInfo info = ClassInfo::Make<C>(
      "cFormInput",
      {
          {"Add", MemberKind::Method, {{"oFormInput"}, {"sKey"}},
           [](C& c, Args& a) { c.Add(a[0].as<FormInput>(), a[1].toString()); return Variant(); },
           "Adds a FormInput under a key"},
          RemoveMember<C>("vIndex", "Removes the input at a position or under a key"),
          CountMember<C>("Number of form inputs"),
          ItemMember<C>({"vIndex"}, "The FormInput at a position (from 1) or with a field name", "FormInput"),
          NewEnumMember<C>("Enumerator over the inputs in order"),
          OnStartPageMember<C>(),
          XmlMember<C>("Every input's XML inside a forminputs element"),
      });
  return info;
}

std::shared_ptr<CFormInput> CFormInput::CreateTyped() {
  auto c = std::make_shared<CFormInput>();
  AttachScriptContext();
  return c;
}

ObjectRef CFormInput::Create() { return CreateTyped(); }

void CFormInput::Add(std::shared_ptr<FormInput> input, const std::string& key) {
  items_.Add(Variant(ObjectRef(std::move(input))), Variant(key));
}

std::shared_ptr<FormInput> CFormInput::Item(const Variant& index) {
  try {
    return items_.Item(index).as<FormInput>();
  } catch (const Error&) {
    Variant key = index.isObject() ? index.resolved() : index;
    if (!key.isString()) throw;
    // A field that was not posted: an empty input under that name.
    auto input = FormInput::CreateTyped();
    Add(input, key.str());
    input->SetName(key.str());
    return input;
  }
}

std::shared_ptr<FormInput> CFormInput::Find(std::string_view key) const {
  int at = items_.Find(Variant(std::string(key)));
  if (at < 0) return nullptr;
  return At(static_cast<size_t>(at));
}

std::shared_ptr<FormInput> CFormInput::At(size_t zeroBased) const {
  return std::static_pointer_cast<FormInput>(items_.At(zeroBased).obj());
}

}  // namespace torvane
