// The upload driver behind the first read of Post.FormInputs: checks the
// request, starts the dump and the progress record, turns the parser's records
// into form inputs and stored files within the limits, and on failure traces
// and raises through one handler, which first undoes every file of the request
// (UploadStore), whatever the failure.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <new>
#include <optional>

#include "dirs/directory.h"
#include "automation/component_errors.h"
#include "basics/ascii.h"
#include "files/file.h"
#include "host/script_context.h"
#include "platform/codepage.h"
#include "platform/fileservices.h"
#include "progress/progress_bar.h"
#include "upload/part_headers.h"
#include "upload/post.h"
#include "upload/upload_store.h"

namespace torvane {

namespace {
constexpr const char* kMultipart = "multipart/form-data";
const uint8_t kCrLf[2] = {'\r', '\n'};
// A long value's text is reserved up to this much at once (further growth is
// geometric), so a field's memory follows its limit rather than the body.
constexpr int64_t kMostReserved = int64_t{64} << 20;

// Seconds since local midnight, to the nearest whole second (halves to even).
int64_t SecondsSinceMidnight() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  time_t secs = ts.tv_sec;
  localtime_r(&secs, &local);
  double s = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
  return static_cast<int64_t>(std::nearbyint(s));
}

// The client file name after its last "\", "/", ":" or "|". "." and ".." are
// no file name; a zero character ends the name.
std::string ClientBaseName(const std::string& fileName) {
  size_t cut = fileName.find_last_of("\\/:|");
  std::string base = cut == std::string::npos ? fileName : fileName.substr(cut + 1);
  size_t zero = base.find('\0');
  if (zero != std::string::npos) base.resize(zero);
  if (base == "." || base == "..") base.clear();
  return base;
}

// A name the host runs as a page or includes into one: .asp, .asa, .inc in
// any letter case.
bool IsPageFileName(const std::string& name) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string ext = AsciiLower(name.substr(dot + 1));
  return ext == "asp" || ext == "asa" || ext == "inc";
}

// Where the parse is: a failure's trace line "***Error in Post.FormInputs ***"
// ends with this number, so each value is fixed.
enum class Step : int16_t {
  CheckContentType = 0,    // the request's content type
  BodyLength = 1,          // the body's length is known; the parser is set up
  StartBody = 2,           // the dump's first line and the progress start
  ReadRecord = 3,          // the parser reads the next record
  DispatchRecord = 4,      // a record came back
  BoundaryLine = 5,        // a delimiter line: the open file closes
  FormInput = 6,           // an ordinary field starts
  FileAttachment = 7,      // a file field starts
  Content = 8,             // content bytes of the open part
  ContentType = 9,         // a file part's Content-Type
  CloseLastFile = 10,      // the body ended: the last file closes
  FileInputNamed = 71,     // the file field's FormInput is named
  FileDirectory = 72,      // the Directory's path is read
  FileTrace = 73,          // the File gets the trace channel
  FileClientName = 74,     // the client's file name is taken
  TempName = 75,           // TV_UPLOAD_USETEMP: a temporary name is created
  OverwriteName = 76,      // TV_UPLOAD_OVERWRITE / ERRORIFEXISTS: the client's name
  VersionName = 77,        // TV_UPLOAD_MAKEVERSIONS: the client's name first
  VersionExtension = 771,  // its extension is split off
  VersionStem = 772,       // its stem and suffix are taken
  VersionBare = 773,       // the next "name(n)" is tried
  VersionSuffixed = 774,   // the next "name(n).ext" is tried
  VersionCreate = 775,     // a free name is created
  FileStore = 78,          // the file joins the request's store
  FileFiled = 79,          // the FormInput is filed under the field name
};
}  // namespace

// One parse of one request. Working values live here; the Post keeps the
// parser, the collection and the channels.
class UploadDriver {
 public:
  explicit UploadDriver(Post& post) : post_(post), parser_(post.parser_) {}

