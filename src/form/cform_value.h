// cFormValue: the string values of one form input, in the order they arrived.
//
// Item() without an index joins all values: ", " between them when the field
// was posted repeatedly (the upload engine sets JoinWithComma), CR LF
// otherwise. The count taken for joining is a signed 16-bit number, so joining
// more than 32,767 values fails with 6 "Overflow".
#pragma once

#include <memory>
#include <string>

#include "host/collection_object.h"

namespace torvane {

class CFormValue : public CollectionObject {
 public:
  // Member table, slot order: Add(sValue), Remove(vIndex), Count, Item([vIndex])
  // (default), NewEnum (-4), OnStartPage. No ToXML.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // New empty list; attaches the script context (fails with 91 outside a page).
  static ObjectRef Create();
  static std::shared_ptr<CFormValue> CreateTyped();

  void Add(std::string value);
  // One value (index given) or all values joined (index Missing).
  std::string Item(const Variant& index) const;
  // Remove, Count, NewEnum: the collection's.

  // Package-internal: selects ", " (true) or CR LF (false) for joining.
  void SetJoinWithComma(bool on) { joinWithComma_ = on; }
  bool JoinWithComma() const { return joinWithComma_; }

 private:
  bool joinWithComma_ = false;
};

}  // namespace torvane
