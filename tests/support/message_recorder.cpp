#include "support/message_recorder.h"

namespace orvo::test {

MessageRecorder::MessageRecorder() {
  previous_ = MsiSetExternalUIW(&MessageRecorder::Handler,
                                INSTALLLOGMODE_INFO | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_PROGRESS, this);
}

MessageRecorder::~MessageRecorder() { MsiSetExternalUIW(previous_, 0, nullptr); }

void MessageRecorder::CancelOn(INSTALLMESSAGE type, const std::wstring& needle) { cancels_.emplace_back(type, needle); }

std::vector<RecordedMessage> MessageRecorder::Of(INSTALLMESSAGE type) const {
  std::vector<RecordedMessage> out;
  for (const auto& m : messages_) {
    if (m.type == type) out.push_back(m);
  }
  return out;
}

int WINAPI MessageRecorder::Handler(LPVOID context, UINT type, LPCWSTR message) {
  auto* self = static_cast<MessageRecorder*>(context);
  auto kind = INSTALLMESSAGE(type & 0xFF000000);
  std::wstring text = message ? message : L"";
  self->messages_.push_back({kind, text});
  for (const auto& cancel : self->cancels_) {
    if (cancel.first == kind && text.find(cancel.second) != std::wstring::npos) return IDCANCEL;
  }
  return 0;
}

}  // namespace orvo::test
