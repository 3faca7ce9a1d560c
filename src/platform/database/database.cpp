#include "platform/database/database.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "basics/ascii.h"
#include "automation/error.h"
#include "basics/fdio.h"
#include "basics/utf8.h"

namespace torvane::db {

std::shared_ptr<Session> OpenSqlite(const std::string& target);
std::shared_ptr<Session> OpenPostgres(const std::string& target);

const std::vector<Module>& Modules() {
  static const std::vector<Module> table = {
      {"sqlite", "SQLite", &OpenSqlite},
      {"postgresql", "PostgreSQL", &OpenPostgres},
  };
  return table;
}

const Module* ModuleFor(std::string_view scheme) {
  for (const auto& m : Modules())
    if (EqualsNoCase(m.scheme, scheme)) return &m;
  return nullptr;
}

std::string QuoteIdent(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

namespace {
bool Has(const std::string& upper, const char* part) { return upper.find(part) != std::string::npos; }
}  // namespace

int32_t TypeFromDeclared(std::string_view declared, int64_t& definedSize) {
  std::string upper = AsciiUpper(declared);
  definedSize = kLongSize;
  // A size in parentheses: VARCHAR(40), CHAR(8).
  size_t open = upper.find('(');
  if (open != std::string::npos) {
    long n = std::strtol(upper.c_str() + open + 1, nullptr, 10);
    if (n > 0) definedSize = n;
  }
  // The affinity rules of SQLite, in their order, with ADO's names for them.
  if (Has(upper, "INT")) {
    definedSize = 8;
    return adBigInt;
  }
  if (Has(upper, "CHAR") || Has(upper, "CLOB") || Has(upper, "TEXT"))
    return definedSize == kLongSize ? adLongVarWChar : adVarWChar;
  if (upper.empty() || Has(upper, "BLOB")) {
    definedSize = kLongSize;
    return adLongVarBinary;
  }
  if (Has(upper, "REAL") || Has(upper, "FLOA") || Has(upper, "DOUB")) {
    definedSize = 8;
    return adDouble;
  }
  if (Has(upper, "BOOL")) {
    definedSize = 2;
    return adBoolean;
  }
  if (Has(upper, "DATE") || Has(upper, "TIME")) {
    definedSize = 16;
    return adDBTimeStamp;
  }
  definedSize = 19;
  return adNumeric;
}

// ---- Spool ---------------------------------------------------------------------

namespace {
std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}
}  // namespace

Spool::Spool() {
  std::string dir = TempFolder();
  fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    // File systems without O_TMPFILE: a named file, unlinked at once.
    std::string name = dir + "/~tvspoolXXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) ThrowErrno(errno);
    ::unlink(name.c_str());
  }
}

Spool::~Spool() {
  if (fd_ >= 0) ::close(fd_);
}

void Spool::Append(std::span<const uint8_t> bytes) {
  if (!PwriteAll(fd_, bytes.data(), bytes.size(), size_)) ThrowErrno(errno);
  size_ += static_cast<int64_t>(bytes.size());
}

size_t Spool::ReadAt(int64_t offset, std::span<uint8_t> buffer) const {
  if (offset >= size_) return 0;
  size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), size_ - offset));
  ssize_t got = PreadFull(fd_, buffer.data(), want, offset);
  if (got < 0) ThrowErrno(errno);
  return static_cast<size_t>(got);
}

Bytes Spool::ReadAll() const {
  Bytes out(static_cast<size_t>(size_));
  size_t got = ReadAt(0, out);
  out.resize(got);
  return out;
}

}  // namespace torvane::db
