// The header lines of a multipart body: a part's Content-Disposition and
// Content-Type, and the boundary parameter of the request's content type.
//
// Values are byte strings as they arrived; only filename* is decoded here (it
// names its own charset). Header and parameter names are compared without
// regard to ASCII letter case; parameters may come in any order, quoted or
// not, with blanks around ";" and "=".
#pragma once

#include <string>
#include <string_view>

namespace torvane::multipart {

// A header line "Name: value" (CR LF and folded continuation lines allowed):
// true when its name is `lowerName`, and then `value` is what follows the
// colon, folding undone (the CR LF before a continuation line removed).
bool HeaderIs(std::string_view line, std::string_view lowerName, std::string& value);

// The parameters of a Content-Disposition value that matter to a form.
struct Disposition {
  bool hasName = false;
  std::string name;          // bytes of the name parameter
  bool isFile = false;       // filename or filename* present (even empty)
  std::string fileName;      // bytes of filename (CodePage applies)
  bool hasFileNameText = false;
  std::string fileNameText;  // filename* decoded to UTF-8 text (wins)
};

// Parses a Content-Disposition value ("form-data; name=...; filename=...").
// A quoted value ends at its closing double quote; a backslash before a
// double quote that is followed by another one stands for that quote (so
// C:\dir\a.txt keeps its backslashes). False when a quoted value has no
// closing quote: the header cannot be read.
bool ParseDisposition(std::string_view value, Disposition& out);

// filename* of RFC 5987: charset'language'percent-encoded bytes. UTF-8 and
// ISO-8859-1 are understood; false for any other charset or a value without
// the two quotes.
bool DecodeExtendedValue(std::string_view value, std::string& text);

// The boundary parameter of a request's content type (quoted or not), "" when
// it has none.
std::string BoundaryParameter(std::string_view contentType);

// True when `contentType` starts with "multipart/form-data" in any letter case.
bool IsFormData(std::string_view contentType);

}  // namespace torvane::multipart
