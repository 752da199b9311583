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
  std::wstring userName;        // the installing user
  std::wstring forceDelete;     // forced deletion of user-modified files
  // The product's folders as the installer resolved them, joined with "|":
  // the only folders a deferred action may take from the index as given.
  std::wstring productFolders;

  std::wstring Encode() const;
  static HandOverData Decode(const std::wstring& data);

  TextList ProductFolders() const;
  void SetProductFolders(const TextList& folders);
};

}  // namespace orvo
