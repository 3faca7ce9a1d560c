#include "upload/record_parser.h"

#include <algorithm>
#include <cstring>

#include "automation/object.h"
#include "host/script_context.h"
#include "platform/codepage.h"
#include "progress/progress_bar.h"
#include "upload/buffered_file.h"

namespace torvane {

namespace {
constexpr size_t kChunk = 1024;            // largest BinaryRead
constexpr size_t kPendingLimit = 10000;    // Pending handed out past this
constexpr size_t kBufferLimit = 10000;     // Buffer without line end cut past this
constexpr size_t kLongPiece = 9000;        // size of a LongData piece
constexpr size_t kMacHeader = 128;
constexpr size_t kInitialStorage = 128 * 1024;

const char kReadError[] =
    "Post.GetFormInputs - Error reading Post Stream.  The common cause for this is referencing the Request.Form "
    "collection which is not allowed.";

// Case-insensitive (A-Z only) search for `needle` in [p, p + n).
const uint8_t* FindNoCase(const uint8_t* p, size_t n, std::string_view needle) {
  if (n < needle.size()) return nullptr;
  for (size_t i = 0; i + needle.size() <= n; ++i) {
    size_t k = 0;
    for (; k < needle.size(); ++k) {
      uint8_t c = p[i + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
      if (c != static_cast<uint8_t>(needle[k])) break;
    }
    if (k == needle.size()) return p + i;
  }
  return nullptr;
}

std::string AsciiLower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
}  // namespace

RecordParser::RecordParser() : storage_(kInitialStorage) {}

void RecordParser::Trace(std::string_view message) const {
  if (trace_ && *trace_) WriteTraceLine(*trace_, message);
}

std::string RecordParser::Convert(const uint8_t* p, size_t n) const {
  return ConvertToText(std::span<const uint8_t>(p, n), codePage_, "Post");
}

size_t RecordParser::FindLineEnd() {
  while (scan_ < end_) {
    const void* hit = std::memchr(storage_.data() + scan_, '\r', end_ - scan_);
    if (!hit) {
      scan_ = end_;
      return npos;
    }
    size_t i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - storage_.data());
    scan_ = i;
    if (i + 1 >= end_) return npos;  // a CR at the end: its LF may come with the next chunk
    if (storage_[i + 1] == '\n') return i;
    scan_ = i + 1;
  }
  return npos;
}

bool RecordParser::ClientConnected() {
  bool connected = true;
  try {
    connected = ScriptResponse().IsClientConnected();
  } catch (const Error&) {
    connected = true;  // an unanswerable check counts as connected
  }
  if (!connected) {
    try {
      ScriptResponse().End();
    } catch (const Error&) {
    }
  }
  return connected;
}

void RecordParser::Append(const uint8_t* p, size_t n) {
  if (n == 0) return;
  if (end_ + n > storage_.size()) {
    // Keep Pending (the consumed lines right before begin_) and Buffer.
    size_t from = begin_ - pendLen_;
    size_t live = end_ - from;
    if (from > 0) {
      std::memmove(storage_.data(), storage_.data() + from, live);
      scan_ -= from;
      begin_ -= from;
      end_ = live;
    }
    if (end_ + n > storage_.size()) storage_.resize(std::max(storage_.size() * 2, end_ + n));
  }
  std::memcpy(storage_.data() + end_, p, n);
  end_ += n;
}

void RecordParser::ReadChunk() {
  int64_t n = remaining_ <= static_cast<int64_t>(kChunk) ? remaining_ : static_cast<int64_t>(kChunk);
  Variant v = ScriptRequest().BinaryRead(n);
  const Bytes& bytes = v.bytes();  // 13 when the host did not return bytes
  size_t got = std::min(bytes.size(), static_cast<size_t>(n));
  Append(bytes.data(), got);
  if (dump_) dump_->Write(std::span<const uint8_t>(bytes.data(), got));
  if (progress_) progress_->AddBodyBytes(static_cast<int64_t>(got), progressFileBytes_);
  // A host that returns nothing has no more body: the client sent fewer bytes
  // than it announced.
  remaining_ = got == 0 ? 0 : remaining_ - static_cast<int64_t>(got);
}

void RecordParser::FirstRead() {
  ClientConnected();  // the first read happens in any case
  try {
    ReadChunk();
  } catch (const std::exception&) {
    Trace(kReadError);
    throw ComponentError(9013, kReadError, "Post");
  }
}

bool RecordParser::IsBoundary(const uint8_t* p, size_t n) const {
  return n == boundary_.size() && std::memcmp(p, boundary_.data(), n) == 0;
}

bool RecordParser::IsClosingBoundary(const uint8_t* p, size_t n) const {
  size_t b = boundary_.size();
  if (b < 2 || n != b + 2) return false;
  return std::memcmp(p, boundary_.data(), b - 2) == 0 && p[n - 4] == '-' && p[n - 3] == '-';
}

int32_t RecordParser::GetARecord(bool checkMacBinary) {
  pendLen_ = 0;
  SetRecord(nullptr, 0);
  Trace("Post.GetARecord - Processing Record");
  if (!loaded_) {
    if (remaining_ == 0) return kEndOfRequest;
    FirstRead();
    loaded_ = true;
  }
  for (;;) {
    size_t pos = FindLineEnd();
    if (pos != npos) {
      const uint8_t* line = storage_.data() + begin_;
      size_t n = pos + 2 - begin_;
      switch (state_) {
        case 0:
          boundary_.assign(line, line + n);
          SetRecord(line, n);
          state_ = 1;
          Trace("Post.GetARecord - Found Header");
          Consume(pos);
          return kHeader;
        case 1:
          return OnDisposition(pos);
        case 2:
          SetRecord(line, n);
          state_ = 6;
          Trace("Post.GetARecord - Found SkipRecord");
          Consume(pos);
          return kSkipRecord;
        case 3:
          return OnFileContentType(pos);
        case 5:
          SetRecord(line, n);
          if (n == 2) state_ = 6;
          Trace("Post.GetARecord - Found SkipRecord");
          Consume(pos);
          return state_;
        case 6: {
          bool noLine = false;
          int32_t kind = OnFirstContent(pos, checkMacBinary, noLine);
          if (!noLine) return kind;
          break;  // the header was dropped and no line end follows yet
        }
        case 4:
        case 7: {
          int32_t kind = OnContent(pos);
          if (kind != 0) return kind;
          continue;
        }
        default:
          SetRecord(line, n);
          Consume(pos);
          return state_;
      }
    }
    // No complete line in Buffer.
    if (remaining_ == 0) return kEndOfRequest;
    if (!ClientConnected()) return kEndOfRequest;
    if (pendLen_ > kPendingLimit) {
      SetRecord(PendingStart(), pendLen_);
      state_ = 4;
      Trace("Post.GetARecord - Found Data/slData");
      return EmitContent(kData);
    }
    if (end_ - begin_ > kBufferLimit && state_ == 6 && !macChecked_) {
      // The first content of a part has no line end yet: the MacBinary test
      // runs on it before it is cut into pieces.
      size_t none = npos;
      DetectMacBinary(checkMacBinary, none);
      continue;
    }
    if (end_ - begin_ > kBufferLimit) {
      // Pending lies right before Buffer: the piece is one contiguous range.
      SetRecord(PendingStart(), pendLen_ + kLongPiece);
      Trace(pendLen_ != 0 ? "Post.GetARecord - Found LongData/sldata/mvarsData"
                          : "Post.GetARecord - Found LongData/mvarsData");
      DropFront(kLongPiece);
      state_ = 7;
      return EmitContent(kLongData);
    }
    ReadChunk();
  }
}

bool RecordParser::SawClosingBoundary() const {
  if (state_ == -1) return true;
  size_t b = boundary_.size();
  return state_ == 1 && !partSeen_ && b >= 4 && std::memcmp(boundary_.data() + b - 4, "--\r\n", 4) == 0;
}

int32_t RecordParser::OnDisposition(size_t pos) {
  const uint8_t* line = storage_.data() + begin_;
  size_t n = pos + 2 - begin_;
  SetRecord(line, n);
  partSeen_ = true;
  text_.clear();
  fileName_.clear();
  // A new part: its MacBinary detection starts afresh.
  macActive_ = false;
  macChecked_ = false;
  forkFlushHeld_ = false;
  const uint8_t* end = line + n;
  auto* q1 = static_cast<const uint8_t*>(std::memchr(line, '"', n));
  if (!q1) {
    state_ = 2;
    Trace("Post.GetARecord - Found FormInput for ");
    Consume(pos);
    return kFormInputRecord;
  }
  auto* q2 = static_cast<const uint8_t*>(std::memchr(q1 + 1, '"', static_cast<size_t>(end - q1 - 1)));
  if (!q2) {
    Consume(pos);
    return state_;  // still 1: the caller sees a Header
  }
  text_ = Convert(q1 + 1, static_cast<size_t>(q2 - q1 - 1));
  if (q2 + 1 < end && q2[1] == ';') {
    const uint8_t* f = FindNoCase(line, n, "filename=\"");
    if (f) {
      const uint8_t* quote = f + 9;
      auto* q3 = static_cast<const uint8_t*>(std::memchr(quote + 1, '"', static_cast<size_t>(end - quote - 1)));
      if (q3) fileName_ = Convert(quote + 1, static_cast<size_t>(q3 - quote - 1));
    }
    state_ = 3;
    Trace("Post.GetARecord - Found FileAttachment");
    Consume(pos);
    return kFileAttachment;
  }
  state_ = 2;
  if (trace_ && *trace_) Trace("Post.GetARecord - Found FormInput for " + text_);
  Consume(pos);
  return kFormInputRecord;
}

int32_t RecordParser::OnFileContentType(size_t pos) {
  const uint8_t* line = storage_.data() + begin_;
  size_t n = pos + 2 - begin_;
  SetRecord(line, n);
  dataForkEnded_ = false;
  size_t bare = n - 2;
  static const std::string prefix = "content-type:";
  std::string lineText = AsciiLower(Convert(line, bare));
  if (lineText.compare(0, prefix.size(), prefix) == 0) {
    size_t from = std::min<size_t>(13, bare);
    std::string value = Convert(line + from, bare - from);
    size_t skip = value.find_first_not_of(" \t");
    text_ = skip == std::string::npos ? std::string() : value.substr(skip);
    state_ = 5;
    Trace("Post.GetARecord - Found ContentType");
  } else {
    state_ = 6;
    Trace("Post.GetARecord - No ContentType");
    text_.clear();
  }
  Consume(pos);
  return state_;
}

bool RecordParser::DetectMacBinary(bool checkMacBinary, size_t& pos) {
  macChecked_ = true;
  macActive_ = false;
  Trace(checkMacBinary ? "Post.GetArecord - checkmacbinary = True" : "Post.GetArecord - checkmacbinary = False");
  size_t lineRel = pos == npos ? 0 : pos - begin_;
  if (end_ - begin_ < kMacHeader && checkMacBinary && remaining_ != 0) {
    ClientConnected();  // the top-up read happens in any case
    ReadChunk();
    if (pos != npos) pos = begin_ + lineRel;
  }
  if (end_ - begin_ < kMacHeader || !checkMacBinary) return false;
  const uint8_t* h = storage_.data() + begin_;
  size_t nameLen = h[1];
  bool header = h[0] == 0 && h[74] == 0 && h[82] == 0 && nameLen < 64 &&
                FoldCase(Convert(h + 2, nameLen)) == FoldCase(clientBaseName_);
  if (!header) return false;
  forkLeft_ = (int64_t{h[83]} << 24) | (int64_t{h[84]} << 16) | (int64_t{h[85]} << 8) | int64_t{h[86]};
  DropFront(kMacHeader);
  Trace("Post.GetARecord - Found Macbinary");
  macActive_ = true;
  pos = FindLineEnd();
  return true;
}

int32_t RecordParser::OnFirstContent(size_t pos, bool checkMacBinary, bool& noLine) {
  if (!macChecked_ && DetectMacBinary(checkMacBinary, pos) && pos == npos) {
    noLine = true;  // the header is gone and no line end follows yet: state stays 6
    return 0;
  }
  SetRecord(storage_.data() + begin_, pos + 2 - begin_);
  state_ = 4;
  Trace("Post.GetARecord - Found Data4");
  Consume(pos);
  return EmitContent(kData);
}

int32_t RecordParser::OnContent(size_t pos) {
  const uint8_t* line = storage_.data() + begin_;
  size_t n = pos + 2 - begin_;
  if (IsBoundary(line, n)) {
    if (pendLen_ != 0) {
      SetRecord(PendingStart(), pendLen_);
      state_ = 4;
      Trace("Post.GetARecord - Found Data2");
      return EmitContent(kData);  // the boundary line is read again next time
    }
    SetRecord(line, n);
    state_ = 1;
    Trace("Post.GetARecord - Found Header");
    Consume(pos);
    return kHeader;
  }
  if (IsClosingBoundary(line, n)) {
    if (pendLen_ != 0) {
      SetRecord(PendingStart(), pendLen_);
      state_ = 4;
      Trace("Post.GetARecord - Found Data3");
      return EmitContent(kData);
    }
    SetRecord(line, n);
    state_ = -1;
    Trace("Post.GetARecord - Found EndOfRequest");
    Consume(pos);
    return kEndOfRequest;
  }
  state_ = 4;
  size_t next = pos + 2;
  bool mayBeBoundary = end_ - next <= 1 || (!boundary_.empty() && storage_[next] == boundary_[0]);
  if (mayBeBoundary) {
    SetRecord(PendingStart(), pendLen_ + n);  // Pending followed by the line
    Trace("Post.GetARecord - Found Data");
    Consume(pos);
    return EmitContent(kData);
  }
  // The next line cannot be a boundary: gather this one and go on.
  pendLen_ += n;  // the line joins Pending where it lies
  Consume(pos);
  return 0;
}

int32_t RecordParser::EmitContent(int32_t kind) {
  if (macActive_) ApplyForkBound(kind);
  return kind;
}

void RecordParser::ApplyForkBound(int32_t& kind) {
  if (forkFlushHeld_) {
    // The previous Data record ended exactly at the fork's end and more content
    // follows: its CR LF belongs to the fork. Hand it out as content.
    forkFlushHeld_ = false;
    out_.assign({'\r', '\n'});
    SetRecord(out_.data(), out_.size());
    kind = kData;
    return;
  }
  if (forkLeft_ == 0) {
    dataForkEnded_ = true;
    SetRecord(nullptr, 0);
    return;
  }
  if (static_cast<int64_t>(recLen_) <= forkLeft_) {
    forkLeft_ -= static_cast<int64_t>(recLen_);
    if (forkLeft_ == 0 && kind == kData) forkFlushHeld_ = true;
    return;
  }
  // The fork ends inside this record: keep its first bytes only. A Data record
  // gets a line end of its own, which the caller holds back and never writes.
  out_.assign(recPtr_, recPtr_ + forkLeft_);
  if (kind == kData) {
    out_.push_back('\r');
    out_.push_back('\n');
  }
  forkLeft_ = 0;
  SetRecord(out_.data(), out_.size());
}

}  // namespace torvane
