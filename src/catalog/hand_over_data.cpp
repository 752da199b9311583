#include "catalog/hand_over_data.h"

namespace orvo {

namespace {
enum Field {
  kInstallType = 0,
  kMasterDocument = 1,
  kWindowTitle = 2,
  kUserName = 3,
  kForceDelete = 4,
  kProductFolders = 5,
};
}

std::wstring HandOverData::Encode() const {
  return installType + L";" + masterDocument + L";" + windowTitle + L";" + userName + L";" + forceDelete + L";" +
         productFolders;
}

HandOverData HandOverData::Decode(const std::wstring& data) {
  HandOverData fields;
  fields.installType = FieldAt(data, kInstallType);
  fields.masterDocument = FieldAt(data, kMasterDocument);
  fields.windowTitle = FieldAt(data, kWindowTitle);
  fields.userName = FieldAt(data, kUserName);
  fields.forceDelete = FieldAt(data, kForceDelete);
  fields.productFolders = FieldAt(data, kProductFolders);
  return fields;
}

TextList HandOverData::ProductFolders() const {
  TextList folders;
  SplitText(productFolders, L"|", folders, true);
  return folders;
}

void HandOverData::SetProductFolders(const TextList& folders) { productFolders = JoinText(folders, L"|"); }

}  // namespace orvo
