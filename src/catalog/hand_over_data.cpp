#include "catalog/hand_over_data.h"

#include <windows.h>
#include <objbase.h>

#include <cwchar>

#include "documents/text_lists.h"

namespace orvo {

namespace {
enum Field {
  kInstallType = 0,
  kMasterDocument = 1,
  kWindowTitle = 2,
  kUserName = 3,
  kForceDelete = 4,
  kProductFolders = 5,
  kTransaction = 6,
  kDownloadDeadline = 7,
  kDownloadStall = 8,
};
}

std::wstring HandOverData::Encode() const {
  return installType + L";" + masterDocument + L";" + windowTitle + L";" + userName + L";" +
         (forceDelete ? L"1" : L"") + L";" + productFolders + L";" + transaction + L";" + downloadDeadline + L";" +
         downloadStall;
}

HandOverData HandOverData::Decode(const std::wstring& data) {
  HandOverData fields;
  fields.installType = FieldAt(data, kInstallType);
  fields.masterDocument = FieldAt(data, kMasterDocument);
  fields.windowTitle = FieldAt(data, kWindowTitle);
  fields.userName = FieldAt(data, kUserName);
  fields.forceDelete = FieldAt(data, kForceDelete) == L"1";
  fields.productFolders = FieldAt(data, kProductFolders);
  fields.transaction = FieldAt(data, kTransaction);
  fields.downloadDeadline = FieldAt(data, kDownloadDeadline);
  fields.downloadStall = FieldAt(data, kDownloadStall);
  return fields;
}

TextList HandOverData::ProductFolders() const {
  TextList folders;
  SplitText(productFolders, L"|", folders, true);
  return folders;
}

void HandOverData::SetProductFolders(const TextList& folders) { productFolders = JoinText(folders, L"|"); }

std::wstring RollbackData::Encode() const { return journalFolder + L";" + transaction; }

RollbackData RollbackData::Decode(const std::wstring& data) {
  RollbackData fields;
  fields.journalFolder = FieldAt(data, 0);
  fields.transaction = FieldAt(data, 1);
  return fields;
}

std::wstring NewTransactionName() {
  GUID id{};
  if (FAILED(CoCreateGuid(&id))) return std::wstring();
  wchar_t text[40];
  std::swprintf(text, 40, L"%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", static_cast<unsigned long>(id.Data1),
                id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5],
                id.Data4[6], id.Data4[7]);
  return text;
}

}  // namespace orvo
