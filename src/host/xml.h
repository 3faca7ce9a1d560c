// The one XML renderer behind every class's ToXML.
//
// A class supplies only its root element and full property list; values are
// read through the object's own public getters (by name, through the member
// table), so getters write their trace lines as usual. A property whose getter
// fails is left out. Names are matched exactly (lower case), not trimmed; a name
// given twice renders twice; unknown names are skipped.
//
// Values are escaped (&, <, > become entities) so that a client-supplied value
// such as a file name "<script>.txt" can never break the document, and every
// character XML 1.0 cannot carry (control characters other than tab, line feed
// and carriage return, U+FFFE, U+FFFF, bytes that are not UTF-8) becomes
// U+FFFD, so the document always parses. ExtraXML is the caller's own XML and
// is inserted raw before the closing tag.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "automation/object.h"
#include "basics/escape.h"  // XmlEscape

namespace torvane {

// Renders `obj` as <root>...</root>. `properties` is the caller's list (Missing
// means "*"); `extra` is appended raw unless Missing.
std::string RenderObjectXml(Object& obj, std::string_view root, std::string_view fullList, const Variant& properties,
                            const Variant& extra);

// Renders a collection: each item's ToXML("*") in order (an item that fails
// contributes nothing), then `extra`, inside <root>...</root>.
std::string RenderCollectionXml(std::string_view root, const std::vector<Variant>& items, const Variant& extra);

// The text of a value in an element: booleans "True"/"False", numbers in decimal,
// dates in the one date form, objects through their default member.
std::string XmlValueText(const Variant& v);

}  // namespace torvane
