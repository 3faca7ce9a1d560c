#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "automation/error.h"
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
  throw Error(kConvertFailed, "MultiByteToWideChar call failed with Error: 87", std::string("Torvane.") + className);
}

// Length of the valid UTF-8 sequence at p (1..4), or 0 when it is invalid or
// incomplete.
size_t Utf8SequenceLength(const uint8_t* p, const uint8_t* end) {
  uint8_t c = p[0];
  if (c < 0x80) return 1;
  size_t avail = static_cast<size_t>(end - p);
  auto cont = [&](size_t i) { return i < avail && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;   // overlong
    if (c == 0xED && p[1] >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;  // overlong
    if (c == 0xF4 && p[1] >= 0x90) return 0; // above U+10FFFF
    return 4;
  }
  return 0;
}

// UTF-8 in, UTF-8 out: valid runs are copied, each invalid byte becomes U+FFFD.
std::string FromUtf8(const uint8_t* p, const uint8_t* end) {
  std::string out;
  out.reserve(static_cast<size_t>(end - p));
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
  return out;
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

std::string FromIconv(iconv_t cd, const uint8_t* p, const uint8_t* end) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
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
    // EILSEQ: an invalid sequence; EINVAL: an incomplete one at the end.
    out += kReplacement;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state (stateful encodings such as ISO-2022-JP).
  char* o = buf;
  size_t outLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &o, &outLeft);
  out.append(buf, static_cast<size_t>(o - buf));
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

}  // namespace torvane
