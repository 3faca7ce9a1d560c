// BodyReader: the request body handed to a page piece by piece.
//
// The body is pulled from its source (a socket, a file) only as the page asks
// for it, through one bounded buffer: a page that reads 1024 bytes at a time
// costs one source read per buffer fill, and a 1 GiB body never sits in memory.
// Large reads go straight into the caller's storage, which grows with the
// bytes received, never with the length the client announced.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace torvane::server {

class BodyReader {
 public:
  // Reads up to `max` bytes into `out`; returns 0 only at the source's end.
  // Throws torvane::Error when the source fails (a client timing out).
  using Source = std::function<size_t(uint8_t* out, size_t max)>;

  // The bounded buffer's usual size; a read of at least this many bytes goes
  // straight into the caller's storage.
  static constexpr size_t kBufferBytes = 64 * 1024;

  // `length`: the body's declared size (Content-Length); `beforeFirstRead`, if
  // set, runs once before the source is first read (100 Continue).
  BodyReader(int64_t length, Source source, size_t bufferSize = kBufferBytes, std::function<void()> beforeFirstRead = {});

  int64_t Length() const { return length_; }
  // Body bytes the page has not taken yet.
  int64_t Remaining() const { return length_ - delivered_; }
  // Appends the next min(count, Remaining()) bytes to `out`; fewer only when the
  // source ends early (a client that sent less than it announced).
  void Read(int64_t count, std::vector<uint8_t>& out);
  // Reads and drops what is left, up to `limit` bytes; true when the whole body
  // has been consumed (the connection can carry another request).
  bool Drain(int64_t limit);
  // True once the source ended before the declared length.
  bool Truncated() const { return truncated_; }
  // True while the 100 Continue hook has not run: the client may still be
  // waiting to send the body at all.
  bool AwaitingContinue() const { return static_cast<bool>(beforeFirstRead_); }
  // Body bytes not yet taken from the source (0 once it ended early): what is
  // still to come from the client, whether or not the page reads it.
  int64_t Unpulled() const;

 private:
  size_t Pull(uint8_t* out, size_t max);
  // The bounded buffer, allocated at its first use: a request without a body
  // (most pages) never pays for it.
  uint8_t* Buffer();

  int64_t length_;
  int64_t delivered_ = 0;   // bytes handed to the page (or drained)
  int64_t pulled_ = 0;      // bytes taken from the source
  Source source_;
  size_t bufferSize_;                  // at most the body's length, at least 1
  std::unique_ptr<uint8_t[]> buffer_;  // null until the first buffered read
  size_t bufPos_ = 0, bufEnd_ = 0;
  std::function<void()> beforeFirstRead_;
  bool truncated_ = false;
};

}  // namespace torvane::server
