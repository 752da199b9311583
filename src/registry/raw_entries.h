// Plain registry values an Orvo's pack document declares under HKLM, HKCR
// and HKCU elements, written on install and removed on removal.
#pragma once
#include <string>

namespace orvo {

class Orvo;

// The user pass handles the HKCU elements (HKEY_CURRENT_USER as it stands
// now); the machine pass the HKCR and HKLM ones.
void ApplyRawEntries(const std::wstring& userName, const Orvo& orvo, bool install, bool userPass);

}  // namespace orvo
