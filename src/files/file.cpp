// File: the object, its member table, names and paths, type and disk data, and
// the disk operations Create, CreateTemp, Rename, Delete, Copy and Refresh.
#include "files/file.h"

#include "automation/component_errors.h"
#include "automation/member_binding.h"
#include "basics/utf8.h"
#include "files/file_internal.h"
#include "host/policy.h"
#include "host/retry.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"
#include "platform/fileservices.h"
#include "platform/registry.h"

namespace torvane {

using files_internal::Reduced;

namespace {

constexpr const char* kXmlList =
    "attributes,fileextension,filename,filetype,inmemory,lastmodified,"
    "lastmodifiedgmt,md5,mimetype,name,owner,size";

// A registry string value without its terminating NUL; false when the key or
// value is missing or not a string.
bool ReadRegistryText(const std::string& key, std::string_view valueName, std::string& out) {
  Variant v;
  if (QueryRegistryValue(key, valueName, v) != 0 || !v.isString()) return false;
  out = v.str();
  if (!out.empty() && out.back() == '\0') out.pop_back();
  return true;
}

}  // namespace

// ---- member table ------------------------------------------------------------------

const ClassInfo& File::Class() {
  using K = MemberKind;
  static const ClassInfo info = ClassInfo::Make<File>(
      "File",
      {
          {"MD5", K::Get, {}, Getter(&File::MD5),
           "MD5 digest of the file's content as 32 hex digits", "String"},
          {"Attributes", K::Let, {{"value"}}, Setter(&File::SetAttributes),
           "Sets the file's attribute bits (TV_FILE_ATTRIBUTES)"},
          {"Attributes", K::Get, {}, [](File& f, Args&) { return Variant(f.Attributes()); },
           "The file's attribute bits (TV_FILE_ATTRIBUTES), read from disk", "Long"},
          {"InMemory", K::Get, {}, Getter(&File::InMemory),
           "True while the content is held in memory rather than on disk", "Boolean"},
          {"InMemory", K::Set, {{"value"}}, Setter(&File::SetInMemory),
           "Marks whether the content is held in memory"},
          {"RegisterDLL", K::Method, {}, Action(&File::RegisterDLL),
           "Loads the file as a shared object and calls its DllRegisterServer"},
          {"List", K::Method, {}, Action(&File::List),
           "Reads the file's owner and access-control entries into ACEs"},
          {"ACEs", K::Get, {}, Getter(&File::ACEs),
           "The access-control entries read by List", "cACE"},
          {"Owner", K::Let, {{"value"}}, Setter(&File::SetOwner),
           "Makes the named account the file's owner"},
          {"Owner", K::Get, {}, Getter(&File::Owner),
           "The account that owns the file", "String"},
          {"LastModified", K::Get, {}, [](File& f, Args&) { return Variant::Date(f.LastModified()); },
           "Last-modified time in local time", "Date"},
          {"LastModified", K::Set, {{"value"}}, [](File& f, Args& a) { f.SetLastModified(a[0].toDate()); return Variant(); },
           "Sets the file's last-modified time"},
          {"LastModifiedGMT", K::Get, {}, Getter(&File::LastModifiedGMT),
           "Last-modified time as an HTTP date in GMT", "String"},
          {"Export", K::Method, {{"adoField"}, {"Append"}, {"InMemory", true, "false"}},
           [](File& f, Args& a) { f.Export(a[0], a[1], a[2]); return Variant(); },
           "Writes the content into a database field (appending when Append is true)"},
          {"Import", K::Method, {{"adoField"}}, [](File& f, Args& a) { f.Import(a[0]); return Variant(); },
           "Reads the content from a database field into memory"},
          {"Compare", K::Method, {{"sName"}}, [](File& f, Args& a) { return Variant(f.Compare(a[0].toString())); },
           "True when the content equals that of the named file", "Boolean"},
          {"Download", K::Method, {{"MimeType", true, "the file's MimeType"}, {"ModDate", true}, {"ResponseEnd", true, "false"}, {"DeleteFile", true, "false"}},
           [](File& f, Args& a) { return Variant(f.Download(a[0], a[1], a[2], a[3])); },
           "Sends the file as the page's response, with ranges and conditional requests", "Boolean"},
          {"CreateTemp", K::Method, {{"Path"}},
           [](File& f, Args& a) {
             std::string before = a[0].toString();
             std::string path = before;
             try {
               f.CreateTemp(path);
             } catch (...) {
               if (path != before) a[0] = Variant(path);
               throw;
             }
             if (path != before) a[0] = Variant(path);
             return Variant();
           },
           "Creates an empty temporary file in the folder Path and points this object at it"},
          {"Create", K::Method, {{"Name"}}, [](File& f, Args& a) { f.CreateFile(a[0].toString()); return Variant(); },
           "Creates (or empties) the named file and points this object at it"},
          {"Rename", K::Method, {{"Name"}}, [](File& f, Args& a) { f.Rename(a[0].toString()); return Variant(); },
           "Renames or moves the file to Name"},
          {"Delete", K::Method, {}, Action(&File::Delete),
           "Deletes the file from disk"},
          {"Copy", K::Method, {{"Name"}}, [](File& f, Args& a) { return Variant(ObjectRef(f.Copy(a[0].toString()))); },
           "Copies the file to Name and returns the copy", "File"},
          {"Load", K::Method, {{"Name", true, "the file's Name"}}, [](File& f, Args& a) { f.Load(a[0]); return Variant(); },
           "Reads the file (or the named one) into memory"},
          {"Save", K::Method, {{"Name", true, "the file's Name"}}, [](File& f, Args& a) { f.Save(a[0]); return Variant(); },
           "Writes the in-memory content to the file (or the named one)"},
          {"IsDirectory", K::Method, {}, [](File& f, Args&) { return Variant(f.IsDirectory()); },
           "True when the name is a folder", "Boolean"},
          {"IsReadonly", K::Method, {}, [](File& f, Args&) { return Variant(f.IsReadonly()); },
           "True when the file cannot be written", "Boolean"},
          {"Size", K::Let, {{"value"}}, [](File& f, Args& a) -> Variant { f.SetSize(a[0]); },
           "Always refused: the size is read-only"},
          {"Size", K::Get, {}, Getter(&File::Size),
           "Size of the content in bytes", "Long"},
          {"MimeType", K::Let, {{"value"}}, Setter(&File::SetMimeType),
           "Sets the MIME type used by Download"},
          {"MimeType", K::Get, {}, Getter(&File::MimeType),
           "The MIME type, from the registry's file types unless set", "String"},
          {"Name", K::Let, {{"value"}}, Setter(&File::SetName),
           "Points the object at a file path (a site path or a DOS-form path)"},
          {"Refresh", K::Method, {}, Action(&File::Refresh),
           "Reads the file's details from disk again"},
          {"Name", K::Get, {}, [](File& f, Args&) { return Variant(f.Name()); }, kDispIdDefault,
           "The file's full path", "String"},
          {"FileName", K::Get, {}, Getter(&File::FileName),
           "The file's name without its folder", "String"},
          {"FileType", K::Get, {}, Getter(&File::FileType),
           "Description of the file's type from the registry", "String"},
          {"FileExtension", K::Get, {}, Getter(&File::FileExtension),
           "The extension without the dot", "String"},
          TraceFileSetMember<File>(),
          {"TraceFile", K::Get, {}, Getter(&File::TraceFile),
           "The trace-log File", "File"},
          {"Exists", K::Method, {}, [](File& f, Args&) { return Variant(f.Exists()); },
           "True when the file exists on disk", "Boolean"},
          {"OnStartPage", K::Method, {{"myScriptingContext", true}}, [](File&, Args&) { return Variant(); },
           "Called by the host when the page starts; does nothing"},
          XmlMember<File>("The object's properties as an XML element"),
      });
  return info;
}

std::shared_ptr<File> File::New() {
  auto f = std::make_shared<File>();
  try {
    AttachScriptContext();
  } catch (const Error&) {
    // Outside a page there is nothing to attach; a File still works on physical paths.
  }
  return f;
}

ObjectRef File::Create() { return New(); }

void File::TraceFailure(std::string_view first, const Error& e) const {
  Trace(first);
  Trace("(" + std::to_string(e.number) + ") " + e.description);
}

// ---- names and derived data --------------------------------------------------------

std::string File::Name() {
  Trace("File.GetName - Returned Name of " + name_ + ".");
  return name_;
}

void File::SetName(const std::string& value) {
  name_ = value;
  physicalPath_ = ResolvePath(value, false);
  if (!inMemory_) {
    ReadTypeInfo();
    ReadDiskInfo();
    DropAces();
  }
  Trace("File.LetName - Set Name of " + name_ + " with path of " + physicalPath_ + " .");
}

std::string File::FileName() {
  Trace("File.GetFilename - Returned Name of " + fileName_ + ".");
  return fileName_;
}

std::string File::FileType() {
  Trace("File.GetFileType - Returned Type of " + fileType_ + ".");
  return fileType_;
}

std::string File::FileExtension() {
  Trace("File.GetFileExtension - Returned Extension of " + fileExtension_ + ".");
  return fileExtension_;
}

std::string File::MimeType() {
  Trace("File.GetMimeType - Returned Mime Type of " + name_ + ".");
  return mimeType_;
}

void File::SetMimeType(const std::string& value) {
  mimeType_ = value;
  Trace("File.LetMimeType - Set Mime Type of " + name_ + ".");
}

int64_t File::Size() {
  Trace("File.GetSize - Returned Size of " + name_ + ".");
  return size_;
}

void File::SetSize(const Variant&) {
  std::string text = "File.LetSize - Size is readonly for file " + name_ + ".";
  Trace(text);
  throw ComponentError(component_error::SizeReadOnly, text, "File");
}

bool File::Exists() {
  Trace("File.Exists - Returned exists of " + name_ + ".");
  return exists_;
}

namespace {
constexpr const char* kIsDirectoryTrace = "File.IsDirectory - Returned Directory Attribute of ";
}

bool File::IsDirectory() { return AttributeBit(kAttrDirectory, kIsDirectoryTrace); }

bool File::IsReadonly() { return AttributeBit(kAttrReadonly, "File.IsReadonly - Returned Readonly Attribute of "); }

bool File::AttributeBit(int32_t bit, const char* trace) {
  int32_t bits = 0;
  try {
    bits = Attributes();
  } catch (const Error&) {
    bits = 0;
  }
  return TracedBit(bits, bit, trace);
}

bool File::TracedBit(int32_t bits, int32_t bit, const char* trace) {
  Trace(trace + name_ + ".");
  return (bits & bit) != 0;
}

int32_t File::Attributes() {
  try {
    attributes_ = ReadAttributes(physicalPath_);
  } catch (...) {
    throw CaughtError();
  }
  return attributes_;
}

void File::SetAttributes(int32_t value) {
  try {
    WriteAttributes(physicalPath_, value & ~kAttrDirectory);
  } catch (...) {
    throw CaughtError();
  }
  attributes_ = value;
}

void File::ReadTypeInfo() {
  size_t dot = std::string::npos;
  for (size_t i = name_.size(); i-- > 0;) {
    char c = name_[i];
    if (c == '.') {
      dot = i;
      break;
    }
    if (c == '\\' || c == '/') break;
  }
  if (dot == std::string::npos) {
    fileExtension_.clear();
    fileType_ = "File";
    mimeType_ = "application/unknown";
    return;
  }
  fileExtension_ = name_.substr(dot + 1);
  RegistryGlance glance;  // the three lookups below read one version of the file
  std::string key = "HKEY_CLASSES_ROOT\\." + fileExtension_;
  std::string text;
  mimeType_ = ReadRegistryText(key, "Content Type", text) && !text.empty() ? text : "application/unknown";
  std::string className;
  if (!ReadRegistryText(key, "", className)) className.clear();
  if (className.empty()) {
    fileType_ = UpperText(fileExtension_) + " File";
    return;
  }
  std::string description;
  fileType_ = ReadRegistryText("HKEY_CLASSES_ROOT\\" + className, "", description) ? description : className;
}

void File::ReadDiskInfo() {
  size_t cut = name_.find_last_of("\\/");
  fileName_ = (cut != std::string::npos && cut > 0) ? name_.substr(cut + 1) : name_;
  PathInfo info;
  if (StatPath(physicalPath_, info)) {
    size_ = info.size;
    exists_ = true;
  } else {
    exists_ = false;
  }
  // IsDirectory's answer and trace line, from the look just taken (a second
  // look would read the same entry again).
  if (TracedBit(exists_ && info.isDirectory ? kAttrDirectory : 0, kAttrDirectory, kIsDirectoryTrace)) {
    std::string text;
    fileType_ = ReadRegistryText("HKEY_CLASSES_ROOT\\Directory", "", text) && !text.empty() ? text : "File Folder";
  }
}

void File::DropAces() { acl_.Drop(); }

// ---- disk operations -------------------------------------------------------------------

void File::RefuseReadonly(std::string_view physicalPath) {
  PathInfo info;
  if (!StatPath(physicalPath, info) || info.isDirectory) return;
  if (info.readonly) throw Error(err::InvalidArgument, "Access is denied.");
}

void File::CreateFile(const std::string& name) {
  try {
    name_ = name;
    physicalPath_ = ResolvePath(name_, false);
    RefuseReadonly(physicalPath_);
    CreateEmptyFile(physicalPath_);
    inMemory_ = false;
    ReadTypeInfo();
    ReadDiskInfo();
    DropAces();
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.Create *** - File Creation of " + name + " Failed.", e);
    throw e;
  }
}

bool File::CreateNew(const std::string& name) {
  try {
    std::string physical = ResolvePath(name, false);
    if (!CreateNewFile(physical)) return false;
    name_ = name;
    physicalPath_ = physical;
    inMemory_ = false;
    ReadTypeInfo();
    ReadDiskInfo();
    DropAces();
    return true;
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.Create *** - File Creation of " + name + " Failed.", e);
    throw e;
  }
}

void File::CreateTemp(std::string& path) {
  try {
    std::string folder = ResolvePath(path, false);
    // Created new, empty and exclusively: it is not opened a second time, so
    // nothing put in its place meanwhile can be truncated through it.
    std::string created = CreateTempFileIn(folder, "~LK");
    physicalPath_ = created;
    if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += (!path.empty() && path[0] == '/') ? "/" : "\\";
    size_t cut = created.find_last_of("\\/");
    name_ = path + created.substr(cut == std::string::npos ? 0 : cut + 1);
    inMemory_ = false;
    ReadTypeInfo();
    ReadDiskInfo();
    DropAces();
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.CreateTemp *** - Temporary File Creation in " + path + " Failed.", e);
    throw Reduced(e);
  }
}

void File::Rename(const std::string& newName) {
  const std::string oldName = name_;
  auto failure = RunWithOneRetry([&] {
    if (!inMemory_) {
      std::string target = ResolvePath(newName, false);
      MovePath(physicalPath_, target);
      Trace("File.Rename - Renamed " + oldName + " to " + newName + ".");
      physicalPath_ = target;
    }
    name_ = newName;
    ReadTypeInfo();
    ReadDiskInfo();
    DropAces();
  });
  if (!failure) return;
  TraceFailure("***Error in File.Rename *** - Rename of " + oldName + " to " + newName + " Failed.", *failure);
  throw Reduced(*failure);
}

void File::Delete() {
  auto failure = RunWithOneRetry([&] {
    if (!inMemory_) {
      RefuseReadonly(physicalPath_);
      DeleteFileAt(physicalPath_);
    }
    exists_ = false;
    DropAces();
    Trace("File.Delete - Deleted " + name_ + ".");
    // No yield after a successful delete: a page thread serves no event
    // queue of the host (its I/O threads run beside it), so a yield here
    // only gave the core away. With every worker busy that was a context
    // switch per deleted file, a cost that grew with the server's load.
  });
  if (!failure) return;
  TraceFailure("***Error in File.Delete *** - Delete of " + name_ + " Failed.", *failure);
  throw *failure;
}

std::shared_ptr<File> File::Copy(const std::string& target) {
  try {
    std::string to = ResolvePath(target, false);
    RefuseReadonly(to);
    if (inMemory_) {
      static const Bytes kEmpty;
      WriteWholeFile(to, content_ ? *content_ : kEmpty);
    } else {
      CopyFileTo(physicalPath_, to);
    }
    auto copy = New();
    copy->SetName(target);
    copy->SetPath(to);
    Trace("File.Copy - Copied " + name_ + " to " + target + ".");
    return copy;
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.Copy *** - Copy of " + name_ + " to " + target + " Failed.", e);
    throw e;
  }
}

void File::Refresh() {
  ReadTypeInfo();
  ReadDiskInfo();
  DropAces();
}

// ---- owner and access-control entries --------------------------------------------------

SecurityTarget File::Target(bool withIsDirectory) {
  SecurityTarget t;
  t.isDirectoryClass = false;
  t.physicalPath = physicalPath_;
  t.displayName = name_;
  t.isDirectory = withIsDirectory ? IsDirectory() : false;
  t.channel = trace_.channel();
  return t;
}

void File::List() { acl_.List(shared_from_this(), Target(true)); }

Variant File::ACEs() { return acl_.Aces(shared_from_this(), Target(false), exists_); }

std::string File::Owner() { return acl_.GetOwner(Target(false)); }

void File::SetOwner(const std::string& owner) { acl_.LetOwner(Target(false), owner); }

void File::ResetAces() { acl_.Reset(); }

// ---- XML and trace log ----------------------------------------------------------------------

std::string File::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "file", kXmlList, properties, extra);
}

void File::SetTraceFile(const Variant& file) { trace_.Set(file, "File"); }

Variant File::TraceFile() { return trace_.Get("File"); }

}  // namespace torvane
