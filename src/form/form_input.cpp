#include "form/form_input.h"

#include "automation/component_errors.h"
#include "automation/member_binding.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"

namespace torvane {

namespace {
constexpr const char* kFullList = "contenttype,name,value";
}

const ClassInfo& FormInput::Class() {
  using F = FormInput;
  static const ClassInfo info = ClassInfo::Make<F>(
      "FormInput",
      {
          {"File", MemberKind::Set, {{"value"}}, [](F& f, Args&) -> Variant { f.RefuseFile(); },
           "Always refused: the file is read-only"},
          {"File", MemberKind::Get, {}, Getter(&F::GetFile),
           "The uploaded File of a file field; null for an ordinary field", "File"},
          {"Value", MemberKind::Get, {}, [](F& f, Args&) { return Variant(ObjectRef(f.GetValue())); }, kDispIdDefault,
           "The field's values", "cFormValue"},
          {"ContentType", MemberKind::Let, {{"value"}}, [](F& f, Args&) -> Variant { f.RefuseContentType(); },
           "Always refused: the content type is read-only"},
          {"ContentType", MemberKind::Get, {}, Getter(&F::GetContentType),
           "The part's content type as the client sent it", "String"},
          {"Name", MemberKind::Let, {{"value"}}, [](F& f, Args&) -> Variant { f.RefuseName(); },
           "Always refused: the name is read-only"},
          {"Name", MemberKind::Get, {}, Getter(&F::GetName),
           "The field's name", "String"},
          OnStartPageMember<F>(),
          XmlMember<F>("The field as an XML element"),
      });
  return info;
}

std::shared_ptr<FormInput> FormInput::CreateTyped() {
  auto f = std::make_shared<FormInput>();
  AttachScriptContext();
  return f;
}

ObjectRef FormInput::Create() { return CreateTyped(); }

Variant FormInput::GetFile() {
  Trace("FormInput.GetFile - Returned file object for forminput object " + name_ + ".");
  return Variant(file_);
}

std::shared_ptr<CFormValue> FormInput::Values() {
  if (!value_) value_ = CFormValue::CreateTyped();
  return value_;
}

std::shared_ptr<CFormValue> FormInput::GetValue() {
  auto v = Values();
  Trace("FormInput.GetValue - Returned value for forminput object " + name_ + ".");
  return v;
}

std::string FormInput::GetContentType() {
  Trace("FormInput.GetContentType - Returned value for forminput object " + name_ + ".");
  return contentType_;
}

std::string FormInput::GetName() {
  Trace("FormInput.GetName - Returned value for forminput object " + name_ + ".");
  return name_;
}

void FormInput::RefuseFile() {
  std::string text = "FormInput.LetFile - File is readonly for FormInput Objects.";
  Trace(text);
  throw ComponentError(component_error::InputFileReadOnly, text, "FormInput");
}

void FormInput::RefuseContentType() {
  std::string text = "FormInput.LetContentType - ContentType is readonly for FormInput Objects.";
  Trace(text);
  throw ComponentError(component_error::InputContentTypeReadOnly, text, "FormInput");
}

void FormInput::RefuseName() {
  std::string text = "FormInput.LetName - Name is readonly for FormInput Objects.";
  Trace(text);
  throw ComponentError(component_error::InputNameReadOnly, text, "FormInput");
}

void FormInput::AddValue(std::string value) { Values()->Add(std::move(value)); }

std::string FormInput::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "forminput", kFullList, properties, extra);
}

}  // namespace torvane
