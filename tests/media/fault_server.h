// A scripted HTTP server on 127.0.0.1 for the failure cases a real server
// does not produce on demand. One request per connection; the first segment
// of the path picks the behaviour:
//   /ok/...         200 with Body(path)
//   /forbid4/...    403 for the first four requests of the path, then 200
//   /forbid/...     403 always
//   /short/...      Content-Length 10000, 100 bytes, then a closed connection
//   /hugelength/... Content-Length kHugeLength (40 digits), 100 bytes,
//                   then a closed connection
//   /reset/...      connection reset before any answer
//   /resetbody/...  headers and 100 bytes of 10000, then a reset
//   /stall/...      no answer at all
//   /stallbody/...  headers and 100 bytes of 10000, then nothing
//   /nolength/...   200 without Content-Length, half of Body(path), then a
//                   normal close
//   /wrongbytes/... 200, Body(path) with its last byte changed
//   /trickle/...    Content-Length 10000, then a byte every 200 ms
//   /range/...      Body(path) cut at half by a reset; a "Range: bytes=N-"
//                   request gets 206 with the rest
//   /norange/...    the same cut, but a range request gets the whole 200
//   anything else   404
// With a served folder, the body of a path that names a file below it
// (after the first segment) is that file, so that one server gives each
// client its own fault by the prefix of its URL.
// A connection whose first byte is not text (a TLS hello) is recorded raw.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvo::test {

class FaultServer {
 public:
  FaultServer();
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  int port() const { return port_; }
  std::wstring Url(const std::string& path) const;
  // The same for every path that ends in the same file name.
  static std::string Body(const std::string& path);
  // Before the first request: a Windows folder whose files are served.
  void ServeFolder(const std::wstring& root) { root_ = root.empty() || root.back() == L'\\' ? root : root + L'\\'; }
  // The body a path is answered with: the served file, else Body(path).
  std::string Content(const std::string& path) const;

  int Requests(const std::string& path);
  std::vector<std::string> Paths();
  std::vector<std::string> RawStarts();
  // The Range header of each request of the path, "" where it had none.
  std::vector<std::string> Ranges(const std::string& path);

  static constexpr size_t kAnnounced = 10000;
  static constexpr size_t kSent = 100;
  static constexpr const char* kHugeLength = "9999999999999999999999999999999999999999";

 private:
  void AcceptLoop();
  void Serve(uintptr_t socket);
  bool WaitForStop(int milliseconds);

  std::wstring root_;
  uintptr_t listener_ = ~uintptr_t(0);
  int port_ = 0;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable stopped_;
  std::map<std::string, int> counts_;
  std::map<std::string, std::vector<std::string>> ranges_;
  std::vector<std::string> paths_;
  std::vector<std::string> rawStarts_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace orvo::test
