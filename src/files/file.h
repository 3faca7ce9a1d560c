// File: one file on the server's disks, or a block of bytes held in memory.
// (Minimal for now: Name get and put. The full object replaces this.)
#pragma once

#include <string>

#include "automation/object.h"

namespace torvane {

class File : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create();

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

 private:
  std::string name_;
};

}  // namespace torvane
