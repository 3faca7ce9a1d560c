// RecordParser: the multipart record parser of a Post (its GetARecord).
//
// It takes the request body from the host's Request.BinaryRead in reads of the
// host's BodyReadSize (1024 bytes for the classic host, 64 KiB for the web
// server; 1024 for the first read and while a trace is on) and feeds it to its
// Buffer in chunks of at most 1024 bytes, so the records are those of 1 KiB
// reads whatever the host's read size, while the host is asked (and asked
// whether the client is still there) once per read.
// Each chunk is copied to the dump and added to the progress record as it
// enters Buffer. It hands out one typed record per call:
//   -1 EndOfRequest   1 Header (a boundary line)   2 FormInput (field name in
//   Text)   3 FileAttachment (field name in Text, client file name in FileName)
//   4 Data (content ending with CR LF; the caller holds that CR LF back and
//   writes it only when more content of the part follows)   5 ContentType
//   6 SkipRecord   7 LongData (content without a line end, used whole)
//
// Framing. The delimiter is "--" + the boundary of the request's content type
// (SetExpectedBoundary): lines before the first delimiter line (a preamble) are
// skipped, blanks after a delimiter are allowed, and the body also ends well at
// a closing delimiter without its CR LF, or right after a delimiter line when
// the client sent every byte it announced. When no delimiter is expected, or
// none turns up in the first 16 KiB, the body's first line is the boundary
// line whatever it holds.
//
// Part headers. Each part's header block is read to its blank line (at most 16
// KiB of it is kept; folded lines continue their header). Content-Disposition
// and Content-Type are found wherever they stand and in any letter case;
// parameters come in any order, quoted (\" inside stands for a double quote)
// or not, with blanks around ";" and "="; filename* (RFC 5987, UTF-8 or
// ISO-8859-1) wins over filename, and either makes the part a file. The
// records come out in one fixed order: the disposition (2 or 3), then for a
// file part its Content-Type (5, or a SkipRecord "No ContentType" when it has
// none), every other header (5 after a Content-Type, else 6), and the blank
// line (6). For the usual header blocks this is the order of the body.
//
// Memory is bounded: the Buffer and the Pending lines each stay near 10000
// bytes whatever the upload size (Pending is handed out once it passes 10000
// bytes at a read; a Buffer without a line end is cut into 9000-byte LongData
// pieces once it passes 10000). The search for CR LF resumes where the last
// one stopped, so no byte is scanned twice for a line end, whatever the body.
//
// MacBinary: a file part whose first 128 content bytes are a MacBinary header
// naming the client file (a header with an empty name never matches) loses the
// header, and the data fork length bounds what reaches the caller on every path
// (direct lines, gathered lines, LongData pieces, a header followed by a read):
// the caller receives exactly the first `fork length` bytes of the part's
// content. Once they are delivered, later content records come out empty with
// DataForkEnded() true.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "automation/variant.h"
#include "host/trace.h"

namespace torvane {

class BufferedFile;
class ProgressBar;

enum RecordKind : int32_t {
  kEndOfRequest = -1,
  kHeader = 1,
  kFormInputRecord = 2,
  kFileAttachment = 3,
  kData = 4,
  kContentType = 5,
  kSkipRecord = 6,
  kLongData = 7,
};

class RecordParser {
 public:
  // Where the parser stands in the body: what the last record handed out was,
  // and so what the next line can be.
  enum class State : int8_t {
    Ended = -1,                // the body ended (closing delimiter, or no bytes left)
    BeforeFirstDelimiter = 0,  // preamble lines until the first delimiter line
    InPartHeaders = 1,         // after a delimiter line: the part's header block
    AfterFormInput = 2,        // an ordinary field's disposition was handed out
    AfterFileAttachment = 3,   // a file field's disposition: its Content-Type may follow
    InData = 4,                // content lines ending with CR LF are handed out
    AfterContentType = 5,      // a file part's Content-Type was handed out
    BeforeContent = 6,         // the header block ended: the part's first content follows
    InLongData = 7,            // content without a line end is handed out in pieces
  };

  RecordParser();

