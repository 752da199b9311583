// A display text that a catalog document leaves to a string resource of a
// file in the installation folder.
#pragma once
#include <string>

#include "documents/xml_document.h"

namespace orvo {

// The string named by the element's "src" and "resource" attributes;
// empty when either is missing or the file or string cannot be had.
std::wstring ResourceString(const DomElement* element);

}  // namespace orvo
