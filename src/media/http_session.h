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
  // A new GET of the URL for its bytes from `offset` on. True when answered
  // 206 with exactly that range (ranged() then holds) or 200 with the whole
  // body (the server ignored the range).
  bool OpenFrom(const std::wstring& url, int64_t offset);
  bool ranged() const { return ranged_; }
  // The whole body's length a 206 answer named; -1 when it did not.
  int64_t rangeTotal() const { return rangeTotal_; }
  // The length the server announced for the open request's body; -1 when
  // none, kUnusableLength when the header holds no byte count that fits.
  int64_t ContentLength();
  // Reads the next part of the body; read is 0 at its end.
  bool ReadBlock(void* buffer, DWORD size, DWORD& read);
  // Waits (at most the receive time-out) for the next bytes of the body and
  // reads only what has arrived, up to size: a server that trickles cannot
  // hold one read for long. read is 0 at the body's end. Costs a call per
  // few kilobytes; ReadBlock is for a server known to be fast.
  bool ReadArrived(void* buffer, DWORD size, DWORD& read);
  // The receive time-out of the open request alone.
  void SetReceiveTimeout(DWORD milliseconds);
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
  static DWORD timeout();

  static constexpr int kRetries = 7;
  static constexpr DWORD kRetryDelay = 3;  // milliseconds
  static constexpr size_t kMaxComponent = 255;
  static constexpr int64_t kUnusableLength = -2;

 private:
  void CloseHandles();
  bool Send(const std::wstring& url, const std::wstring& headers);
  bool ReadContentRange(int64_t offset);
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
  bool ranged_ = false;
  int64_t rangeTotal_ = -1;
};

}  // namespace orvo
