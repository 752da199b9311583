// Creates and deletes the Orvos' shortcuts by their requests, their states
// and the product's shortcut list.
#pragma once
#include <windows.h>

#include <string>

#include "catalog/orvo_model.h"
#include "documents/xml_document.h"

namespace orvo {

// Always 0. The shortcut list is kept as ORVO_SHORTCUT in the product's
// record of the application index at indexPath (empty: the machine's).
// Marks the master document changed when a removal must be recorded there.
UINT ConfigureShortcuts(XmlDocument& master, OrvoCatalog& catalog, const std::wstring& indexPath = std::wstring());

}  // namespace orvo
