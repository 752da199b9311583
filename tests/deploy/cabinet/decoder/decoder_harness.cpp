#include "decoder_harness.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cab_format.h"

namespace orvo::cab::test {

MemoryFiles& MemoryFiles::Get() {
  static MemoryFiles files;
  return files;
}

void MemoryFiles::Reset() {
  files_.clear();
  open_.clear();
  openDescriptors = 0;
  opened.clear();
  failAllocAbove = SIZE_MAX;
  failWriteAfter = SIZE_MAX;
  peakAllocated = allocated;
  written_ = 0;
}

const Bytes* MemoryFiles::Find(const std::string& path) const {
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : &it->second;
}

Descriptor MemoryFiles::CreateOutput(const std::string& name) {
  std::string path = "out/" + std::to_string(nextFd_) + "/" + name;
  files_[path].clear();
  Descriptor fd = nextFd_++;
  open_[fd] = Open{path, 0, true};
  ++openDescriptors;
  return fd;
}

const Bytes& MemoryFiles::Output(Descriptor fd) const { return files_.at(open_.at(fd).path); }

struct Access {
  static MemoryFiles& M() { return MemoryFiles::Get(); }

  static void* Alloc(uint32_t size) {
    MemoryFiles& m = M();
    if (size > m.failAllocAbove) return nullptr;
    void* p = std::malloc(size ? size : 1);
    m.blocks_[p] = size;
    m.allocated += size;
    m.peakAllocated = std::max(m.peakAllocated, m.allocated);
    return p;
  }
  static void Free(void* p) {
    MemoryFiles& m = M();
    auto it = m.blocks_.find(p);
    if (it == m.blocks_.end()) std::abort();  // freeing what was never allocated
    m.allocated -= it->second;
    m.blocks_.erase(it);
    std::free(p);
  }
  static Descriptor OpenFile(const char* path, int, int) {
    MemoryFiles& m = M();
    m.opened.push_back(path);
    if (!m.files_.count(path)) return -1;
    Descriptor fd = m.nextFd_++;
    m.open_[fd] = MemoryFiles::Open{path, 0, false};
    ++m.openDescriptors;
    return fd;
  }
  static uint32_t Read(Descriptor fd, void* buffer, uint32_t n) {
    MemoryFiles& m = M();
    auto it = m.open_.find(fd);
    if (it == m.open_.end()) return uint32_t(-1);
    const Bytes& b = m.files_[it->second.path];
    size_t pos = it->second.pos;
    size_t k = pos >= b.size() ? 0 : std::min<size_t>(n, b.size() - pos);
    if (k) std::memcpy(buffer, b.data() + pos, k);
    it->second.pos += k;
    return uint32_t(k);
  }
  static uint32_t Write(Descriptor fd, const void* buffer, uint32_t n) {
    MemoryFiles& m = M();
    auto it = m.open_.find(fd);
    if (it == m.open_.end() || !it->second.output) return uint32_t(-1);
    size_t k = n;
    if (m.written_ + k > m.failWriteAfter) k = m.failWriteAfter > m.written_ ? m.failWriteAfter - m.written_ : 0;
    Bytes& b = m.files_[it->second.path];
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    b.insert(b.end(), p, p + k);
    m.written_ += k;
    return uint32_t(k);
  }
  static int Close(Descriptor fd) {
    MemoryFiles& m = M();
    if (!m.open_.erase(fd)) return -1;
    --m.openDescriptors;
    return 0;
  }
  static int32_t Seek(Descriptor fd, int32_t offset, int origin) {
    MemoryFiles& m = M();
    auto it = m.open_.find(fd);
    if (it == m.open_.end()) return -1;
    int64_t base = origin == kSeekSet ? 0
                   : origin == kSeekCur ? int64_t(it->second.pos)
                                        : int64_t(m.files_[it->second.path].size());
    int64_t pos = base + offset;
    if (pos < 0 || pos > INT32_MAX) return -1;
    it->second.pos = size_t(pos);
    return int32_t(pos);
  }
};

Callbacks MemoryFiles::MakeCallbacks() const {
  return Callbacks{&Access::Alloc, &Access::Free, &Access::OpenFile, &Access::Read,
                   &Access::Write,  &Access::Close, &Access::Seek};
}

// ---- extraction --------------------------------------------------------------

namespace {

intptr_t Record(NotificationType type, Notification* n) {
  Extraction& x = *static_cast<Extraction*>(n->user);
  Event e;
  e.type = type;
  e.text1 = n->text1 ? n->text1 : "";
  e.text2 = n->text2 ? n->text2 : "";
  e.text3 = n->text3 ? n->text3 : "";
  e.size = n->size;
  e.date = n->date;
  e.time = n->time;
  e.attributes = n->attributes;
  e.folder = n->folder;
  e.setId = n->setId;
  e.cabinetIndex = n->cabinetIndex;
  x.events.push_back(e);
  intptr_t answer = x.answer ? x.answer(e) : Extraction::kDefault;
  MemoryFiles& m = MemoryFiles::Get();
  if (type == kCopyFile) return answer == Extraction::kDefault ? m.CreateOutput(e.text1) : answer;
  if (type == kCloseFileInfo) {
    if (answer == Extraction::kDefault) answer = 1;
    if (answer != -1) {
      x.files.emplace_back(e.text1, m.Output(n->fd));
      m.MakeCallbacks().close(n->fd);
    }
    return answer;
  }
  return answer == Extraction::kDefault ? 0 : answer;
}

}  // namespace

Extraction& Extraction::Run(const std::string& folder, const std::string& name) {
  Context* c = Create(MemoryFiles::Get().MakeCallbacks(), 1, &error);
  if (!c) return *this;
  ok = Copy(c, name.c_str(), folder.c_str(), 0, &Record, nullptr, this);
  Destroy(c);
  return *this;
}

std::string Extraction::Trace() const {
  std::string s;
  for (const Event& e : events) {
    if (!s.empty()) s += ' ';
    s += std::to_string(int(e.type)) + ":" + e.text1;
  }
  return s;
}

const Bytes* Extraction::File(const std::string& name) const {
  for (const auto& f : files)
    if (f.first == name) return &f.second;
  return nullptr;
}

// ---- building ----------------------------------------------------------------

namespace {

void Put16(Bytes& b, uint16_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); }
void Put32(Bytes& b, uint32_t v) { Put16(b, uint16_t(v)), Put16(b, uint16_t(v >> 16)); }
void PutString(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}

struct Piece {
  const Bytes* data;
  size_t from, to;
  uint16_t uncompressed;
};

}  // namespace

