#include "catalog/hand_over_data.h"

#include "documents/text_lists.h"

namespace orvo {

namespace {
enum Field { kInstallType = 0, kMasterDocument = 1, kWindowTitle = 2 };
}

std::wstring HandOverData::Encode() const { return installType + L";" + masterDocument + L";" + windowTitle; }

HandOverData HandOverData::Decode(const std::wstring& data) {
  HandOverData fields;
  fields.installType = FieldAt(data, kInstallType);
  fields.masterDocument = FieldAt(data, kMasterDocument);
  fields.windowTitle = FieldAt(data, kWindowTitle);
  return fields;
}

}  // namespace orvo