  // The whole parse: checks, body start, record loop, closing, and the one
  // error handler every failure goes through.
  void Run() {
    try {
      CheckRequest();
      StartBody();
      RecordLoop();
      step_ = Step::CloseLastFile;
      CloseCurrentFile();
      if (totalBytes_ != 0 && !parser_.SawClosingBoundary()) {
        // A truncated body stores nothing: every file of this request goes.
        Discard();
        throw ComponentError(component_error::TruncatedBody,
                             "Post.GetFormInputs - The request ended before its closing boundary.", "Post");
      }
      store_.Keep();
      Finish();
    } catch (const Error& e) {
      Fail(e);
    } catch (const std::exception&) {
      // A host failure during a parse is the request's (5 with its text, not
      // an internal error): converted where every error is (CaughtHostFailure).
      Fail(CaughtHostFailure());
    } catch (...) {
      // Not an error of ours (a thread being unwound): undo, then let it go on.
      Undo();
      post_.trace_.Close();
      throw;
    }
  }

  ~UploadDriver() {
    // The parse is over: the parser keeps no pointer to what the Post may
    // replace or release later.
    parser_.SetDump(nullptr);
    parser_.SetProgress(nullptr);
    if (progress_) progress_->FinishUpdates();  // the final record always lands
    parser_.SetTrace(nullptr);
  }

 private:
  // ---- steps 2 and 5 ---------------------------------------------------------------
  // 9002 unless the content type starts with multipart/form-data (in any
  // letter case); 9019 when the host cannot tell the body length. The content
  // type's boundary tells the parser what a delimiter line is.
  void CheckRequest() {
    step_ = Step::CheckContentType;
    Variant v = ScriptRequest().ServerVariables("CONTENT_TYPE");
    std::string ct = v.isEmpty() || v.isNull() ? std::string() : v.toString();
    if (!multipart::IsFormData(ct))
      throw ComponentError(component_error::NotMultipart,
                           "Post.GetFormInputs - Content type of request is \"" + ct + "\" instead of \"" +
                               kMultipart + "\"",
                           "Post");
    int64_t total = -1;
    try {
      total = ScriptRequest().TotalBytes();
    } catch (const Error&) {
      total = -1;
    }
    if (total < 0)
      throw ComponentError(component_error::BodyLengthUnknown,
                           "Post.GetFormInputs - The version of the ASP.DLL in use is not supported. Make sure the "
                           "version is 1.15.14.0 or higher, it is registered properly, and no other ASP.DLLs are on "
                           "your system.",
                           "Post");
    step_ = Step::BodyLength;
    totalBytes_ = total;
    parser_.SetBytesRemaining(total);
    std::string boundary = multipart::BoundaryParameter(ct);
    parser_.SetExpectedBoundary(boundary.empty() ? std::string() : "--" + boundary);
  }

  // The dump's first line, the progress start, and the parser's settings.
  void StartBody() {
    step_ = Step::StartBody;
    if (post_.dump_) post_.dump_->Write("TOTAL BYTES=" + std::to_string(totalBytes_) + "\r\n");
    if (!post_.progressBarID_.empty() && post_.progress_) {
      progress_ = post_.progress_.get();
      progress_->SetTotalBytes(totalBytes_);
      progress_->SetTimerStart(SecondsSinceMidnight());
    }
    parser_.SetCodePage(post_.codePage_);
    parser_.SetTrace(&post_.trace_.channel());
    parser_.SetDump(post_.dump_.get());
    parser_.SetProgress(progress_);
  }

  // A parse that ended well: close the dump, trace, close the log.
  void Finish() {
    post_.EnsureFormInputs();
    if (post_.dump_) {
      post_.dump_->Close();
      post_.dump_.reset();
    }
    post_.Trace("Post.GetFormInputs - Returned FormInput object.");
    post_.trace_.Close();
  }

  // The error handler: undo what the request stored, trace, close the log,
  // raise again.
  [[noreturn]] void Fail(const Error& e) {
    Undo();
    post_.Trace("***Error in Post.FormInputs ***" + std::to_string(static_cast<int>(step_)));
    post_.Trace("(" + std::to_string(e.number) + ") " + e.description);
    post_.trace_.Close();
    throw e;
  }

  // Closes the dump and the open file and discards every file of the request.
  // Errors are ignored: the failure being handled is what the page learns.
  void Undo() {
    try {
      if (post_.dump_) post_.dump_->Close();
    } catch (...) {
    }
    post_.dump_.reset();
    Discard();
  }

