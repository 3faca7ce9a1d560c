// The text form of a stored value, shared by every back end that keeps
// values outside the process (Redis).
//
// A value is one tag letter and its payload: "e" Empty, "n" Null, "s" text,
// "h" / "i" / "l" 16 / 32 / 64-bit integer in decimal, "d" double, "t" date
// (both as the shortest text that reads back the same number), "b0" / "b1"
// boolean, "y" raw bytes, "a" array: LBOUND "," COUNT ";" then each item as
// LENGTH ":" item. A named entry (an Application or Session value) is the
// name's length, ":", the name, then the value, so one read gives both.
// Objects have no text form (the stores refuse them before).
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "automation/variant.h"

namespace torvane::server {

std::string EncodeValue(const Variant& v);
// Throws std::runtime_error on text EncodeValue never makes.
Variant DecodeValue(std::string_view text);

std::string EncodeEntry(std::string_view name, const Variant& v);
std::pair<std::string, Variant> DecodeEntry(std::string_view text);

}  // namespace torvane::server
