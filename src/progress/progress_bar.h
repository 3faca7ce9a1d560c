// ProgressBar: meeting point of an upload page and its progress page.
//
// A progress slot is one application-store variable holding a six-element
// record (a VArray with lower bound 0):
//   0 TimerStart        seconds since local midnight when the body read began
//   1 TotalBytes        size of the request body
//   2 CurrentBytes      body bytes read so far
//   3 CurrentFile       bare client file name of the file part being received
//   4 CurrentFileBytes  content bytes of the current file received so far
//   5 TotalFileBytes    size of the current file: equal to element 4 while its
//                       part is being received, its final size once the part ended
// Counters are stored as integers (32-bit when they fit, 64-bit beyond 2 GiB).
//
// GetID hands out AppPrefix + n (n = 1..PoolSize, then round again) in one
// step of the host's store that no other page interleaves
// (Application::ReserveSlot: under the application lock, or atomically in a
// store shared by processes), so two pages never receive the same number.
// Getters read the record afresh from the store; the package-internal setters
// read, change one element and write the whole record back. The upload
// engine's per-block updates write at a bounded rate (see AddBodyBytes).
// When the store cannot be reached (kStateStoreUnavailable) the engine's
// writes are kept for later and the upload goes on; getters fail with that
// error, so a progress page can say that progress is unavailable. Reading or setting
// with an identifier that holds no record fails with 13 "Type mismatch".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "automation/object.h"

namespace torvane {

class ProgressBar : public Object {
 public:
  // Member table, slot order: PoolSize put/get, AppPrefix put/get, ProgressBarID
  // put/get, GetID, CurrentFileBytes, CurrentFile, CurrentBytes, TotalFileBytes,
  // TotalBytes, TimerStart (getters), OnStartPage. No ToXML, no TraceFile.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // A new object with the defaults (prefix "TVPROGRESSBAR", pool 500); attaches
  // the calling thread's script context (fails with 91 outside a page).
  static ObjectRef Create();
  static std::shared_ptr<ProgressBar> CreateTyped();

  // Public members.
  int32_t PoolSize() const { return poolSize_; }
  // Grows the pool only: a value not above the current one is ignored.
  void SetPoolSize(int32_t size);
  const std::string& AppPrefix() const { return appPrefix_; }
  void SetAppPrefix(std::string prefix) { appPrefix_ = std::move(prefix); }
  const std::string& ProgressBarID() const { return id_; }
  void SetProgressBarID(std::string id) { id_ = std::move(id); }
  // Reserves the next slot of this prefix's pool and writes its record.
  std::string GetID();
  int64_t CurrentFileBytes();
  std::string CurrentFile();
  int64_t CurrentBytes();
  int64_t TotalFileBytes();
  int64_t TotalBytes();
  int64_t TimerStart();

  // Package-internal setters (upload engine): each reads the record, replaces
  // one element and writes the record back.
  void SetTimerStart(int64_t v) { SetElement(0, Variant(v)); }
  void SetTotalBytes(int64_t v) { SetElement(1, Variant(v)); }
  void SetCurrentBytes(int64_t v) { SetElement(2, Variant(v)); }
  void SetCurrentFile(std::string name) { SetElement(3, Variant(std::move(name))); }
  void SetCurrentFileBytes(int64_t v) { SetElement(4, Variant(v)); }
  void SetTotalFileBytes(int64_t v) { SetElement(5, Variant(v)); }

  // Package-internal updates of the upload engine while it reads the body.
  // They change the object's own record (the upload is the one writer of
  // its slot) and write it to the store at most every kMinWriteInterval, so
  // a fast upload does not flood a shared store; FinishUpdates writes what is
  // still unwritten.
  // AddBodyBytes adds `bodyBytes` to CurrentBytes and sets elements 4 and 5
  // to `fileBytes`.
  void AddBodyBytes(int64_t bodyBytes, int64_t fileBytes);
  // A new file part begins (element 3 = name, 4 and 5 = 0).
  void StartFile(const std::string& name);
  // The current file part ended with `size` bytes (4 and 5).
  void EndFile(int64_t size);
  // The body read ended (well or not): the final record is written now.
  // Never throws: the upload's outcome does not depend on its progress.
  void FinishUpdates() noexcept;

  // The least time between two record writes of one upload.
  static constexpr std::chrono::milliseconds kMinWriteInterval{100};

 private:
  void ReadRecord();   // store -> record_ (13 when the store holds no array)
  void WriteRecord();  // record_ -> store
  // Writes the record when `force` or when kMinWriteInterval has passed since
  // the last write; else leaves it pending. A store that cannot be reached
  // (kStateStoreUnavailable) leaves it pending too, so the upload goes on.
  void Publish(bool force);
  Variant& Element(int index);
  void SetElement(int index, Variant value);
  int64_t ReadCounter(int index);

  int64_t timerStart_ = 0, totalBytes_ = 0, totalFileBytes_ = 0, currentBytes_ = 0, currentFileBytes_ = 0;
  std::string currentFile_;
  std::string id_;
  std::string appPrefix_ = "TVPROGRESSBAR";
  int32_t poolSize_ = 500;
  VArray record_;
  bool written_ = false, pending_ = false;
  std::chrono::steady_clock::time_point lastWrite_;
};

}  // namespace torvane