  // The one cleanup of a failed parse: the open file is abandoned, and every
  // file of the request deleted (an overwritten one gets its old content
  // back). The failures whose trace shows the deletions first call it before
  // their own trace line; the handler calls it again and finds nothing left.
  void Discard() {
    if (sink_) sink_->Abandon();
    sink_.reset();
    inMemory_ = false;
    store_.Discard(post_.EnsureFormInputs().get());
  }

  // ---- the record loop -------------------------------------------------------------------
  // Pulls records until the end of the request and acts on each kind.
  void RecordLoop() {
    for (;;) {
      step_ = Step::ReadRecord;
      int32_t kind = parser_.GetARecord(post_.checkMacBinary_);
      step_ = Step::DispatchRecord;
      switch (kind) {
        case kEndOfRequest:
          FlushLongValue();
          return;
        case kHeader:
          step_ = Step::BoundaryLine;
          CloseCurrentFile();
          FlushLongValue();
          held_ = false;
          fieldHeld_ = false;
          break;
        case kFormInputRecord:
          step_ = Step::FormInput;
          FlushLongValue();
          OnFormInput(parser_.Text());
          break;
        case kFileAttachment:
          step_ = Step::FileAttachment;
          FlushLongValue();
          OnFileAttachment(parser_.Text(), parser_.FileName());
          break;
        case kContentType:
          step_ = Step::ContentType;
          if (!currentName_.empty() && current_) current_->SetContentType(parser_.Text());
          break;
        case kData:
        case kLongData:
          step_ = Step::Content;
          if (!currentName_.empty() && current_) OnContent(kind, parser_.Record());
          break;
        default:
          break;  // SkipRecord
      }
    }
  }

  // An ordinary field starts: the input of that name (joining with ", " when it
  // came before), or a new one; 9035 when the name belongs to a file input.
  void OnFormInput(const std::string& name) {
    CountPart();
    fieldBytes_ = 0;
    fieldHeld_ = false;
    auto& inputs = *post_.EnsureFormInputs();
    auto existing = inputs.Find(name);
    if (existing) {
      if (existing->FileObject()) throw Duplicate();
      existing->Values()->SetJoinWithComma(true);
      current_ = existing;
    } else {
      current_ = FormInput::CreateTyped();
      inputs.Add(current_, name);
      current_->SetName(name);
    }
    currentName_ = name;
  }

  static Error Duplicate() {
    return ComponentError(component_error::DuplicateFileInput,
                          "An Input element has the same name as the input element for the file", "Post");
  }

  // The Directory's Path, read anew at each use; 9007 when there is none.
  std::string DirectoryPath() {
    try {
      if (!post_.directory_) ThrowPlatform(err::ObjectNotSet);
      return post_.directory_->GetPath();
    } catch (const Error&) {
      std::string text = "Post.GetFormInputs - Post.Directory not Set";
      post_.Trace(text);
      throw ComponentError(component_error::NoDirectory, text, "Post");
    }
  }

  // A file field starts: 9035 for a name already posted, then the File by the
  // storage method, opened for writing (disk) or cleared (memory) and filed
  // under the field name. No client file name: nothing is filed (except under
  // the temporary-name method).
  void OnFileAttachment(const std::string& name, const std::string& fileName) {
    CountPart();
    auto& inputs = *post_.EnsureFormInputs();
    if (inputs.HasKey(name)) throw Duplicate();
    auto input = FormInput::CreateTyped();
    step_ = Step::FileInputNamed;
    input->SetName(name);
    int32_t method = post_.fileMethod_;
    if (method != kUploadInMemory) {
      step_ = Step::FileDirectory;
      DirectoryPath();
    }
    auto file = File::New();
    step_ = Step::FileTrace;
    file->SetTraceChannel(post_.trace_.channel());
    step_ = Step::FileClientName;
    std::string base = ClientBaseName(fileName);
    parser_.SetClientBaseName(base);
    parser_.SetProgressFileBytes(0);
    if (progress_) progress_->StartFile(base);
    AdmitFile(method, base);
    bool ownsFinal = false;
    std::string target = PlaceFile(*file, method, base, name, ownsFinal);
    if (target.empty()) {
      current_.reset();
      currentName_.clear();
      return;
    }
    step_ = Step::FileStore;
    // From its creation on, the file is the store's to undo.
    if (method != kUploadInMemory) sink_ = store_.Begin(file, ownsFinal);
    input->SetFile(file);
    input->AddValue(fileName);
    input->SetContentType("application/unknown");
    if (method != kUploadInMemory) {
      file->SetInMemory(false);
    } else {
      inMemory_ = true;
      writePos_ = 1;
      file->ClearContent();
      file->SetInMemory(true);
      try {
        file->SetName(fileName);  // the client's name as sent: data, not a path
      } catch (const Error&) {
        // The name is stored before it is mapped; a client name the path
        // policy refuses does not fail an upload that never touches the disk.
      }
    }
    step_ = Step::FileFiled;
    fileSize_ = 0;
    inputs.Add(input, name);
    current_ = input;
    currentFile_ = file;
    currentName_ = name;
  }

