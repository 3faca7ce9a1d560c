// The format modules behind the archive engine.
//
// Each archive format is one module (format_zip.cpp, format_tar.cpp, ...) that
// implements FormatModule; the one registration table (engine_formats.cpp)
// lists them. The engine never knows a format's layout: it asks the modules to
// bid on a file's first bytes (the highest bid reads it), pulls entries out of
// a FormatReader and pushes entries into a FormatWriter.
//
// Paths in EntryMeta are UTF-8 with "/" separators (a module converts its
// format's own encoding); a folder's path has no trailing separator.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "automation/variant.h"

namespace torvane::engine {

enum class EntryKind { File, Folder, Symlink, Hardlink, Special };

// The Finder data and resource fork a Macintosh file carries beside its data.
struct MacForks {
  uint8_t finderInfo[16] = {};  // type, creator, flags, location, folder
  Bytes resourceFork;
};

// What the engine knows of one entry. Sizes of -1 are unknown.
struct EntryMeta {
  std::string path;
  EntryKind kind = EntryKind::File;
  int64_t compressedSize = -1;
  int64_t uncompressedSize = -1;
  bool sizeExact = true;       // false: uncompressedSize is only a hint (GZIP's size modulo 2^32)
  int64_t mtime = 0;           // Unix seconds
  uint32_t mode = 0644;        // permission bits
  std::string linkTarget;      // Symlink: the target text; Hardlink: the linked entry's path
  bool encrypted = false;
  bool stored = false;         // ZIP: kept without compression
  std::shared_ptr<MacForks> mac;  // MacBinary only
};

// Pulls the entries of one archive in stored order.
class FormatReader {
 public:
  virtual ~FormatReader() = default;
  // The next entry's metadata; false after the last one.
  virtual bool Next(EntryMeta& meta) = 0;
  // Up to `n` bytes of the current entry's data; 0 at its end.
  virtual size_t Read(uint8_t* buffer, size_t n) = 0;
};

// Encryption a writer applies to every file entry it writes.
struct WriteOptions {
  std::string password;  // empty: no encryption
  int32_t methodKind = 0;  // one of the module's EncryptionKinds()
};

// Pushes entries into a new archive file. Begin announces a file entry's
// uncompressedSize exactly; Write delivers that many bytes; End closes it.
class FormatWriter {
 public:
  virtual ~FormatWriter() = default;
  virtual void Begin(const EntryMeta& meta) = 0;
  virtual void Write(const uint8_t* data, size_t n) = 0;
  virtual void End() = 0;
  // Completes the archive; a writer destroyed without Finish leaves a partial file.
  virtual void Finish() = 0;
};

// The seven 32-bit fields of the engine's info record.
struct EngineInfo {
  int32_t recordSize = 28;   // field 1
  int32_t folders = 0;       // field 2: non-zero when the format has folders
  int32_t type = 0;          // field 3: the TV_ARCHIVE_TYPE code
  int32_t reserved[3] = {};  // fields 4 to 6
  int32_t capabilities = 0;  // field 7: the low byte holds the capability bits
};
constexpr int32_t kCapEmptyArchives = 0x20;
constexpr int32_t kCapUncompressedSize = 0x80;

// The first bytes of a file and its size, for bidding.
struct FileProbe {
  std::span<const uint8_t> head;  // up to 4096 bytes
  int64_t size = 0;
};

// An open archive file the engine keeps for the life of an engine object.
struct SourceFile {
  int fd = -1;
  std::string nativePath;
  int64_t size = 0;
  std::string dosPath;  // as the page's side knows it, for error texts
};

class FormatModule {
 public:
  virtual ~FormatModule() = default;
  virtual int32_t Type() const = 0;
  virtual const char* Name() const = 0;  // "ZIP", "TAR", ...
  virtual bool HasFolders() const = 0;
  virtual int32_t Capabilities() const = 0;
  // Encryption method kinds the module writes (ZIP: 1 traditional, 2 AES-128,
  // 4 AES-256); empty when the format cannot encrypt.
  virtual std::vector<int32_t> EncryptionKinds() const { return {}; }
  // Confidence (0 = not this format) that the probed file is of this format.
  virtual int Bid(const FileProbe& probe) const = 0;
  // A reader over the source from its first byte. `password` decrypts entries.
  virtual std::unique_ptr<FormatReader> OpenReader(const SourceFile& source, const std::string& password) const = 0;
  // A writer into the new file at `nativePath`. Modules that cannot write fail.
  virtual std::unique_ptr<FormatWriter> OpenWriter(const std::string& nativePath, const WriteOptions& options) const = 0;
  // Checks the entries a save would write (counts, kinds); throws when the
  // format cannot hold them. `files` counts file entries, `others` the rest.
  virtual void CheckContents(size_t files, size_t others) const {}
  // True when the writer stores a file's Finder data and resource fork, which
  // the engine then reads from an AppleDouble companion ("._name") on disk.
  virtual bool WantsMacForks() const { return false; }
  // False for formats the engine reads but cannot write.
  virtual bool Writable() const { return true; }
};

// The registration table: every format module, in bidding order.
const std::vector<const FormatModule*>& FormatModules();
// The module of a type code, or nullptr.
const FormatModule* FormatByType(int32_t type);

}  // namespace torvane::engine
