// The kind of installation that is running, as a word of bits.
#pragma once
#include <string>

namespace orvo {

enum InstallTypeBits : unsigned {
  IT_REINSTALL = 0x001,
  IT_UNINSTALL = 0x002,
  IT_REPAIRFIL = 0x004,
  IT_SECONDARY = 0x008,
  IT_REPAIRREG = 0x010,
  IT_PATCH = 0x020,
  IT_PATCHREMOVE = 0x040,
  IT_NEWINSTALL = 0x080,
  IT_DEPLOYMENT = 0x100,
  IT_ADDREMOVE = 0x200,
  IT_NEWUSER = 0x400,
};

// 32 characters "0"/"1", bit 31 first.
std::wstring InstallTypeToText(unsigned installType);
unsigned InstallTypeFromText(const std::wstring& text);
// The set bits' names joined by " | ", in the log's order.
std::wstring InstallTypeNames(unsigned installType);

}  // namespace orvo
