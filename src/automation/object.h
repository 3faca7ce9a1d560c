// Automation objects and their member tables.
//
// Every public class declares its members once, in slot order, in one table:
// name, kind (get, let, set-by-reference, method), dispatch id (0 for the default
// member, -4 for the enumerator, otherwise one id per distinct name) and its
// parameters. Late-bound calls (Invoke by name, in any letter case), the page
// engine and the XML renderer all go through this table; C++ code inside the
// component calls the typed methods directly.
//
// Arguments are passed by reference: a member may write back into `args`
// (File.CreateTemp writes its Path argument, the sort routines rearrange an
// index array), and callers that care copy the values back.
//
// Example table (value stack: args[0] is the first parameter; for let/set the
// new value is the last element):
//
//   const ClassInfo& Post::Class() {
//     static const ClassInfo info = ClassInfo::Make<Post>("Post", {
//       {"MaxFileSize", MemberKind::Let, {{"value"}},
//        [](Post& p, Args& a) { p.SetMaxFileSize(a[0].toInt64()); return Variant(); },
//        "Sets the largest size of one uploaded file in bytes"},
//       {"FormInputs", MemberKind::Get, {}, &Post::GetFormInputsV, kDispIdDefault,
//        "Reads the request on first use and returns its form inputs", "cFormInput"},
//       {"Upload", MemberKind::Method, {{"Path", true}, {"FileMethod", true, "TV_UPLOAD_MAKEVERSIONS"}}, ...},
//
// Every entry carries its one-line description (and, for a get or a method,
// the type it returns where that is fixed); optional parameters may say what
// their omission means. `torvane doc` renders the reference from these.
//     });
//     return info;
//   }
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "basics/utf8.h"  // FoldCase: member names and keys match without regard to case

namespace torvane {

using Args = std::vector<Variant>;

enum class MemberKind { Get, Let, Set, Method };
// What a caller asks for. Get also finds a method of that name and Method also
// finds a getter (as automation's combined property-get/method call does); Let
// falls back to Set and Set to Let.
using CallKind = MemberKind;

constexpr int32_t kDispIdDefault = 0;
constexpr int32_t kDispIdNewEnum = -4;
constexpr int32_t kDispIdAuto = 0x7FFFFFFF;  // assign one id per distinct name

struct ParamInfo {
  std::string name;
  bool optional = false;
  // What an omitted optional argument stands for ("2", "the file's Name"),
  // shown in the generated reference; empty when nothing is stated.
  std::string defaultText = {};
};

class Object;
using MemberCall = std::function<Variant(Object&, Args&)>;

struct MemberInfo {
  std::string name;
  MemberKind kind;
  std::vector<ParamInfo> params;
  MemberCall call;
  int32_t dispid = kDispIdAuto;
  int slot = 0;
  std::string folded;  // FoldCase(name), filled by ClassInfo
  std::string doc;     // one line: what the member does (the generated reference shows it)
  std::string type;    // what a get or method returns ("String", "File"); empty when not stated
};

// A typed table entry: the lambda receives the concrete class. Written as
//   {name, kind, params, call [, dispid] [, doc [, type]]}
// so that the one-line description sits beside the member it describes.
template <class T>
struct Member {
  using Call = std::function<Variant(T&, Args&)>;

  Member(std::string n, MemberKind k, std::vector<ParamInfo> p, Call c, int32_t id = kDispIdAuto,
         const char* d = "", const char* t = "")
      : name(std::move(n)), kind(k), params(std::move(p)), call(std::move(c)), dispid(id), doc(d), type(t) {}
  Member(std::string n, MemberKind k, std::vector<ParamInfo> p, Call c, const char* d, const char* t = "")
      : Member(std::move(n), k, std::move(p), std::move(c), kDispIdAuto, d, t) {}

  std::string name;
  MemberKind kind;
  std::vector<ParamInfo> params;
  Call call;
  int32_t dispid = kDispIdAuto;
  const char* doc = "";
  const char* type = "";
};

class ClassInfo {
 public:
  ClassInfo(std::string name, std::vector<MemberInfo> members);

  template <class T>
  static ClassInfo Make(std::string name, std::initializer_list<Member<T>> members) {
    std::vector<MemberInfo> out;
    out.reserve(members.size());
    for (const auto& m : members) {
      auto fn = m.call;
      out.push_back(MemberInfo{m.name, m.kind, m.params,
                               [fn](Object& o, Args& a) { return fn(static_cast<T&>(o), a); }, m.dispid, 0, {},
                               m.doc, m.type});
    }
    return ClassInfo(std::move(name), std::move(out));
  }

  const std::string& name() const { return name_; }
  const std::vector<MemberInfo>& members() const { return members_; }

  // The member that answers `kind` under `name` (any letter case), with the
  // fallbacks described at CallKind; nullptr when there is none.
  const MemberInfo* Find(std::string_view name, CallKind kind) const;
  const MemberInfo* FindDispId(int32_t dispid, CallKind kind) const;
  bool HasName(std::string_view name) const;
  bool HasDefault() const { return FindDispId(kDispIdDefault, CallKind::Get) != nullptr; }

 private:
  const MemberInfo* Pick(const std::vector<const MemberInfo*>& candidates, CallKind kind) const;
  std::string name_;
  std::vector<MemberInfo> members_;
};

class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  virtual const ClassInfo& classInfo() const = 0;

  // Late-bound call by member name (any letter case). Missing trailing optional
  // arguments are filled with Missing; a missing required one fails with 449,
  // too many arguments with 450, an unknown member with 438.
  // Both are virtual for objects whose members are not a fixed table (a page's
  // own script object handed to a component): such a class answers every name
  // itself and keeps an empty ClassInfo.
  virtual Variant Invoke(std::string_view name, CallKind kind, Args& args);
  Variant Invoke(std::string_view name, CallKind kind, Args&& args) { return Invoke(name, kind, args); }
  virtual Variant InvokeDispId(int32_t dispid, CallKind kind, Args& args);

  // Convenience: property get with no arguments.
  Variant Get(std::string_view name) { Args a; return Invoke(name, CallKind::Get, a); }

  template <class T>
  std::shared_ptr<T> self() { return std::static_pointer_cast<T>(shared_from_this()); }

 private:
  Variant Call(const MemberInfo& m, Args& args);
};

// The source of the errors a class raises: the ProgID that names the class
// ("Torvane.File", "ADODB.Recordset"), or "" for a class no ProgID names (the
// host's objects, whose errors keep the sources they were raised with).
using ErrorSourceLookup = std::string_view (*)(const ClassInfo&);

// Installs the lookup the member-call edge asks; the ProgID table installs it
// (src/classes.cpp) so that this layer needs nothing above it. Until then every
// class answers "".
void SetErrorSourceLookup(ErrorSourceLookup lookup);

// Raises 438 "Object doesn't support this property or method" as `obj`'s
// member-call edge does: with the source of obj's class.
[[noreturn]] void ThrowNoSuchMember(const Object& obj);

}  // namespace torvane
