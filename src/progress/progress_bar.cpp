#include "progress/progress_bar.h"

#include "automation/member_binding.h"
#include "basics/hresult.h"
#include "host/script_context.h"
#include "host/shared_members.h"

namespace torvane {

namespace {
VArray FreshRecord() {
  VArray r;
  r.lbound = 0;
  r.items = {Variant(int32_t{0}), Variant(int32_t{0}), Variant(int32_t{0}), Variant(std::string()),
             Variant(int32_t{0}), Variant(int32_t{0})};
  return r;
}

}  // namespace

const ClassInfo& ProgressBar::Class() {
  using P = ProgressBar;
  static const ClassInfo info = ClassInfo::Make<P>(
      "ProgressBar",
      {
          {"PoolSize", MemberKind::Let, {{"value"}}, Setter(&P::SetPoolSize),
           "Grows the number of progress records (never shrinks)"},
          {"PoolSize", MemberKind::Get, {}, Getter(&P::PoolSize),
           "Number of progress records in the pool", "Long"},
          {"AppPrefix", MemberKind::Let, {{"value"}}, Setter(&P::SetAppPrefix),
           "Sets the prefix of the application-store names of the records"},
          {"AppPrefix", MemberKind::Get, {}, Getter(&P::AppPrefix),
           "Prefix of the application-store names of the records", "String"},
          {"ProgressBarID", MemberKind::Let, {{"value"}},
           Setter(&P::SetProgressBarID),
           "Selects the progress record this object reads"},
          {"ProgressBarID", MemberKind::Get, {}, Getter(&P::ProgressBarID),
           "The selected progress record", "String"},
          {"GetID", MemberKind::Method, {}, [](P& p, Args&) { return Variant(p.GetID()); },
           "Reserves the next progress record and returns its identifier", "String"},
          {"CurrentFileBytes", MemberKind::Get, {}, Getter(&P::CurrentFileBytes),
           "Bytes received of the current file", "Long"},
          {"CurrentFile", MemberKind::Get, {}, Getter(&P::CurrentFile),
           "Name of the file being received", "String"},
          {"CurrentBytes", MemberKind::Get, {}, Getter(&P::CurrentBytes),
           "Bytes of the request body read so far", "Long"},
          {"TotalFileBytes", MemberKind::Get, {}, Getter(&P::TotalFileBytes),
           "Size of the current file", "Long"},
          {"TotalBytes", MemberKind::Get, {}, Getter(&P::TotalBytes),
           "Total size of the request body", "Long"},
          {"TimerStart", MemberKind::Get, {}, [](P& p, Args&) { return Variant(p.TimerStart()); },
           "When the upload began: seconds since local midnight", "Long"},
          OnStartPageMember<P>("Called by the host when the page starts; binds the application store"),
      });
  return info;
}

std::shared_ptr<ProgressBar> ProgressBar::CreateTyped() {
  auto p = std::make_shared<ProgressBar>();
  p->record_ = FreshRecord();
  AttachScriptContext();
  return p;
}

ObjectRef ProgressBar::Create() { return CreateTyped(); }

void ProgressBar::SetPoolSize(int32_t size) {
  if (size > poolSize_) poolSize_ = size;
}

std::string ProgressBar::GetID() {
  Application& app = ScriptApplication();
  int64_t counter = app.ReserveSlot(appPrefix_ + "POOLSIZE", poolSize_, appPrefix_ + "NEXT");
  id_ = appPrefix_ + std::to_string(counter);
  if (record_.items.size() != 6) record_ = FreshRecord();
  Element(1) = Variant(int32_t{0});
  totalBytes_ = 0;
  WriteRecord();
  return id_;
}

void ProgressBar::ReadRecord() {
  Variant v = ScriptApplication().Value(id_);
  const VArray& arr = v.array();  // 13 when the slot holds no record
  if (arr.items.size() < 6) ThrowPlatform(err::SubscriptRange);
  record_ = arr;
}

void ProgressBar::WriteRecord() { ScriptApplication().SetValue(id_, Variant(record_)); }

Variant& ProgressBar::Element(int index) {
  // Elements are counted from the array's lower bound.
  return record_.items[static_cast<size_t>(index)];
}

int64_t ProgressBar::ReadCounter(int index) {
  ReadRecord();
  return Element(index).toInt64();
}

void ProgressBar::SetElement(int index, Variant value) {
  switch (index) {
    case 0: timerStart_ = value.toInt64(); break;
    case 1: totalBytes_ = value.toInt64(); break;
    case 2: currentBytes_ = value.toInt64(); break;
    case 3: currentFile_ = value.toString(); break;
    case 4: currentFileBytes_ = value.toInt64(); break;
    case 5: totalFileBytes_ = value.toInt64(); break;
  }
  try {
    ReadRecord();
  } catch (const Error& e) {
    if (e.number != kStateStoreUnavailable) throw;
    // The store is away: the upload goes on and the record is written whole
    // once the store answers again.
    if (record_.items.size() != 6) record_ = FreshRecord();
  }
  Element(index) = std::move(value);
  Publish(true);
}

void ProgressBar::Publish(bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && written_ && now - lastWrite_ < kMinWriteInterval) {
    pending_ = true;
    return;
  }
  written_ = true;
  lastWrite_ = now;
  try {
    WriteRecord();
    pending_ = false;
  } catch (const Error& e) {
    if (e.number != kStateStoreUnavailable) throw;
    pending_ = true;  // tried again at the next due write, and at the end
  }
}

void ProgressBar::FinishUpdates() noexcept {
  if (!pending_) return;
  try {
    Publish(true);
  } catch (...) {
    // The upload's outcome does not depend on its progress record.
  }
}

int64_t ProgressBar::CurrentFileBytes() { return currentFileBytes_ = ReadCounter(4); }
std::string ProgressBar::CurrentFile() {
  ReadRecord();
  return currentFile_ = Element(3).toString();
}
int64_t ProgressBar::CurrentBytes() { return currentBytes_ = ReadCounter(2); }
int64_t ProgressBar::TotalFileBytes() { return totalFileBytes_ = ReadCounter(5); }
int64_t ProgressBar::TotalBytes() { return totalBytes_ = ReadCounter(1); }
int64_t ProgressBar::TimerStart() { return timerStart_ = ReadCounter(0); }

void ProgressBar::AddBodyBytes(int64_t bodyBytes, int64_t fileBytes) {
  if (record_.items.size() != 6) record_ = FreshRecord();
  // The record as last read or written here: the upload owns its slot.
  currentBytes_ = Element(2).toInt64() + bodyBytes;
  currentFileBytes_ = totalFileBytes_ = fileBytes;
  Element(2) = Variant(currentBytes_);
  Element(4) = Variant(fileBytes);
  Element(5) = Variant(fileBytes);
  Publish(false);
}

void ProgressBar::StartFile(const std::string& name) {
  if (record_.items.size() != 6) record_ = FreshRecord();
  currentFile_ = name;
  currentFileBytes_ = totalFileBytes_ = 0;
  Element(3) = Variant(name);
  Element(4) = Variant(int32_t{0});
  Element(5) = Variant(int32_t{0});
  Publish(false);
}

void ProgressBar::EndFile(int64_t size) {
  if (record_.items.size() != 6) record_ = FreshRecord();
  currentFileBytes_ = totalFileBytes_ = size;
  Element(4) = Variant(size);
  Element(5) = Variant(size);
  Publish(false);
}

}  // namespace torvane
