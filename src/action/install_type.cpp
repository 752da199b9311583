#include "action/install_type.h"

#include "action/installer_session.h"

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

void InstallerSession::Classify(const std::wstring& text) {
  if (text.empty()) {
    std::wstring reinstallMode = GetProperty(L"REINSTALLMODE");
    bool notInstalled = EvaluateCondition(L"NOT Installed");
    bool installed = EvaluateCondition(L"Installed");
    bool secondary = EvaluateCondition(L"VEXA_SECONDARY_INSTALL");
    bool repairFiles = reinstallMode.find_first_of(L"ae") != std::wstring::npos;
    bool repairRegistry = reinstallMode.find_first_of(L"um") != std::wstring::npos;
    bool uninstall = EvaluateCondition(L"REMOVE=\"ALL\"");
    bool patch = EvaluateCondition(L"%s OR %s", L"PATCH", L"STRUOPATCHFEATURES");
    bool patchRemove = EvaluateCondition(L"MSIPATCHREMOVE");
    bool deployment = EvaluateCondition(L"QUILSELECTION=\"1\"");
    bool addRemove = EvaluateCondition(L"ORVO_ADDREMOVE");
    bool newUser = EvaluateCondition(L"THISUSERHASNOTRUNTHEPRODUTCYET");

    unsigned word = installed ? IT_REINSTALL : 0;
    if (uninstall) word |= IT_UNINSTALL;
    if (repairFiles) word |= IT_REPAIRFIL;
    if (secondary) word |= IT_SECONDARY;
    if (repairRegistry) word |= IT_REPAIRREG;
    if (notInstalled) word |= IT_NEWINSTALL;
    if (deployment) word |= IT_DEPLOYMENT;
    if (patch) word |= IT_PATCH;
    if (patchRemove) word |= IT_PATCHREMOVE;
    if (addRemove) word |= IT_ADDREMOVE;
    if (newUser) word |= IT_NEWUSER;
    installType_ = word;
  } else {
    installType_ = InstallTypeFromText(text);
  }
  installTypeText_ = InstallTypeToText(installType_);
  Log(L"    => dwInstallType: %s", InstallTypeNames(installType_));
}

}  // namespace orvo
