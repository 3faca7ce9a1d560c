// Directory: the object, its properties and its folder operations. The listing
// (List, RecurseDelete and the sort keys) is in directory_listing.cpp.
#include "dirs/directory.h"

#include "automation/component_errors.h"
#include "dirs/cfiles.h"
#include "automation/error.h"
#include "automation/member_binding.h"
#include "host/retry.h"
#include "dirs/sorting.h"
#include "host/policy.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"
#include "platform/dirservices.h"
#include "platform/fileservices.h"

namespace torvane {


namespace {

constexpr const char* kClass = "Directory";
constexpr const char* kXmlRoot = "directory";
constexpr const char* kXmlProperties = "attributes,mask,owner,path,sortorder";
constexpr int kTempNameCalls = 100;
constexpr int kTempSuffixes = 100;

// The physical-path rule: ResolvePath of the folder, with "\" appended when the
// result does not end with one.
std::string PhysicalFolder(std::string_view path) {
  std::string p = ResolvePath(path, true);
  if (p.empty() || p.back() != '\\') p += '\\';
  return p;
}

// PhysicalPath without its trailing "\" (the folder's own name).
std::string WithoutLastChar(const std::string& s) { return s.empty() ? s : s.substr(0, s.size() - 1); }

thread_local Directory::TempNameService tTempNameService;

// One temporary name: an empty file "LK..." now exists in the folder and its
// full path is returned.
std::string RequestTempName(const std::string& folder) {
  if (tTempNameService) return tTempNameService(folder, "LK");
  return CreateTempFileIn(folder, "LK");
}

// The array argument of a sort routine, by reference: 13 when it is no array.
VArray& ArrayArg(Variant& v) { return v.array(); }

}  // namespace

std::string WithTrailingSeparator(std::string_view path) {
  std::string out(path);
  if (!out.empty() && (out.back() == '\\' || out.back() == '/')) return out;
  out += (!out.empty() && out.front() == '/') ? '/' : '\\';
  return out;
}

// ---- member table ---------------------------------------------------------------

const ClassInfo& Directory::Class() {
  using D = Directory;
  static const ClassInfo info = ClassInfo::Make<D>(
      kClass,
      {
          {"ListAces", MemberKind::Method, {}, Action(&D::ListAces),
           "Reads the folder's owner and access-control entries into ACEs"},
          {"ACEs", MemberKind::Get, {}, Getter(&D::ACEs),
           "The access-control entries read by ListAces", "cACE"},
          {"Attributes", MemberKind::Let, {{"value"}}, Setter(&D::SetAttributes),
           "Sets the folder's attribute bits (the folder bit is ignored)"},
          {"Attributes", MemberKind::Get, {}, Getter(&D::GetAttributes),
           "The folder's attribute bits, read from disk", "Long"},
          {"Owner", MemberKind::Let, {{"value"}}, Setter(&D::SetOwner),
           "Makes the named account the folder's owner"},
          {"Owner", MemberKind::Get, {}, Getter(&D::Owner),
           "The account that owns the folder", "String"},
          {"Mask", MemberKind::Let, {{"value"}}, Setter(&D::SetMask),
           "Sets the wildcard pattern that selects files (\"*.txt\") and lists again"},
          {"Mask", MemberKind::Get, {}, Getter(&D::GetMask),
           "The wildcard pattern that selects files", "String"},
          // The index array B (second argument) is rearranged in place in `a`,
          // so a caller that passed it by reference sees the new order.
          {"InsertSort", MemberKind::Method, {{"A"}, {"B"}, {"Lb"}, {"Ub"}}, [](D&, Args& a) {
             int32_t lb = a[2].toInt32(), ub = a[3].toInt32();
             InsertSort(ArrayArg(a[0]), ArrayArg(a[1]), lb, ub);
             return Variant();
           },
           "Sorts array A (with index array B) between Lb and Ub by insertion"},
          {"QuickSort", MemberKind::Method, {{"A"}, {"B"}, {"Lb"}, {"Ub"}}, [](D&, Args& a) {
             int32_t lb = a[2].toInt32(), ub = a[3].toInt32();
             QuickSort(ArrayArg(a[0]), ArrayArg(a[1]), lb, ub);
             return Variant();
           },
           "Sorts array A (with index array B) between Lb and Ub by quicksort"},
          {"files", MemberKind::Set, {{"value"}}, [](D& d, Args& a) -> Variant { d.SetFiles(a[0]); },
           "Always refused: the file list is read-only"},
          {"files", MemberKind::Get, {}, [](D& d, Args&) { return Variant(ObjectRef(d.GetFiles())); },
           "The files of the folder matching Mask, in SortOrder", "cFiles"},
          {"Path", MemberKind::Let, {{"value"}}, Setter(&D::SetPath),
           kDispIdDefault,
           "Sets the folder (a site path or a DOS-form path)"},
          {"Path", MemberKind::Get, {}, Getter(&D::GetPath), kDispIdDefault,
           "The folder's path", "String"},
          {"SortOrder", MemberKind::Let, {{"value"}}, [](D& d, Args& a) {
             d.SetSortOrder(a[0]);
             return Variant();
           },
           "Sets how files are sorted (TV_SORT_TYPE)"},
          {"SortOrder", MemberKind::Get, {}, Getter(&D::GetSortOrder),
           "How files are sorted (TV_SORT_TYPE)", "Long"},
          {"Refresh", MemberKind::Method, {}, Action(&D::Refresh),
           "Lists the folder again and forgets the access-control entries read"},
          {"CreateTemp", MemberKind::Method, {{"Path"}}, [](D& d, Args& a) {
             d.CreateTempFolder(a[0]);
             return Variant();
           },
           "Creates a new uniquely named folder inside Path and points this object at it"},
          {"Delete", MemberKind::Method, {{"Recurse", true, "false"}}, [](D& d, Args& a) {
             d.DeleteFolder(a[0]);
             return Variant();
           },
           "Deletes the folder; an empty one only unless Recurse is true"},
          {"Create", MemberKind::Method, {{"Path"}}, [](D& d, Args& a) {
             d.CreateFolder(a[0]);
             return Variant();
           },
           "Creates the folder Path (its parent must exist) and points this object at it"},
          TraceFileSetMember<D>(),
          {"TraceFile", MemberKind::Get, {}, Getter(&D::TraceFile),
           "The trace-log File", "File"},
          {"Exists", MemberKind::Method, {}, [](D& d, Args&) { return Variant(d.Exists()); },
           "True when the folder exists", "Boolean"},
          OnStartPageMember<D>(),
          {"Rename", MemberKind::Method, {{"Path"}}, [](D& d, Args& a) {
             d.RenameFolder(a[0]);
             return Variant();
           },
           "Renames or moves the folder to Path"},
          XmlMember<D>("The folder's properties as an XML element"),
      });
  return info;
}

ObjectRef Directory::Create() { return New(); }

Directory::TempNameService Directory::SetTempNameService(TempNameService service) {
  TempNameService previous = std::move(tTempNameService);
  tTempNameService = std::move(service);
  return previous;
}

std::shared_ptr<Directory> Directory::New() { return std::make_shared<Directory>(); }

// ---- tracing ------------------------------------------------------------------------

void Directory::TracePath(std::string_view message) const {
  std::string line(message);
  line += path_;
  line += mask_;
  line += '.';
  Trace(line);
}

void Directory::TraceFailure(std::string_view first, int32_t number, const std::string& description) const {
  Trace(first);
  Trace("(" + std::to_string(number) + ") " + description);
}

// ---- properties -----------------------------------------------------------------------

void Directory::SetPath(const std::string& value) {
  std::string physical = PhysicalFolder(value);
  physicalPath_ = std::move(physical);
  path_ = WithTrailingSeparator(value);
  TracePath("Directory.LetPath - Path Changed for ");
  if (listed_ && files_) files_->Clear();
  listed_ = false;
  acl_.Drop();
}

std::string Directory::GetPath() {
  TracePath("Directory.GetPath - Path Returned for ");
  return path_;
}

void Directory::SetMask(const std::string& value) {
  TracePath("Directory.LetMask - Set the mask for ");
  mask_ = value;
  List();
}

std::string Directory::GetMask() {
  TracePath("Directory.GetMask - Returned the mask for ");
  return mask_;
}

void Directory::SetSortOrder(const Variant& value) {
  int32_t order = value.toInt32();
  sortOrder_ = order;
  TracePath("Directory.LetSortOrder - SortOrder Changed for ");
  List();
}

int32_t Directory::GetSortOrder() {
  TracePath("Directory.GetSortOrder - SortOrder Returned for ");
  return sortOrder_;
}

CFiles& Directory::FilesRef() {
  if (!files_) files_ = CFiles::New();
  return *files_;
}

std::shared_ptr<CFiles> Directory::GetFiles() {
  if (!listed_) List();
  FilesRef();
  TracePath("Directory.GetFiles - Returned file collection for ");
  return files_;
}

void Directory::SetFiles(const Variant&) {
  static const char* kText = "Directory.SetFiles - The Files Collection is readonly.";
  Trace(kText);
  throw ComponentError(component_error::FilesReadOnly, kText, kClass);
}

int32_t Directory::GetAttributes() { return ReadAttributes(physicalPath_); }

void Directory::SetAttributes(int32_t value) { WriteAttributes(physicalPath_, value & ~kAttrDirectory); }

// ---- operations ----------------------------------------------------------------------------

void Directory::RefreshStep() {
  List();
  acl_.Drop();
}

void Directory::Refresh() {
  try {
    RefreshStep();
    TracePath("Directory.Refresh - Directory object refreshed for ");
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in Directory.Refresh *** - Refresh of " + path_ + mask_ + " Failed.", e.number,
                 e.description);
    throw ComponentError(e.number, e.description, kClass);
  }
}

