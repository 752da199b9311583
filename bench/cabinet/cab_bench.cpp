// Native cabinet benchmark: generates a deterministic mixed data set, packs
// it with the writer and times the decoder, writing to a folder or
// discarding its output.
//   cab_bench generate FOLDER MEGABYTES
//   cab_bench pack FOLDER CABINET METHOD
//   cab_bench decode CABINET OUTFOLDER|--discard REPEATS
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cab_decoder.h"
#include "content_pack.h"

namespace {

namespace fs = std::filesystem;
namespace cab = orvo::cab;
using Clock = std::chrono::steady_clock;

// ---- deterministic data ----

struct Random {
  uint64_t s;
  explicit Random(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }
};

const char* const kWords[] = {"install", "content", "cabinet", "folder", "profile", "registry", "catalogue",
                              "shortcut", "the", "of", "and", "to", "a", "in", "is", "for", "with", "value",
                              "product", "version", "file", "user", "machine", "index", "document", "element"};

std::string Text(Random& r, size_t size) {
  std::string out;
  out.reserve(size + 64);
  while (out.size() < size) {
    unsigned kind = r.Below(3);
    if (kind == 0) {  // prose
      for (unsigned w = 6 + r.Below(10); w > 0; --w) {
        out += kWords[r.Below(sizeof kWords / sizeof *kWords)];
        out += ' ';
      }
      out += ".\r\n";
    } else if (kind == 1) {  // records
      out += std::to_string(r.Below(100000)) + ";" + kWords[r.Below(26)] + ";" + std::to_string(r.Below(1000)) +
             "." + std::to_string(r.Below(100)) + ";" + kWords[r.Below(26)] + "\r\n";
    } else {  // markup
      std::string tag = kWords[r.Below(26)];
      out += "  <" + tag + " id=\"" + std::to_string(r.Below(1u << 20)) + "\">" + kWords[r.Below(26)] + "</" + tag +
             ">\r\n";
    }
  }
  out.resize(size);
  return out;
}

// Machine code-like bytes: a small set of opcodes, relative calls (0xE8)
// to a few hundred targets, tables of small integers and zero padding.
std::string Binary(Random& r, size_t size) {
  std::string out;
  out.reserve(size + 16);
  static const uint8_t kOps[] = {0x55, 0x89, 0xE5, 0x8B, 0x45, 0x08, 0x83, 0xEC, 0x10, 0xC3, 0x50, 0x51, 0x53,
                                 0x5D, 0x31, 0xC0, 0x74, 0x75, 0x0F, 0x85, 0x48, 0xFF, 0x15, 0x90};
  std::vector<uint32_t> targets(300);
  for (auto& t : targets) t = r.Below(uint32_t(size));
  while (out.size() < size) {
    unsigned kind = r.Below(10);
    if (kind < 6) {
      for (unsigned i = 4 + r.Below(12); i > 0; --i) out += char(kOps[r.Below(sizeof kOps)]);
    } else if (kind < 8) {
      uint32_t rel = targets[r.Below(300)] - uint32_t(out.size() + 5);
      out += char(0xE8);
      for (int b = 0; b < 4; ++b) out += char(rel >> (8 * b));
    } else if (kind == 8) {
      for (unsigned i = 8 + r.Below(24); i > 0; --i) {
        uint32_t v = r.Below(4096);
        for (int b = 0; b < 4; ++b) out += char(v >> (8 * b));
      }
    } else {
      out.append(16 + r.Below(240), '\0');
    }
  }
  out.resize(size);
  return out;
}

// Already-compressed data: half deflated text, half plain noise.
std::string Compressed(Random& r, size_t size) {
  if (r.Below(2) == 0) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
      uint64_t v = r.Next();
      std::memcpy(&out[i], &v, std::min<size_t>(8, size - i));
    }
    return out;
  }
  std::string out;
  while (out.size() < size) {
    std::string text = Text(r, 1 << 20);
    uLongf n = compressBound(uLong(text.size()));
    std::string packed(n, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &n, reinterpret_cast<const Bytef*>(text.data()),
              uLong(text.size()), 9);
    out.append(packed.data(), n);
  }
  out.resize(size);
  return out;
}

int Generate(const std::string& folder, unsigned megabytes) {
  Random r(20240601);
  uint64_t total = 0, goal = uint64_t(megabytes) << 20;
  uint64_t counts[3] = {0, 0, 0};
  for (unsigned n = 0; total < goal; ++n) {
    // Mostly small and middling files, a few large ones.
    unsigned pick = r.Below(100);
    size_t size = pick < 60 ? 1024 + r.Below(64 << 10) : pick < 95 ? (64 << 10) + r.Below(1 << 20)
                                                               : (1 << 20) + r.Below(8 << 20);
    size = size_t(std::min<uint64_t>(size, goal - total + 1));
    unsigned kind = r.Below(10) < 4 ? 0 : r.Below(2) ? 1 : 2;
    std::string bytes = kind == 0 ? Text(r, size) : kind == 1 ? Binary(r, size) : Compressed(r, size);
    static const char* const kExt[] = {".txt", ".dll", ".zip"};
    fs::path dir = fs::path(folder) / ("set" + std::to_string(n % 7)) / ("part" + std::to_string(n % 3));
    fs::create_directories(dir);
    fs::path file = dir / ("f" + std::to_string(n) + kExt[kind]);
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      std::fprintf(stderr, "cannot write %s\n", file.c_str());
      return 1;
    }
    std::fclose(f);
    total += size;
    counts[kind] += size;
  }
  std::printf("generated %.1f MB: text %.1f MB, binaries %.1f MB, compressed %.1f MB\n", total / 1048576.0,
              counts[0] / 1048576.0, counts[1] / 1048576.0, counts[2] / 1048576.0);
  return 0;
}