  // The checks a file part passes once its client file name is known and
  // before anything of it is stored: the request's count of files (MaxFiles;
  // a file part that stores nothing does not count), and a page file where
  // the host runs pages (9042) when it would keep the client's name.
  void AdmitFile(int32_t method, const std::string& base) {
    if (method != kUploadUseTemp && base.empty()) return;
    if (method != kUploadUseTemp && method != kUploadInMemory) RefusePageFile(base);
    ++fileCount_;
    int32_t most = post_.maxFiles_;
    if (most >= 1 && fileCount_ > most)
      RefuseRequest(component_error::MaxFilesExceeded, "Post.GetFormInputs - MaxFiles exceeded (" + std::to_string(most) + ")");
  }

  // One more part (ordinary or file): 9039 beyond MaxParts.
  void CountPart() {
    ++partCount_;
    int32_t most = post_.maxParts_;
    if (most >= 1 && partCount_ > most)
      RefuseRequest(component_error::MaxPartsExceeded, "Post.GetFormInputs - MaxParts exceeded (" + std::to_string(most) + ")");
  }

  // Chooses and creates the file's place for the chosen method; returns the
  // target name ("" when nothing is stored for this field). `ownsFinal` tells
  // whether the final name was created here (and is removed on failure).
  std::string PlaceFile(File& file, int32_t method, const std::string& base, const std::string& field,
                        bool& ownsFinal) {
    if (method == kUploadUseTemp) {
      step_ = Step::TempName;
      std::string path = DirectoryPath();
      file.CreateTemp(path);
      ownsFinal = true;
      return file.FileName();
    }
    if (base.empty()) return "";
    if (method == kUploadOverwrite || method == kUploadErrorIfExists) {
      step_ = Step::OverwriteName;
      std::string name = DirectoryPath() + base;
      file.SetName(name);
      if (!file.Exists() && file.CreateNew(name)) {
        ownsFinal = true;
        return base;
      }
      if (method == kUploadErrorIfExists) {
        Discard();
        std::string text = "Post.GetFormInputs - File " + field + " exists.";
        post_.Trace(text);
        throw ComponentError(component_error::UploadTargetExists, text, "Post");
      }
      // The old file stays untouched until this part is complete (UploadStore).
      PathInfo info;
      if (StatPath(file.PhysicalPath(), info) && info.isDirectory) ThrowErrno(EISDIR);
      File::RefuseReadonly(file.PhysicalPath());
      file.Refresh();  // the File reads the disk here, as it does when it creates the file
      return base;
    }
    if (method == kUploadInMemory) return base;
    return PlaceVersion(file, base, ownsFinal);
  }

