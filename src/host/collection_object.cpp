#include "host/collection_object.h"

#include "host/xml.h"

namespace torvane {

ObjectRef CollectionObject::NewEnum() const { return std::make_shared<Enumerator>(items_.Snapshot()); }

std::string CollectionObject::ToXML(const Variant&, const Variant& extra) const {
  return RenderCollectionXml(xmlElement_, items_.Snapshot(), extra);
}

}  // namespace torvane