FolderData CompressFolder(const std::vector<TestFile>& files, const CabOptions& o) {
  Bytes stream;
  for (const TestFile& f : files) stream.insert(stream.end(), f.data.begin(), f.data.end());
  FolderData out;
  bool mszip = (o.method & kCompressMask) == kCompressMszip;
  z_stream z{};
  if (mszip) deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  for (size_t at = 0; at < stream.size(); at += o.blockSize) {
    size_t n = std::min(o.blockSize, stream.size() - at);
    FolderData::Block block;
    block.uncompressed = uint16_t(n);
    if (!mszip) {
      block.data.assign(stream.begin() + at, stream.begin() + at + n);
    } else {
      // Each block deflates on its own, with the folder's last 32 KB preset.
      deflateReset(&z);
      size_t dict = std::min<size_t>(at, 32768);
      if (dict) deflateSetDictionary(&z, stream.data() + at - dict, uInt(dict));
      block.data = {'C', 'K'};
      block.data.resize(2 + deflateBound(&z, uLong(n)) + 16);
      z.next_in = stream.data() + at;
      z.avail_in = uInt(n);
      z.next_out = block.data.data() + 2;
      z.avail_out = uInt(block.data.size() - 2);
      deflate(&z, Z_FINISH);
      block.data.resize(block.data.size() - z.avail_out);
    }
    out.blocks.push_back(std::move(block));
  }
  if (mszip) deflateEnd(&z);
  return out;
}

