// Code-page conversion of request bytes to text (UTF-8), over iconv.
//
// Windows code page numbers name the encodings a page may set as Post.CodePage
// (65001 UTF-8, 1250-1258, 874, 932, 936, 949, 950, 54936, 20127, 28591-28605,
// 866, 20866, 21866 and a few more; see the table in codepage.cpp). Code page 0
// is the host's default code page (Settings.defaultCodePage, 65001 unless
// configured) and converts every byte; any other code page stops at the first
// zero byte, as a zero-terminated conversion does. Invalid or incomplete byte
// sequences become U+FFFD and the conversion goes on. An unknown code page
// fails with -2147220504 "MultiByteToWideChar call failed with Error: 87".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace torvane {

inline constexpr int32_t kConvertFailed = -2147220504;  // 0x800403E8

// Bytes in `codePage` -> UTF-8 text by the rules above. `className` names the
// source of the error ("Post").
std::string ConvertToText(std::span<const uint8_t> bytes, int32_t codePage, const char* className = "Post");

// ConvertToText for bytes that arrive in pieces: the text of all pieces fed
// and then Finish equals ConvertToText of their concatenation, while only a
// few bytes of a character split between two pieces are ever held. An unknown
// code page fails at construction, as ConvertToText fails.
class TextDecoder {
 public:
  TextDecoder(int32_t codePage, const char* className = "Post");
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;
  // Converts what it can of `bytes` and appends it to `out`.
  void Feed(std::span<const uint8_t> bytes, std::string& out);
  // The end of the bytes: converts what is left and appends it to `out`.
  void Finish(std::string& out);

 private:
  void Convert(const uint8_t* p, const uint8_t* end, std::string& out);
  int32_t codePage_ = 0;
  bool stopAtZero_ = false;
  bool stopped_ = false;
  void* cd_ = nullptr;  // iconv descriptor (none for UTF-8)
  std::vector<uint8_t> carry_;
};

// The iconv name of a Windows code page number, or nullptr when it has none.
const char* CodePageName(int32_t codePage);

}  // namespace torvane
