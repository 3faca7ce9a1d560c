#include "upload/post.h"

#include "automation/component_errors.h"
#include "automation/member_binding.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"
#include "platform/settings.h"
#include "progress/progress_bar.h"

namespace torvane {

namespace {
constexpr const char* kFullList = "checkmacbinary,codepage,maxfilesize,maxtotalfilesize,progressbarid";
constexpr int64_t kFlushChunk = 64 * 1024;

}  // namespace

const ClassInfo& Post::Class() {
  using P = Post;
  static const ClassInfo info = ClassInfo::Make<P>(
      "Post",
      {
          {"Directory", MemberKind::Set, {{"value"}}, [](P& p, Args& a) { p.SetDirectory(a[0]); return Variant(); },
           "Sets the folder uploaded files are stored in"},
          {"Directory", MemberKind::Get, {}, Getter(&P::GetDirectory),
           "The folder uploaded files are stored in", "Directory"},
          TraceFileSetMember<P>(),
          {"TraceFile", MemberKind::Get, {}, Getter(&P::GetTraceFile),
           "The trace-log File", "File"},
          {"DumpFile", MemberKind::Set, {{"value"}}, [](P& p, Args& a) { p.SetDumpFile(a[0]); return Variant(); },
           "Copies the raw request body into the given File while parsing"},
          {"DumpFile", MemberKind::Get, {}, Getter(&P::GetDumpFile),
           "The File that receives the raw body", "File"},
          {"MaxTotalFileSize", MemberKind::Let, {{"value"}},
           Setter(&P::SetMaxTotalFileSize),
           "Sets the largest sum of uploaded file sizes in bytes (below 1: no limit)"},
          {"CodePage", MemberKind::Get, {}, Getter(&P::GetCodePage),
           "Code page of names and values in the body (0: the system default)", "Long"},
          {"CodePage", MemberKind::Let, {{"value"}}, Setter(&P::SetCodePage),
           "Sets the code page of names and values in the body"},
          {"MaxTotalFileSize", MemberKind::Get, {}, Getter(&P::GetMaxTotalFileSize),
           "Largest sum of uploaded file sizes in bytes", "Long"},
          {"MaxFileSize", MemberKind::Let, {{"value"}},
           Setter(&P::SetMaxFileSize),
           "Sets the largest size of one uploaded file in bytes (below 1: no limit)"},
          {"MaxFileSize", MemberKind::Get, {}, Getter(&P::GetMaxFileSize),
           "Largest size of one uploaded file in bytes", "Long"},
          {"ProgressBarID", MemberKind::Let, {{"value"}},
           Setter(&P::SetProgressBarID),
           "Names the progress record the upload updates"},
          {"ProgressBarID", MemberKind::Get, {}, Getter(&P::GetProgressBarID),
           "The progress record the upload updates", "String"},
          {"FormInputs", MemberKind::Set, {{"value"}}, [](P& p, Args&) -> Variant { p.RefuseFormInputs(); },
           "Always refused: the form inputs are read-only"},
          {"FormInputs", MemberKind::Get, {}, [](P& p, Args&) { return Variant(ObjectRef(p.GetFormInputs())); },
           kDispIdDefault,
           "Reads the request on first use and returns its form inputs", "cFormInput"},
          {"Flush", MemberKind::Method, {}, Action(&P::Flush),
           "Reads and drops what is left of the request body"},
          OnStartPageMember<P>(),
          {"Upload", MemberKind::Method,
           {{"Path", true, "the Directory set before"}, {"FileMethod", true, "TV_UPLOAD_MAKEVERSIONS"}, {"CheckMacBinary", true, "true, or the value a page set"}, {"ProgressBarID", true}},
           [](P& p, Args& a) { p.Upload(a[0], a[1], a[2], a[3]); return Variant(); },
           "Receives the upload into Path with the given storage method"},
          {"CheckMacBinary", MemberKind::Get, {}, Getter(&P::GetCheckMacBinary),
           "Whether MacBinary headers are stripped from uploaded files", "Boolean"},
          {"CheckMacBinary", MemberKind::Let, {{"value"}},
           Setter(&P::SetCheckMacBinary),
           "Sets whether MacBinary headers are stripped"},
          XmlMember<P>("The upload settings as an XML element"),
          {"MaxFiles", MemberKind::Get, {}, Getter(&P::GetMaxFiles),
           "Largest number of file parts accepted", "Long"},
          {"MaxFiles", MemberKind::Let, {{"value"}}, Setter(&P::SetMaxFiles),
           "Sets the largest number of file parts (below 1: no limit)"},
          {"MaxParts", MemberKind::Get, {}, Getter(&P::GetMaxParts),
           "Largest number of parts of any kind accepted", "Long"},
          {"MaxParts", MemberKind::Let, {{"value"}}, Setter(&P::SetMaxParts),
           "Sets the largest number of parts (below 1: no limit)"},
          {"MaxFieldSize", MemberKind::Get, {}, Getter(&P::GetMaxFieldSize),
           "Largest size of one ordinary field's value in bytes", "Long"},
          {"MaxFieldSize", MemberKind::Let, {{"value"}},
           Setter(&P::SetMaxFieldSize),
           "Sets the largest size of one field's value (below 1: no limit)"},
          {"MaxTotalFieldSize", MemberKind::Get, {}, Getter(&P::GetMaxTotalFieldSize),
           "Largest sum of field value sizes in bytes", "Long"},
          {"MaxTotalFieldSize", MemberKind::Let, {{"value"}},
           Setter(&P::SetMaxTotalFieldSize),
           "Sets the largest sum of field value sizes (below 1: no limit)"},
          {"AllowPageFiles", MemberKind::Get, {}, Getter(&P::GetAllowPageFiles),
           "Whether uploads may be stored under names the host would run as pages", "Boolean"},
          {"AllowPageFiles", MemberKind::Let, {{"value"}},
           Setter(&P::SetAllowPageFiles),
           "Allows storing uploads under names the host runs as pages"},
      });
  return info;
}

Post::Post()
    : maxFiles_(CurrentSettings().uploadMaxFiles),
      maxParts_(CurrentSettings().uploadMaxParts),
      maxFieldSize_(CurrentSettings().uploadMaxFieldSize),
      maxTotalFieldSize_(CurrentSettings().uploadMaxTotalFieldSize) {}

std::shared_ptr<Post> Post::CreateTyped() {
  auto p = std::make_shared<Post>();  // MaxFileSize -1, MaxTotalFileSize -1, CheckMacBinary true, host limits
  AttachScriptContext();
  return p;
}

ObjectRef Post::Create() { return CreateTyped(); }

void Post::SetDirectory(const Variant& directory) {
  std::shared_ptr<Directory> dir;
  if (!directory.isNull() && !directory.isEmpty()) dir = directory.as<Directory>();
  directory_ = std::move(dir);
  Trace("Post.SetDirectory - Set Directory object.");
}

Variant Post::GetDirectory() {
  Trace("Post.GetDirectory - Returned Directory object.");
  return Variant(ObjectRef(directory_));
}

void Post::SetTraceFile(const Variant& file) { trace_.Set(file, "Post"); }

Variant Post::GetTraceFile() { return trace_.Get("Post"); }

void Post::SetDumpFile(const Variant& file) {
  try {
    auto f = file.as<File>();
    dumpFile_ = f;
    std::string name = f->Get("Name").toString();
    // The File's Name as its physical path (a virtual name maps into the site,
    // never relative to the server's working folder).
    std::string path = f->PhysicalPath().empty() ? name : f->PhysicalPath();
    dump_.reset();  // a dump set again gives its handle back first
    // The dump starts empty: an older, longer file must not keep its tail.
    dump_ = std::make_unique<BufferedFile>(path);
    Trace("Post.SetDumpFile - Set DumpFile object.");
  } catch (const Error& e) {
    Trace("***Error in Post.SetDumpFile *** - Set of the Dump File Failed.");
    Trace("(" + std::to_string(e.number) + ") " + e.description);
    throw;
  }
}

Variant Post::GetDumpFile() {
  Trace("Post.GetDumpFile - Returned DumpFile object.");
  return Variant(dumpFile_);
}

void Post::SetMaxTotalFileSize(int64_t v) {
  maxTotalFileSize_ = v;
  Trace("Post.LetMaxTotalFileSize - Set MaxTotalFileSize value.");
}

int64_t Post::GetMaxTotalFileSize() {
  Trace("Post.GetMaxTotalFileSize - Returned MaxTotalFileSize value.");
  return maxTotalFileSize_;
}

int32_t Post::GetCodePage() {
  Trace("Post.GetCodePage - Returned CodePage value.");
  return codePage_;
}

void Post::SetCodePage(int32_t v) {
  codePage_ = v;
  Trace("Post.LetCodePage - Set CodePage value.");
}

void Post::SetMaxFileSize(int64_t v) {
  maxFileSize_ = v;
  Trace("Post.LetMaxFileSize - Set MaxFileSize value.");
}

int64_t Post::GetMaxFileSize() {
  Trace("Post.GetMaxFileSize - Returned MaxFileSize value.");
  return maxFileSize_;
}

void Post::SetProgressBarID(const std::string& id) {
  progressBarID_ = id;
  progress_ = ProgressBar::CreateTyped();
  progress_->SetProgressBarID(id);
  progress_->SetTotalBytes(0);  // 13 when the store holds no record under id
  Trace("Post.LetProgressBarID - Set ProgressBarID value.");
}

std::string Post::GetProgressBarID() {
  Trace("Post.GetProgressBarID - Returned ProgressBarID value.");
  return progressBarID_;
}

void Post::RefuseFormInputs() {
  std::string text = "Post.SetFormInputs - FormInputs is readonly for Post Objects.";
  Trace(text);
  throw ComponentError(component_error::FormInputsReadOnly, text, "Post");
}

std::shared_ptr<CFormInput> Post::EnsureFormInputs() {
  if (!formInputs_) formInputs_ = CFormInput::CreateTyped();
  return formInputs_;
}

std::shared_ptr<CFormInput> Post::GetFormInputs() {
  if (!parsed_) ParseRequest();
  return EnsureFormInputs();
}

void Post::Flush() {
  try {
    while (parser_.BytesRemaining() > 0) {
      int64_t n = std::min(parser_.BytesRemaining(), kFlushChunk);
      Variant v = ScriptRequest().BinaryRead(n);
      int64_t got = v.type() == VType::Bytes ? static_cast<int64_t>(v.bytes().size()) : 0;
      parser_.SetBytesRemaining(got <= 0 ? 0 : parser_.BytesRemaining() - got);
    }
  } catch (const Error&) {
    // Errors are ignored: the page only wants the request read to its end.
  }
  parser_.SetBytesRemainingZero();
}

void Post::Upload(const Variant& path, const Variant& fileMethod, const Variant& checkMacBinary,
                  const Variant& progressBarID) {
  if (!path.isMissing()) {
    auto dir = Directory::New();
    dir->SetPath(path.toString());
    directory_ = dir;  // stored directly, without SetDirectory's trace line
  }
  fileMethod_ = fileMethod.isMissing() ? kUploadMakeVersions : fileMethod.toInt32();
  if (!checkMacBinary.isMissing()) {
    checkMacBinary_ = checkMacBinary.toBool();
  } else if (!checkMacBinarySet_) {
    checkMacBinary_ = true;
  }
  if (!progressBarID.isMissing()) SetProgressBarID(progressBarID.toString());
  auto inputs = GetFormInputs();
  (void)inputs->Count();
}

void Post::SetCheckMacBinary(bool on) {
  checkMacBinary_ = on;
  checkMacBinarySet_ = true;
}

bool Post::GetAllowPageFiles() {
  Trace("Post.GetAllowPageFiles - Returned AllowPageFiles value.");
  return allowPageFiles_;
}

void Post::SetAllowPageFiles(bool on) {
  allowPageFiles_ = on;
  Trace("Post.LetAllowPageFiles - Set AllowPageFiles value.");
}

std::string Post::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "post", kFullList, properties, extra);
}

