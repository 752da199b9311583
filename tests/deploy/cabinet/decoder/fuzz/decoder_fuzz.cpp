// libFuzzer target: the input is one cabinet, or several separated by
// kSeparator (a set; each cabinet the decoder asks for next gets the next
// part). Besides the sanitizers' findings it aborts when the decoder leaks
// memory or descriptors, allocates more than a window and its buffers, or
// writes past a file's stated size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cab_decoder.h"
#include "decoder_fuzz.h"

using namespace orvo::cab;

namespace {

struct Part {
  const uint8_t* data;
  size_t size;
};

struct State {
  std::vector<Part> parts;
  std::map<std::string, size_t> names;  // path -> part
  struct Open {
    size_t part;      // SIZE_MAX for an output file
    size_t pos = 0;
    uint64_t limit = 0;  // an output's stated size
  };
  std::map<Descriptor, Open> open;
  Descriptor next = 3;
  size_t allocated = 0;
  int copies = 0;
} g;

constexpr size_t kMaxAllocation = (size_t(1) << 21) + 64 * 1024;

void* Alloc(uint32_t n) {
  if (n > kMaxAllocation) std::abort();  // sized by a header field
  auto* p = static_cast<size_t*>(std::malloc(n + sizeof(size_t)));
  *p = n;
  g.allocated += n;
  return p + 1;
}
void Free(void* q) {
  size_t* p = static_cast<size_t*>(q) - 1;
  g.allocated -= *p;
  std::free(p);
}
Descriptor Open(const char* path, int, int) {
  auto it = g.names.find(path);
  size_t part = it != g.names.end() ? it->second : g.names.size();
  if (part >= g.parts.size()) return -1;
  g.names[path] = part;
  g.open[g.next] = {part};
  return g.next++;
}
uint32_t Read(Descriptor fd, void* buffer, uint32_t n) {
  auto it = g.open.find(fd);
  if (it == g.open.end() || it->second.part == SIZE_MAX) std::abort();
  const Part& p = g.parts[it->second.part];
  size_t pos = it->second.pos;
  size_t k = pos >= p.size ? 0 : std::min<size_t>(n, p.size - pos);
  if (k) std::memcpy(buffer, p.data + pos, k);
  it->second.pos += k;
  return uint32_t(k);
}
uint32_t Write(Descriptor fd, const void*, uint32_t n) {
  auto it = g.open.find(fd);
  if (it == g.open.end() || it->second.part != SIZE_MAX) std::abort();
  it->second.pos += n;
  if (it->second.pos > it->second.limit) std::abort();  // more than the entry states
  return n;
}
int Close(Descriptor fd) {
  if (!g.open.erase(fd)) std::abort();  // closed twice, or never opened
  return 0;
}
int32_t Seek(Descriptor fd, int32_t offset, int origin) {
  auto it = g.open.find(fd);
  if (it == g.open.end()) std::abort();
  int64_t base = origin == kSeekSet ? 0 : origin == kSeekCur ? int64_t(it->second.pos)
                                                              : int64_t(g.parts[it->second.part].size);
  if (base + offset < 0) return -1;
  it->second.pos = size_t(base + offset);
  return int32_t(it->second.pos);
}

intptr_t Notify(NotificationType type, Notification* n) {
  if (type == kCopyFile) {
    // Skip some files, so that folders are decoded past them too.
    if (std::strlen(n->text1) % 5 == 4) return 0;
    g.open[g.next] = {SIZE_MAX, 0, n->size};
    return g.next++;
  }
  if (type == kCloseFileInfo) {
    if (g.open.at(n->fd).pos != n->size) std::abort();  // announced complete, but short
    Close(n->fd);
    return 1;
  }
  if (type == kNextCabinet && ++g.copies > 64) return -1;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g = State();
  size_t start = 0;
  for (;;) {
    const uint8_t* hit = static_cast<const uint8_t*>(
        memmem(data + start, size - start, orvo::cab::fuzz::kSeparator, sizeof orvo::cab::fuzz::kSeparator));
    size_t end = hit ? size_t(hit - data) : size;
    g.parts.push_back({data + start, end - start});
    if (!hit) break;
    start = end + sizeof orvo::cab::fuzz::kSeparator;
  }
  Callbacks cb{Alloc, Free, Open, Read, Write, Close, Seek};
  ErrorRecord error;
  Context* c = Create(cb, 1, &error);
  if (!c) std::abort();
  g.names["in/first.cab"] = 0;
  Descriptor fd = Open("in/first.cab", kOpenBinary, 0);
  CabinetInfo info;
  IsCabinet(c, fd, &info);
  Close(fd);
  Copy(c, "first.cab", "in/", 0, Notify, nullptr, nullptr);
  if (!g.open.empty()) std::abort();  // a descriptor left open
  if (!Destroy(c) || g.allocated) std::abort();
  return 0;
}
