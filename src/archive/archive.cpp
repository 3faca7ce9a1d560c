#include "archive/archive.h"

#include <algorithm>
#include <filesystem>

#include "automation/component_errors.h"
#include "basics/ascii.h"
#include "automation/error.h"
#include "automation/member_binding.h"
#include "archive/archive_entries.h"
#include "archive/archive_entry.h"
#include "host/policy.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"
#include "platform/paths.h"

namespace torvane {

using engine::EncryptionMethod;
using engine::kCapEmptyArchives;
using engine::kCapUncompressedSize;
using engine::kEngineFlatten;
using engine::kEngineNoRecurse;

namespace {

constexpr int32_t kSeparatorCode = 92;  // "\"

// An error that the class raises itself, outside its error handlers: it
// passes every handler unchanged and untraced.
struct RaisedDirectly : Error {
  explicit RaisedDirectly(Error e) : Error(std::move(e)) {}
};

[[noreturn]] void Raise(int32_t number, std::string text) {
  throw RaisedDirectly(ComponentError(number, std::move(text), "Archive"));
}

bool GivenAndTrue(const Variant& v) { return !v.isMissing() && v.toBool(); }

// The system's temporary directory in DOS form, ending with a backslash.
std::string SystemTempDir() {
  std::error_code ec;
  std::string native = std::filesystem::temp_directory_path(ec).string();
  if (ec || native.empty()) native = "/tmp";
  std::string dos = ToDosPath(native);
  if (dos.empty() || dos.back() != '\\') dos += '\\';
  if (dos.size() > 260) dos.resize(260);
  return dos;
}

}  // namespace

int32_t ArchiveTypeFromPath(const std::string& path) {
  std::string up = AsciiUpper(path);
  auto last = [&](size_t n) { return up.size() >= n ? up.substr(up.size() - n) : std::string(); };
  if (last(4) == ".ZIP") return 0;
  if (last(3) == ".GZ") return 10;
  if (last(4) == ".TAR") return 21;
  if (last(4) == ".MMM") return 13;
  if (last(4) == ".SIT") return 20;
  if (last(4) == ".BIN") return 12;
  return -1;
}

// Members in slot order: Password (let), TempDir (let, get), SupportsFolders,
// SupportsEmptyArchives, SupportsUnCompressedSize, ArchiveType, Extract,
// NewArchive, OpenArchive, SaveArchive, Delete, Add, Entries (default),
// OnStartPage, TraceFile (set, get), CloseArchive, ToXML.
const ClassInfo& Archive::Class() {
  using A = Archive;
  static const ClassInfo info = ClassInfo::Make<A>(
      "Archive",
      {
          {"Password", MemberKind::Let, {{"value"}}, [](A& a, Args& v) {
             a.SetPassword(v[0].toString());
             return Variant();
           },
           "Sets the password used by the next NewArchive or OpenArchive"},
          {"TempDir", MemberKind::Let, {{"value"}}, [](A& a, Args& v) {
             a.SetTempDir(v[0].toString());
             return Variant();
           },
           "Sets the folder for the engine's temporary files"},
          {"TempDir", MemberKind::Get, {}, Getter(&A::TempDir),
           "The folder for the engine's temporary files", "String"},
          {"SupportsFolders", MemberKind::Get, {}, Getter(&A::SupportsFolders),
           "Whether the archive type holds folders", "Boolean"},
          {"SupportsEmptyArchives", MemberKind::Get, {},
           Getter(&A::SupportsEmptyArchives),
           "Whether the archive type may be saved empty", "Boolean"},
          {"SupportsUnCompressedSize", MemberKind::Get, {},
           Getter(&A::SupportsUnCompressedSize),
           "Whether the archive type records uncompressed sizes", "Boolean"},
          {"ArchiveType", MemberKind::Get, {}, Getter(&A::ArchiveType),
           "The open archive's type (TV_ARCHIVE_TYPE)", "Long"},
          {"Extract", MemberKind::Method, {{"SourcePath"}, {"DestPath"}, {"Flatten", true, "false"}},
           [](A& a, Args& v) {
             a.Extract(v[0], v[1], v[2]);
             return Variant();
           },
           "Extracts the entries matching SourcePath into the folder DestPath"},
          {"NewArchive", MemberKind::Method, {{"Path"}, {"ArchiveType", true, "from the extension of Path"}}, [](A& a, Args& v) {
             a.NewArchive(v[0], v[1]);
             return Variant();
           },
           "Starts a new, empty archive to be saved at Path"},
          {"OpenArchive", MemberKind::Method, {{"Path"}}, [](A& a, Args& v) {
             a.OpenArchive(v[0]);
             return Variant();
           },
           "Opens an existing archive file"},
          {"SaveArchive", MemberKind::Method, {{"Path", true, "the path it was opened or created with"}}, [](A& a, Args& v) {
             a.SaveArchive(v[0]);
             return Variant();
           },
           "Writes the archive, to Path when given"},
          {"Delete", MemberKind::Method, {{"Path"}}, [](A& a, Args& v) {
             a.Delete(v[0]);
             return Variant();
           },
           "Removes the entries matching Path from the archive"},
          {"Add", MemberKind::Method, {{"Path"}, {"Recurse", true, "false"}, {"Flatten", true, "false"}}, [](A& a, Args& v) {
             a.Add(v[0], v[1], v[2]);
             return Variant();
           },
           "Adds files or folders from disk"},
          {"Entries", MemberKind::Get, {}, [](A& a, Args&) { return Variant(ObjectRef(a.Entries())); },
           kDispIdDefault,
           "The archive's entries", "cArchiveEntry"},
          OnStartPageMember<A>(),
          TraceFileSetMember<A>(),
          {"TraceFile", MemberKind::Get, {}, Getter(&A::TraceFile),
           "The trace-log File", "File"},
          {"CloseArchive", MemberKind::Method, {}, Action(&A::CloseArchive),
           "Closes the archive and releases the engine"},
          XmlMember<A>("The archive's properties and entries as an XML element"),
      });
  return info;
}

Archive::Archive() : tempDir_(SystemTempDir()) {}

std::shared_ptr<Archive> Archive::New() {
  auto a = std::make_shared<Archive>();
  AttachScriptContext();
  return a;
}

ObjectRef Archive::Create() { return New(); }

Archive::~Archive() {
  engine_.reset();
  isOpen_ = false;
  trace_.Write("Archive.Class_Terminate Called");
}

// Runs `body` under the operation's error handler: a failure other than the
// class's own direct errors is traced and raised again with its number
// reduced to the low 16 bits.
template <class F>
void Archive::Handled(const char* operation, F&& body) {
  try {
    body();
  } catch (const RaisedDirectly&) {
    throw;
  } catch (...) {
    Error e = CaughtError();
    trace_.Write(std::string("***Error in Archive.") + operation + "***.");
    trace_.Write("(" + std::to_string(e.number) + ") " + e.description);
    throw Error(LowWord(e.number), e.description, e.source);
  }
}

void Archive::RequireOpen() const {
  if (!isOpen_) Raise(component_error::ArchiveNotOpen, "Archive must be created or opened before being used.");
}

void Archive::SetTempDir(const std::string& value) { tempDir_ = ResolvePath(value, true); }

EngineInfo Archive::Info() const {
  if (!engine_) ThrowPlatform(err::ObjectNotSet);
  return engine_->GetInfo();
}

bool Archive::SupportsFolders() const { return Info().folders != 0; }
bool Archive::SupportsEmptyArchives() const { return (Info().capabilities & kCapEmptyArchives) != 0; }
bool Archive::SupportsUnCompressedSize() const { return (Info().capabilities & kCapUncompressedSize) != 0; }
int32_t Archive::ArchiveType() const { return Info().type; }

void Archive::PrepareEngine() {
  if (isOpen_) engine_.reset();
  engine_ = std::make_unique<EngineArchive>();
  engine_->SetTempDir(tempDir_);
  isOpen_ = true;
}

void Archive::ApplyPassword() {
  if (password_.empty()) return;
  options_ = std::make_shared<EngineOptions>();
  std::shared_ptr<EncryptionMethod> method;
  for (const auto& m : engine_->EncryptionMethods())
    if (m->MethodKind() == 4) method = m;
  options_->SetOption("Password", password_);
  options_->SetObjectOption("EncryptMethod", method);
  engine_->UseOptions(options_);
}

void Archive::NewArchive(const Variant& path, const Variant& archiveType) {
  Handled("NewArchive", [&] {
    std::string p = path.toString();
    PrepareEngine();
    if (!archiveType.isMissing()) {
      engine_->SetArchiveType(archiveType.toInt32());
    } else {
      int32_t type = ArchiveTypeFromPath(p);
      if (type < 0) Raise(component_error::UnknownArchiveFormat, "Unknown archive format for " + p);
      engine_->SetArchiveType(type);
    }
    ApplyPassword();
    archivePath_ = ResolvePath(p, false);
    entriesStale_ = true;
  });
}

void Archive::OpenArchive(const Variant& path) {
  Handled("OpenArchive", [&] {
    std::string p = path.toString();
    PrepareEngine();
    std::string physical = ResolvePath(p, false);
    engine_->OpenFile(physical);
    ApplyPassword();
    archivePath_ = physical;
    entriesStale_ = true;
  });
}

void Archive::SaveArchive(const Variant& path) {
  RequireOpen();
  Handled("SaveArchive", [&] {
    if (!path.isMissing()) archivePath_ = ResolvePath(path.toString(), false);
    engine_->SaveFile(archivePath_);
  });
}

void Archive::Add(const Variant& path, const Variant& recurse, const Variant& flatten) {
  RequireOpen();
  int32_t flags = kEngineNoRecurse;
  Handled("Add", [&] {
    if (GivenAndTrue(recurse)) flags = 0;
    if (GivenAndTrue(flatten)) flags += kEngineFlatten;
  });
  bool folders = false;
  Handled("Add", [&] { folders = SupportsFolders(); });
  if (!folders && flags != kEngineNoRecurse)
    Raise(component_error::FoldersNotSupported,
          "This Archive type does not support folders and Recurse or Flatten was specified.");
  Handled("Add", [&] {
    engine_->AddFiles(ResolvePath(path.toString(), false), flags, options_);
    entriesStale_ = true;
  });
}

void Archive::Extract(const Variant& sourcePath, const Variant& destPath, const Variant& flatten) {
  RequireOpen();
  Handled("Extract", [&] {
    if (entriesStale_) Refresh();
    int32_t flags = GivenAndTrue(flatten) ? kEngineFlatten : 0;
    engine_->ExtractFiles(sourcePath.toString(), ResolvePath(destPath.toString(), false), flags, kSeparatorCode,
                          options_);
  });
}

void Archive::Delete(const Variant& path) {
  RequireOpen();
  try {
    if (entriesStale_) Refresh();
    engine_->DeleteFiles(path.toString(), kSeparatorCode);
    entriesStale_ = true;
  } catch (const RaisedDirectly&) {
    throw;
  } catch (...) {
    Error e = CaughtError();
    throw Error(LowWord(e.number), e.description, e.source);
  }
}

std::shared_ptr<CArchiveEntry> Archive::Entries() {
  RequireOpen();
  Handled("GetEntries", [&] {
    if (entriesStale_) Refresh();
    if (!entries_) entries_ = CArchiveEntry::New();
  });
  return entries_;
}

void Archive::Refresh() {
  if (!entries_) entries_ = CArchiveEntry::New();
  entries_->Clear();
  IterateEntries(engine_->RootFolder());
  entriesStale_ = false;
}

void Archive::IterateEntries(const std::shared_ptr<EngineItem>& folder) {
  Handled("IterateEntries", [&] {
    auto items = folder->FolderItems()->FindItems("*");
    for (;;) {
      int32_t delivered = 0;
      auto item = items->NextItem(1, delivered);
      if (delivered == 0) break;
      auto entry = ArchiveEntry::New();
      entry->SetPath(item->ItemPath(0));
      entry->SetCompressedSize(item->ItemCompressedSize(0));
      entry->SetUnCompressedSize(item->ItemUnCompressedSize());
      entry->SetIsDirectory((item->ItemAttributes() & 0x10) != 0);
      entries_->Add(Variant(ObjectRef(entry)), Variant(entry->Path()));
      if (entry->IsDirectory()) IterateEntries(item);
    }
  });
}

void Archive::CloseArchive() {
  if (!isOpen_) return;
  engine_.reset();
  isOpen_ = false;
}

std::string Archive::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "archive",
                         "archivetype,supportsemptyarchives,supportsfolders,supportsuncompressedsize,tempdir",
                         properties, extra);
}

}  // namespace torvane
