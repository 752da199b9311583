#include "action/database_view.h"

namespace orvo {

bool DatabaseView::Open(MSIHANDLE session, const std::wstring& query) {
  Close();
  unique_msihandle database(MsiGetActiveDatabase(session));
  if (!database) return false;
  if (MsiDatabaseOpenViewW(database.get(), query.c_str(), view_.put()) != ERROR_SUCCESS) {
    view_.reset();
    return false;
  }
  return true;
}

bool DatabaseView::Execute(MSIHANDLE parameters) {
  return view_ && MsiViewExecute(view_.get(), parameters) == ERROR_SUCCESS;
}

unique_msihandle DatabaseView::Fetch() {
  unique_msihandle row;
  if (!view_ || MsiViewFetch(view_.get(), row.put()) != ERROR_SUCCESS) row.reset();
  return row;
}

void DatabaseView::Close() {
  if (view_) MsiViewClose(view_.get());
  view_.reset();
}

unique_msihandle MakeRecord(const std::vector<std::wstring>& fields) {
  unique_msihandle record(MsiCreateRecord(static_cast<UINT>(fields.size())));
  for (size_t i = 0; record && i < fields.size(); ++i)
    MsiRecordSetStringW(record.get(), static_cast<UINT>(i + 1), fields[i].c_str());
  return record;
}

}  // namespace orvo
