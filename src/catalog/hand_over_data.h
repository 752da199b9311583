// The "CustomActionData" that OrvoInit publishes for the deferred file
// actions ("orvo_Install<_ORVOGUID>", "orvo_Remove<_ORVOGUID>"): one text of
// ";"-separated fields in fixed places, empty ones keeping theirs. Fields
// added later go after the last one, so older fields keep their places.
#pragma once
#include <string>

namespace orvo {

struct HandOverData {
  std::wstring installType;     // the 32-character installation-type text
  std::wstring masterDocument;  // the installed master document's path
  std::wstring windowTitle;     // the progress window to show, or empty

  std::wstring Encode() const;
  static HandOverData Decode(const std::wstring& data);
};

}  // namespace orvo
