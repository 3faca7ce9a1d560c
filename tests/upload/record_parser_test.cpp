#include "upload/record_parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/settings.h"
#include "progress/progress_bar.h"
#include "support/memhost.h"
#include "support/thrown_error.h"
#include "upload/buffered_file.h"

namespace torvane {
namespace {

using test::ThrownError;
using ::testing::HasSubstr;
using ::testing::Not;

using test::MemHost;
using test::TempDir;

const std::string kB = "--XyZ";  // boundary line without its CR LF

struct Rec {
  int32_t kind;
  std::string bytes, text, fileName;
  bool forkEnded;
  bool operator==(const Rec&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rec& r) {
  return os << "{" << r.kind << ", " << ::testing::PrintToString(r.bytes) << ", " << r.text << ", " << r.fileName
            << "}";
}

std::string Field(const std::string& name, const std::string& value) {
  return kB + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}
std::string FilePart(const std::string& name, const std::string& file, const std::string& content,
                     const std::string& type = "application/octet-stream") {
  return kB + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
         "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n";
}
std::string Close() { return kB + "--\r\n"; }

// Runs the parser over `body` until EndOfRequest (or `limit` records).
struct ParseRun {
  MemHost host;
  RecordParser parser;
  std::vector<Rec> records;

  explicit ParseRun(const std::string& body, bool checkMac = true, int32_t codePage = 0,
               const std::string& clientBase = "", const std::string& delimiter = "", int64_t announced = -1,
               int64_t hostReadSize = 1024) {
    host.SetMultipart(body);
    host.request->bodyReadSize = hostReadSize;
    MemHost::Scope scope(host);
    parser.SetBytesRemaining(announced >= 0 ? announced : static_cast<int64_t>(body.size()));
    parser.SetCodePage(codePage);
    parser.SetExpectedBoundary(delimiter);
    for (int i = 0; i < 100000; ++i) {
      int32_t kind = parser.GetARecord(checkMac);
      auto rec = parser.Record();
      records.push_back({kind, std::string(rec.begin(), rec.end()), parser.Text(), parser.FileName(),
                         parser.DataForkEnded()});
      if (kind == kFileAttachment) parser.SetClientBaseName(clientBase.empty() ? parser.FileName() : clientBase);
      if (kind == kEndOfRequest) break;
    }
  }
  std::vector<int32_t> Kinds() const {
    std::vector<int32_t> k;
    for (auto& r : records) k.push_back(r.kind);
    return k;
  }
};

// The content the upload driver stores for the part whose records start at
// index `from`: each Data record's final CR LF is held back and written only
// when more content of the part follows; LongData is used whole; records after
// the data fork's end are dropped.
std::string ContentOf(const std::vector<Rec>& recs, size_t from) {
  std::string out;
  bool held = false;
  for (size_t i = from; i < recs.size(); ++i) {
    const Rec& r = recs[i];
    if (r.kind != kData && r.kind != kLongData) break;
    if (!r.forkEnded) {
      if (held) out += "\r\n";
      if (r.kind == kData) out += r.bytes.substr(0, r.bytes.size() >= 2 ? r.bytes.size() - 2 : 0);
      else out += r.bytes;
    }
    held = r.kind == kData;
  }
  return out;
}

size_t FirstContent(const std::vector<Rec>& recs, size_t after = 0) {
  for (size_t i = after; i < recs.size(); ++i)
    if (recs[i].kind == kData || recs[i].kind == kLongData) return i;
  return recs.size();
}

TEST(RecordParser, OrdinaryFieldAndFileStream) {
  ParseRun run(Field("note", "hello") + FilePart("up", "C:\\docs\\a.txt", "abc", "text/plain") + Close());
  std::vector<Rec> want = {
      {kHeader, kB + "\r\n", "", "", false},
      {kFormInputRecord, "Content-Disposition: form-data; name=\"note\"\r\n", "note", "", false},
      {kSkipRecord, "\r\n", "note", "", false},
      {kData, "hello\r\n", "note", "", false},
      {kHeader, kB + "\r\n", "note", "", false},
      {kFileAttachment, "Content-Disposition: form-data; name=\"up\"; filename=\"C:\\docs\\a.txt\"\r\n", "up",
       "C:\\docs\\a.txt", false},
      {kContentType, "Content-Type: text/plain\r\n", "text/plain", "C:\\docs\\a.txt", false},
      {kSkipRecord, "\r\n", "text/plain", "C:\\docs\\a.txt", false},
      {kData, "abc\r\n", "text/plain", "C:\\docs\\a.txt", false},
      {kEndOfRequest, Close(), "text/plain", "C:\\docs\\a.txt", false},
  };
  EXPECT_EQ(run.records, want);
  EXPECT_TRUE(run.parser.SawClosingBoundary());
}

TEST(RecordParser, FirstLineIsTheBoundaryWhateverTheContentTypeSays) {
  // The content type names another boundary; the body's first line wins.
  std::string body = "AnyFirstLine\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\nAnyFirstLine--\r\n";
  ParseRun run(body);
  EXPECT_EQ(run.Kinds(), (std::vector<int32_t>{kHeader, kFormInputRecord, kSkipRecord, kData, kEndOfRequest}));
  EXPECT_EQ(run.records[3].bytes, "v\r\n");
}

TEST(RecordParser, DispositionLineCases) {
  struct Case {
    std::string line;
    int32_t kind;
    std::string text, fileName;
  };
  std::vector<Case> cases = {
      // Parameters in any order, in any letter case, quoted or not, with
      // blanks around ";" and "=".
      {"Content-Disposition: form-data; filename=\"a.txt\"; name=\"f\"", kFileAttachment, "f", "a.txt"},
      {"Content-Disposition: form-data; name=\"f\"; filename=\"\"", kFileAttachment, "f", ""},
      {"Content-Disposition: form-data; name=\"f\"; FILENAME=\"Up.TXT\"", kFileAttachment, "f", "Up.TXT"},
      {"Content-Disposition: form-data; name=\"f\" ; filename=\"x\"", kFileAttachment, "f", "x"},
      {"Content-Disposition: form-data; name=\"broken", kHeader, "", ""},
      {"Content-Disposition: form-data; name=f", kFormInputRecord, "f", ""},
      {"content-disposition:form-data;NAME = f ;  filename =  a b.txt ", kFileAttachment, "f", "a b.txt"},
      {"Content-Disposition: form-data; name=\"f\"; other=\"x\"", kFormInputRecord, "f", ""},
      // A quote inside a quoted value: \" when another quote closes the value;
      // other backslashes (client paths) are bytes of the value.
      {"Content-Disposition: form-data; name=\"say \\\"hi\\\"\"; filename=\"a\\\"b.txt\"", kFileAttachment,
       "say \"hi\"", "a\"b.txt"},
      {"Content-Disposition: form-data; name=\"f\"; filename=\"C:\\dir\\a.txt\"", kFileAttachment, "f",
       "C:\\dir\\a.txt"},
      // filename* (RFC 5987) wins over filename and alone makes a file.
      {"Content-Disposition: form-data; name=\"f\"; filename=\"EURO rates.txt\"; "
       "filename*=UTF-8''%e2%82%ac%20rates.txt",
       kFileAttachment, "f", "\xE2\x82\xAC rates.txt"},
      {"Content-Disposition: form-data; name=\"f\"; filename*=utf-8'en'na%C3%AFve.txt", kFileAttachment, "f",
       "na\xC3\xAFve.txt"},
      {"Content-Disposition: form-data; name=\"f\"; filename*=ISO-8859-1''caf%E9.txt", kFileAttachment, "f",
       "caf\xC3\xA9.txt"},
      {"Content-Disposition: form-data; name=\"f\"; filename*=KOI8-R''x.txt; filename=\"plain.txt\"",
       kFileAttachment, "f", "plain.txt"},
  };
  for (const auto& c : cases) {
    ParseRun run(kB + "\r\n" + c.line + "\r\n\r\nv\r\n" + Close());
    ASSERT_GE(run.records.size(), 2u);
    EXPECT_EQ(run.records[1].kind, c.kind) << c.line;
    EXPECT_EQ(run.records[1].text, c.text) << c.line;
    EXPECT_EQ(run.records[1].fileName, c.fileName) << c.line;
  }
  // A single quote leaves the state at 1: the next line is read as a disposition line.
  ParseRun single(kB + "\r\nContent-Disposition: form-data; name=\"x\r\nContent-Disposition: form-data; name=\"y\"\r\n\r\n"
                  "v\r\n" + Close());
  EXPECT_EQ(single.Kinds(), (std::vector<int32_t>{kHeader, kHeader, kFormInputRecord, kSkipRecord, kData, kEndOfRequest}));
  EXPECT_EQ(single.records[2].text, "y");
}

TEST(RecordParser, ExtraHeaderOfAnOrdinaryPartIsSkippedToItsBlankLine) {
  // curl -F 'note=hello;type=text/plain': the value is "hello", not CR LF + "hello".
  ParseRun run(kB + "\r\nContent-Disposition: form-data; name=\"f\"\r\nContent-Type: text/plain\r\n\r\nvalue\r\n" + Close());
  EXPECT_EQ(run.Kinds(),
            (std::vector<int32_t>{kHeader, kFormInputRecord, kSkipRecord, kSkipRecord, kData, kEndOfRequest}));
  EXPECT_EQ(run.records[2].bytes, "Content-Type: text/plain\r\n");
  EXPECT_EQ(run.records[3].bytes, "\r\n");
  EXPECT_EQ(run.records[4].bytes, "value\r\n");
}

// The content of the file part "f" and whether the body ended well, for a body
// parsed with the delimiter the content type names.
struct Framed {
  std::vector<int32_t> kinds;
  std::string content;
  bool closed;
};
Framed ParseFramed(const std::string& body, int64_t announced = -1) {
  ParseRun run(body, true, 0, "", kB, announced);
  size_t fileAt = 0;
  for (size_t i = 0; i < run.records.size(); ++i)
    if (run.records[i].kind == kFileAttachment) fileAt = i;
  return {run.Kinds(), fileAt ? ContentOf(run.records, FirstContent(run.records, fileAt)) : "",
          run.parser.SawClosingBoundary()};
}

TEST(RecordParser, HeaderBlocksInAnyOrderKeepTheContentExact) {
  std::string disp = "Content-Disposition: form-data; name=\"f\"; filename=\"a.bin\"\r\n";
  struct Case {
    const char* what;
    std::string headers;
    std::string type;  // Text of the ContentType record ("" : none)
  };
  std::vector<Case> cases = {
      {"a header before Content-Type", disp + "Content-Transfer-Encoding: binary\r\nContent-Type: image/png\r\n",
       "image/png"},
      {"Content-Type first", "Content-Type: image/png\r\n" + disp, "image/png"},
      {"a proxy's header first", "X-Forwarded-Note: yes\r\n" + disp, ""},
      {"names in any letter case", "CONTENT-TYPE:image/png\r\ncontent-disposition: form-data; filename=\"a.bin\"; "
                                    "name=\"f\"\r\n", "image/png"},
      {"a folded header", "Content-Disposition: form-data;\r\n name=\"f\";\r\n\tfilename=\"a.bin\"\r\n", ""},
  };
  std::string content = "first line\r\n-second\r\n";
  for (const auto& c : cases) {
    ParseRun run(kB + "\r\n" + c.headers + "\r\n" + content + "\r\n" + Close());
    ASSERT_GE(run.records.size(), 3u) << c.what;
    EXPECT_EQ(run.records[1].kind, kFileAttachment) << c.what;
    EXPECT_EQ(run.records[1].text, "f") << c.what;
    EXPECT_EQ(run.records[1].fileName, "a.bin") << c.what;
    std::string type;
    for (const auto& r : run.records)
      if (r.kind == kContentType) type = r.text;
    EXPECT_EQ(type, c.type) << c.what;
    EXPECT_EQ(ContentOf(run.records, FirstContent(run.records)), content) << c.what;
    EXPECT_TRUE(run.parser.SawClosingBoundary()) << c.what;
  }
}

// The usual header block is read line by line when it lies whole in the
// Buffer, by the general reader when a read cuts it: the records are the same.
TEST(RecordParser, UsualBlocksGiveTheSameRecordsWhereverTheReadsCut) {
  std::string parts = FilePart("up", "C:\\a\\b.txt", "content", "text/plain") + FilePart("n", "n.bin", "x", "") +
                      Field("note", "hi");
  auto tail = [](const ParseRun& run) {
    std::vector<Rec> out;
    size_t i = 0;
    while (i < run.records.size() && !(run.records[i].kind == kFileAttachment && run.records[i].text == "up")) ++i;
    for (; i < run.records.size(); ++i) out.push_back(run.records[i]);
    return out;
  };
  ParseRun reference(Field("pad", "p") + parts + Close());
  auto want = tail(reference);
  ASSERT_GE(want.size(), 10u);
  for (size_t pad = 900; pad < 1100; ++pad) {
    ParseRun run(Field("pad", std::string(pad, 'p')) + parts + Close());
    EXPECT_EQ(tail(run), want) << pad;
  }
}

TEST(RecordParser, FramingOfTheBody) {
  std::string part = kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.bin\"\r\n\r\ndata";
  struct Case {
    const char* what;
    std::string body;
    bool closed;
    std::string content;
  };
  std::vector<Case> cases = {
      {"a preamble before the first delimiter", "This is a preamble.\r\n--XyZnot\r\n" + part + "\r\n" + Close(),
       true, "data"},
      {"blanks after the delimiters", kB + " \t\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.bin\""
                                      "\r\n\r\ndata\r\n" + kB + "-- \r\n", true, "data"},
      {"a closing delimiter without CR LF", part + "\r\n" + kB + "--", true, "data"},
      {"an epilogue after the closing delimiter", part + "\r\n" + Close() + "epilogue\r\nmore", true, "data"},
      {"the body ends after a delimiter line", part + "\r\n" + kB + "\r\n", true, "data"},
      {"the body ends with a delimiter", part + "\r\n" + kB, true, "data"},
      {"a delimiter with something after it", part + "\r\n" + kB + "-", false, ""},
      {"the body ends inside the content", part, false, ""},
  };
  for (const auto& c : cases) {
    Framed f = ParseFramed(c.body);
    EXPECT_EQ(f.closed, c.closed) << c.what;
    if (c.closed) {
      EXPECT_EQ(f.content, c.content) << c.what;
    }
    EXPECT_EQ(f.kinds.back(), kEndOfRequest) << c.what;
  }
  // A form of no parts: the closing delimiter first, with or without an epilogue.
  for (std::string body : {Close(), Close() + "epilogue\r\n", "preamble\r\n" + Close(), kB + "--"}) {
    Framed f = ParseFramed(body);
    EXPECT_TRUE(f.closed) << body;
    EXPECT_EQ(std::count(f.kinds.begin(), f.kinds.end(), kFormInputRecord), 0) << body;
  }
}

TEST(RecordParser, ABodyCutShortNeverEndsWell) {
  // The client announced more than it sent: a cut right after a delimiter, or
  // after the closing delimiter's hyphens, is no end of the form.
  std::string part = kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.bin\"\r\n\r\ndata\r\n";
  for (std::string body : {part + kB + "\r\n", part + kB, part + kB + "--"}) {
    Framed f = ParseFramed(body, static_cast<int64_t>(body.size()) + 100);
    EXPECT_FALSE(f.closed) << body;
  }
}

TEST(RecordParser, WithoutAMatchingDelimiterTheFirstLineIsTheBoundary) {
  // The content type names a boundary the body never uses.
  std::string body = "AnyFirstLine\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\nAnyFirstLine--\r\n";
  ParseRun run(body, true, 0, "", "--SomethingElse");
  EXPECT_EQ(run.Kinds(), (std::vector<int32_t>{kHeader, kFormInputRecord, kSkipRecord, kData, kEndOfRequest}));
  EXPECT_EQ(run.records[0].bytes, "AnyFirstLine\r\n");
  EXPECT_TRUE(run.parser.SawClosingBoundary());
}

TEST(RecordParser, OverlongHeaderBlocksAreBoundedAndDropped) {
  // 100 KiB of header lines (and one 50 KiB line) before the disposition: the
  // parser keeps at most 16 KiB of them and the part is still read.
  std::string headers;
  for (int i = 0; i < 1000; ++i) headers += "X-Filler-" + std::to_string(i) + ": " + std::string(90, 'h') + "\r\n";
  headers += "X-Long: " + std::string(50000, 'l') + "\r\n";
  std::string body = kB + "\r\n" + headers + "\r\nvalue\r\n" + Field("g", "w") + Close();
  ParseRun run(body);
  EXPECT_TRUE(run.parser.SawClosingBoundary());
  EXPECT_LE(run.parser.HeapBytes(), 200u * 1024);
  bool sawG = false;
  for (const auto& r : run.records) {
    if (r.kind == kFormInputRecord && r.text == "g") sawG = true;
    EXPECT_LE(r.bytes.size(), 17000u);
  }
  EXPECT_TRUE(sawG);
}

TEST(RecordParser, FileHeaderCases) {
  // Content-Type in any letter case, blanks and tabs stripped from its start;
  // further header lines stay in state 5 until the blank line.
  ParseRun run(kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\ncontent-TYPE: \t image/png \r\n"
               "X-Extra: 1\r\n\r\ndata\r\n" + Close());
  EXPECT_EQ(run.Kinds(), (std::vector<int32_t>{kHeader, kFileAttachment, kContentType, kContentType, kSkipRecord,
                                              kData, kEndOfRequest}));
  EXPECT_EQ(run.records[2].text, "image/png ");
  EXPECT_EQ(run.records[3].text, "image/png ");  // a skipped header keeps Text
  // No Content-Type: the line is skipped with an empty Text.
  ParseRun none(kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\n\r\ndata\r\n" + Close());
  EXPECT_EQ(none.Kinds(), (std::vector<int32_t>{kHeader, kFileAttachment, kSkipRecord, kData, kEndOfRequest}));
  EXPECT_EQ(none.records[2].text, "");
}

TEST(RecordParser, ContentLinesAndTheBoundaryRule) {
  struct Case {
    std::string content;
    std::vector<std::string> data;
  };
  std::vector<Case> cases = {
      {"abc", {"abc\r\n"}},
      {"", {"\r\n"}},
      // The first line comes alone; later lines whose next line cannot be a
      // boundary are gathered into one record.
      {"one\r\ntwo\r\nthree\r\nfour", {"one\r\n", "two\r\nthree\r\nfour\r\n"}},
      // A next line starting with the boundary's first byte splits the record.
      {"one\r\ntwo\r\n-three", {"one\r\n", "two\r\n", "-three\r\n"}},
      // A line that only looks like the boundary is content.
      {kB + "x\r\n" + kB + "-", {kB + "x\r\n", kB + "-\r\n"}},
  };
  for (const auto& c : cases) {
    ParseRun run(FilePart("f", "a.bin", c.content) + Close());
    std::vector<std::string> data;
    for (const auto& r : run.records)
      if (r.kind == kData || r.kind == kLongData) data.push_back(r.bytes);
    EXPECT_EQ(data, c.data) << c.content;
    EXPECT_EQ(ContentOf(run.records, FirstContent(run.records)), c.content);
  }
}

TEST(RecordParser, LongLineArrivesAsLongDataPiecesThenData) {
  std::string content(25000, 'q');
  ParseRun run(FilePart("f", "a.bin", content) + Close());
  size_t first = FirstContent(run.records);
  ASSERT_LT(first + 2, run.records.size());
  EXPECT_EQ(run.records[first].kind, kLongData);
  EXPECT_EQ(run.records[first].bytes.size(), 9000u);
  EXPECT_EQ(run.records[first + 1].kind, kLongData);
  EXPECT_EQ(run.records[first + 1].bytes.size(), 9000u);
  EXPECT_EQ(run.records[first + 2].kind, kData);
  EXPECT_EQ(run.records[first + 2].bytes, std::string(7000, 'q') + "\r\n");
  EXPECT_EQ(ContentOf(run.records, first), content);
}

TEST(RecordParser, EveryByteOfManyLinesArrivesInOrder) {
  // Lines of many lengths, some starting with '-', CRs without LF, a CR at
  // chunk ends: the content must come back byte for byte.
  std::string content;
  uint32_t seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245 + 12345;
    int len = static_cast<int>((seed >> 16) % 300);
    for (int k = 0; k < len; ++k) content += static_cast<char>('a' + (k * 7 + i) % 26);
    if (seed & 0x100) content += '\r';
    if (seed & 0x200) content += '-';
    content += "\r\n";
  }
  content += std::string(30000, 'z') + "\r\r\n\r\n";
  ParseRun run(Field("a", "x") + FilePart("f", "a.bin", content) + Field("b", "y") + Close());
  size_t fileStart = 0;
  for (size_t i = 0; i < run.records.size(); ++i)
    if (run.records[i].kind == kFileAttachment) fileStart = i;
  EXPECT_EQ(ContentOf(run.records, FirstContent(run.records, fileStart)), content);
  EXPECT_TRUE(run.parser.SawClosingBoundary());
  // Bounded memory: Pending and Buffer stay near 10000 bytes.
  EXPECT_LE(run.parser.HeapBytes(), 160u * 1024);
}

TEST(RecordParser, ReadsInChunksOfAtMost1024AndCopiesThemToTheDump) {
  TempDir dir;
  std::string body = FilePart("f", "a.bin", std::string(5000, 'x')) + Close();
  MemHost host;
  host.SetMultipart(body);
  MemHost::Scope scope(host);
  BufferedFile dump(dir / "dump.bin");
  RecordParser parser;
  parser.SetBytesRemaining(static_cast<int64_t>(body.size()));
  parser.SetDump(&dump);
  while (parser.GetARecord(true) != kEndOfRequest) {
  }
  dump.Close();
  EXPECT_EQ(test::ReadFile(dir / "dump.bin"), body);
  ASSERT_FALSE(host.request->readSizes.empty());
  for (size_t i = 0; i + 1 < host.request->readSizes.size(); ++i) EXPECT_EQ(host.request->readSizes[i], 1024);
  int64_t last = static_cast<int64_t>(body.size() % 1024);
  EXPECT_EQ(host.request->readSizes.back(), last == 0 ? 1024 : last);
  int64_t asked = 0;
  for (int64_t n : host.request->readSizes) asked += n;
  EXPECT_EQ(asked, static_cast<int64_t>(body.size()));
  EXPECT_EQ(parser.BytesRemaining(), 0);
}

TEST(RecordParser, ProgressCountsBodyBytesAfterEveryChunk) {
  std::string body = FilePart("f", "a.bin", std::string(3000, 'x')) + Close();
  MemHost host;
  host.SetMultipart(body);
  MemHost::Scope scope(host);
  auto bar = ProgressBar::CreateTyped();
  std::string id = bar->GetID();
  RecordParser parser;
  parser.SetBytesRemaining(static_cast<int64_t>(body.size()));
  parser.SetProgress(bar.get());
  parser.GetARecord(true);
  auto reader = ProgressBar::CreateTyped();
  reader->SetProgressBarID(id);
  EXPECT_EQ(reader->CurrentBytes(), 1024);
  while (parser.GetARecord(true) != kEndOfRequest) {
  }
  // Later chunks within one write interval are written when the body read
  // ends (the upload driver's last step).
  bar->FinishUpdates();
  EXPECT_EQ(reader->CurrentBytes(), static_cast<int64_t>(body.size()));
}

TEST(RecordParser, FailingFirstReadRaises9013AndTracesIt) {
  for (int mode = 0; mode < 2; ++mode) {
    TempDir dir;
    MemHost host;
    host.SetMultipart(Field("a", "b") + Close());
    if (mode == 0) host.request->failBinaryRead = true;
    else host.request->binaryReadNotBytes = true;
    MemHost::Scope scope(host);
    TraceChannel ch = OpenTraceLog(dir / "t.log");
    RecordParser parser;
    parser.SetTrace(&ch);
    parser.SetBytesRemaining(10);
    Error e = ThrownError([&] { parser.GetARecord(true); });
    EXPECT_EQ(e.number, 9013);
    EXPECT_EQ(e.description,
              "Post.GetFormInputs - Error reading Post Stream.  The common cause for this is referencing the "
              "Request.Form collection which is not allowed.");
    auto lines = test::TraceMessages(dir / "t.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Post.GetARecord - Processing Record");
    EXPECT_EQ(lines[2].substr(0, 46), "Post.GetFormInputs - Error reading Post Stream");
  }
}

TEST(RecordParser, EmptyBodyIsTheEndAtOnce) {
  MemHost host;
  host.SetMultipart("");
  MemHost::Scope scope(host);
  RecordParser parser;
  EXPECT_EQ(parser.GetARecord(true), kEndOfRequest);
  EXPECT_TRUE(host.request->readSizes.empty());
}

TEST(RecordParser, BodyWithoutClosingBoundaryEndsUndelivered) {
  std::string body = FilePart("f", "a.bin", "complete line\r\npartial");
  body.resize(body.size() - 2);  // the client went away before the last line end
  ParseRun run(body);
  EXPECT_EQ(run.records.back().kind, kEndOfRequest);
  EXPECT_FALSE(run.parser.SawClosingBoundary());
  for (const auto& r : run.records) EXPECT_THAT(r.bytes, Not(HasSubstr("partial")));
}

TEST(RecordParser, ClientGoneEndsTheResponseAndTheParse) {
  // The client is asked before every host read: with 1 KiB reads it is gone
  // after a few of them; with 64 KiB reads (the web server) it is noticed at
  // the next host read, the bytes already read being parsed first.
  struct Case {
    int64_t readSize;
    int checks;       // the client is gone after this many checks
    size_t reads;     // host reads made by then (0: not pinned)
  };
  for (const Case& c : {Case{1024, 3, 0}, Case{65536, 2, 2}}) {
    std::string body = FilePart("f", "a.bin", std::string(400000, 'x')) + Close();
    MemHost host;
    host.SetMultipart(body);
    host.request->bodyReadSize = c.readSize;
    host.response->disconnectAfterChecks = c.checks;
    MemHost::Scope scope(host);
    RecordParser parser;
    parser.SetBytesRemaining(static_cast<int64_t>(body.size()));
    int guard = 0;
    while (parser.GetARecord(true) != kEndOfRequest && ++guard < 1000) {
    }
    EXPECT_TRUE(host.response->ended) << c.readSize;
    EXPECT_FALSE(parser.SawClosingBoundary()) << c.readSize;
    EXPECT_GT(parser.BytesRemaining(), 0) << c.readSize;
    if (c.reads != 0) {
      EXPECT_EQ(host.request->readSizes.size(), c.reads);
      EXPECT_EQ(parser.BytesRemaining(), static_cast<int64_t>(body.size()) - 1024 - 65536);
    }
  }
}

TEST(RecordParser, TraceLinesOfASmallPost) {
  TempDir dir;
  std::string body = Field("note", "hi") + FilePart("up", "a.txt", "x") + Close();
  MemHost host;
  host.SetMultipart(body);
  MemHost::Scope scope(host);
  TraceChannel ch = OpenTraceLog(dir / "t.log");
  RecordParser parser;
  parser.SetTrace(&ch);
  parser.SetBytesRemaining(static_cast<int64_t>(body.size()));
  while (parser.GetARecord(false) != kEndOfRequest) {
  }
  std::vector<std::string> want = {"TraceLog Opened"};
  auto rec = [&](const std::string& found) {
    want.push_back("Post.GetARecord - Processing Record");
    want.push_back(found);
  };
  rec("Post.GetARecord - Found Header");
  rec("Post.GetARecord - Found FormInput for note");
  rec("Post.GetARecord - Found SkipRecord");
  want.push_back("Post.GetARecord - Processing Record");
  want.push_back("Post.GetArecord - checkmacbinary = False");
  want.push_back("Post.GetARecord - Found Data4");
  rec("Post.GetARecord - Found Header");
  rec("Post.GetARecord - Found FileAttachment");
  rec("Post.GetARecord - Found ContentType");
  rec("Post.GetARecord - Found SkipRecord");
  want.push_back("Post.GetARecord - Processing Record");
  want.push_back("Post.GetArecord - checkmacbinary = False");
  want.push_back("Post.GetARecord - Found Data4");
  rec("Post.GetARecord - Found EndOfRequest");
  EXPECT_EQ(test::TraceMessages(dir / "t.log"), want);
}

// A MacBinary header naming `name` with the given data fork length.
std::string MacHeader(const std::string& name, uint32_t forkLength) {
  std::string h(128, '\0');
  h[1] = static_cast<char>(name.size());
  h.replace(2, name.size(), name);
  h[83] = static_cast<char>(forkLength >> 24);
  h[84] = static_cast<char>(forkLength >> 16);
  h[85] = static_cast<char>(forkLength >> 8);
  h[86] = static_cast<char>(forkLength);
  return h;
}

std::string MacContent(const std::string& body, const std::string& clientBase, bool check = true) {
  ParseRun run(FilePart("f", clientBase, body) + Close(), check);
  size_t from = FirstContent(run.records);
  return ContentOf(run.records, from);
}

TEST(RecordParser, MacBinaryHeaderAndDataFork) {
  // The header names the file in another letter case; fork length 5.
  std::string after = "Hello, world\r\nmore resource bytes";
  EXPECT_EQ(MacContent(MacHeader("REPORT.TXT", 5) + after, "report.txt"), "Hello");
  // CheckMacBinary false: delivered whole, header included.
  EXPECT_EQ(MacContent(MacHeader("report.txt", 5) + after, "report.txt", false), MacHeader("report.txt", 5) + after);
  // A header naming another file is content.
  EXPECT_EQ(MacContent(MacHeader("other.txt", 5) + after, "report.txt"), MacHeader("other.txt", 5) + after);
}

TEST(RecordParser, DataForkBoundsEveryPath) {
  struct Case {
    const char* what;
    std::string fork;  // the data fork bytes
    std::string rest;  // what follows the fork in the part
  };
  std::string lines;
  for (int i = 0; i < 400; ++i) lines += "line " + std::to_string(i) + "\r\n";
  std::vector<Case> cases = {
      {"gathered lines", lines.substr(0, 3001), "TAIL\r\nresource fork\r\nmore"},
      {"long data pieces", std::string(20000, 'L'), std::string(20000, 'R')},
      {"fork ends at a line end", "abc\r\n", "-resource\r\nx"},
      {"fork ends between CR and LF", "abc\r", "\nresource"},
      {"fork longer than the part", "short\r\nbody", ""},
      {"no line end after the header", std::string(3000, 'N'), std::string(3000, 'M') + "\r\nend"},
      {"empty fork", "", "everything else\r\n"},
  };
  for (const auto& c : cases) {
    uint32_t forkLength = static_cast<uint32_t>(c.fork.size());
    if (std::string(c.what) == "fork longer than the part") forkLength = 1000;
    EXPECT_EQ(MacContent(MacHeader("a.bin", forkLength) + c.fork + c.rest, "a.bin"), c.fork) << c.what;
  }
}

TEST(RecordParser, AHeaderWithAnEmptyNameNeverMatchesAnEmptyClientName) {
  // A client name ".." has an empty base name; a header naming nothing must
  // not match it (it would store 200 zero bytes as an empty file).
  std::string zeros(200, '\0');
  std::string body = FilePart("f", "..", zeros) + Close();
  MemHost host;
  host.SetMultipart(body);
  MemHost::Scope scope(host);
  RecordParser parser;
  parser.SetBytesRemaining(static_cast<int64_t>(body.size()));
  std::vector<Rec> records;
  for (int32_t kind = 0; kind != kEndOfRequest;) {
    kind = parser.GetARecord(true);
    if (kind == kFileAttachment) parser.SetClientBaseName("");  // what the driver makes of ".."
    auto rec = parser.Record();
    records.push_back({kind, std::string(rec.begin(), rec.end()), parser.Text(), parser.FileName(),
                       parser.DataForkEnded()});
  }
  EXPECT_FALSE(parser.MacBinaryActive());
  EXPECT_EQ(ContentOf(records, FirstContent(records)), zeros);
}

TEST(RecordParser, CodePageNamesAndFailures) {
  std::string utf8Name = "gr\xC3\xBC\xC3\x9F";  // "grüß"
  ParseRun utf8(Field(utf8Name, "v") + Close(), true, 65001);
  EXPECT_EQ(utf8.records[1].text, utf8Name);
  ParseRun latin(Field("gr\xFC\xDF", "v") + Close(), true, 1252);
  EXPECT_EQ(latin.records[1].text, utf8Name);
  MemHost host;
  std::string body = Field("f", "v") + Close();
  host.SetMultipart(body);
  MemHost::Scope scope(host);
  RecordParser parser;
  parser.SetCodePage(12345);
  parser.SetBytesRemaining(static_cast<int64_t>(body.size()));
  EXPECT_EQ(parser.GetARecord(true), kHeader);
  Error e = test::ThrownError([&] { parser.GetARecord(true); });
  EXPECT_EQ(e.number, -2147220504);
  EXPECT_EQ(e.description, "MultiByteToWideChar call failed with Error: 87");
}


// Where two record lists part: "" when they are the same, else the index
// and the two records' kinds and sizes (whole records are too long to print).
std::string FirstDifference(const std::vector<Rec>& a, const std::vector<Rec>& b) {
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i < a.size() && i < b.size() && a[i] == b[i]) continue;
    auto what = [&](const std::vector<Rec>& r) {
      return i < r.size() ? std::to_string(r[i].kind) + "/" + std::to_string(r[i].bytes.size()) : std::string("none");
    };
    return "record " + std::to_string(i) + ": " + what(a) + " vs " + what(b);
  }
  return "";
}

// A host that hands over more than 1024 bytes per read (the web server gives
// 64 KiB) gets exactly the records of 1 KiB reads: Buffer still fills 1024
// bytes at a time, so every cut (Pending past 10000 bytes, LongData pieces,
// the MacBinary top-up, a CR at a chunk's end) falls where it always did.
TEST(RecordParser, RecordsDoNotDependOnTheHostsReadSize) {
  std::string binary(200000, '\0');
  uint32_t seed = 7;
  for (auto& c : binary) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 23);
  }
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += std::string(static_cast<size_t>(i % 97), 'l') + "\r\n";
  std::string crs(70000, '\r');
  std::string fields;
  for (int i = 0; i < 300; ++i) fields += Field("f" + std::to_string(i), std::string(static_cast<size_t>(i), 'v'));
  struct Case {
    const char* what;
    std::string body;
  };
  std::vector<Case> cases = {
      {"random bytes", FilePart("f", "a.bin", binary) + Close()},
      {"short lines", FilePart("f", "a.txt", lines) + Close()},
      {"CR flood", FilePart("f", "a.bin", crs) + Close()},
      {"CR LF flood", FilePart("f", "a.bin", std::string(100000, '\n') + std::string(50000, '\r')) + Close()},
      {"no line end", FilePart("f", "a.bin", std::string(150000, 'n')) + Close()},
      {"MacBinary fork", FilePart("f", "a.bin", MacHeader("a.bin", 90000) + binary) + Close()},
      {"many fields", fields + Close()},
      {"cut short", (FilePart("f", "a.bin", binary) + Close()).substr(0, 150001)},
  };
  for (const auto& c : cases) {
    int64_t announced = c.what == std::string("cut short") ? 300000 : -1;
    ParseRun classic(c.body, true, 0, "", "", announced);
    for (int64_t size : {int64_t{65536}, int64_t{5000}}) {
      ParseRun ahead(c.body, true, 0, "", "", announced, size);
      EXPECT_EQ(FirstDifference(ahead.records, classic.records), "") << c.what << " " << size;
      EXPECT_EQ(ahead.parser.SawClosingBoundary(), classic.parser.SawClosingBoundary()) << c.what;
      EXPECT_EQ(ahead.parser.BodyCutShort(), classic.parser.BodyCutShort()) << c.what;
    }
  }
}

