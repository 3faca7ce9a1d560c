// File: the in-memory content, Load and Save, the transfer to and from a
// database field (any object with ActualSize, GetChunk and AppendChunk, called
// late-bound), and Compare.
#include <algorithm>

#include "files/file.h"
#include "automation/component_errors.h"
#include "basics/utf8.h"
#include "files/file_internal.h"
#include "host/policy.h"
#include "platform/fileservices.h"

namespace torvane {


namespace {

constexpr int64_t kExportChunk = 300000;
constexpr size_t kImportChunk = 30000;
constexpr size_t kCompareStep = 30000;

constexpr const char* kImportOverflowText =
    "An overflow occurred during the File.Import Operation.  If you are using IIS 4.0 please make sure you have set "
    "the result set to use client side cursors (i.e. rs.CursorLocation = 3) before opening the result set.  Please "
    "see our Archive example for how to do this independent of the version of IIS.";

// The bytes of a chunk returned by GetChunk: a byte array as it is, text as its
// UTF-16LE code units. Null cannot become bytes (94); other values fail with 13.
// Takes the chunk by value so that a byte array is moved out, not copied.
Bytes ChunkBytes(Variant chunk) {
  Variant v = chunk.isObject() ? chunk.resolved() : std::move(chunk);
  switch (v.type()) {
    case VType::Bytes: return std::move(v.bytes());
    case VType::String: {
      Bytes out;
      AppendUtf16LE(v.str(), out);
      return out;
    }
    case VType::Null: ThrowPlatform(err::InvalidUseOfNull);
    default: ThrowPlatform(err::TypeMismatch);
  }
}

Variant CallGetChunk(Object& field, int64_t count) {
  Args args{Variant(count)};
  return field.Invoke("GetChunk", CallKind::Method, args);
}

void CallAppendChunk(Object& field, Bytes bytes) {
  Args args{Variant(std::move(bytes))};
  field.Invoke("AppendChunk", CallKind::Method, args);
}

void Check1Based(int64_t position, size_t count, size_t length) {
  if (position < 1 || static_cast<uint64_t>(position - 1) > length || count > length - static_cast<size_t>(position - 1))
    ThrowPlatform(err::SubscriptRange);
}

}  // namespace

// ---- package-internal content operations -------------------------------------------

void File::ClearContent() { content_.emplace(); }

void File::ResizeContent(int64_t upperBound, bool keepBytes) {
  if (upperBound < 0) ThrowPlatform(err::SubscriptRange);
  if (!content_) content_.emplace();
  try {
    if (!keepBytes || content_->empty()) {
      content_->assign(static_cast<size_t>(upperBound), 0);
    } else {
      content_->resize(static_cast<size_t>(upperBound), 0);
    }
  } catch (...) {
    throw CaughtError();
  }
}

void File::SetContentByte(int64_t position, uint8_t byte) {
  size_t len = content_ ? content_->size() : 0;
  Check1Based(position, 1, len);
  (*content_)[static_cast<size_t>(position - 1)] = byte;
}

void File::CopyIntoContent(int64_t position, std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  size_t len = content_ ? content_->size() : 0;
  Check1Based(position, bytes.size(), len);
  std::copy(bytes.begin(), bytes.end(), content_->begin() + (position - 1));
}

Bytes File::GetContent() const { return content_ ? *content_ : Bytes(); }

// ---- Load and Save ---------------------------------------------------------------------

void File::Load(const Variant& name) {
  try {
    if (!name.isMissing()) SetName(name.toString());
    // An empty file gives an empty content (not an error).
    content_ = ReadWholeFile(physicalPath_);
    inMemory_ = true;
    Trace("File.Load - Loaded " + name_ + " into memory.");
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.Load *** - Load of " + name_ + " into memory Failed.", e);
    throw e;
  }
}

void File::Save(const Variant& name) {
  try {
    if (!inMemory_) throw ComponentError(component_error::NotInMemory, "The file is not in memory.", "File");
    if (!name.isMissing()) name_ = name.toString();
    physicalPath_ = ResolvePath(name_, false);
    RefuseReadonly(physicalPath_);
    static const Bytes kEmpty;
    // The target holds exactly the content afterwards (a longer file is cut).
    WriteWholeFile(physicalPath_, content_ ? *content_ : kEmpty);
    inMemory_ = false;
    ReadTypeInfo();
    ReadDiskInfo();
    DropAces();
    Trace("File.Save - Saved " + name_ + " from memory.");
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.Save *** - Save of " + name_ + " from memory Failed.", e);
    throw e;
  }
}

// ---- field transfer ---------------------------------------------------------------------

void File::Export(const Variant& field, const Variant& append, const Variant& inMemory) {
  try {
    inMemory_ = inMemory.isMissing() ? false : inMemory.toBool();
    bool appendFlag = append.isNull() || append.isMissing() ? false : append.toBool();
    ObjectRef f = field.toObject();
    if (inMemory_) {
      int64_t size = f->Get("ActualSize").toInt64();
      Bytes bytes = ChunkBytes(CallGetChunk(*f, size));
      if (appendFlag && content_) {
        content_->insert(content_->end(), bytes.begin(), bytes.end());
      } else {
        content_ = std::move(bytes);
      }
      return;
    }
    RefuseReadonly(physicalPath_);
    {
      // Without Append the file holds exactly the field's bytes afterwards.
      PosixFile out(physicalPath_, appendFlag ? PosixFile::Mode::Append : PosixFile::Mode::Truncate);
      while (true) {
        Variant chunk = CallGetChunk(*f, kExportChunk);
        if (chunk.isNull()) break;
        Bytes bytes = ChunkBytes(std::move(chunk));
        // A field that answers with nothing instead of null has nothing more.
        if (bytes.empty()) break;
        out.Write(bytes);
      }
      out.Close();
    }
    ReadTypeInfo();
    ReadDiskInfo();
    DropAces();
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.Export *** - Export to File " + name_ + " Failed.", e);
    throw e;
  }
}

void File::Import(const Variant& field) {
  try {
    if (!exists_ && !inMemory_) throw ComponentError(component_error::FileMissing,
                                                     "File " + name_ + " does not exist.", "File");
    ObjectRef f = field.toObject();
    if (inMemory_) {
      CallAppendChunk(*f, content_ ? *content_ : Bytes());
      return;
    }
    PosixFile in(physicalPath_, PosixFile::Mode::Read);
    int64_t remaining = in.Length();
    while (remaining >= 1) {
      size_t chunk = remaining < static_cast<int64_t>(kImportChunk) + 1 ? static_cast<size_t>(remaining) : kImportChunk;
      Bytes bytes(chunk);
      in.ReadExact(bytes);
      CallAppendChunk(*f, std::move(bytes));
      remaining -= static_cast<int64_t>(chunk);
    }
  } catch (...) {
    Error e = CaughtError();
    if (e.number == err::Overflow) e = Error(e.number, kImportOverflowText, e.source);
    TraceFailure("***Error in File.Import *** - Import of File " + name_ + " Failed.", e);
    throw e;
  }
}

// ---- Compare ----------------------------------------------------------------------------------

bool File::Compare(const std::string& otherName) {
  try {
    if (!exists_) throw ComponentError(component_error::FileMissing, "File " + name_ + " does not exist.", "File");
    std::string other = ResolvePath(otherName, false);
    PathInfo info;
    if (!StatPath(other, info)) throw ComponentError(component_error::FileMissing,
                                                     "File " + otherName + " does not exist.", "File");
    PosixFile a(physicalPath_, PosixFile::Mode::Read);
    PosixFile b(other, PosixFile::Mode::Read);
    int64_t length = a.Length();
    if (length != b.Length()) return false;
    Bytes bufA(kCompareStep), bufB(kCompareStep);
    for (int64_t left = length; left > 0;) {
      size_t step = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(kCompareStep)));
      std::span<uint8_t> sa(bufA.data(), step), sb(bufB.data(), step);
      a.ReadExact(sa);
      b.ReadExact(sb);
      if (!std::equal(sa.begin(), sa.end(), sb.begin())) return false;
      left -= static_cast<int64_t>(step);
    }
    return true;
  } catch (...) {
    Error e = CaughtError();
    TraceFailure("***Error in File.Compare.", e);
    throw e;
  }
}

}  // namespace torvane
