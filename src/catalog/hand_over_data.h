// The "CustomActionData" that OrvoInit publishes for the deferred file
// actions ("orvo_Install<_ORVOGUID>", "orvo_Remove<_ORVOGUID>"): one text of
// ";"-separated fields in fixed places, empty ones keeping theirs. Fields
// added later go after the last one, so older fields keep their places.
#pragma once
#include <string>

#include "documents/text_lists.h"

namespace orvo {

struct HandOverData {
  std::wstring installType;     // the 32-character installation-type text
  std::wstring masterDocument;  // the installed master document's path
  std::wstring windowTitle;     // the progress window to show, or empty
  // What a deferred action cannot learn itself: it reads no other property,
  // evaluates no condition, and runs as LocalSystem, not as the user.
  std::wstring userName;        // the installing user, as the immediate action saw it
  bool forceDelete = false;     // FORCE_FILE_DELETE_ON_UNINSTALL held: "1", else empty
  // The product's folders as the installer resolved them, joined with "|":
  // the only folders a deferred action may take from the index as given.
  std::wstring productFolders;
  std::wstring transaction;     // names this installation's rollback journals
  std::wstring downloadDeadline;  // seconds a download may take in all
  std::wstring downloadStall;     // seconds a download may go without a byte

  std::wstring Encode() const;
  static HandOverData Decode(const std::wstring& data);

  TextList ProductFolders() const;
  void SetProductFolders(const TextList& folders);
};

// The "CustomActionData" of the rollback and commit actions
// ("orvo_Rollback<_ORVOGUID>", "orvo_Commit<_ORVOGUID>"): where the
// journals are and which transaction's to undo or forget.
struct RollbackData {
  std::wstring journalFolder;
  std::wstring transaction;

  std::wstring Encode() const;
  static RollbackData Decode(const std::wstring& data);
};

// A new name for an installation's journals: 32 hexadecimal digits.
std::wstring NewTransactionName();

}  // namespace orvo
