// A small HTTP client over WinINet for testing, opening and reading the
// URLs the media locator fetches cabinets and pack documents from.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "action/unique_handle.h"

namespace orvo {

struct InternetHandleTraits {
  static HINTERNET Invalid() { return nullptr; }
  static bool IsValid(HINTERNET h) { return h != nullptr; }
  static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
using unique_hinternet = unique_any<HINTERNET, InternetHandleTraits>;

class HttpSession {
 public:
  // Logs through the process's media locator.
  HttpSession();
  // Logs to the given log path (nothing when it is empty).
  explicit HttpSession(std::wstring logPath);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Takes the URL apart into host, port, path and scheme. Fails for text
  // that is no URL and for a URL with a part longer than the 255 characters
  // a URL component may have here.
  bool SplitUrl(const std::wstring& url);
  // Makes the request an answered GET of the URL (status 200).
  bool Open(const std::wstring& url);
  // The length the server announced for the open request's body; -1 when
  // none, kUnusableLength when the header holds no byte count that fits.
  int64_t ContentLength();
  // Reads the next part of the body; read is 0 at its end.
  bool ReadBlock(void* buffer, DWORD size, DWORD& read);
  void Close();

  const std::wstring& openUrl() const { return openUrl_; }
  const std::wstring& host() const { return host_; }
  const std::wstring& path() const { return path_; }
  INTERNET_PORT port() const { return port_; }
  bool secure() const { return scheme_ == INTERNET_SCHEME_HTTPS; }
  int retriesLeft() const { return retriesLeft_; }

  // Hosts that did not resolve and URLs that failed, for the whole process.
  static const std::vector<std::wstring>& FailedServers();
  static bool IsFailedServer(const std::wstring& entry);
  // Connect, send and receive time-out (each wait, not the whole transfer)
  // of every later request, 60 seconds unless changed; 0 keeps WinINet's own.
  static void SetTimeout(DWORD milliseconds);

  static constexpr int kRetries = 7;
  static constexpr DWORD kRetryDelay = 3;  // milliseconds
  static constexpr size_t kMaxComponent = 255;
  static constexpr int64_t kUnusableLength = -2;

 private:
  void CloseHandles();
  void AddFailedServer(const std::wstring& entry);

  std::wstring logPath_;
  std::wstring openUrl_;
  unique_hinternet internet_;
  unique_hinternet connection_;
  unique_hinternet request_;
  std::wstring host_;
  std::wstring path_;
  std::wstring extra_;  // query and fragment, sent with the path
  INTERNET_SCHEME scheme_ = INTERNET_SCHEME_UNKNOWN;
  INTERNET_PORT port_ = 0;
  int retriesLeft_ = kRetries;
  DWORD retryDelay_ = kRetryDelay;
};

}  // namespace orvo
