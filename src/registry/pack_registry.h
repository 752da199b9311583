// The Registry section of an Orvo's pack document, as the registry entries
// read it: loaded afresh, elements found at any depth in document order.
#pragma once
#include <string>
#include <vector>

#include "documents/xml_document.h"

namespace orvo {

class Orvo;

// nullptr when the document does not load or has no Registry child.
DomElement* LoadPackRegistry(const Orvo& orvo, XmlDocument& pack);
// All text below the element, as written.
std::wstring TextContent(const DomElement* element);
// Whether the element carries the attribute (an empty one included).
bool HasAttribute(const DomElement* element, const wchar_t* name);

}  // namespace orvo
