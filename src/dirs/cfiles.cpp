#include "dirs/cfiles.h"

#include "automation/error.h"
#include "files/file.h"
#include "host/script_context.h"
#include "host/shared_members.h"

namespace torvane {

const ClassInfo& CFiles::Class() {
  using C = CFiles;
  static const ClassInfo info = ClassInfo::Make<C>(
      "cFiles",
      {
          {"Add", MemberKind::Method, {{"objFile"}, {"sKey", true}, {"iBefore", true, "0 (not given)"}, {"iAfter", true, "0 (not given)"}},
           [](C& c, Args& a) {
             auto file = a[0].as<File>();
             std::string key = a[1].isMissing() ? std::string() : a[1].toString();
             int32_t before = a[2].isMissing() ? 0 : a[2].toInt32();
             int32_t after = a[3].isMissing() ? 0 : a[3].toInt32();
             c.Add(file, key, before, after);
             return Variant();
           },
           "Adds a File, optionally under a key and before or after a position"},
          ItemMember<C>({"vntIndexKey"}, "The File at a position (from 1) or under a key", "File"),
          CountMember<C>("Number of files"),
          RemoveMember<C>("vntIndexKey", "Removes the File at a position or under a key"),
          NewEnumMember<C>("Enumerator over the files in order"),
          OnStartPageMember<C>(),
          XmlMember<C>("Every file's XML inside a files element"),
      });
  return info;
}

ObjectRef CFiles::Create() { return New(); }

std::shared_ptr<CFiles> CFiles::New() {
  auto c = std::make_shared<CFiles>();
  try {
    AttachScriptContext();
  } catch (const Error&) {
    // Outside a page there is nothing to attach; the collection works without it.
  }
  return c;
}

void CFiles::Add(const std::shared_ptr<File>& file, const std::string& key, int32_t before, int32_t after) {
  Variant item{ObjectRef(file)};
  Variant k = key.empty() ? Variant::Missing() : Variant(key);
  if (before != 0)
    items_.Add(std::move(item), k, Variant(before));
  else if (after != 0)
    items_.Add(std::move(item), k, Variant::Missing(), Variant(after));
  else
    items_.Add(std::move(item), k);
}

std::shared_ptr<File> CFiles::Item(const Variant& indexOrKey) const {
  return std::dynamic_pointer_cast<File>(items_.Item(indexOrKey).toObject());
}

std::shared_ptr<File> CFiles::At(size_t zeroBased) const {
  return std::dynamic_pointer_cast<File>(items_.At(zeroBased).toObject());
}

bool CFiles::HasKeyInOtherCase(const std::string& key) const {
  if (key.empty() || !items_.HasKey(key)) return false;
  int pos = items_.Find(Variant(key));
  return pos >= 0 && items_.KeyAt(static_cast<size_t>(pos)) != key;
}

}  // namespace torvane
