// The reference of everything a page can reach, rendered from the live member
// tables: every creatable class (by ProgID), the classes its members hand out,
// the host's page objects, every public constant and every error number.
//
// Nothing here is written by hand: descriptions, parameters, defaults and
// result types come from the table entries beside the code that implements
// them, so the rendered reference cannot drift from what the code does.
// `torvane doc` prints it; docs/reference.md and the demo's /reference page
// are renderings committed to the tree (checked by a test).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "automation/object.h"

namespace torvane::server {

enum class ReferenceFormat {
  Markdown,      // GitHub-flavoured Markdown (docs/reference.md)
  Html,          // one standalone HTML document with its own small stylesheet
  HtmlFragment,  // the same body without <html>/<head>, for a page that adds its own frame
};

// One documented class: the name pages see, how a page gets one, its table.
struct DocumentedClass {
  std::string title;  // "Torvane.File", or the class name for one that is not creatable
  std::string how;    // one line: how a page reaches it
  const ClassInfo* info;
};

// Every class the reference lists, in its order: the ProgID table's classes,
// then the classes only reachable through members, then the host objects.
std::vector<DocumentedClass> DocumentedClasses();

// The whole reference in `format`.
std::string RenderReference(ReferenceFormat format);

// How a member's signature reads in the reference: "Upload([Path], [FileMethod])"
// for a method, "Value(name) = value" for a put or set.
std::string MemberSignature(const MemberInfo& m);

}  // namespace torvane::server
