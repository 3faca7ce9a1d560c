// File services over POSIX for the File object: directory entries, attribute
// bits, whole-file and chunked I/O, copy and move, temporary names, the MD5
// digest and the registration of shared objects.
//
// Every path argument is a DOS-form physical path (C:\srv\a.txt); this layer
// turns it into the Linux path right at the system call. Failures throw
// torvane::Error with the errno number and strerror text unless noted.
//
// Attribute bits (TV_FILE_ATTRIBUTES):
//   READONLY (1)   no write bit set in the mode
//   DIRECTORY (16) the inode is a directory
//   HIDDEN (2), SYSTEM (4), ARCHIVE (32), TEMPORARY (256)
//                  kept in the user.DOSATTRIB extended attribute as hex text
//                  ("0x22"), the form Samba and Wine read
//   NORMAL (128)   reported when no other bit is set
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"

namespace torvane {

constexpr int32_t kAttrReadonly = 1;
constexpr int32_t kAttrHidden = 2;
constexpr int32_t kAttrSystem = 4;
constexpr int32_t kAttrDirectory = 16;
constexpr int32_t kAttrArchive = 32;
constexpr int32_t kAttrNormal = 128;
constexpr int32_t kAttrTemporary = 256;
// The bits that live in user.DOSATTRIB.
constexpr int32_t kAttrXattrBits = kAttrHidden | kAttrSystem | kAttrArchive | kAttrTemporary;

struct PathInfo {
  bool isDirectory = false;
  int64_t size = 0;
  int64_t mtime = 0;  // Unix seconds of the last write
  int64_t mtimeNsec = 0;
  dev_t device = 0;
  ino_t inode = 0;
  bool readonly = false;  // no write bit for anyone: the READONLY attribute
};

// Looks the directory entry up (following symbolic links). False when there is
// none (or it cannot be reached); never throws.
bool StatPath(std::string_view dosPath, PathInfo& out);
// Same, but a missing entry throws the system's error (2 for ENOENT).
PathInfo StatPathOrThrow(std::string_view dosPath);
// The directory entry of an open file; false when it cannot be read.
bool StatOpenFile(int fd, PathInfo& out);
// Cuts an open file to no bytes; the system's error when that fails. Opening
// with O_TRUNC does the same, but ext4 then writes the file's data out when it
// is closed (its guard for files rewritten in place), so a file that is most
// likely empty already is opened without O_TRUNC and cut only when it is not.
void EmptyOpenFile(int fd);

// The attribute bits of the entry, as described above. Missing path: system error.
int32_t ReadAttributes(std::string_view dosPath);
// Sets the bits: READONLY by removing every write bit (or giving the owner write
// access back), the DOSATTRIB bits by writing the attribute (removed when none
// is set). DIRECTORY, NORMAL and unknown bits are ignored.
void WriteAttributes(std::string_view dosPath, int32_t value);

// An open file descriptor owned by one operation, closed on destruction.
class PosixFile {
 public:
  enum class Mode {
    Read,        // existing file, read only
    Truncate,    // created if missing, emptied: holds exactly what is written
    Append,      // created if missing, read and write, positioned after the last byte
  };
  PosixFile() = default;
  PosixFile(std::string_view dosPath, Mode mode);
  ~PosixFile();
  PosixFile(PosixFile&& other) noexcept;
  PosixFile& operator=(PosixFile&& other) noexcept;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  int64_t Length() const;
  void Seek(int64_t offset);
  // Reads up to buffer.size() bytes, fewer only at the end of the file.
  size_t Read(std::span<uint8_t> buffer);
  // Reads exactly buffer.size() bytes; a file that ends sooner fails with 62.
  void ReadExact(std::span<uint8_t> buffer);
  void Write(std::span<const uint8_t> bytes);
  void Close();

 private:
  int fd_ = -1;
};

// The whole content of a file.
Bytes ReadWholeFile(std::string_view dosPath);
// Creates or empties the file and writes `bytes`: afterwards it holds exactly them.
void WriteWholeFile(std::string_view dosPath, std::span<const uint8_t> bytes);
// Creates the file if missing and empties it.
void CreateEmptyFile(std::string_view dosPath);

// Copies a file over `to` (an existing target is replaced and holds exactly the
// source's bytes). Copying a file onto itself fails with 22 and changes nothing.
void CopyFileTo(std::string_view from, std::string_view to);
// Moves a file or folder; an existing target is never replaced (17 "File
// exists"). Across file systems a file is copied and the source removed.
void MovePath(std::string_view from, std::string_view to);
// Removes a file (not a folder).
void DeleteFileAt(std::string_view dosPath);
// Creates the file new and empty, exclusively: false (nothing touched) when
// the name exists already.
bool CreateNewFile(std::string_view dosPath);
// Renames `from` to `to` in one step, replacing what `to` names.
void ReplacePath(std::string_view from, std::string_view to);
// Swaps what the two names hold in one step (both must exist). False, with
// nothing changed, when the file system cannot (or `b` is gone).
bool ExchangePaths(std::string_view a, std::string_view b);
// The names in a folder ("." and ".." left out), in the file system's order.
std::vector<std::string> FolderNames(std::string_view dosDir);

// Creates a new, empty file with an unguessable name "prefix" + 10 random
// characters in the folder `dosDir`, exclusively (an existing file is never
// opened or reused). Returns its DOS-form path.
std::string CreateTempFileIn(std::string_view dosDir, std::string_view prefix);
// The same, kept open: returns the file descriptor (write only, closed on
// exec), its DOS-form path in `dosPath` and its directory entry in `info`.
int OpenNewTempFileIn(std::string_view dosDir, std::string_view prefix, std::string& dosPath, PathInfo& info);
// The same for a folder.
std::string CreateTempFolderIn(std::string_view dosDir, std::string_view prefix);

// MD5 (RFC 1321) through OpenSSL's EVP interface.
class Md5Digest {
 public:
  Md5Digest();
  ~Md5Digest();
  Md5Digest(const Md5Digest&) = delete;
  Md5Digest& operator=(const Md5Digest&) = delete;
  void Update(std::span<const uint8_t> bytes);
  // The 16 digest bytes as 32 upper-case hexadecimal digits.
  std::string FinalHex();

 private:
  void* ctx_;
};

// Loads the shared object at the path and calls its exported DllRegisterServer
// (int32 result, a negative value being a failure code). A failure throws the
// code as the error number: the function's own negative result, or
// 0x8007007E (-2147024770) when the object cannot be loaded and 0x8007007F
// (-2147024769) when it lacks the function, with a text that says which.
void RegisterServer(std::string_view dosPath);

}  // namespace torvane