int32_t Post::GetMaxFiles() {
  Trace("Post.GetMaxFiles - Returned MaxFiles value.");
  return maxFiles_;
}

void Post::SetMaxFiles(int32_t v) {
  maxFiles_ = v;
  Trace("Post.LetMaxFiles - Set MaxFiles value.");
}

int32_t Post::GetMaxParts() {
  Trace("Post.GetMaxParts - Returned MaxParts value.");
  return maxParts_;
}

void Post::SetMaxParts(int32_t v) {
  maxParts_ = v;
  Trace("Post.LetMaxParts - Set MaxParts value.");
}

int64_t Post::GetMaxFieldSize() {
  Trace("Post.GetMaxFieldSize - Returned MaxFieldSize value.");
  return maxFieldSize_;
}

void Post::SetMaxFieldSize(int64_t v) {
  maxFieldSize_ = v;
  Trace("Post.LetMaxFieldSize - Set MaxFieldSize value.");
}

int64_t Post::GetMaxTotalFieldSize() {
  Trace("Post.GetMaxTotalFieldSize - Returned MaxTotalFieldSize value.");
  return maxTotalFieldSize_;
}

void Post::SetMaxTotalFieldSize(int64_t v) {
  maxTotalFieldSize_ = v;
  Trace("Post.LetMaxTotalFieldSize - Set MaxTotalFieldSize value.");
}

}  // namespace torvane
