// Numbered file handles and the trace log.
//
// Each thread has a table of file numbers 1..255 (lowest free first) shared by
// trace logs, dump files and upload files. A NumberedFile holds one number while
// it is open and gives it back when closed or destroyed.
//
// A trace channel is a counted reference to an open trace log. Objects that
// write into the same log share the reference; the log is closed when the last
// holder lets go, or explicitly (CloseTraceLog), after which every holder's
// writes are dropped. A number that a closed log gave back can be taken by a new
// log, but a stale channel never writes into it: the channel points at its own
// log, not at the number.
//
// Logs opened at the same physical file (the same File given as TraceFile to a
// Post, a Directory and a File) share one open file and one number: the file
// is emptied when it is first opened, every line goes out whole with one
// append, in call order, and the file closes when the last log on it closes.
//
// Line format: local time "HH:MM:SS", " - ", the message, CR LF.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "automation/object.h"

namespace torvane {

class NumberedFile {
 public:
  enum class Mode {
    Truncate,   // created if missing, emptied if it exists (text output)
    Overwrite,  // created if missing, written from the first byte, not shortened
    Log,        // created if missing, emptied, every write appended at the end
  };
  // Takes the lowest free number of the calling thread and opens the DOS or
  // native path. Fails with 67 "Too many files" when all 255 are taken, or with
  // the system's error.
  NumberedFile(std::string_view path, Mode mode);
  // Takes the lowest free number for a file the caller opened; the file is
  // closed when no number is free (67) and from then on belongs to this object.
  explicit NumberedFile(int fd);
  ~NumberedFile();
  NumberedFile(const NumberedFile&) = delete;
  NumberedFile& operator=(const NumberedFile&) = delete;

  int number() const { return number_; }
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Write(std::span<const uint8_t> bytes);
  void Write(std::string_view text);
  void Close();

 private:
  int number_ = 0;
  int fd_ = -1;
};

// Number of file numbers in use on the calling thread (for tests).
int OpenFileNumbers();

// One open trace file, shared by every log opened at it on this thread.
class SharedTraceFile;

class TraceLog {
 public:
  // Opens the path, or joins the log already open at the same physical file.
  explicit TraceLog(std::string_view path);
  ~TraceLog();
  int number() const;
  bool isOpen() const { return file_ != nullptr; }
  void WriteLine(std::string_view message);
  // This log stops writing; the file closes once no other log shares it.
  void Close();

 private:
  std::shared_ptr<SharedTraceFile> file_;
};

using TraceChannel = std::shared_ptr<TraceLog>;

// Opens (creates or empties) the log and writes "TraceLog Opened".
TraceChannel OpenTraceLog(std::string_view path);
// Appends one line; a null or closed channel does nothing.
void WriteTraceLine(const TraceChannel& channel, std::string_view message);
// Closes the log (errors ignored) and clears the caller's channel.
void CloseTraceLog(TraceChannel& channel);

// Implemented by File: the physical path its Name maps to, where a trace log
// named by that File is opened (so "logs/trace.txt" lands in the site's folder,
// not in the server's working folder). Empty when the Name was never mapped.
class TraceTarget {
 public:
  virtual ~TraceTarget() = default;
  virtual std::string TraceLogPath() const = 0;
};

// The TraceFile property shared by Post, Directory, File, Archive and Computer.
class TraceFileProperty {
 public:
  // set by reference: stores the File, reads its Name, opens a log at the path
  // that Name maps to (the Name itself when it was never mapped) and writes
  // `className + ".SetTraceFile - Set TraceFile object."`. A non-File object
  // fails with 13; an open failure propagates with the File already stored.
  void Set(const Variant& file, std::string_view className);
  // get: writes `className + ".GetTraceFile - Returned TraceFile object."`.
  Variant Get(std::string_view className) const;

  const TraceChannel& channel() const { return channel_; }
  void SetChannel(TraceChannel ch) { channel_ = std::move(ch); }
  void Write(std::string_view message) const { WriteTraceLine(channel_, message); }
  void Close() { CloseTraceLog(channel_); }

 private:
  ObjectRef file_;
  TraceChannel channel_;
};

}  // namespace torvane