void Directory::CreateFolder(const Variant& path) {
  try {
    std::string text = path.toString();
    path_ = WithTrailingSeparator(text);
    physicalPath_ = PhysicalFolder(text);
    MakeFolder(physicalPath_);
    RefreshStep();
    TracePath("Directory.Create - New directory created for ");
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in Directory.Create *** - Create of " + path_ + " Failed.", e.number, e.description);
    throw ComponentError(e.number, e.description, kClass);
  }
}

std::string Directory::CreateTempSteps(const Variant& path) {
  std::string text = path.toString();
  path_ = WithTrailingSeparator(text);
  physicalPath_ = ResolvePath(text, true);

  std::string name;
  for (int call = 1;; ++call) {
    try {
      name = RequestTempName(physicalPath_);
      break;
    } catch (const Error&) {
      if (call == kTempNameCalls) throw;
    }
  }
  // The name request left a file of that name: replace it by a folder. Both
  // steps run; either failing sends us to the suffixed names.
  bool replaced = true;
  try {
    DeleteFileAt(name);
  } catch (const Error&) {
    replaced = false;
  }
  try {
    MakeFolder(name);
  } catch (const Error&) {
    replaced = false;
  }
  if (replaced) return name;
  for (int k = 1;; ++k) {
    std::string candidate = name + "_" + std::to_string(k);
    try {
      MakeFolder(candidate);
      return candidate;
    } catch (const Error&) {
      if (k == kTempSuffixes) throw;
    }
  }
}