  // Configuration by the Post and its driver.
  void SetBytesRemaining(int64_t n) { remaining_ = n; }
  int64_t BytesRemaining() const { return remaining_; }
  void SetBytesRemainingZero() { remaining_ = 0; }
  void SetCodePage(int32_t cp) { codePage_ = cp; }
  // "--" + the boundary parameter of the request's content type; empty when
  // it has none (the first line is then the boundary line).
  void SetExpectedBoundary(std::string delimiter) { delimiter_ = std::move(delimiter); }
  // The Post's channel (read at every line, so a closed log stops tracing).
  void SetTrace(const TraceChannel* channel) { trace_ = channel; }
  // Where each chunk is copied (null: no dump).
  void SetDump(BufferedFile* dump) { dump_ = dump; }
  // The progress record to update after each chunk (null: none).
  void SetProgress(ProgressBar* progress) { progress_ = progress; }
  // Content bytes of the current file so far, written with the body counter.
  void SetProgressFileBytes(int64_t n) { progressFileBytes_ = n; }
  // The bare client file name of the current file part (MacBinary test).
  void SetClientBaseName(std::string name) { clientBaseName_ = std::move(name); }

  // Reads the next record; its kind is returned.
  int32_t GetARecord(bool checkMacBinary);

  // Out-parameters of the last call. Record stays valid until the next call.
  std::span<const uint8_t> Record() const { return {recPtr_, recLen_}; }
  const std::string& Text() const { return text_; }
  const std::string& FileName() const { return fileName_; }

  // True once the body has ended well: at its closing delimiter (with or
  // without CR LF), right after a delimiter line at the end of a complete body,
  // or when the body's only line was a closing delimiter (a form without fields).
  bool SawClosingBoundary() const;
  // True when the host delivered fewer bytes than the request announced.
  bool BodyCutShort() const { return shortBody_; }
  bool MacBinaryActive() const { return macActive_; }
  bool DataForkEnded() const { return dataForkEnded_; }
  int64_t DataForkRemaining() const { return forkLeft_; }
  // Bytes held in Buffer and Pending (for the memory bound).
  size_t BufferedBytes() const { return end_ - begin_; }
  // The parser's own heap: Buffer storage (which also holds Pending), the
  // read-ahead, the records rebuilt by the fork bound, the boundary line and
  // the header block.
  size_t HeapBytes() const {
    return storageSize_ + ahead_.capacity() + out_.capacity() + boundary_.capacity() + block_.capacity();
  }

 private:
  static constexpr size_t npos = static_cast<size_t>(-1);

  // One record of a part's header block waiting to be handed out.
  struct Queued {
    int32_t kind;
    size_t offset, length;  // the record's bytes in block_ (npos: the blank line)
    int textRule;           // what the record is: its Text and trace line
  };

  void Trace(std::string_view message) const;
  std::string Convert(const uint8_t* p, size_t n) const;
  // Index of the CR of the first CR LF pair in Buffer, or npos; resumes the
  // search where the previous one stopped.
  size_t FindLineEnd();
  void Consume(size_t pos) { begin_ = pos + 2; if (scan_ < begin_) scan_ = begin_; }
  void DropFront(size_t n) { begin_ += n; if (scan_ < begin_) scan_ = begin_; }
  // Client check: false (after ending the response) when the client has gone.
  bool ClientConnected();
  // True when the next chunk needs a read from the host (the read-ahead is
  // used up): the client check runs only then, as before every host read.
  bool ClientCheckDue() const;
  // How much one read from the host asks for: the host's BodyReadSize
  // (1024 to 1 MiB), or one chunk for the first read and while tracing.
  int64_t HostReadSize();
  // Reads `count` body bytes from the host: a Bytes variant, of which the
  // first `got` count (never more than asked).
  Variant FromHost(int64_t count, size_t& got);
  // Appends bytes of the current chunk to Buffer and copies them to the dump.
  void AddChunkBytes(const uint8_t* p, size_t n);
  // Appends the next chunk (at most 1024 bytes) to Buffer, reading ahead from
  // the host when needed (dump, progress, remaining).
  void ReadChunk();
  void FirstRead();
  void Append(const uint8_t* p, size_t n);
  void SetRecord(const uint8_t* p, size_t n) { recPtr_ = p; recLen_ = n; }
  // Hands out a content record (kind 4 or 7) through the data fork bound.
  int32_t EmitContent(int32_t kind);
  void ApplyForkBound(int32_t& kind);
  // State actions; each returns the kind, or 0 to continue the loop.
  int32_t OnFirstLine(size_t pos);
  // Skips a preamble: true when a delimiter line now starts Buffer.
  bool SkipPreamble();
  int32_t OnHeaderLine(size_t pos);
  // The header block is complete: queues its records and hands out the first.
  int32_t StartPart();
  // Any block: every header read for what it is.
  void QueueAnyBlock();
  // The start of a part: its MacBinary detection and data fork start afresh.
  void NewPart();
  // The block browsers send, seen whole in Buffer at its first line: the
  // disposition with name (and filename) in that order, quoted without
  // escapes, then the blank line, or for a file a Content-Type line and the
  // blank line. Its records are then handed out line by line (states 2, 3, 5),
  // the same records the general reader makes of it. 0 for any other block.
  int32_t UsualDisposition(size_t pos);
  int32_t OnUsualHeader(size_t pos);
  int32_t EmitQueued();
  int32_t OnFirstContent(size_t pos, bool checkMacBinary, bool& noLine);
  // The MacBinary test of a part's first content; drops a matching header and
  // sets the fork length. `pos` (a line end or npos) is kept valid.
  bool DetectMacBinary(bool checkMacBinary, size_t& pos);
  int32_t OnContent(size_t pos);
  // The body has no more bytes and Buffer holds no line end: ends well (kind
  // -1 or the Pending lines first) when what is left closes the form.
  int32_t AtBodyEnd();
  // [p, p + n) without its line end is the delimiter (1), the closing
  // delimiter (2), or neither (0); blanks after either are allowed.
  static int DelimiterKind(const uint8_t* p, size_t n, std::string_view delimiter) {
    size_t d = delimiter.size();
    if (d == 0 || n < d || std::memcmp(p, delimiter.data(), d) != 0) return 0;
    int kind = 1;
    size_t i = d;
    if (n >= d + 2 && p[d] == '-' && p[d + 1] == '-') {
      kind = 2;
      i = d + 2;
    }
    for (; i < n; ++i)
      if (p[i] != ' ' && p[i] != '\t') return 0;
    return kind;
  }

