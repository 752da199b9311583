// A query on the running installation's database: the view and its
// database handle are owned here and closed on every way out.
#pragma once
#include <string>
#include <vector>

#include "action/unique_handle.h"

namespace orvo {

class DatabaseView {
 public:
  DatabaseView() = default;
  DatabaseView(const DatabaseView&) = delete;
  DatabaseView& operator=(const DatabaseView&) = delete;

  // Opens the view on the session's active database; the database handle
  // is closed at once (the view keeps what it needs).
  bool Open(MSIHANDLE session, const std::wstring& query);
  // Executes with the given parameter record (0: none).
  bool Execute(MSIHANDLE parameters = 0);
  // The next row, or an empty handle when there is none.
  unique_msihandle Fetch();
  void Close();
  bool opened() const { return static_cast<bool>(view_); }
  ~DatabaseView() { Close(); }

 private:
  unique_msihandle view_;
};

// A record of the given number of fields, its strings set in order.
unique_msihandle MakeRecord(const std::vector<std::wstring>& fields);

}  // namespace orvo