void Directory::CreateTempFolder(const Variant& path) {
  std::string folder;
  try {
    folder = CreateTempSteps(path);
  } catch (...) {
    Error e = CaughtError();
    int32_t number = LowWord(e.number);
    TraceFailure("***Error in Directory.CreateTemp *** - Temporary Directory Creation of " + path_ + " Failed.",
                 number, e.description);
    throw ComponentError(number, e.description, kClass);
  }
  physicalPath_ = folder + "\\";
  path_ = WithTrailingSeparator(folder);
  try {
    RefreshStep();
  } catch (const Error&) {
    // The folder exists and this object stands for it; a listing that fails
    // now is tried again by the next read of files.
  }
}

void Directory::DeleteSteps(const Variant& recurse) {
  List();
  bool recursed = false;
  if (!recurse.isMissing() && !recurse.isNull()) {
    int64_t hasEntries = FilesRef().Count() >= 1 ? -1 : 0;
    if ((recurse.toInt64() & hasEntries) != 0) {
      RecurseDelete(*this);
      recursed = true;
    }
  }
  if (!recursed) RemoveFolder(physicalPath_);
  RefreshStep();
  TracePath("Directory.Delete - Deleted directory ");
}

void Directory::DeleteFolder(const Variant& recurse) {
  auto failure = RunWithOneRetry([&] { DeleteSteps(recurse); });
  if (!failure) return;
  TraceFailure("***Error in Directory.Delete *** - Delete of " + path_ + " Failed.", failure->number,
               failure->description);
  throw ComponentError(failure->number, failure->description, kClass);
}

