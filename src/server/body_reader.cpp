#include "server/body_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace torvane::server {

namespace {
constexpr size_t kDirectStep = 1 << 20;  // first storage of a large read
}  // namespace

BodyReader::BodyReader(int64_t length, Source source, size_t bufferSize, std::function<void()> beforeFirstRead)
    : length_(length < 0 ? 0 : length),
      source_(std::move(source)),
      bufferSize_(static_cast<size_t>(std::max<int64_t>(std::min<int64_t>(static_cast<int64_t>(bufferSize), length_), 1))),
      beforeFirstRead_(std::move(beforeFirstRead)) {}

uint8_t* BodyReader::Buffer() {
  if (!buffer_) buffer_.reset(new uint8_t[bufferSize_]);
  return buffer_.get();
}

size_t BodyReader::Pull(uint8_t* out, size_t max) {
  if (truncated_ || max == 0) return 0;
  if (beforeFirstRead_) {
    auto hook = std::move(beforeFirstRead_);
    beforeFirstRead_ = nullptr;
    hook();
  }
  size_t n = source_(out, max);
  if (n == 0) truncated_ = true;
  pulled_ += static_cast<int64_t>(n);
  return n;
}

void BodyReader::Read(int64_t count, std::vector<uint8_t>& out) {
  if (count <= 0) return;
  int64_t want = std::min(count, Remaining());
  // Storage grows with the bytes that actually arrive, never with what the
  // client announced: a large read goes straight into the caller's storage,
  // which grows geometrically (from kDirectStep) and is zero-filled only once
  // per byte, however small the pieces the source hands out. A read is large
  // by what it asked: its rest after a short piece from the source still goes
  // straight through instead of through the buffer (a copy more).
  const bool large = static_cast<uint64_t>(want) >= bufferSize_;
  size_t filled = out.size();
  while (want > 0) {
    if (bufPos_ < bufEnd_) {
      size_t n = std::min<size_t>(bufEnd_ - bufPos_, static_cast<size_t>(want));
      out.resize(filled);
      out.insert(out.end(), buffer_.get() + bufPos_, buffer_.get() + bufPos_ + n);
      filled += n;
      bufPos_ += n;
      delivered_ += static_cast<int64_t>(n);
      want -= static_cast<int64_t>(n);
      continue;
    }
    int64_t unpulled = length_ - pulled_;
    if (unpulled <= 0) break;
    if (large) {
      size_t ask = static_cast<size_t>(std::min(want, unpulled));
      if (out.size() <= filled) {
        size_t grow = std::min(ask, std::max(kDirectStep, filled));
        out.resize(filled + grow);
      }
      ask = std::min(ask, out.size() - filled);
      size_t n = Pull(out.data() + filled, ask);
      if (n == 0) break;
      filled += n;
      delivered_ += static_cast<int64_t>(n);
      want -= static_cast<int64_t>(n);
      continue;
    }
    size_t ask = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(bufferSize_), unpulled));
    size_t n = Pull(Buffer(), ask);
    if (n == 0) break;
    bufPos_ = 0;
    bufEnd_ = n;
  }
  out.resize(filled);
}

bool BodyReader::Drain(int64_t limit) {
  size_t buffered = bufEnd_ - bufPos_;
  delivered_ += static_cast<int64_t>(buffered);
  bufPos_ = bufEnd_ = 0;
  int64_t budget = limit;
  while (Remaining() > 0 && budget > 0 && !truncated_) {
    size_t ask = static_cast<size_t>(std::min<int64_t>({static_cast<int64_t>(bufferSize_), Remaining(), budget}));
    size_t n = Pull(Buffer(), ask);
    if (n == 0) break;
    delivered_ += static_cast<int64_t>(n);
    budget -= static_cast<int64_t>(n);
  }
  return Remaining() == 0;
}

}  // namespace torvane::server

namespace torvane::server {

int64_t BodyReader::Unpulled() const { return truncated_ ? 0 : length_ - pulled_; }

}  // namespace torvane::server
