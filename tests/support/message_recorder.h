// Records what the installer shows (INFO, ACTIONDATA, PROGRESS) through an
// external UI handler, and answers cancel to chosen messages.
#pragma once
#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

namespace orvo::test {

struct RecordedMessage {
  INSTALLMESSAGE type;
  std::wstring text;
};

class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  // Messages of this type whose text contains the needle are answered 2.
  void CancelOn(INSTALLMESSAGE type, const std::wstring& needle);
  std::vector<RecordedMessage> Of(INSTALLMESSAGE type) const;
  const std::vector<RecordedMessage>& all() const { return messages_; }
  void Clear() { messages_.clear(); }

 private:
  static int WINAPI Handler(LPVOID context, UINT type, LPCWSTR message);
  std::vector<RecordedMessage> messages_;
  std::vector<std::pair<INSTALLMESSAGE, std::wstring>> cancels_;
  INSTALLUI_HANDLERW previous_ = nullptr;
};

}  // namespace orvo::test