void Directory::RecurseDelete(Directory& dir) {
  auto failure = RunWithOneRetry([&] { RecurseDeleteSteps(dir); });
  if (!failure) return;
  std::string shown = dir.GetPath();
  TraceFailure("***Error in Directory.RecurseDelete *** - Delete of " + shown + " Failed.", failure->number,
               failure->description);
  throw ComponentError(failure->number, failure->description, kClass);
}

void Directory::RenameSteps(const std::string& newPath) {
  std::string oldName = WithoutLastChar(physicalPath_);
  std::string newName = ResolvePath(newPath, true);
  if (!newName.empty() && (newName.back() == '\\' || newName.back() == '/')) newName.pop_back();
  MovePath(oldName, newName);
  Trace("Directory.Rename - Renamed " + path_ + " to " + newPath + ".");
  path_ = WithTrailingSeparator(newPath);
  physicalPath_ = newName + "\\";
  RefreshStep();
}

void Directory::RenameFolder(const Variant& path) {
  std::string text;
  auto failure = RunWithOneRetry([&] {
    text = path.toString();
    RenameSteps(text);
  });
  if (!failure) return;
  TraceFailure("***Error in Directory.Rename *** - Rename of " + path_ + " to " + text + " Failed.", failure->number,
               failure->description);
  throw ComponentError(LowWord(failure->number), failure->description, kClass);
}

bool Directory::Exists() {
  PathInfo info;
  bool exists = StatPath(WithoutLastChar(physicalPath_), info);
  Trace("Directory.Exists - Returned exists property.");
  return exists;
}

void Directory::SetTraceFile(const Variant& file) { trace_.Set(file, kClass); }

Variant Directory::TraceFile() { return trace_.Get(kClass); }

std::string Directory::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, kXmlRoot, kXmlProperties, properties, extra);
}

// ---- owner and access-control entries -----------------------------------------------------

SecurityTarget Directory::Target() const {
  SecurityTarget t;
  t.isDirectoryClass = true;
  t.physicalPath = physicalPath_;
  t.displayName = path_;
  t.isDirectory = true;
  t.channel = trace_.channel();
  return t;
}

void Directory::ListAces() { acl_.List(shared_from_this(), Target()); }

Variant Directory::ACEs() {
  bool exists = Exists();
  return acl_.Aces(shared_from_this(), Target(), exists);
}

std::string Directory::Owner() { return acl_.GetOwner(Target()); }

void Directory::SetOwner(const std::string& owner) { acl_.LetOwner(Target(), owner); }

void Directory::ResetAces() { acl_.Reset(); }

}  // namespace torvane
