// FormInput: one field of a posted form (its name, values, content type and,
// for a file field, the File holding the upload).
//
// To a page the object is read-only: assigning File, ContentType or Name is
// refused (9001, 9008, 9009) after tracing the refusal. The upload engine fills
// it through the package-internal setters. Value is the default member, so a
// form input used as a string is all its values joined (cFormValue.Item()).
#pragma once

#include <memory>
#include <string>

#include "automation/object.h"
#include "form/cform_value.h"
#include "host/trace.h"

namespace torvane {

class File;

class FormInput : public Object {
 public:
  // Member table, slot order: File set (refused), File get, Value get
  // (default), ContentType put (refused), ContentType get, Name put (refused),
  // Name get, OnStartPage, ToXML(Properties, ExtraXML).
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // An empty input; attaches the script context (fails with 91 outside a page).
  static ObjectRef Create();
  static std::shared_ptr<FormInput> CreateTyped();

  // Public getters (each writes its trace line).
  Variant GetFile();                      // the File, or Null for an ordinary field
  std::shared_ptr<CFormValue> GetValue(); // created on first need
  std::string GetContentType();
  std::string GetName();
  // Refusals: trace, then raise 9001 / 9008 / 9009.
  [[noreturn]] void RefuseFile();
  [[noreturn]] void RefuseContentType();
  [[noreturn]] void RefuseName();
  std::string ToXML(const Variant& properties, const Variant& extra);

  // Package-internal (upload engine).
  void SetName(std::string name) { name_ = std::move(name); }
  void AddValue(std::string value);
  void SetFile(ObjectRef file) { file_ = std::move(file); }
  void SetContentType(std::string type) { contentType_ = std::move(type); }
  void SetTraceChannel(TraceChannel ch) { trace_ = std::move(ch); }
  // Untraced reads for the engine.
  const std::string& Name() const { return name_; }
  const std::string& ContentType() const { return contentType_; }
  const ObjectRef& FileObject() const { return file_; }
  std::shared_ptr<CFormValue> Values();

 private:
  void Trace(const std::string& message) const { WriteTraceLine(trace_, message); }

  std::string name_;
  std::string contentType_;
  std::shared_ptr<CFormValue> value_;
  ObjectRef file_;
  TraceChannel trace_;
};

}  // namespace torvane
