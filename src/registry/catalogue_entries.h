// Registrations of an Orvo's content with the host application's tools:
// keynote and component databases, catalogs and catalog groups of the
// catalogue browser, all under HKEY_CURRENT_USER as it stands now.
#pragma once
#include <string>

namespace orvo {

class Orvo;

// Locations are resolved for the user from the product's application-index
// record. Does nothing on a complete removal.
void ApplyCatalogueEntries(const std::wstring& userName, const std::wstring& productCode, const Orvo& orvo,
                           bool install);

}  // namespace orvo