  // Buffer: live bytes are storage_[begin_, end_) of storageSize_ bytes
  // (left uninitialised: only bytes written there are ever read); scan_ is
  // where the next search for a line end starts.
  std::unique_ptr<uint8_t[]> storage_;
  size_t storageSize_ = 0;
  size_t begin_ = 0, end_ = 0, scan_ = 0;
  // Pending: the gathered lines, which always lie right before begin_ in
  // storage_ ([begin_ - pendLen_, begin_)), so gathering copies nothing.
  size_t pendLen_ = 0;
  const uint8_t* PendingStart() const { return storage_.get() + begin_ - pendLen_; }
  std::vector<uint8_t> out_;  // records rebuilt by the data fork bound
  std::vector<uint8_t> boundary_;  // the delimiter line: delimiter + CR LF
  std::string delimiter_;          // expected from the content type ("" : none)

  // The current part's header block: its lines (CR LF included) one after the
  // other, each header's extent, and the records queued from them.
  std::vector<uint8_t> block_;
  std::vector<std::pair<size_t, size_t>> headers_;  // offset, length in block_
  bool lastHeaderKept_ = false;  // a folded line continues a kept header
  bool dropLine_ = false;        // the rest of an overlong header line is dropped
  std::vector<Queued> queue_;
  size_t queuePos_ = 0;
  std::string partName_, partFileName_, partType_;  // for the queued records

  const uint8_t* recPtr_ = nullptr;
  size_t recLen_ = 0;
  std::string text_, fileName_;

  bool loaded_ = false;
  bool preambleChecked_ = false;
  bool partSeen_ = false;  // a part's header block was read
  bool closed_ = false;    // the body ended well
  bool shortBody_ = false; // the host had fewer bytes than announced
  State state_ = State::BeforeFirstDelimiter;
  int64_t remaining_ = 0;
  int32_t codePage_ = 0;

  bool macActive_ = false;
  bool macChecked_ = false;      // this part's MacBinary test has run
  bool forkFlushHeld_ = false;   // the fork ended exactly after a held CR LF
  bool dataForkEnded_ = false;
  int64_t forkLeft_ = 0;
  std::string clientBaseName_;

  // Body bytes read from the host and not yet in Buffer: ahead_[aheadPos_, end).
  std::vector<uint8_t> ahead_;
  size_t aheadPos_ = 0;
  int64_t hostReadSize_ = 0;  // the host's BodyReadSize, asked once (0: not yet)

  const TraceChannel* trace_ = nullptr;
  BufferedFile* dump_ = nullptr;
  ProgressBar* progress_ = nullptr;
  int64_t progressFileBytes_ = 0;
};

}  // namespace torvane
