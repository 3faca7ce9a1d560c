// cFormInput: the form inputs of a post, one per field name, keyed by name
// (letter case ignored).
//
// Item(name) of a name that was not posted creates an empty input under that
// name, adds it and returns it, so reading a missing field never fails. A bad
// position (0, Count + 1) fails with the collection's error.
#pragma once

#include <memory>
#include <string>

#include "host/collection_object.h"
#include "form/form_input.h"

namespace torvane {

class CFormInput : public CollectionObject {
 public:
  CFormInput() : CollectionObject("forminputs") {}

  // Member table, slot order: Add(oFormInput, sKey), Remove(vIndex), Count,
  // Item(vIndex) (default), NewEnum (-4), OnStartPage, ToXML(Properties, ExtraXML).
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // An empty collection; attaches the script context (91 outside a page).
  static ObjectRef Create();
  static std::shared_ptr<CFormInput> CreateTyped();

  // Appends `input` under `key`; a key already present fails with 457.
  void Add(std::shared_ptr<FormInput> input, const std::string& key);
  // The input at a position or under a key; a missing key creates the input.
  std::shared_ptr<FormInput> Item(const Variant& index);
  // Remove, Count, NewEnum: the collection's; ToXML renders every input with
  // "*" (`properties` does not restrict the items).
  using CollectionObject::ToXML;

  // Package-internal: true when an input is filed under `key`; never creates.
  bool HasKey(std::string_view key) const { return items_.HasKey(key); }
  // Package-internal: the input under `key`, or null (never creates).
  std::shared_ptr<FormInput> Find(std::string_view key) const;
  // Package-internal: the input at a 0-based position.
  std::shared_ptr<FormInput> At(size_t zeroBased) const;
};

}  // namespace torvane
