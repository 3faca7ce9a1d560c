// The upload driver behind the first read of Post.FormInputs: checks the
// request, starts the dump and the progress record, turns the parser's records
// into form inputs and stored files within the size limits, and on failure
// traces and raises through one handler.
#include <cctype>
#include <cmath>
#include <ctime>
#include <new>

#include "dirs/directory.h"
#include "files/file.h"
#include "host/script_context.h"
#include "platform/codepage.h"
#include "progress/progress_bar.h"
#include "upload/post.h"

namespace torvane {

namespace {
constexpr const char* kMultipart = "multipart/form-data";
const uint8_t kCrLf[2] = {'\r', '\n'};

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
  std::string ext = name.substr(dot + 1);
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "asp" || ext == "asa" || ext == "inc";
}

Error AsError(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return Error(7, "Out of memory");
  return Error(5, e.what());
}
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
      step_ = 10;
      CloseCurrentFile();
      if (totalBytes_ != 0 && !parser_.SawClosingBoundary()) {
        // A truncated body stores nothing: every file of this request goes.
        DropCurrentUnfiledFile();
        post_.DeleteUploadedFiles();
        throw ComponentError(9037, "Post.GetFormInputs - The request ended before its closing boundary.", "Post");
      }
      Finish();
    } catch (const Error& e) {
      Fail(e);
    } catch (const std::exception& e) {
      Fail(AsError(e));
    }
  }

  ~UploadDriver() {
    // The parse is over: the parser keeps no pointer to what the Post may
    // replace or release later.
    parser_.SetDump(nullptr);
    parser_.SetProgress(nullptr);
    parser_.SetTrace(nullptr);
  }

 private:
  // ---- steps 2 and 5 ---------------------------------------------------------------
  // 9002 unless the content type starts with multipart/form-data (letter case
  // counts); 9019 when the host cannot tell the body length.
  void CheckRequest() {
    step_ = 0;
    Variant v = ScriptRequest().ServerVariables("CONTENT_TYPE");
    std::string ct = v.isEmpty() || v.isNull() ? std::string() : v.toString();
    if (ct.compare(0, 19, kMultipart) != 0)
      throw ComponentError(9002,
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
      throw ComponentError(9019,
                           "Post.GetFormInputs - The version of the ASP.DLL in use is not supported. Make sure the "
                           "version is 1.15.14.0 or higher, it is registered properly, and no other ASP.DLLs are on "
                           "your system.",
                           "Post");
    step_ = 1;
    totalBytes_ = total;
    parser_.SetBytesRemaining(total);
  }

  // The dump's first line, the progress start, and the parser's settings.
  void StartBody() {
    step_ = 2;
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

  // The error handler: close what is open, trace, close the log, raise again.
  [[noreturn]] void Fail(const Error& e) {
    try {
      if (post_.dump_) post_.dump_->Close();
    } catch (...) {
    }
    post_.dump_.reset();
    try {
      if (sink_) sink_->Close();
    } catch (...) {
    }
    sink_.reset();
    post_.Trace("***Error in Post.FormInputs ***" + std::to_string(step_));
    post_.Trace("(" + std::to_string(e.number) + ") " + e.description);
    post_.trace_.Close();
    throw e;
  }

  // ---- the record loop -------------------------------------------------------------------
  // Pulls records until the end of the request and acts on each kind.
  void RecordLoop() {
    for (;;) {
      step_ = 3;
      int32_t kind = parser_.GetARecord(post_.checkMacBinary_);
      step_ = 4;
      switch (kind) {
        case kEndOfRequest:
          FlushLongValue();
          return;
        case kHeader:
          step_ = 5;
          CloseCurrentFile();
          FlushLongValue();
          held_ = false;
          break;
        case kFormInputRecord:
          step_ = 6;
          FlushLongValue();
          OnFormInput(parser_.Text());
          break;
        case kFileAttachment:
          step_ = 7;
          FlushLongValue();
          OnFileAttachment(parser_.Text(), parser_.FileName());
          break;
        case kContentType:
          step_ = 9;
          if (!currentName_.empty() && current_) current_->SetContentType(parser_.Text());
          break;
        case kData:
        case kLongData:
          step_ = 8;
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
    return ComponentError(9035, "An Input element has the same name as the input element for the file", "Post");
  }

  // The Directory's Path, read anew at each use; 9007 when there is none.
  std::string DirectoryPath() {
    try {
      if (!post_.directory_) ThrowPlatform(err::ObjectNotSet);
      return post_.directory_->GetPath();
    } catch (const Error&) {
      std::string text = "Post.GetFormInputs - Post.Directory not Set";
      post_.Trace(text);
      throw ComponentError(9007, text, "Post");
    }
  }

  // A file field starts: 9035 for a name already posted, then the File by the
  // storage method, opened for writing (disk) or cleared (memory) and filed
  // under the field name. No client file name: nothing is filed (except under
  // the temporary-name method).
  void OnFileAttachment(const std::string& name, const std::string& fileName) {
    auto& inputs = *post_.EnsureFormInputs();
    if (inputs.HasKey(name)) throw Duplicate();
    auto input = FormInput::CreateTyped();
    step_ = 71;
    input->SetName(name);
    int32_t method = post_.fileMethod_;
    if (method != kUploadInMemory) {
      step_ = 72;
      DirectoryPath();
    }
    auto file = File::New();
    step_ = 73;
    file->SetTraceChannel(post_.trace_.channel());
    step_ = 74;
    std::string base = ClientBaseName(fileName);
    parser_.SetClientBaseName(base);
    parser_.SetProgressFileBytes(0);
    if (progress_) progress_->StartFile(base);
    std::string target = PlaceFile(*file, method, base, name);
    if (target.empty()) {
      current_.reset();
      currentName_.clear();
      return;
    }
    unfiled_ = method == kUploadInMemory ? nullptr : file;  // created, not yet in the collection
    step_ = 78;
    input->SetFile(file);
    input->AddValue(fileName);
    input->SetContentType("application/unknown");
    if (method != kUploadInMemory) {
      sink_ = std::make_unique<BufferedFile>(file->PhysicalPath());
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
    step_ = 79;
    fileSize_ = 0;
    inputs.Add(input, name);
    unfiled_.reset();
    current_ = input;
    currentFile_ = file;
    currentName_ = name;
  }

  // Creates the file for the chosen method; returns the target name ("" when
  // nothing is stored for this field).
  std::string PlaceFile(File& file, int32_t method, const std::string& base, const std::string& field) {
    if (method == kUploadUseTemp) {
      step_ = 75;
      std::string path = DirectoryPath();
      file.CreateTemp(path);
      unfiled_ = file.self<File>();
      return file.FileName();
    }
    if (base.empty()) return "";
    if (method != kUploadInMemory) RefusePageFile(base);
    if (method == kUploadOverwrite || method == kUploadErrorIfExists) {
      step_ = 76;
      file.SetName(DirectoryPath() + base);
      if (file.Exists()) {
        if (method == kUploadErrorIfExists) {
          post_.DeleteUploadedFiles();
          std::string text = "Post.GetFormInputs - File " + field + " exists.";
          post_.Trace(text);
          throw ComponentError(9029, text, "Post");
        }
        file.Delete();
      }
      file.CreateFile(DirectoryPath() + base);
      unfiled_ = file.self<File>();
      return base;
    }
    if (method == kUploadInMemory) return base;
    step_ = 77;
    file.SetName(DirectoryPath() + base);
    int16_t n = 1;
    while (file.Exists()) {
      step_ = 771;
      std::string ext = file.FileExtension();
      step_ = 772;
      if (ext.empty() || ext.size() + 1 > base.size()) {
        step_ = 773;
        file.SetName(DirectoryPath() + base + "(" + std::to_string(n) + ")");
      } else {
        step_ = 774;
        file.SetName(DirectoryPath() + base.substr(0, base.size() - ext.size() - 1) + "(" + std::to_string(n) +
                     ")." + ext);
      }
      if (n == INT16_MAX) ThrowPlatform(err::Overflow);  // the counter is 16-bit
      ++n;
    }
    step_ = 775;
    std::string target = file.Name();
    file.CreateFile(target);
    unfiled_ = file.self<File>();
    return target;
  }

  // A file the host would run as a page is not stored where it runs pages
  // unless the page allowed it: every file of the request goes, then 9042.
  void RefusePageFile(const std::string& base) {
    if (post_.allowPageFiles_ || !IsPageFileName(base) || !ScriptServer().PagesRunIn(DirectoryPath())) return;
    post_.DeleteUploadedFiles();
    std::string text = "Post.GetFormInputs - File " + base +
                       " would be stored where the host runs pages; set Post.AllowPageFiles to store it there.";
    post_.Trace(text);
    throw ComponentError(9042, text, "Post");
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
      if (post_.maxFileSize_ >= 1 && fileSize_ > post_.maxFileSize_) LimitExceeded(9012, "MaxFileSize");
      totalSize_ += count;
      if (post_.maxTotalFileSize_ >= 1 && totalSize_ > post_.maxTotalFileSize_)
        LimitExceeded(9011, "MaxTotalFileSize");
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

  // A size limit passed: the file stops here, every uploaded file is deleted,
  // the failure is traced and raised.
  [[noreturn]] void LimitExceeded(int32_t number, const char* limit) {
    if (sink_) sink_->Abandon();
    sink_.reset();
    inMemory_ = false;
    post_.DeleteUploadedFiles();
    std::string text = std::string("Post.GetFormInputs - ") + limit + " exceeded";
    post_.Trace(text);
    throw ComponentError(number, text, "Post");
  }

  // An ordinary field: each Data record is one value (less its CR LF); the
  // LongData pieces before it belong to the same value and are joined to it.
  void OrdinaryValue(int32_t kind, std::span<const uint8_t> record) {
    if (kind == kLongData) {
      longValue_.insert(longValue_.end(), record.begin(), record.end());
      return;
    }
    size_t bodyLen = record.size() >= 2 ? record.size() - 2 : 0;
    if (longValue_.empty()) {
      current_->AddValue(ConvertToText(record.first(bodyLen), post_.codePage_, "Post"));
      return;
    }
    longValue_.insert(longValue_.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(bodyLen));
    FlushLongValue();
  }

  // Files the LongData bytes gathered for an ordinary field as one value.
  void FlushLongValue() {
    if (longValue_.empty() || !current_) return;
    current_->AddValue(ConvertToText(longValue_, post_.codePage_, "Post"));
    longValue_.clear();
  }

  // Step 4: the current file is complete; its held CR LF is never written.
  void CloseCurrentFile() {
    bool hadFile = currentFile_ != nullptr;
    if (sink_) {
      sink_->Close();
      sink_.reset();
      if (currentFile_) currentFile_->Refresh();
    }
    if (inMemory_) writePos_ = 1;
    if (hadFile && progress_) progress_->EndFile(fileSize_);
    inMemory_ = false;
    currentFile_.reset();
  }

  // Deletes a file that was created but not yet filed in the collection.
  void DropCurrentUnfiledFile() {
    if (!unfiled_) return;
    try {
      unfiled_->Delete();
    } catch (const Error&) {
    }
    unfiled_.reset();
  }

  Post& post_;
  RecordParser& parser_;
  ProgressBar* progress_ = nullptr;
  int16_t step_ = 0;
  int64_t totalBytes_ = 0;

  std::string currentName_;
  std::shared_ptr<FormInput> current_;
  std::shared_ptr<File> currentFile_;
  std::shared_ptr<File> unfiled_;
  std::unique_ptr<BufferedFile> sink_;  // the open disk file of the current part
  bool inMemory_ = false;               // the current part fills an in-memory File
  int64_t writePos_ = 1;
  bool held_ = false;
  int64_t fileSize_ = 0;
  int64_t totalSize_ = 0;
  Bytes longValue_;
};

void Post::ParseRequest() {
  parsed_ = true;
  UploadDriver(*this).Run();
}

void Post::DeleteUploadedFiles() {
  auto inputs = EnsureFormInputs();
  for (int32_t i = 0; i < inputs->Count(); ++i) {
    auto input = inputs->At(static_cast<size_t>(i));
    auto file = std::dynamic_pointer_cast<File>(input->FileObject());
    if (!file) continue;
    try {
      file->Delete();
    } catch (const Error&) {
      // Errors are ignored: every other file is still deleted.
    }
  }
}

}  // namespace torvane