std::vector<Bytes> BuildSet(const std::vector<TestFile>& files, const CabOptions& o,
                            const std::vector<std::string>& names, const std::vector<Cut>& cuts,
                            const FolderData* blocks) {
  FolderData folder = blocks ? *blocks : CompressFolder(files, o);
  size_t count = cuts.size() + 1;
  std::vector<std::vector<Piece>> pieces(count);
  // home[b]: the cabinet in which block b is complete.
  std::vector<size_t> home(folder.blocks.size());
  size_t cab = 0, cut = 0;
  for (size_t b = 0; b < folder.blocks.size(); ++b) {
    const FolderData::Block& block = folder.blocks[b];
    while (cut < cuts.size() && cuts[cut].block == b && !cuts[cut].splitBlock) ++cab, ++cut;
    if (cut < cuts.size() && cuts[cut].block == b && cuts[cut].splitBlock) {
      size_t half = block.data.size() / 2;
      pieces[cab].push_back({&block.data, 0, half, 0});
      ++cab, ++cut;
      pieces[cab].push_back({&block.data, half, block.data.size(), block.uncompressed});
    } else {
      pieces[cab].push_back({&block.data, 0, block.data.size(), block.uncompressed});
    }
    home[b] = cab;
  }
  while (cut < cuts.size()) ++cab, ++cut;  // cuts after the last block
  // Which cabinets each file touches.
  struct Span {
    size_t first, last;
  };
  std::vector<Span> spans;
  uint64_t offset = 0;
  for (const TestFile& f : files) {
    Span s{0, 0};
    if (!folder.blocks.empty()) {
      size_t fb = size_t(offset / o.blockSize);
      size_t lb = f.data.empty() ? fb : size_t((offset + f.data.size() - 1) / o.blockSize);
      fb = std::min(fb, folder.blocks.size() - 1);
      lb = std::min(lb, folder.blocks.size() - 1);
      s = {home[fb], home[lb]};
    }
    spans.push_back(s);
    offset += f.data.size();
  }
  std::vector<Bytes> out;
  for (size_t k = 0; k < count; ++k) {
    bool prev = k > 0, next = k + 1 < count;
    bool reserve = o.headerReserve || o.folderReserve || o.dataReserve || o.forceReserveFlag;
    Bytes h;
    h.insert(h.end(), {'M', 'S', 'C', 'F'});
    Put32(h, 0);
    Put32(h, 0);  // cbCabinet, patched below
    Put32(h, 0);
    Put32(h, 0);  // coffFiles, patched below
    Put32(h, 0);
    h.push_back(o.versionMinor);
    h.push_back(o.versionMajor);
    Put16(h, 1);
    Put16(h, 0);  // cFiles, patched below
    Put16(h, uint16_t((prev ? kFlagPrevCabinet : 0) | (next ? kFlagNextCabinet : 0) |
                      (reserve ? kFlagReservePresent : 0)));
    Put16(h, o.setId);
    Put16(h, uint16_t(o.firstIndex + k));
    if (reserve) {
      Put16(h, o.headerReserve);
      h.push_back(o.folderReserve);
      h.push_back(o.dataReserve);
      h.insert(h.end(), o.headerReserve, 0xA5);
    }
    if (prev) PutString(h, names[k - 1]), PutString(h, "Disk " + std::to_string(k));
    if (next) PutString(h, names[k + 1]), PutString(h, "Disk " + std::to_string(k + 2));
    size_t folderAt = h.size();
    Put32(h, 0);  // coffCabStart, patched below
    Put16(h, uint16_t(pieces[k].size()));
    Put16(h, o.method);
    h.insert(h.end(), o.folderReserve, 0x5A);
    WriteLe32(h.data() + 16, uint32_t(h.size()));
    uint16_t entries = 0;
    offset = 0;
    for (size_t i = 0; i < files.size(); ++i) {
      const TestFile& f = files[i];
      const Span& s = spans[i];
      if (k >= s.first && k <= s.last) {
        uint16_t index = 0;
        if (s.first < s.last)
          index = k == s.first ? kFolderContinuedToNext
                  : k == s.last ? kFolderContinuedFromPrev
                                : kFolderContinuedPrevAndNext;
        Put32(h, uint32_t(f.data.size()));
        Put32(h, uint32_t(offset));
        Put16(h, index);
        Put16(h, f.date);
        Put16(h, f.time);
        Put16(h, f.attributes);
        PutString(h, f.name);
        ++entries;
      }
      offset += f.data.size();
    }
    WriteLe16(h.data() + 28, entries);
    WriteLe32(h.data() + folderAt, uint32_t(h.size()));
    for (const Piece& p : pieces[k]) {
      uint8_t head[8];
      WriteLe16(head + 4, uint16_t(p.to - p.from));
      WriteLe16(head + 6, p.uncompressed);
      const uint8_t* data = p.data->data() + p.from;
      WriteLe32(head, o.checksums ? DataBlockChecksum(head, data, p.to - p.from) : 0);
      h.insert(h.end(), head, head + 8);
      h.insert(h.end(), o.dataReserve, 0x3C);
      h.insert(h.end(), data, data + (p.to - p.from));
    }
    WriteLe32(h.data() + 8, uint32_t(h.size()));
    out.push_back(std::move(h));
  }
  return out;
}