  // TV_UPLOAD_MAKEVERSIONS: the client's name, or the first free "name(n).ext"
  // (n up to 32767), created exclusively, so that two requests never choose
  // the same name. After a few candidates the folder is scanned once per name
  // (VersionNames) instead of probed once per candidate.
  std::string PlaceVersion(File& file, const std::string& base, bool& ownsFinal) {
    step_ = Step::VersionName;
    std::string dir = DirectoryPath();
    file.SetName(dir + base);
    bool free = !file.Exists();
    std::string stem, suffix, folder;
    bool versioned = false;
    for (;;) {
      if (free) {
        step_ = Step::VersionCreate;
        std::string target = file.Name();
        if (file.CreateNew(target)) {
          ownsFinal = true;
          return target;
        }
      }
      if (!versioned) {
        versioned = true;
        step_ = Step::VersionExtension;
        std::string ext = file.FileExtension();
        step_ = Step::VersionStem;
        bool bare = ext.empty() || ext.size() + 1 > base.size();
        stem = bare ? base : base.substr(0, base.size() - ext.size() - 1);
        suffix = bare ? std::string() : "." + ext;
        const std::string& physical = file.PhysicalPath();
        size_t cut = physical.find_last_of("\\/");
        folder = cut == std::string::npos ? std::string() : physical.substr(0, cut);
      }
      step_ = Step::VersionStem;  // choosing the number (a full folder overflows here)
      int32_t n = versions_.NextFree(folder, stem, suffix);
      if (n == 0) ThrowPlatform(err::Overflow);  // every version up to the 16-bit counter's end exists
      step_ = suffix.empty() ? Step::VersionBare : Step::VersionSuffixed;
      file.SetName(DirectoryPath() + stem + "(" + std::to_string(n) + ")" + suffix);
      versions_.MarkTaken(folder, stem, suffix, n);
      free = !file.Exists();
    }
  }

  // A file the host would run as a page is not stored where it runs pages
  // unless the page allowed it: every file of the request goes, then 9042.
  void RefusePageFile(const std::string& base) {
    if (post_.allowPageFiles_ || !IsPageFileName(base) || !ScriptServer().PagesRunIn(DirectoryPath())) return;
    RefuseRequest(component_error::PageFileRefused, "Post.GetFormInputs - File " + base +
                            " would be stored where the host runs pages; set Post.AllowPageFiles to store it there.");
  }

  // ---- content ------------------------------------------------------------------------------
  // A piece of content: a value of an ordinary field, or bytes of the current
  // file after the size checks (the held CR LF first, the record's own final
  // CR LF held back for the next piece).
  void OnContent(int32_t kind, std::span<const uint8_t> record) {
    if (!current_->FileObject()) {
      OrdinaryValue(kind, record);
      return;
    }
    bool writable = sink_ || inMemory_;
    if (!parser_.DataForkEnded() && writable) {
      size_t bodyLen = kind == kData ? (record.size() >= 2 ? record.size() - 2 : 0) : record.size();
      int64_t count = static_cast<int64_t>(bodyLen) + (held_ ? 2 : 0);
      fileSize_ += count;
      if (post_.maxFileSize_ >= 1 && fileSize_ > post_.maxFileSize_)
        RefuseRequest(component_error::MaxFileSizeExceeded, "Post.GetFormInputs - MaxFileSize exceeded");
      totalSize_ += count;
      if (post_.maxTotalFileSize_ >= 1 && totalSize_ > post_.maxTotalFileSize_)
        RefuseRequest(component_error::MaxTotalFileSizeExceeded, "Post.GetFormInputs - MaxTotalFileSize exceeded");
      Write(record.first(bodyLen));
      parser_.SetProgressFileBytes(fileSize_);
    }
    held_ = kind == kData;
  }

  // Appends the held CR LF (when held) and `body` to the current file.
  void Write(std::span<const uint8_t> body) {
    if (sink_) {
      if (held_) sink_->Write(std::span<const uint8_t>(kCrLf, 2));
      sink_->Write(body);
      return;
    }
    File& f = *currentFile_;
    size_t add = body.size() + (held_ ? 2 : 0);
    if (add == 0) return;
    const Bytes* content = f.ContentView();
    int64_t upper = content ? static_cast<int64_t>(content->size()) : 0;
    f.ResizeContent(upper + static_cast<int64_t>(add), true);
    if (held_) {
      f.SetContentByte(writePos_, '\r');
      f.SetContentByte(writePos_ + 1, '\n');
      writePos_ += 2;
    }
    if (!body.empty()) {
      f.CopyIntoContent(writePos_, body);
      writePos_ += static_cast<int64_t>(body.size());
    }
  }

  // A refused request (a limit passed, a page file): every file of the
  // request is discarded (the current one stops here), the failure is traced
  // and raised.
  [[noreturn]] void RefuseRequest(int32_t number, const std::string& text) {
    Discard();
    post_.Trace(text);
    throw ComponentError(number, text, "Post");
  }

