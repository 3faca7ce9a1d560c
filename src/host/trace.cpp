#include "host/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>
#include <ctime>
#include <vector>

#include "basics/fdio.h"
#include "platform/paths.h"

namespace torvane {

namespace {
// The calling thread's file numbers 1..255; bit n set = number n taken.
thread_local std::bitset<256> tNumbers;

int TakeNumber() {
  for (int n = 1; n <= 255; ++n)
    if (!tNumbers.test(static_cast<size_t>(n))) {
      tNumbers.set(static_cast<size_t>(n));
      return n;
    }
  ThrowPlatform(err::TooManyFiles);
}
}  // namespace

int OpenFileNumbers() { return static_cast<int>(tNumbers.count()); }

NumberedFile::NumberedFile(std::string_view path, Mode mode) {
  int n = TakeNumber();
  std::string native = ToNativePath(path);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Overwrite ? 0 : O_TRUNC) |
              (mode == Mode::Log ? O_APPEND : 0);
  int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) {
    int e = errno;
    tNumbers.reset(static_cast<size_t>(n));
    ThrowErrno(e);
  }
  number_ = n;
  fd_ = fd;
}

NumberedFile::NumberedFile(int fd) {
  try {
    number_ = TakeNumber();
  } catch (...) {
    ::close(fd);
    throw;
  }
  fd_ = fd;
}

NumberedFile::~NumberedFile() { Close(); }

void NumberedFile::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  // A number is only ever given back by the thread that took it.
  tNumbers.reset(static_cast<size_t>(number_));
}

void NumberedFile::Write(std::span<const uint8_t> bytes) {
  if (fd_ < 0) return;
  if (!WriteAll(fd_, bytes.data(), bytes.size())) ThrowErrno(errno);
}

void NumberedFile::Write(std::string_view text) {
  Write(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

class SharedTraceFile {
 public:
  explicit SharedTraceFile(std::string_view path) : file_(path, NumberedFile::Mode::Log) {
    struct stat st {};
    if (::fstat(file_.fd(), &st) == 0) {
      device_ = st.st_dev;
      inode_ = st.st_ino;
    }
  }
  bool Is(dev_t device, ino_t inode) const { return device_ == device && inode_ == inode; }
  int number() const { return file_.number(); }
  // One write per line: with O_APPEND a line is never cut into another.
  void Write(std::string_view line) { file_.Write(line); }

 private:
  NumberedFile file_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

namespace {
// The trace files open on this thread (numbers are per thread as well).
thread_local std::vector<std::weak_ptr<SharedTraceFile>> tTraceFiles;

std::shared_ptr<SharedTraceFile> OpenShared(std::string_view path) {
  struct stat st {};
  std::string native = ToNativePath(path);
  bool exists = !native.empty() && ::stat(native.c_str(), &st) == 0;
  std::erase_if(tTraceFiles, [](const auto& w) { return w.expired(); });
  if (exists) {
    for (const auto& weak : tTraceFiles)
      if (auto open = weak.lock(); open && open->Is(st.st_dev, st.st_ino)) return open;
  }
  auto file = std::make_shared<SharedTraceFile>(path);
  tTraceFiles.push_back(file);
  return file;
}
}  // namespace

TraceLog::TraceLog(std::string_view path) : file_(OpenShared(path)) {}

TraceLog::~TraceLog() = default;

int TraceLog::number() const { return file_ ? file_->number() : 0; }

void TraceLog::Close() { file_.reset(); }

void TraceLog::WriteLine(std::string_view message) {
  if (!file_) return;
  time_t now = time(nullptr);
  struct tm tmv {};
  localtime_r(&now, &tmv);
  char stamp[16];
  strftime(stamp, sizeof stamp, "%H:%M:%S", &tmv);
  std::string line;
  line.reserve(message.size() + 16);
  line += stamp;
  line += " - ";
  line += message;
  line += "\r\n";
  file_->Write(line);
}

TraceChannel OpenTraceLog(std::string_view path) {
  auto log = std::make_shared<TraceLog>(path);
  log->WriteLine("TraceLog Opened");
  return log;
}

void WriteTraceLine(const TraceChannel& channel, std::string_view message) {
  if (!channel || !channel->isOpen()) return;
  try {
    channel->WriteLine(message);
  } catch (const Error&) {
    // A trace line that cannot be written is dropped; tracing never fails a call.
  }
}

void CloseTraceLog(TraceChannel& channel) {
  if (channel) channel->Close();
  channel.reset();
}

void TraceFileProperty::Set(const Variant& file, std::string_view className) {
  ObjectRef obj = file.toObject();
  if (obj->classInfo().name() != "File") ThrowPlatform(err::TypeMismatch);
  file_ = obj;
  std::string name = obj->Get("Name").toString();
  auto* target = dynamic_cast<TraceTarget*>(obj.get());
  std::string mapped = target ? target->TraceLogPath() : std::string();
  channel_ = OpenTraceLog(mapped.empty() ? name : mapped);
  Write(std::string(className) + ".SetTraceFile - Set TraceFile object.");
}

Variant TraceFileProperty::Get(std::string_view className) const {
  Write(std::string(className) + ".GetTraceFile - Returned TraceFile object.");
  return Variant(file_);
}

}  // namespace torvane