TEST(RecordParser, ReadsAheadInTheHostsSizeAndCopiesEveryByteToTheDump) {
  // A host that prefers 64 KiB reads: the first read is one chunk (a body
  // that fails at once fails where it always did), the next ones 64 KiB, the
  // last what is left; with a trace on, every read is one chunk.
  std::string body = FilePart("f", "a.bin", std::string(150 * 1024, 'x')) + Close();
  const int64_t size = static_cast<int64_t>(body.size());
  for (bool traced : {false, true}) {
    TempDir dir;
    MemHost host;
    host.SetMultipart(body);
    host.request->bodyReadSize = 65536;
    MemHost::Scope scope(host);
    TraceChannel ch = traced ? OpenTraceLog(dir / "t.log") : TraceChannel();
    BufferedFile dump(dir / "dump.bin");
    RecordParser parser;
    parser.SetBytesRemaining(size);
    parser.SetDump(&dump);
    parser.SetTrace(&ch);
    while (parser.GetARecord(true) != kEndOfRequest) {
    }
    dump.Close();
    EXPECT_EQ(test::ReadFile(dir / "dump.bin"), body) << traced;
    EXPECT_EQ(parser.BytesRemaining(), 0) << traced;
    const auto& sizes = host.request->readSizes;
    if (traced) {
      EXPECT_EQ(sizes.size(), static_cast<size_t>((size + 1023) / 1024));
      EXPECT_EQ(*std::max_element(sizes.begin(), sizes.end()), 1024);
    } else {
      EXPECT_EQ(sizes, (std::vector<int64_t>{1024, 65536, 65536, size - 1024 - 2 * 65536}));
      // The client is asked about once per host read, not once per 1 KiB.
      EXPECT_LE(host.response->connectedChecks, 5);
    }
  }
}

}  // namespace
}  // namespace torvane
