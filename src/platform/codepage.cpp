#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "automation/error.h"
#include "basics/utf8.h"
#include "platform/settings.h"

namespace torvane {

namespace {

struct CodePageEntry {
  int32_t number;
  const char* iconvName;
};

// Windows code page numbers and the iconv encodings that match them.
constexpr CodePageEntry kCodePages[] = {
    {65001, "UTF-8"},        {65000, "UTF-7"},        {20127, "ASCII"},        {437, "CP437"},
    {737, "CP737"},          {775, "CP775"},          {850, "CP850"},          {852, "CP852"},
    {855, "CP855"},          {857, "CP857"},          {860, "CP860"},          {861, "CP861"},
    {862, "CP862"},          {863, "CP863"},          {864, "CP864"},          {865, "CP865"},
    {866, "CP866"},          {869, "CP869"},          {874, "CP874"},          {932, "CP932"},
    {936, "CP936"},          {949, "CP949"},          {950, "CP950"},          {1250, "CP1250"},
    {1251, "CP1251"},        {1252, "CP1252"},        {1253, "CP1253"},        {1254, "CP1254"},
    {1255, "CP1255"},        {1256, "CP1256"},        {1257, "CP1257"},        {1258, "CP1258"},
    {1361, "JOHAB"},         {10000, "MACINTOSH"},    {20866, "KOI8-R"},       {21866, "KOI8-U"},
    {20932, "EUC-JP"},       {51932, "EUC-JP"},       {20936, "GB2312"},       {51936, "GB2312"},
    {51949, "EUC-KR"},       {50220, "ISO-2022-JP"},  {52936, "HZ"},           {54936, "GB18030"},
    {28591, "ISO-8859-1"},   {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"},   {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},   {28596, "ISO-8859-6"},   {28597, "ISO-8859-7"},   {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},   {28600, "ISO-8859-10"},  {28601, "ISO-8859-11"},  {28603, "ISO-8859-13"},
    {28604, "ISO-8859-14"},  {28605, "ISO-8859-15"},  {38598, "ISO-8859-8"},
};

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

[[noreturn]] void ThrowUnknown(const char* className) {
  // 87 is the system's "invalid parameter" code that the conversion reports.
  throw ComponentError(kConvertFailed, "MultiByteToWideChar call failed with Error: 87", className);
}

// UTF-8 in, UTF-8 out, appended to `out`: valid runs are copied, each invalid
// byte becomes U+FFFD.
[[gnu::always_inline]] inline void AppendFromUtf8(std::string& out, const uint8_t* p, const uint8_t* end) {
  while (p < end) {
    const uint8_t* run = p;
    while (p < end && *p < 0x80) ++p;  // ASCII fast path
    out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
    if (p >= end) break;
    size_t len = Utf8SequenceLength(p, end);
    if (len == 0) {
      out += kReplacement;
      ++p;
    } else {
      out.append(reinterpret_cast<const char*>(p), len);
      p += len;
    }
  }
}

std::string FromUtf8(const uint8_t* p, const uint8_t* end) {
  std::string out;
  out.reserve(static_cast<size_t>(end - p));
  AppendFromUtf8(out, p, end);
  return out;
}

// Where an incomplete UTF-8 sequence at the end of [p, end) starts (one that
// more bytes could still complete), or `end` when there is none.
const uint8_t* IncompleteUtf8Tail(const uint8_t* p, const uint8_t* end) {
  for (const uint8_t* q = end; q > p && end - q < 3;) {
    --q;
    uint8_t c = *q;
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    size_t need = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (need == 0 || static_cast<size_t>(end - q) >= need) return end;
    for (const uint8_t* r = q + 1; r < end; ++r)
      if ((*r & 0xC0) != 0x80) return end;
    if (end - q >= 2) {
      uint8_t d = q[1];
      if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
        return end;
    }
    return q;
  }
  return end;
}

// One iconv descriptor per encoding and thread, reset before each use and
// closed when the thread ends.
struct DescriptorCache {
  std::unordered_map<std::string, iconv_t> open;
  ~DescriptorCache() {
    for (auto& [name, cd] : open)
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
};

iconv_t Descriptor(const char* name) {
  thread_local DescriptorCache cache;
  auto it = cache.open.find(name);
  if (it != cache.open.end()) return it->second;
  iconv_t cd = iconv_open("UTF-8", name);
  cache.open.emplace(name, cd);
  return cd;
}

// Converts [p, end) with `cd` (keeping its shift state) and appends to `out`:
// an invalid sequence becomes U+FFFD and the conversion goes on after its first
// byte. With `last` false an incomplete sequence at the end stays unconverted
// and `p` is left at its start; with `last` true it is invalid like any other.
void AppendFromIconv(iconv_t cd, std::string& out, const uint8_t*& p, const uint8_t* end, bool last) {
  size_t inLeft = static_cast<size_t>(end - p);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
  char buf[4096];
  while (inLeft > 0) {
    char* o = buf;
    size_t outLeft = sizeof buf;
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    out.append(buf, static_cast<size_t>(o - buf));
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno == EINVAL && !last) break;  // incomplete: the next piece completes it
    // EILSEQ: an invalid sequence; EINVAL: an incomplete one at the end.
    out += kReplacement;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  p = reinterpret_cast<const uint8_t*>(in);
}

// Writes out the shift state of a stateful encoding (ISO-2022-JP...).
void FlushIconv(iconv_t cd, std::string& out) {
  char buf[64];
  char* o = buf;
  size_t outLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &o, &outLeft);
  out.append(buf, static_cast<size_t>(o - buf));
}

std::string FromIconv(iconv_t cd, const uint8_t* p, const uint8_t* end) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  AppendFromIconv(cd, out, p, end, true);
  FlushIconv(cd, out);
  return out;
}

}  // namespace

const char* CodePageName(int32_t codePage) {
  for (const auto& e : kCodePages)
    if (e.number == codePage) return e.iconvName;
  return nullptr;
}

std::string ConvertToText(std::span<const uint8_t> bytes, int32_t codePage, const char* className) {
  static const uint8_t kNothing = 0;
  const uint8_t* p = bytes.empty() ? &kNothing : bytes.data();
  const uint8_t* end = p + bytes.size();
  int32_t cp = codePage;
  if (cp == 0) {
    cp = CurrentSettings().defaultCodePage;  // all bytes, zeros included
  } else if (const void* zero = bytes.empty() ? nullptr : std::memchr(p, 0, bytes.size())) {
    end = static_cast<const uint8_t*>(zero);  // zero-terminated input
  }
  const char* name = CodePageName(cp);
  if (!name) ThrowUnknown(className);
  if (cp == 65001) return FromUtf8(p, end);
  iconv_t cd = Descriptor(name);
  if (cd == reinterpret_cast<iconv_t>(-1)) ThrowUnknown(className);
  return FromIconv(cd, p, end);
}

// ---- TextDecoder ----------------------------------------------------------------

TextDecoder::TextDecoder(int32_t codePage, const char* className) {
  codePage_ = codePage == 0 ? CurrentSettings().defaultCodePage : codePage;
  stopAtZero_ = codePage != 0;
  const char* name = CodePageName(codePage_);
  if (!name) ThrowUnknown(className);
  if (codePage_ != 65001) {
    // A descriptor of its own: the shift state must last from piece to piece.
    iconv_t cd = iconv_open("UTF-8", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) ThrowUnknown(className);
    cd_ = cd;
  }
}

TextDecoder::~TextDecoder() {
  if (cd_) iconv_close(static_cast<iconv_t>(cd_));
}

void TextDecoder::Feed(std::span<const uint8_t> bytes, std::string& out) {
  if (stopped_ || bytes.empty()) return;
  const uint8_t* p = bytes.data();
  const uint8_t* end = p + bytes.size();
  if (stopAtZero_) {
    if (const void* zero = std::memchr(p, 0, bytes.size())) {
      end = static_cast<const uint8_t*>(zero);  // nothing after a zero byte counts
      stopped_ = true;
    }
  }
  if (!carry_.empty()) {
    // The bytes of a character begun in the last piece come first.
    carry_.insert(carry_.end(), p, end);
    std::vector<uint8_t> joined;
    joined.swap(carry_);
    Convert(joined.data(), joined.data() + joined.size(), out);
    return;
  }
  Convert(p, end, out);
}

void TextDecoder::Convert(const uint8_t* p, const uint8_t* end, std::string& out) {
  if (!cd_) {
    const uint8_t* tail = stopped_ ? end : IncompleteUtf8Tail(p, end);
    AppendFromUtf8(out, p, tail);
    carry_.assign(tail, end);
    return;
  }
  AppendFromIconv(static_cast<iconv_t>(cd_), out, p, end, stopped_);
  carry_.assign(p, end);
}

void TextDecoder::Finish(std::string& out) {
  const uint8_t* p = carry_.data();
  const uint8_t* end = p + carry_.size();
  if (!cd_) {
    AppendFromUtf8(out, p, end);
  } else {
    AppendFromIconv(static_cast<iconv_t>(cd_), out, p, end, true);
    FlushIconv(static_cast<iconv_t>(cd_), out);
  }
  carry_.clear();
  stopped_ = true;
}

}  // namespace torvane
