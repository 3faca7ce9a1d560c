// Field and Fields: the columns of a Recordset's current record.
//
// Both are views of their Recordset (which they keep alive): a Field always
// answers for the record that is current when it is asked, and the read
// position of GetChunk belongs to the recordset's column, so that
// rs("data").GetChunk(n) in a loop walks the value. Indexes are 0-based or
// column names (letter case ignored); an unknown one fails with 9055.
//
// Field members: Name, Type (ADO DataTypeEnum), DefinedSize, ActualSize
// (bytes of a binary value, characters of text, 0 for Null), Value (default
// member), OriginalValue, Attributes, GetChunk(n), AppendChunk(data).
// GetChunk returns the next n bytes as a byte array (binary columns) or the
// next n characters as text, and Null once the value is used up (or is Null).
// AppendChunk adds a byte array or text to the value; the first call after
// the record changed replaces it. Bytes appended to a binary column are kept
// in a temporary file until Update streams them into the database; text given
// to a binary column adds its UTF-16LE code units, bytes given to a text
// column are taken as UTF-8 text.
#pragma once

#include <memory>

#include "ado/recordset.h"

namespace torvane::ado {

class Field : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  Field(std::shared_ptr<Recordset> rs, size_t index) : rs_(std::move(rs)), index_(index) {}

 private:
  std::shared_ptr<Recordset> rs_;
  size_t index_;
};

class Fields : public Object {
 public:
  // Members: Count, Item(index) (default), NewEnum (-4), Refresh.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  explicit Fields(std::shared_ptr<Recordset> rs) : rs_(std::move(rs)) {}
  ObjectRef Item(const Variant& index) const;

 private:
  std::shared_ptr<Recordset> rs_;
};

}  // namespace torvane::ado
