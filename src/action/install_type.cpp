#include "action/install_type.h"

namespace orvo {

std::wstring InstallTypeToText(unsigned installType) {
  std::wstring text;
  text.reserve(32);
  for (int bit = 31; bit >= 0; --bit) text += (installType >> bit) & 1 ? L'1' : L'0';
  return text;
}

unsigned InstallTypeFromText(const std::wstring& text) {
  unsigned word = 0;
  for (size_t i = 0; i < text.size() && i <= 31; ++i) {
    if (text[i] == L'1') word |= 1u << (31 - i);
  }
  return word;
}

std::wstring InstallTypeNames(unsigned installType) {
  static const struct {
    unsigned bit;
    const wchar_t* name;
  } kNames[] = {
      {IT_NEWINSTALL, L"IT_NEWINSTALL"}, {IT_SECONDARY, L"IT_SECONDARY"},   {IT_REINSTALL, L"IT_REINSTALL"},
      {IT_REPAIRFIL, L"IT_REPAIRFIL"},   {IT_REPAIRREG, L"IT_REPAIRREG"},   {IT_UNINSTALL, L"IT_UNINSTALL"},
      {IT_DEPLOYMENT, L"IT_DEPLOYMENT"}, {IT_PATCH, L"IT_PATCH"},           {IT_PATCHREMOVE, L"IT_PATCHREMOVE"},
      {IT_ADDREMOVE, L"IT_ADDREMOVE"},   {IT_NEWUSER, L"IT_NEWUSER"},
  };
  std::wstring list;
  for (const auto& entry : kNames) {
    if (installType & entry.bit) {
      list += L" | ";
      list += entry.name;
    }
  }
  size_t first = list.find_first_not_of(L"| ");
  return first == std::wstring::npos ? std::wstring() : list.substr(first);
}

}  // namespace orvo
