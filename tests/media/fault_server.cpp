#include <winsock2.h>
#include <ws2tcpip.h>

#include "fault_server.h"

#include <chrono>
#include <fstream>
#include <iterator>

namespace orvo::test {
namespace {

bool SendAll(SOCKET s, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    int n = send(s, data.data() + sent, int(data.size() - sent), 0);
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

std::string Answer(int status, const char* reason, const std::string& body, const std::string& announced) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: application/octet-stream\r\n" +
         "Content-Length: " + announced + "\r\nConnection: close\r\n\r\n" + body;
}

std::string Answer(int status, const char* reason, const std::string& body, size_t announced) {
  return Answer(status, reason, body, std::to_string(announced));
}

void Reset(SOCKET s) {
  linger hard = {1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
  closesocket(s);
}

std::string FirstSegment(const std::string& path) {
  size_t end = path.find('/', 1);
  return end == std::string::npos ? path : path.substr(0, end + 1);
}

}  // namespace

FaultServer::FaultServer() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  listen(s, 16);
  int size = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  listener_ = s;
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

FaultServer::~FaultServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  acceptor_.join();
  closesocket(SOCKET(listener_));
  for (auto& t : connections_) t.join();
  WSACleanup();
}

std::wstring FaultServer::Url(const std::string& path) const {
  std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port_);
  for (char c : path) url += wchar_t(c);
  return url;
}

std::string FaultServer::Body(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  std::string body;
  while (body.size() < 9000) body += "body of " + name + "\r\n";
  return body;
}

std::string FaultServer::Content(const std::string& path) const {
  size_t start = path.find('/', 1);
  if (root_.empty() || start == std::string::npos || path.find("..") != std::string::npos) return Body(path);
  std::wstring file = root_;
  for (char c : path.substr(start + 1)) file += c == '/' ? L'\\' : wchar_t(c);
  std::ifstream in(file.c_str(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return in ? bytes : Body(path);
}

int FaultServer::Requests(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = counts_.find(path);
  return it == counts_.end() ? 0 : it->second;
}

std::vector<std::string> FaultServer::Paths() {
  std::lock_guard<std::mutex> lock(mutex_);
  return paths_;
}

std::vector<std::string> FaultServer::Ranges(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ranges_[path];
}

std::vector<std::string> FaultServer::RawStarts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return rawStarts_;
}

bool FaultServer::WaitForStop(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stopped_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

void FaultServer::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(SOCKET(listener_), &ready);
    timeval wait = {0, 50000};
    if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET s = accept(SOCKET(listener_), nullptr, nullptr);
    if (s == INVALID_SOCKET) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back([this, s] { Serve(s); });
  }
}

void FaultServer::Serve(uintptr_t socketValue) {
  SOCKET s = SOCKET(socketValue);
  DWORD patience = 5000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&patience), sizeof(patience));
  std::string request;
  char buffer[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    int n = recv(s, buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    request.append(buffer, size_t(n));
    if (!request.empty() && !(request[0] >= 'A' && request[0] <= 'Z')) break;
  }
  if (request.empty() || !(request[0] >= 'A' && request[0] <= 'Z')) {
    std::lock_guard<std::mutex> lock(mutex_);
    rawStarts_.push_back(request.substr(0, 16));
    closesocket(s);
    return;
  }
  size_t start = request.find(' ');
  size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
  std::string path = end == std::string::npos ? std::string() : request.substr(start + 1, end - start - 1);
  std::string range;
  size_t header = request.find("\r\nRange: ");
  if (header != std::string::npos) {
    size_t value = header + 9;
    range = request.substr(value, request.find("\r\n", value) - value);
  }
  int count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = ++counts_[path];
    paths_.push_back(path);
    ranges_[path].push_back(range);
  }

  const std::string kind = FirstSegment(path);
  const std::string partial(kSent, 'x');
  if (kind == "/ok/" || (kind == "/forbid4/" && count > 4)) {
    std::string body = Content(path);
    SendAll(s, Answer(200, "OK", body, body.size()));
  } else if (kind == "/forbid4/" || kind == "/forbid/") {
    SendAll(s, Answer(403, "Forbidden", "forbidden", 9));
  } else if (kind == "/short/") {
    SendAll(s, Answer(200, "OK", partial, kAnnounced));
  } else if (kind == "/hugelength/") {
    SendAll(s, Answer(200, "OK", partial, kHugeLength));
  } else if (kind == "/reset/") {
    Reset(s);
    return;
  } else if (kind == "/resetbody/") {
    SendAll(s, Answer(200, "OK", partial, kAnnounced));
    Sleep(100);
    Reset(s);
    return;
  } else if (kind == "/stall/") {
    WaitForStop(20000);
  } else if (kind == "/stallbody/") {
    SendAll(s, Answer(200, "OK", partial, kAnnounced));
    WaitForStop(20000);
  } else if (kind == "/nolength/") {
    std::string body = Content(path);
    SendAll(s, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n" +
                   body.substr(0, body.size() / 2));
  } else if (kind == "/wrongbytes/") {
    std::string body = Content(path);
    body.back() ^= 1;
    SendAll(s, Answer(200, "OK", body, body.size()));
  } else if (kind == "/trickle/") {
    SendAll(s, Answer(200, "OK", std::string(), kAnnounced));
    for (size_t sent = 0; sent < kAnnounced && SendAll(s, "x"); ++sent) {
      if (WaitForStop(200)) break;
    }
  } else if (kind == "/range/" || kind == "/norange/") {
    std::string body = Content(path);
    size_t from = 0;
    if (kind == "/range/" && range.compare(0, 6, "bytes=") == 0) from = std::stoul(range.substr(6));
    if (from > 0 && from < body.size()) {
      SendAll(s, "HTTP/1.1 206 Partial Content\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " +
                     std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) +
                     "\r\nContent-Length: " + std::to_string(body.size() - from) + "\r\nConnection: close\r\n\r\n" +
                     body.substr(from));
    } else if (range.empty()) {
      SendAll(s, Answer(200, "OK", body.substr(0, body.size() / 2), body.size()));
      Sleep(100);
      Reset(s);
      return;
    } else {
      SendAll(s, Answer(200, "OK", body, body.size()));
    }
  } else {
    SendAll(s, Answer(404, "Not Found", "not found", 9));
  }
  shutdown(s, SD_SEND);
  closesocket(s);
}

}  // namespace orvo::test
