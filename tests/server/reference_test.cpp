// The reference rendered from the member tables: every member, constant and
// error carries its description, the signatures read as pages write them,
// and both renderings hold one row per member, constant and error (none
// dropped, none invented).
#include "server/reference.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "archive/engine_util.h"
#include "automation/component_errors.h"
#include "automation/error.h"
#include "automation/progid.h"

namespace torvane::server {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

size_t MemberTotal() {
  size_t n = 0;
  for (const DocumentedClass& c : DocumentedClasses()) n += c.info->members().size();
  return n;
}

size_t ErrorTotal() {
  return PlatformErrors().size() + std::size(component_error::kErrorList) + std::size(engine::engine_error::kList);
}

TEST(Reference, EveryMemberOfEveryClassHasADescription) {
  std::set<const ClassInfo*> seen;
  for (const DocumentedClass& c : DocumentedClasses()) {
    EXPECT_TRUE(seen.insert(c.info).second) << c.title << " is listed twice";
    EXPECT_FALSE(c.how.empty()) << c.title;
    EXPECT_FALSE(c.info->members().empty()) << c.title;
    for (const MemberInfo& m : c.info->members()) {
      EXPECT_FALSE(m.doc.empty()) << c.title << "." << m.name << " (slot " << m.slot << ") has no description";
      EXPECT_EQ(m.doc.find('\n'), std::string::npos) << c.title << "." << m.name << ": one line";
      // A put or set returns nothing, so it names no result type.
      if (m.kind == MemberKind::Let || m.kind == MemberKind::Set) {
        EXPECT_EQ(m.type, "") << c.title << "." << m.name;
      }
    }
  }
}

TEST(Reference, EveryProgIdIsDocumentedWithTheClassItsFactoryMakes) {
  std::vector<DocumentedClass> classes = DocumentedClasses();
  ASSERT_GE(classes.size(), ProgIdTable().size());
  for (size_t i = 0; i < ProgIdTable().size(); ++i) {
    EXPECT_EQ(classes[i].title, ProgIdTable()[i].progid);
    EXPECT_EQ(classes[i].info, &ProgIdTable()[i].classInfo());
  }
}

TEST(Reference, EveryConstantHasAGroupAndAMeaning) {
  std::set<std::string> names;
  for (const NamedConstant& c : ConstantTable()) {
    EXPECT_TRUE(names.insert(c.name).second) << c.name << " twice";
    EXPECT_NE(std::string(c.group), "") << c.name;
    EXPECT_NE(std::string(c.doc), "") << c.name;
  }
}

TEST(Reference, ErrorListsAreInNumberOrderWithTexts) {
  int32_t last = 0;
  for (const component_error::ErrorText& e : component_error::kErrorList) {
    EXPECT_GT(e.number, last) << e.name << " out of order or twice";
    last = e.number;
    EXPECT_NE(std::string(e.text), "") << e.name;
    EXPECT_EQ(component_error::FindError(e.number), &e);
  }
  EXPECT_EQ(component_error::FindError(8999), nullptr);
  last = 0;
  for (const PlatformError& e : PlatformErrors()) {
    EXPECT_GT(e.number, last);
    last = e.number;
    EXPECT_STREQ(PlatformErrorText(e.number), e.text);
  }
  for (const auto& e : engine::engine_error::kList) EXPECT_NE(std::string(e.meaning), "") << e.name;
}

// Every platform number the object model raises has its text (out of memory
// used to be raised with an empty description).
TEST(Reference, PlatformNumbersRaiseTheirTexts) {
  const struct {
    int32_t number;
    const char* text;
  } cases[] = {
      {err::InvalidArgument, "Invalid procedure call or argument"},
      {err::OutOfMemory, "Out of memory"},
      {err::InternalError, "Internal error"},
      {err::TypeMismatch, "Type mismatch"},
      {err::DuplicateKey, "This key is already associated with an element of this collection"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    try {
      ThrowPlatform(c.number);
    } catch (const Error& e) {
      EXPECT_EQ(e.number, c.number);
      EXPECT_EQ(e.description, c.text);
    }
  }
  EXPECT_STREQ(PlatformErrorText(12345), "");
}

TEST(Reference, SignaturesReadAsPagesWriteThem) {
  const struct {
    MemberKind kind;
    std::vector<ParamInfo> params;
    const char* want;
  } cases[] = {
      {MemberKind::Get, {}, "Size"},
      {MemberKind::Method, {}, "Size()"},
      {MemberKind::Let, {{"value"}}, "Size = value"},
      {MemberKind::Set, {{"value"}}, "Size = value"},
      {MemberKind::Let, {{"name"}, {"value"}}, "Size(name) = value"},
      {MemberKind::Get, {{"index", true}}, "Size([index])"},
      {MemberKind::Method, {{"Path"}, {"Recurse", true, "false"}}, "Size(Path, [Recurse])"},
  };
  for (const auto& c : cases) {
    MemberInfo m;
    m.name = "Size";
    m.kind = c.kind;
    m.params = c.params;
    EXPECT_EQ(MemberSignature(m), c.want);
  }
}

// The Markdown has one table row per member, constant and error, and each
// class's rows are its members in slot order.
TEST(Reference, MarkdownHasOneRowPerMemberConstantAndError) {
  std::string md = RenderReference(ReferenceFormat::Markdown);
  size_t headers = Count(md, "\n|---");
  size_t rows = Count(md, "\n| ") - headers;  // header lines also start with "| "
  EXPECT_EQ(rows, MemberTotal() + ConstantTable().size() + ErrorTotal());
  for (const DocumentedClass& c : DocumentedClasses()) {
    size_t at = md.find("\n### " + c.title + "\n");
    ASSERT_NE(at, std::string::npos) << c.title;
    for (const MemberInfo& m : c.info->members()) {
      size_t row = md.find("\n| " + std::to_string(m.slot) + " | `" + MemberSignature(m), at);
      ASSERT_NE(row, std::string::npos) << c.title << " slot " << m.slot;
      at = row + 1;
    }
  }
}

TEST(Reference, MarkdownShowsDefaultsKindsTypesAndValues) {
  std::string md = RenderReference(ReferenceFormat::Markdown);
  EXPECT_THAT(md, HasSubstr("| 18 | `Upload([Path], [FileMethod], [CheckMacBinary], [ProgressBarID])` | method |"));
  EXPECT_THAT(md, HasSubstr("FileMethod: TV_UPLOAD_MAKEVERSIONS"));
  EXPECT_THAT(md, HasSubstr("| 15 | `FormInputs` | get (default member) | cFormInput |"));
  EXPECT_THAT(md, HasSubstr("| 4 | `InMemory = value` | set by reference |  |"));
  EXPECT_THAT(md, HasSubstr("| `TV_UPLOAD_MAKEVERSIONS` | 2 |"));
  EXPECT_THAT(md, HasSubstr("| 9012 | Post.GetFormInputs - MaxFileSize exceeded |"));
  EXPECT_THAT(md, HasSubstr("| 2561 | "));  // the archive engine's first code as pages see it
  // A quote-delimited text keeps its quotes; a "<" never reaches the page as markup.
  EXPECT_THAT(md, Not(HasSubstr("<name>")));
}

TEST(Reference, HtmlHasOneRowPerEntryAndEscapesText) {
  std::string html = RenderReference(ReferenceFormat::Html);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_THAT(html, HasSubstr("</html>\n"));
  size_t bodyRows = Count(html, "<tr><td");
  EXPECT_EQ(bodyRows, MemberTotal() + ConstantTable().size() + ErrorTotal());
  EXPECT_THAT(html, HasSubstr("&quot;multipart/form-data&quot;"));
  EXPECT_THAT(html, Not(HasSubstr("\"multipart/form-data\"")));

  std::string fragment = RenderReference(ReferenceFormat::HtmlFragment);
  EXPECT_THAT(html, HasSubstr(fragment));
  EXPECT_THAT(fragment, Not(HasSubstr("<html")));
  EXPECT_THAT(fragment, Not(HasSubstr("<%")));  // safe to include in a page
}

}  // namespace
}  // namespace torvane::server
