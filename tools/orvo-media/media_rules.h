// The structure the installer and the shipped schemas expect of the media
// documents, checked on the parsed tree: allowed children, required and
// numeric attributes, text-only elements.
#pragma once
#include <functional>
#include <string>

#include "xml_text.h"

namespace orvo::media {

// One problem: the element's line and what is wrong.
using Report = std::function<void(unsigned line, const std::string& problem)>;

void CheckMasterStructure(const XmlElement& root, const Report& report);
void CheckPackStructure(const XmlElement& root, const Report& report);
// A Profile element and what it holds.
void CheckProfile(const XmlElement& profile, const Report& report);

// The schema named by the root's xsi:noNamespaceSchemaLocation (empty when
// absent), with the namespace declaration the attribute needs.
std::string SchemaLocation(const XmlElement& root, const Report& report);

bool IsWholeNumber(const std::string& text, bool allowNegative);

}  // namespace orvo::media