  // Bytes of an ordinary field's content: 9040 beyond MaxFieldSize for this
  // part, 9041 beyond MaxTotalFieldSize for all ordinary fields together.
  void CountFieldBytes(int64_t count) {
    fieldBytes_ += count;
    int64_t most = post_.maxFieldSize_;
    if (most >= 1 && fieldBytes_ > most)
      RefuseRequest(component_error::MaxFieldSizeExceeded, "Post.GetFormInputs - MaxFieldSize exceeded (" + std::to_string(most) + ")");
    totalFieldBytes_ += count;
    most = post_.maxTotalFieldSize_;
    if (most >= 1 && totalFieldBytes_ > most)
      RefuseRequest(component_error::MaxTotalFieldSizeExceeded, "Post.GetFormInputs - MaxTotalFieldSize exceeded (" + std::to_string(most) + ")");
  }

  // An ordinary field: each Data record is one value (less its CR LF); the
  // LongData pieces before it belong to the same value. Their text is built
  // piece by piece (TextDecoder), so no copy of the raw value is ever held.
  void OrdinaryValue(int32_t kind, std::span<const uint8_t> record) {
    size_t bodyLen = kind == kLongData ? record.size() : (record.size() >= 2 ? record.size() - 2 : 0);
    CountFieldBytes(static_cast<int64_t>(bodyLen) + (fieldHeld_ ? 2 : 0));
    fieldHeld_ = kind == kData;
    if (!decoder_ && kind == kData) {
      current_->AddValue(ConvertToText(record.first(bodyLen), post_.codePage_, "Post"));
      return;
    }
    if (!decoder_) StartLongValue(record.size());
    decoder_->Feed(record.first(bodyLen), longText_);
    if (kind == kData) FlushLongValue();
  }

  // A value arrives in pieces: its text is reserved up to what the field's
  // limit (and the rest of the body) allows.
  void StartLongValue(size_t first) {
    decoder_.emplace(post_.codePage_, "Post");
    longText_.clear();
    int64_t most = post_.maxFieldSize_;
    if (most < 1) return;
    int64_t left = parser_.BytesRemaining() + static_cast<int64_t>(parser_.BufferedBytes() + first);
    longText_.reserve(static_cast<size_t>(std::min({most, left, kMostReserved})));
  }

  // Files the text gathered from LongData pieces as one value.
  void FlushLongValue() {
    if (!decoder_) return;
    decoder_->Finish(longText_);
    decoder_.reset();
    if (current_) current_->AddValue(std::move(longText_));
    longText_ = std::string();
  }

  // Step 4: the current file is complete; its held CR LF is never written.
  void CloseCurrentFile() {
    bool hadFile = currentFile_ != nullptr;
    if (sink_) {
      sink_->Close();
      sink_.reset();
      if (currentFile_) {
        store_.Commit(*currentFile_);  // complete: its bytes take the final name
        currentFile_->Refresh();
      }
    }
    if (inMemory_) writePos_ = 1;
    if (hadFile && progress_) progress_->EndFile(fileSize_);
    inMemory_ = false;
    currentFile_.reset();
  }

  Post& post_;
  RecordParser& parser_;
  ProgressBar* progress_ = nullptr;
  Step step_ = Step::CheckContentType;
  int64_t totalBytes_ = 0;

  std::string currentName_;
  std::shared_ptr<FormInput> current_;
  std::shared_ptr<File> currentFile_;
  UploadStore store_;                   // every disk file of this request
  VersionNames versions_;
  std::unique_ptr<BufferedFile> sink_;  // the open disk file of the current part
  bool inMemory_ = false;               // the current part fills an in-memory File
  int64_t writePos_ = 1;
  bool held_ = false;
  int64_t fileSize_ = 0;
  int64_t totalSize_ = 0;
  int32_t partCount_ = 0;
  int32_t fileCount_ = 0;
  int64_t fieldBytes_ = 0;       // content bytes of the current ordinary field
  int64_t totalFieldBytes_ = 0;  // of all ordinary fields
  bool fieldHeld_ = false;       // a line end between two records of the field
  std::optional<TextDecoder> decoder_;  // the value being built from pieces
  std::string longText_;
};

void Post::ParseRequest() {
  parsed_ = true;
  UploadDriver(*this).Run();
}

}  // namespace torvane
