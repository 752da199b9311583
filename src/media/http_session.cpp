#include "media/http_session.h"

#include <algorithm>

#include "action/install_log.h"
#include "media/media_locator.h"

namespace orvo {
namespace {

std::vector<std::wstring>& FailedList() {
  static std::vector<std::wstring> list;
  return list;
}

// A server that accepts and then says nothing would otherwise hold the
// installation indefinitely; one that keeps sending is never cut off.
DWORD& Timeout() {
  static DWORD milliseconds = 60000;
  return milliseconds;
}

void ApplyTimeout(HINTERNET handle) {
  DWORD value = Timeout();
  if (!handle || value == 0) return;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
    InternetSetOptionW(handle, option, &value, sizeof(value));
}

}  // namespace

HttpSession::HttpSession() : logPath_(MediaLocator::Instance().logPath()) {}

HttpSession::HttpSession(std::wstring logPath) : logPath_(std::move(logPath)) {}

HttpSession::~HttpSession() { Close(); }

const std::vector<std::wstring>& HttpSession::FailedServers() { return FailedList(); }

bool HttpSession::IsFailedServer(const std::wstring& entry) {
  const auto& list = FailedList();
  return std::find(list.begin(), list.end(), entry) != list.end();
}

void HttpSession::SetTimeout(DWORD milliseconds) { Timeout() = milliseconds; }

DWORD HttpSession::timeout() { return Timeout(); }

void HttpSession::AddFailedServer(const std::wstring& entry) {
  if (!IsFailedServer(entry)) FailedList().push_back(entry);
}

bool HttpSession::SplitUrl(const std::wstring& url) {
  host_.clear();
  path_.clear();
  extra_.clear();
  scheme_ = INTERNET_SCHEME_UNKNOWN;
  port_ = 0;
  // Without buffers the components come back as pieces of the URL, so their
  // lengths can be checked before anything is copied.
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = 1;
  parts.dwPasswordLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
  if (url.empty() || !InternetCrackUrlW(url.c_str(), DWORD(url.size()), 0, &parts)) return false;
  for (DWORD length : {parts.dwSchemeLength, parts.dwHostNameLength, parts.dwUserNameLength, parts.dwPasswordLength,
                       parts.dwUrlPathLength, parts.dwExtraInfoLength}) {
    if (length > kMaxComponent) return false;
  }
  if (parts.lpszHostName) host_.assign(parts.lpszHostName, parts.dwHostNameLength);
  if (parts.lpszUrlPath) path_.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) extra_.assign(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  size_t fragment = extra_.find(L'#');
  if (fragment != std::wstring::npos) extra_.resize(fragment);
  scheme_ = parts.nScheme;
  port_ = parts.nPort;
  return true;
}

void HttpSession::CloseHandles() {
  request_.reset();
  connection_.reset();
  internet_.reset();
}

void HttpSession::Close() {
  CloseHandles();
  openUrl_.clear();
  host_.clear();
  path_.clear();
  extra_.clear();
}

bool HttpSession::Open(const std::wstring& url) {
  if (!openUrl_.empty() && url == openUrl_) return true;
  return Send(url, std::wstring());
}

bool HttpSession::OpenFrom(const std::wstring& url, int64_t offset) {
  openUrl_.clear();
  return Send(url, L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n") && (!ranged_ || ReadContentRange(offset));
}

// "bytes FIRST-LAST/TOTAL": only an answer that starts where the file
// stopped continues it.
bool HttpSession::ReadContentRange(int64_t offset) {
  wchar_t text[128] = {0};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  long long first = -1, last = -1, total = -1;
  if (HttpQueryInfoW(request_.get(), HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr) &&
      swscanf(text, L"bytes %lld-%lld/%lld", &first, &last, &total) >= 2 && first == offset && last >= first) {
    rangeTotal_ = total > last ? total : -1;
    return true;
  }
  InstallLog::WriteTo(logPath_, L"   !=> %s answered a range from byte %d with \"%s\"", openUrl_,
                      static_cast<long long>(offset), std::wstring(text));
  CloseHandles();
  openUrl_.clear();
  return false;
}

bool HttpSession::Send(const std::wstring& url, const std::wstring& headers) {
  ranged_ = false;
  rangeTotal_ = -1;
  if (IsFailedServer(url)) return false;
  CloseHandles();
  openUrl_.clear();
  if (!SplitUrl(url)) {
    InstallLog::WriteTo(logPath_, L"   !=> Cannot use %s: not a URL, or a part of it is longer than %d characters", url,
                        int(kMaxComponent));
    return false;
  }
  if (scheme_ != INTERNET_SCHEME_HTTP && scheme_ != INTERNET_SCHEME_HTTPS) {
    InstallLog::WriteTo(logPath_, L"   !=> Cannot use %s: only http and https are supported", url);
    return false;
  }
  if (IsFailedServer(host_)) return false;

  const std::wstring object = path_.empty() ? L"/" + extra_ : path_ + extra_;
  // Not into the account's internet cache: every cabinet would be written
  // twice, and LocalSystem's profile would fill with them.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE;
  if (scheme_ == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;

  for (;;) {
    DWORD error = 0;
    internet_.reset(InternetOpenW(L"OrvoDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet_) error = GetLastError();
    ApplyTimeout(internet_.get());
    if (internet_) {
      connection_.reset(
          InternetConnectW(internet_.get(), host_.c_str(), port_, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
      if (!connection_) error = GetLastError();
    }
    if (connection_) {
      request_.reset(HttpOpenRequestW(connection_.get(), nullptr, object.c_str(), nullptr, nullptr, nullptr, flags, 0));
      if (!request_) error = GetLastError();
      ApplyTimeout(request_.get());
    }

    DWORD answer = 0;
    do {
      if (!request_ || !HttpSendRequestW(request_.get(), headers.empty() ? nullptr : headers.c_str(),
                                         DWORD(headers.size()), nullptr, 0)) {
        if (request_) error = GetLastError();
        if (error == ERROR_INTERNET_NAME_NOT_RESOLVED) {
          InstallLog::WriteTo(logPath_, L"   !=> Could not resolve %s. Adding to Failed Server list", host_);
          AddFailedServer(host_);
        } else {
          InstallLog::WriteTo(logPath_, L"   !=> Error %u when attempt to access %s. Adding to Failed Server list",
                              unsigned(error), url);
          AddFailedServer(url);
        }
        CloseHandles();
        return false;
      }
      // Lets the system ask for proxy or server credentials; after them the
      // request goes out again.
      answer = InternetErrorDlg(GetDesktopWindow(), request_.get(), ERROR_SUCCESS,
                                FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                nullptr);
    } while (answer == ERROR_INTERNET_FORCE_RETRY);

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
      status = 0;
      error = GetLastError();
    }
    if (status == HTTP_STATUS_OK) break;
    if (status == HTTP_STATUS_PARTIAL_CONTENT && !headers.empty()) {
      ranged_ = true;
      break;
    }
    if (status == HTTP_STATUS_FORBIDDEN && retriesLeft_ > 0) {
      --retriesLeft_;
      Sleep(retryDelay_);
      CloseHandles();
      continue;
    }
    // Any other answer, and a 403 that outlasted the retries, is a failure:
    // the body is an error page, not the file.
    InstallLog::WriteTo(logPath_, L"   !=> %d when attempt to access %s", status ? int(status) : int(error), path_);
    CloseHandles();
    AddFailedServer(url);
    return false;
  }
  openUrl_ = url;
  return true;
}

int64_t HttpSession::ContentLength() {
  if (!request_) return -1;
  wchar_t text[32] = {0};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
    // A header too long for any byte count is there all the same.
    return GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND ? -1 : kUnusableLength;
  }
  int64_t value = 0;
  bool digits = false;
  for (const wchar_t* c = text; *c; ++c) {
    if (*c == L' ' && !digits) continue;
    if (*c < L'0' || *c > L'9') return kUnusableLength;
    if (value > (INT64_MAX - 9) / 10) return kUnusableLength;
    value = value * 10 + (*c - L'0');
    digits = true;
  }
  return digits ? value : kUnusableLength;
}

bool HttpSession::ReadBlock(void* buffer, DWORD size, DWORD& read) {
  read = 0;
  if (!request_) return false;
  return InternetReadFile(request_.get(), buffer, size, &read) != FALSE;
}

bool HttpSession::ReadArrived(void* buffer, DWORD size, DWORD& read) {
  read = 0;
  if (!request_) return false;
  DWORD available = 0;
  if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0)) return false;
  if (available == 0) return true;
  return InternetReadFile(request_.get(), buffer, std::min(available, size), &read) != FALSE;
}

void HttpSession::SetReceiveTimeout(DWORD milliseconds) {
  if (request_) InternetSetOptionW(request_.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &milliseconds, sizeof(milliseconds));
}

}  // namespace orvo
