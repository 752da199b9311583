// The Orvos the user wants: chosen in the user interface, recorded in the
// master document, or derived from the user's language and region.
#pragma once
#include <string>

#include "catalog/orvo_model.h"
#include "documents/xml_document.h"

namespace orvo {

// The selection text (";"-separated, no trailing separator), stored.
std::wstring InitialSelection(DomElement* root, const OrvoCatalog& catalog);
std::wstring StoreSelection(const std::wstring& selection, DomElement* root);

}  // namespace orvo
