#include "upload/record_parser.h"

#include <algorithm>
#include <cstring>

#include "automation/component_errors.h"
#include "automation/object.h"
#include "host/script_context.h"
#include "platform/codepage.h"
#include "progress/progress_bar.h"
#include "upload/buffered_file.h"
#include "upload/part_headers.h"

namespace torvane {

namespace {
constexpr size_t kChunk = 1024;            // bytes added to Buffer at a time
constexpr int64_t kReadAheadMost = 1 << 20;  // largest BinaryRead, whatever the host prefers
constexpr size_t kPendingLimit = 10000;    // Pending handed out past this
constexpr size_t kBufferLimit = 10000;     // Buffer without line end cut past this
constexpr size_t kLongPiece = 9000;        // size of a LongData piece
constexpr size_t kMacHeader = 128;
constexpr size_t kInitialStorage = 128 * 1024;
constexpr size_t kPreambleLimit = 16 * 1024;  // where the first delimiter must show up
constexpr size_t kBlockLimit = 16 * 1024;     // header bytes kept of one part

const char kReadError[] =
    "Post.GetFormInputs - Error reading Post Stream.  The common cause for this is referencing the Request.Form "
    "collection which is not allowed.";

const uint8_t kLineEnd[2] = {'\r', '\n'};

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t'; }

// What a queued header record is (EmitQueued sets Text and the trace by it).
enum QueuedWhat : int {
  kQBrokenDisposition,  // a Content-Disposition that cannot be read: a Header record
  kQField,              // an ordinary field's disposition
  kQFile,               // a file field's disposition
  kQType,               // a file part's Content-Type
  kQNoType,             // the first line after a file part's disposition when it has no Content-Type
  kQOtherAfterType,     // another header of a file part with a Content-Type
  kQOther,              // another header, or the blank line
};
}  // namespace

RecordParser::RecordParser()
    : storage_(std::make_unique_for_overwrite<uint8_t[]>(kInitialStorage)), storageSize_(kInitialStorage) {}

void RecordParser::Trace(std::string_view message) const {
  if (trace_ && *trace_) WriteTraceLine(*trace_, message);
}

std::string RecordParser::Convert(const uint8_t* p, size_t n) const {
  return ConvertToText(std::span<const uint8_t>(p, n), codePage_, "Post");
}

size_t RecordParser::FindLineEnd() {
  while (scan_ < end_) {
    const void* hit = std::memchr(storage_.get() + scan_, '\r', end_ - scan_);
    if (!hit) {
      scan_ = end_;
      return npos;
    }
    size_t i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - storage_.get());
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
  if (end_ + n > storageSize_) {
    // Keep Pending (the consumed lines right before begin_) and Buffer.
    size_t from = begin_ - pendLen_;
    size_t live = end_ - from;
    if (from > 0) {
      std::memmove(storage_.get(), storage_.get() + from, live);
      scan_ -= from;
      begin_ -= from;
      end_ = live;
    }
    if (end_ + n > storageSize_) {
      size_t size = std::max(storageSize_ * 2, end_ + n);
      auto grown = std::make_unique_for_overwrite<uint8_t[]>(size);
      std::memcpy(grown.get(), storage_.get(), end_);
      storage_ = std::move(grown);
      storageSize_ = size;
    }
  }
  std::memcpy(storage_.get() + end_, p, n);
  end_ += n;
}

bool RecordParser::ClientCheckDue() const { return aheadPos_ == ahead_.size(); }

int64_t RecordParser::HostReadSize() {
  // The first read, and every read while a trace watches the records, is one
  // chunk: a body that fails early fails at the read it always did (a first
  // read fails as "Error reading Post Stream"), and a traced parse shows each
  // record before a failure exactly as 1 KiB reads do.
  if (!loaded_ || (trace_ && *trace_)) return kChunk;
  if (hostReadSize_ == 0) hostReadSize_ = std::clamp<int64_t>(ScriptRequest().BodyReadSize(), kChunk, kReadAheadMost);
  return hostReadSize_;
}

Variant RecordParser::FromHost(int64_t count, size_t& got) {
  Variant v = ScriptRequest().BinaryRead(count);
  got = std::min(v.bytes().size(), static_cast<size_t>(count));  // 13 when the host did not return bytes
  return v;
}

void RecordParser::AddChunkBytes(const uint8_t* p, size_t n) {
  Append(p, n);
  if (dump_) dump_->Write(std::span<const uint8_t>(p, n));
}

void RecordParser::ReadChunk() {
  size_t n = static_cast<size_t>(std::min<int64_t>(remaining_, kChunk));
  size_t got = 0;
  if (aheadPos_ == ahead_.size() && HostReadSize() == static_cast<int64_t>(kChunk)) {
    // Reads of one chunk each: the chunk is what the host gave.
    Variant v = FromHost(static_cast<int64_t>(n), got);
    AddChunkBytes(v.bytes().data(), got);
  } else {
    // A chunk is whole even when it spans two host reads, so the chunks (and
    // the records cut from them) fall where 1 KiB reads put them; a host read
    // that brings less than asked (the body ended early) ends the chunk.
    bool more = true;
    while (got < n && more) {
      if (aheadPos_ == ahead_.size()) {
        int64_t ask = std::min(remaining_ - static_cast<int64_t>(got), HostReadSize());
        size_t brought = 0;
        Variant v = FromHost(ask, brought);
        v.bytes().resize(brought);
        ahead_.swap(v.bytes());
        aheadPos_ = 0;
        more = static_cast<int64_t>(brought) == ask;
      }
      size_t take = std::min(ahead_.size() - aheadPos_, n - got);
      if (take == 0) break;
      AddChunkBytes(ahead_.data() + aheadPos_, take);
      aheadPos_ += take;
      got += take;
    }
  }
  if (progress_) progress_->AddBodyBytes(static_cast<int64_t>(got), progressFileBytes_);
  // A host that returns nothing has no more body: the client sent fewer bytes
  // than it announced.
  if (got == 0) shortBody_ = true;
  remaining_ = got == 0 ? 0 : remaining_ - static_cast<int64_t>(got);
}

void RecordParser::FirstRead() {
  ClientConnected();  // the first read happens in any case
  try {
    ReadChunk();
  } catch (const std::exception&) {
    Trace(kReadError);
    throw ComponentError(component_error::PostStreamUnreadable, kReadError, "Post");
  }
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
  if (queuePos_ < queue_.size()) return EmitQueued();
  for (;;) {
    size_t pos = FindLineEnd();
    if (pos != npos) {
      switch (state_) {
        case State::BeforeFirstDelimiter: {
          int32_t kind = OnFirstLine(pos);
          if (kind != 0) return kind;
          continue;  // a preamble was skipped
        }
        case State::InPartHeaders: {
          int32_t kind = OnHeaderLine(pos);
          if (kind != 0) return kind;
          continue;
        }
        case State::AfterFormInput:
        case State::AfterFileAttachment:
        case State::AfterContentType:
          return OnUsualHeader(pos);
        case State::BeforeContent: {
          bool noLine = false;
          int32_t kind = OnFirstContent(pos, checkMacBinary, noLine);
          if (!noLine) return kind;
          break;  // the header was dropped and no line end follows yet
        }
        case State::InData:
        case State::InLongData: {
          int32_t kind = OnContent(pos);
          if (kind != 0) return kind;
          continue;
        }
        default:
          SetRecord(storage_.get() + begin_, pos + 2 - begin_);
          Consume(pos);
          return kEndOfRequest;  // State::Ended: every record of the body was handed out
      }
    }
    // No complete line in Buffer.
    if (remaining_ == 0) return AtBodyEnd();
    if (ClientCheckDue() && !ClientConnected()) return kEndOfRequest;
    if (pendLen_ > kPendingLimit) {
      SetRecord(PendingStart(), pendLen_);
      state_ = State::InData;
      Trace("Post.GetARecord - Found Data/slData");
      return EmitContent(kData);
    }
    if (end_ - begin_ > kBufferLimit && state_ == State::InPartHeaders) {
      // An overlong header line: its bytes are dropped up to its line end
      // (the last byte may be the CR of that line end).
      DropFront(end_ - begin_ - 1);
      dropLine_ = true;
      continue;
    }
    if (end_ - begin_ > kBufferLimit && state_ == State::BeforeContent && !macChecked_) {
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
      state_ = State::InLongData;
      return EmitContent(kLongData);
    }
    ReadChunk();
  }
}

bool RecordParser::SawClosingBoundary() const {
  if (state_ == State::Ended || closed_) return true;
  size_t b = boundary_.size();
  return state_ == State::InPartHeaders && !partSeen_ && b >= 4 && std::memcmp(boundary_.data() + b - 4, "--\r\n", 4) == 0;
}

int32_t RecordParser::AtBodyEnd() {
  const uint8_t* rest = storage_.get() + begin_;
  size_t n = end_ - begin_;
  if (shortBody_) return kEndOfRequest;  // the client sent less than it announced
  std::string_view delimiter =
      boundary_.size() >= 2 ? std::string_view(reinterpret_cast<const char*>(boundary_.data()), boundary_.size() - 2)
                            : std::string_view(delimiter_);
  bool content = state_ == State::InData || state_ == State::InLongData;
  if ((content || state_ == State::BeforeFirstDelimiter) && DelimiterKind(rest, n, delimiter) != 0) {
    // A closing delimiter without its CR LF, or a last delimiter: the form
    // ends here; content gathered before it comes first.
    if (content && pendLen_ != 0) {
      SetRecord(PendingStart(), pendLen_);
      state_ = State::InData;
      Trace("Post.GetARecord - Found Data3");
      return EmitContent(kData);
    }
    SetRecord(rest, n);
    DropFront(n);
    state_ = State::Ended;
    closed_ = true;
    if (content) Trace("Post.GetARecord - Found EndOfRequest");
    return kEndOfRequest;
  }
  if (state_ == State::InPartHeaders && headers_.empty() && !dropLine_) {
    // The body ends right after a delimiter line (blanks at most follow):
    // every part before it is complete.
    bool blanks = true;
    for (size_t i = 0; i < n; ++i)
      if (!IsBlank(rest[i])) blanks = false;
    if (blanks) {
      state_ = State::Ended;
      closed_ = true;
    }
  }
  return kEndOfRequest;
}

int32_t RecordParser::OnFirstLine(size_t pos) {
  const uint8_t* line = storage_.get() + begin_;
  size_t n = pos + 2 - begin_;
  int kind = delimiter_.empty() ? 0 : DelimiterKind(line, n - 2, delimiter_);
  if (kind == 0 && !delimiter_.empty() && !preambleChecked_) {
    // Either a delimiter line now starts Buffer, or there is none in reach
    // and the first line is taken as it is: the loop reads that line again.
    preambleChecked_ = true;
    SkipPreamble();
    return 0;
  }
  if (kind != 0) {
    boundary_.assign(delimiter_.begin(), delimiter_.end());
  } else {
    // The first line is the boundary line whatever it holds (blanks after it
    // are not part of it).
    size_t len = n - 2;
    while (len > 0 && IsBlank(line[len - 1])) --len;
    boundary_.assign(line, line + len);
  }
  boundary_.push_back('\r');
  boundary_.push_back('\n');
  SetRecord(line, n);
  state_ = kind == 2 ? State::Ended : State::InPartHeaders;  // a closing delimiter first: a form without fields
  closed_ = kind == 2;
  Trace("Post.GetARecord - Found Header");
  Consume(pos);
  return kHeader;
}

bool RecordParser::SkipPreamble() {
  size_t at = begin_;  // the line looked at
  for (;;) {
    size_t cr = at;
    while (cr + 1 < end_ && !(storage_[cr] == '\r' && storage_[cr + 1] == '\n')) ++cr;
    if (cr + 1 < end_) {
      if (DelimiterKind(storage_.get() + at, cr - at, delimiter_) != 0) {
        DropFront(at - begin_);  // the preamble is not part of the form
        return true;
      }
      at = cr + 2;
      continue;
    }
    if (remaining_ == 0 && !shortBody_ && DelimiterKind(storage_.get() + at, end_ - at, delimiter_) != 0) {
      DropFront(at - begin_);  // the body ends with its first delimiter
      return true;
    }
    if (end_ - begin_ > kPreambleLimit || remaining_ == 0 || (ClientCheckDue() && !ClientConnected())) return false;
    size_t offset = at - begin_;
    ReadChunk();
    at = begin_ + offset;
  }
}

int32_t RecordParser::OnHeaderLine(size_t pos) {
  const uint8_t* line = storage_.get() + begin_;
  size_t n = pos + 2 - begin_;
  if (dropLine_) {
    dropLine_ = false;
    Consume(pos);
    return 0;
  }
  if (n == 2) {
    Consume(pos);
    return StartPart();
  }
  int kind = line[0] == '-' && boundary_.size() >= 2
                 ? DelimiterKind(line, n - 2, {reinterpret_cast<const char*>(boundary_.data()), boundary_.size() - 2})
                 : 0;
  if (kind != 0) {
    // A delimiter where headers were expected: the part so far had no blank
    // line and is dropped.
    block_.clear();
    headers_.clear();
    lastHeaderKept_ = false;
    SetRecord(line, n);
    Consume(pos);
    if (kind == 1) {
      Trace("Post.GetARecord - Found Header");
      return kHeader;
    }
    state_ = State::Ended;
    closed_ = true;
    Trace("Post.GetARecord - Found EndOfRequest");
    return kEndOfRequest;
  }
  if (headers_.empty() && !lastHeaderKept_) {
    // The block browsers send is read line by line, as it stands.
    if (int32_t usual = UsualDisposition(pos)) return usual;
  }
  bool fold = IsBlank(line[0]) && !headers_.empty();
  bool room = block_.size() + n <= kBlockLimit;
  if (fold && lastHeaderKept_ && room) {
    headers_.back().second += n;
    block_.insert(block_.end(), line, line + n);
  } else if (!fold && room) {
    headers_.emplace_back(block_.size(), n);
    block_.insert(block_.end(), line, line + n);
    lastHeaderKept_ = true;
  } else {
    lastHeaderKept_ = false;  // beyond the kept part of the block
  }
  Consume(pos);
  return 0;
}

void RecordParser::NewPart() {
  partSeen_ = true;
  // A new part: its MacBinary detection starts afresh.
  macActive_ = false;
  macChecked_ = false;
  forkFlushHeld_ = false;
  dataForkEnded_ = false;
}

int32_t RecordParser::UsualDisposition(size_t pos) {
  static constexpr std::string_view kDisposition = "Content-Disposition: form-data; name=\"";
  static constexpr std::string_view kFileName = "; filename=\"";
  const char* at = reinterpret_cast<const char*>(storage_.get());
  std::string_view line(at + begin_, pos - begin_);
  if (line.size() <= kDisposition.size() || std::memcmp(line.data(), kDisposition.data(), kDisposition.size()) != 0)
    return 0;
  size_t close = kDisposition.size();
  for (; close < line.size() && line[close] != '"'; ++close)
    if (line[close] == '\\') return 0;  // an escape: the general reader decides
  if (close == line.size()) return 0;
  std::string_view name = line.substr(kDisposition.size(), close - kDisposition.size());
  std::string_view rest = line.substr(close + 1), fileName;
  bool isFile = !rest.empty();
  if (isFile) {
    if (rest.size() <= kFileName.size() || rest.compare(0, kFileName.size(), kFileName) != 0 || rest.back() != '"')
      return 0;
    fileName = rest.substr(kFileName.size(), rest.size() - kFileName.size() - 1);
    if (fileName.find('"') != npos) return 0;
  }
  // What follows must end the block: the blank line, or for a file a
  // Content-Type line and then the blank line, all in Buffer already.
  std::string_view ahead(at + pos + 2, end_ - pos - 2);
  if (ahead.size() < 2 || ahead[0] != '\r' || ahead[1] != '\n') {
    size_t typeEnd = ahead.find("\r\n");
    if (!isFile || typeEnd == npos || ahead.compare(0, 13, "Content-Type:") != 0 ||
        ahead.find('\r') != typeEnd || ahead.compare(typeEnd + 2, 2, "\r\n") != 0)
      return 0;
  }
  NewPart();
  text_ = Convert(reinterpret_cast<const uint8_t*>(name.data()), name.size());
  if (isFile) fileName_ = Convert(reinterpret_cast<const uint8_t*>(fileName.data()), fileName.size());
  else fileName_.clear();
  SetRecord(storage_.get() + begin_, pos + 2 - begin_);
  Consume(pos);
  if (isFile) {
    state_ = State::AfterFileAttachment;
    Trace("Post.GetARecord - Found FileAttachment");
    return kFileAttachment;
  }
  state_ = State::AfterFormInput;
  if (trace_ && *trace_) Trace("Post.GetARecord - Found FormInput for " + text_);
  return kFormInputRecord;
}

int32_t RecordParser::OnUsualHeader(size_t pos) {
  const uint8_t* line = storage_.get() + begin_;
  size_t n = pos + 2 - begin_;
  SetRecord(line, n);
  Consume(pos);
  if (state_ == State::AfterFileAttachment && n > 2) {
    // A file part's Content-Type, blanks and tabs dropped from its start.
    std::string text = Convert(line + 13, n - 2 - 13);
    size_t skip = text.find_first_not_of(" \t");
    text_ = skip == std::string::npos ? std::string() : text.substr(skip);
    state_ = State::AfterContentType;
    Trace("Post.GetARecord - Found ContentType");
    return kContentType;
  }
  if (state_ == State::AfterFileAttachment) {
    text_.clear();
    state_ = State::BeforeContent;
    Trace("Post.GetARecord - No ContentType");
    return kSkipRecord;
  }
  state_ = State::BeforeContent;  // the blank line after an ordinary field's disposition or a Content-Type
  Trace("Post.GetARecord - Found SkipRecord");
  return kSkipRecord;
}

int32_t RecordParser::StartPart() {
  NewPart();
  queue_.clear();
  queuePos_ = 0;
  QueueAnyBlock();
  state_ = State::BeforeContent;
  return EmitQueued();
}

void RecordParser::QueueAnyBlock() {
  auto view = [&](size_t i) {
    return std::string_view(reinterpret_cast<const char*>(block_.data()) + headers_[i].first, headers_[i].second);
  };
  auto push = [&](int32_t kind, size_t i, int what) {
    if (i == npos) queue_.push_back({kind, npos, 2, what});
    else queue_.push_back({kind, headers_[i].first, headers_[i].second, what});
  };
  std::vector<bool> used(headers_.size(), false);
  multipart::Disposition d;
  size_t disp = npos;
  std::string value;
  for (size_t i = 0; i < headers_.size() && disp == npos; ++i) {
    if (!multipart::HeaderIs(view(i), "content-disposition", value)) continue;
    used[i] = true;
    if (multipart::ParseDisposition(value, d)) disp = i;
    else push(kHeader, i, kQBrokenDisposition);  // it cannot be read
  }
  if (disp == npos) {
    // No readable disposition: a field without a name, named by its first line.
    d = multipart::Disposition();
    for (size_t i = 0; i < headers_.size() && disp == npos; ++i)
      if (!used[i]) disp = i;
    if (disp != npos) used[disp] = true;
  }
  partName_ = d.hasName ? Convert(reinterpret_cast<const uint8_t*>(d.name.data()), d.name.size()) : std::string();
  size_t type = npos;
  if (d.isFile) {
    partFileName_ = d.hasFileNameText
                        ? d.fileNameText
                        : Convert(reinterpret_cast<const uint8_t*>(d.fileName.data()), d.fileName.size());
    for (size_t i = 0; i < headers_.size() && type == npos; ++i) {
      if (used[i] || !multipart::HeaderIs(view(i), "content-type", value)) continue;
      used[i] = true;
      type = i;
      std::string text = Convert(reinterpret_cast<const uint8_t*>(value.data()), value.size());
      size_t skip = text.find_first_not_of(" \t");
      partType_ = skip == std::string::npos ? std::string() : text.substr(skip);
    }
  }
  bool blankIsDisposition = disp == npos;  // a part without any header line
  push(d.isFile ? kFileAttachment : kFormInputRecord, disp, d.isFile ? kQFile : kQField);
  if (type != npos) push(kContentType, type, kQType);
  bool first = true;
  for (size_t i = 0; i < headers_.size(); ++i) {
    if (used[i]) continue;
    if (d.isFile && type != npos) push(kContentType, i, kQOtherAfterType);
    else push(kSkipRecord, i, d.isFile && first ? kQNoType : kQOther);
    first = false;
  }
  if (!blankIsDisposition) push(kSkipRecord, npos, d.isFile && type == npos && first ? kQNoType : kQOther);
}

int32_t RecordParser::EmitQueued() {
  const Queued& q = queue_[queuePos_++];
  if (q.offset == npos) SetRecord(kLineEnd, 2);
  else SetRecord(block_.data() + q.offset, q.length);
  if (queuePos_ == queue_.size()) {
    // The last record of the block: the header storage is free for the next
    // part once this record has been used.
    headers_.clear();
    lastHeaderKept_ = false;
  }
  switch (q.textRule) {
    case kQBrokenDisposition:
      text_.clear();
      fileName_.clear();
      return kHeader;
    case kQField:
      text_ = std::move(partName_);
      fileName_.clear();
      if (trace_ && *trace_) Trace("Post.GetARecord - Found FormInput for " + text_);
      return kFormInputRecord;
    case kQFile:
      text_ = std::move(partName_);
      fileName_ = std::move(partFileName_);
      Trace("Post.GetARecord - Found FileAttachment");
      return kFileAttachment;
    case kQType:
      text_ = std::move(partType_);
      Trace("Post.GetARecord - Found ContentType");
      return kContentType;
    case kQNoType:
      text_.clear();
      Trace("Post.GetARecord - No ContentType");
      return kSkipRecord;
    case kQOtherAfterType:
      Trace("Post.GetARecord - Found SkipRecord");
      return kContentType;
    default:
      Trace("Post.GetARecord - Found SkipRecord");
      return kSkipRecord;
  }
}

bool RecordParser::DetectMacBinary(bool checkMacBinary, size_t& pos) {
  macChecked_ = true;
  macActive_ = false;
  Trace(checkMacBinary ? "Post.GetArecord - checkmacbinary = True" : "Post.GetArecord - checkmacbinary = False");
  size_t lineRel = pos == npos ? 0 : pos - begin_;
  if (end_ - begin_ < kMacHeader && checkMacBinary && remaining_ != 0) {
    if (ClientCheckDue()) ClientConnected();  // the top-up read happens in any case
    ReadChunk();
    if (pos != npos) pos = begin_ + lineRel;
  }
  if (end_ - begin_ < kMacHeader || !checkMacBinary) return false;
  const uint8_t* h = storage_.get() + begin_;
  size_t nameLen = h[1];
  bool header = h[0] == 0 && h[74] == 0 && h[82] == 0 && nameLen >= 1 && nameLen < 64 &&
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
  SetRecord(storage_.get() + begin_, pos + 2 - begin_);
  state_ = State::InData;
  Trace("Post.GetARecord - Found Data4");
  Consume(pos);
  return EmitContent(kData);
}

int32_t RecordParser::OnContent(size_t pos) {
  const uint8_t* line = storage_.get() + begin_;
  size_t n = pos + 2 - begin_;
  // One test for both delimiters; most lines fail it at their first byte.
  size_t b = boundary_.size();
  int delimiter = n >= b && b >= 2 && line[0] == boundary_[0]
                      ? DelimiterKind(line, n - 2, {reinterpret_cast<const char*>(boundary_.data()), b - 2})
                      : 0;
  if (delimiter == 1) {
    if (pendLen_ != 0) {
      SetRecord(PendingStart(), pendLen_);
      state_ = State::InData;
      Trace("Post.GetARecord - Found Data2");
      return EmitContent(kData);  // the boundary line is read again next time
    }
    SetRecord(line, n);
    state_ = State::InPartHeaders;
    block_.clear();  // the next part's header block starts
    Trace("Post.GetARecord - Found Header");
    Consume(pos);
    return kHeader;
  }
  if (delimiter == 2) {
    if (pendLen_ != 0) {
      SetRecord(PendingStart(), pendLen_);
      state_ = State::InData;
      Trace("Post.GetARecord - Found Data3");
      return EmitContent(kData);
    }
    SetRecord(line, n);
    state_ = State::Ended;
    Trace("Post.GetARecord - Found EndOfRequest");
    Consume(pos);
    return kEndOfRequest;
  }
  state_ = State::InData;
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