Bytes TextData(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"cabinet", "folder", "the ",  "data ",  "orvo",   "\r\n",
                                       "block",   " of ",   "files", "window", "install", ", "};
  Bytes out;
  uint32_t x = seed * 2654435761u + 1;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 12];
    out.insert(out.end(), w, w + std::strlen(w));
    if ((x >> 8) % 7 == 0) out.push_back(uint8_t('0' + (x >> 24) % 10));
  }
  out.resize(n);
  return out;
}

Bytes NoiseData(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t x = seed | 1;
  for (auto& b : out) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = uint8_t(x);
  }
  return out;
}

Layout LayoutOf(const Bytes& cab) {
  Layout l{};
  size_t at = kHeaderSize;
  uint16_t flags = ReadLe16(cab.data() + 30);
  if (flags & kFlagReservePresent) at += 4 + ReadLe16(cab.data() + 36);
  auto skip = [&] { at += std::strlen(reinterpret_cast<const char*>(cab.data() + at)) + 1; };
  if (flags & kFlagPrevCabinet) skip(), skip();
  if (flags & kFlagNextCabinet) skip(), skip();
  l.foldersOffset = at;
  l.filesOffset = ReadLe32(cab.data() + 16);
  l.firstBlock = ReadLe32(cab.data() + at);
  return l;
}

FolderData FolderOf(const Bytes& cab, unsigned index, std::vector<TestFile>* files, uint16_t* type) {
  FolderData out;
  Layout l = LayoutOf(cab);
  const uint8_t* folder = cab.data() + l.foldersOffset + 8 * index;
  *type = ReadLe16(folder + 6);
  size_t at = ReadLe32(folder);
  for (unsigned b = ReadLe16(folder + 4); b > 0; --b) {
    uint16_t n = ReadLe16(cab.data() + at + 4);
    FolderData::Block block;
    block.uncompressed = ReadLe16(cab.data() + at + 6);
    block.data.assign(cab.begin() + long(at + 8), cab.begin() + long(at + 8 + n));
    out.blocks.push_back(std::move(block));
    at += 8 + n;
  }
  // The files' bytes are not known here; sizes and names are what counts.
  size_t entry = l.filesOffset;
  for (unsigned k = ReadLe16(cab.data() + 28); k > 0; --k) {
    const uint8_t* p = cab.data() + entry;
    std::string name(reinterpret_cast<const char*>(p + 16));
    if (ReadLe16(p + 8) == index) files->push_back({name, Bytes(ReadLe32(p))});
    entry += 16 + name.size() + 1;
  }
  return out;
}

std::string ReadFileBytes(const std::string& path, Bytes* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "cannot open " + path;
  out->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
  std::fclose(f);
  return "";
}

}  // namespace orvo::cab::test