int Pack(const std::string& folder, const std::string& cabinet, const std::string& method) {
  auto compression = cab::ParseCompression(method);
  if (!compression) {
    std::fprintf(stderr, "unknown method %s\n", method.c_str());
    return 2;
  }
  cab::PackOptions options;
  options.compression = *compression;
  cab::PackResult result;
  std::string error;
  auto start = Clock::now();
  if (!cab::PackFolder(cabinet, folder, options, &result, &error)) {
    std::fprintf(stderr, "pack failed: %s\n", error.c_str());
    return 1;
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("packed %s: %llu -> %llu bytes, ratio %.4f, %.1f s (%.1f MB/s)\n", method.c_str(),
              (unsigned long long)result.totals.uncompressedBytes, (unsigned long long)result.totals.cabinetBytes,
              double(result.totals.cabinetBytes) / double(result.totals.uncompressedBytes), seconds,
              result.totals.uncompressedBytes / 1048576.0 / seconds);
  return 0;
}

// ---- decoding ----

size_t inUse = 0, peak = 0;
bool discard = false;
std::string outFolder;
uint64_t written = 0;
constexpr cab::Descriptor kDiscard = 0x7FFF0000;

void* Allocate(uint32_t size) {
  auto* p = static_cast<size_t*>(std::malloc(size + 16));
  if (!p) return nullptr;
  *p = size;
  inUse += size;
  peak = std::max(peak, inUse);
  return reinterpret_cast<uint8_t*>(p) + 16;
}
void Release(void* block) {
  if (!block) return;
  auto* p = reinterpret_cast<size_t*>(static_cast<uint8_t*>(block) - 16);
  inUse -= *p;
  std::free(p);
}
cab::Descriptor Open(const char* path, int, int) { return ::open(path, O_RDONLY); }
uint32_t Read(cab::Descriptor fd, void* buffer, uint32_t count) {
  ssize_t n = ::read(int(fd), buffer, count);
  return n < 0 ? uint32_t(-1) : uint32_t(n);
}
uint32_t Write(cab::Descriptor fd, const void* buffer, uint32_t count) {
  written += count;
  if (fd == kDiscard) return count;
  ssize_t n = ::write(int(fd), buffer, count);
  return n < 0 ? uint32_t(-1) : uint32_t(n);
}
int Close(cab::Descriptor fd) { return fd == kDiscard ? 0 : ::close(int(fd)); }
int32_t Seek(cab::Descriptor fd, int32_t offset, int origin) {
  off_t p = ::lseek(int(fd), offset, origin == cab::kSeekSet ? SEEK_SET : origin == cab::kSeekCur ? SEEK_CUR : SEEK_END);
  return p < 0 ? -1 : int32_t(p);
}

intptr_t Notify(cab::NotificationType type, cab::Notification* n) {
  if (type == cab::kCopyFile) {
    if (discard) return kDiscard;
    std::string path = outFolder + "/" + n->text1;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd < 0 ? 0 : fd;
  }
  if (type == cab::kCloseFileInfo) {
    Close(n->fd);
    return 1;
  }
  return 0;
}

long MaxRssKb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int Decode(const std::string& cabinet, const std::string& target, int repeats) {
  discard = target == "--discard";
  outFolder = target;
  size_t slash = cabinet.find_last_of('/');
  std::string folder = slash == std::string::npos ? "" : cabinet.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? cabinet : cabinet.substr(slash + 1);
  cab::Callbacks callbacks{Allocate, Release, Open, Read, Write, Close, Seek};
  long rssBefore = MaxRssKb();
  double best = 1e30;
  for (int i = 0; i < repeats; ++i) {
    written = 0;
    cab::ErrorRecord error;
    auto start = Clock::now();
    cab::Context* context = cab::Create(callbacks, 1, &error);
    bool ok = context && cab::Copy(context, name.c_str(), folder.c_str(), 0, Notify, nullptr, nullptr);
    if (context) cab::Destroy(context);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) {
      std::fprintf(stderr, "decode failed with code %d\n", error.code);
      return 1;
    }
    best = std::min(best, seconds);
  }
  // seconds, bytes, peak of the decoder's allocations, growth of the
  // process's peak resident size and that peak itself (kB).
  long rssAfter = MaxRssKb();
  std::printf("%.4f %llu %zu %ld %ld\n", best, (unsigned long long)written, peak, rssAfter - rssBefore, rssAfter);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "generate" && argc == 4) return Generate(argv[2], unsigned(std::atoi(argv[3])));
  if (command == "pack" && argc == 5) return Pack(argv[2], argv[3], argv[4]);
  if (command == "decode" && argc == 5) return Decode(argv[2], argv[3], std::atoi(argv[4]));
  std::fprintf(stderr,
               "usage: cab_bench generate FOLDER MEGABYTES | pack FOLDER CABINET METHOD | "
               "decode CABINET OUTFOLDER|--discard REPEATS\n");
  return 2;
}
