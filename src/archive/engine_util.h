// Helpers shared by the archive engine and its format modules: the engine's
// error numbers, text encodings, wildcard matching, path splitting and a few
// small RAII holders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/error.h"
#include "basics/fdio.h"  // UniqueFd
#include "basics/utf8.h"  // IsValidUtf8

struct archive;

namespace torvane::engine {

// The engine's own failures. Numbers are failure codes of the engine
// (0x80040Axx); Archive reduces them to their low 16 bits (0x0Axx) when it
// raises them to a page. Source: "Torvane.ArchiveEngine".
namespace engine_error {
constexpr int32_t UnknownFormat = static_cast<int32_t>(0x80040A01);  // not an archive we can read
constexpr int32_t Damaged = static_cast<int32_t>(0x80040A02);        // malformed or truncated archive
constexpr int32_t NotSupported = static_cast<int32_t>(0x80040A03);   // format or feature not supported
constexpr int32_t UnsafeEntry = static_cast<int32_t>(0x80040A04);    // entry would land outside DestPath
constexpr int32_t TooLarge = static_cast<int32_t>(0x80040A05);       // extraction bound exceeded
constexpr int32_t Password = static_cast<int32_t>(0x80040A06);       // missing or wrong password
constexpr int32_t NoMatch = static_cast<int32_t>(0x80040A07);        // pattern matches nothing
constexpr int32_t BadContents = static_cast<int32_t>(0x80040A08);    // contents the format cannot hold
constexpr int32_t WriteFailed = static_cast<int32_t>(0x80040A09);    // the archive could not be written
constexpr int32_t BadType = static_cast<int32_t>(0x80040A0A);        // unknown archive type code

// Every code above with what it means (the text raised with it names the
// archive and the detail), for the reference.
struct Meaning {
  int32_t code;
  const char* name;
  const char* meaning;
};
inline constexpr Meaning kList[] = {
    {UnknownFormat, "UnknownFormat", "The file is not an archive of a format the engine reads."},
    {Damaged, "Damaged", "The archive is malformed or truncated."},
    {NotSupported, "NotSupported", "The format or one of its features is not supported."},
    {UnsafeEntry, "UnsafeEntry", "An entry would land outside the destination folder."},
    {TooLarge, "TooLarge", "Extraction would pass a size or count bound."},
    {Password, "Password", "The password is missing or wrong."},
    {NoMatch, "NoMatch", "The pattern matches no entry or file."},
    {BadContents, "BadContents", "The contents cannot be held by this format."},
    {WriteFailed, "WriteFailed", "The archive could not be written."},
    {BadType, "BadType", "The archive type code is unknown."},
};
}  // namespace engine_error

[[noreturn]] void ThrowEngine(int32_t code, std::string text);

// Turns the last error of a libarchive handle into an engine error: a system
// error number passes as ThrowErrno; otherwise `code` with libarchive's text,
// prefixed by `what` (for example "Reading a.zip: ").
[[noreturn]] void ThrowLibarchive(struct archive* a, int32_t code, std::string_view what);

// Makes UTF-8 the character set of the calling thread for libarchive's name
// conversions while it lives (the process locale stays as it is).
class Utf8Locale {
 public:
  Utf8Locale();
  ~Utf8Locale();
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  void* previous_ = nullptr;
};

// `raw` when it is valid UTF-8, else its bytes read as code page 437 (the ZIP
// default) or as Latin-1.
std::string Cp437ToUtf8(std::string_view raw);
std::string Latin1ToUtf8(std::string_view raw);
std::string NameToUtf8(std::string_view raw, bool cp437);
// UTF-8 text to Mac Roman (MacBinary names); characters without one become '_'.
std::string Utf8ToMacRoman(std::string_view text);
std::string MacRomanToUtf8(std::string_view raw);

// "*" (any run, separators included) and "?" (one character) matching,
// letter case ignored.
bool ArchiveWildcardMatch(std::string_view pattern, std::string_view text);
bool HasWildcards(std::string_view pattern);

// Splits an archive path at "/" and "\", dropping empty and "." components.
std::vector<std::string> SplitArchivePath(std::string_view path);
// True when a stored path names a place outside the extraction root: it is
// absolute ("/x", "\x", "C:x"), or one of its components is "..".
bool IsUnsafeArchivePath(std::string_view path);
std::string JoinPath(const std::vector<std::string>& parts, char separator);

// The last component of a "/"-separated path.
std::string BaseName(std::string_view path);

// Reads `n` bytes at `offset` (fewer only at the end of the file); a failure
// throws the system error.
size_t ReadFileAt(int fd, void* buffer, size_t n, int64_t offset);
// Writes all of `n` bytes to `fd`; a failure throws the system error.
void WriteFileAll(int fd, const void* data, size_t n);

}  // namespace torvane::engine
