#include "cab_writer.h"

#include <algorithm>
#include <cstring>

#include "block_compressor.h"
#include "file_io.h"
#include "lzx_encoder.h"

namespace orvo::cab {

uint16_t Compression::TypeCompress() const {
  switch (method) {
    case Method::kStored: return kCompressNone;
    case Method::kMszip: return kCompressMszip;
    case Method::kLzx: return uint16_t(kCompressLzx | (windowBits << 8));
  }
  return kCompressNone;
}

std::optional<Compression> ParseCompression(std::string_view text) {
  if (text == "stored" || text == "none") return Compression::Stored();
  if (text == "mszip") return Compression::Mszip();
  if (text == "lzx") return Compression::Lzx();
  if (text.size() == 6 && text.substr(0, 4) == "lzx:" && text[4] >= '0' && text[4] <= '9' &&
      text[5] >= '0' && text[5] <= '9') {
    unsigned bits = unsigned(text[4] - '0') * 10 + unsigned(text[5] - '0');
    if (bits >= kLzxMinWindowBits && bits <= kLzxMaxWindowBits) return Compression::Lzx(bits);
  }
  return std::nullopt;
}

std::string CompressionName(const Compression& c) {
  switch (c.method) {
    case Method::kStored: return "stored";
    case Method::kMszip: return "mszip";
    case Method::kLzx: return "lzx:" + std::to_string(c.windowBits);
  }
  return "?";
}

void DosDateTimeFromTime(std::time_t t, uint16_t* date, uint16_t* time) {
  std::tm tm{};
  const std::tm* lt = std::localtime(&t);
  if (lt) tm = *lt;
  if (!lt || tm.tm_year < 80 || tm.tm_year > 80 + 127) {
    *date = DosDate(1980, 1, 1);
    *time = 0;
    return;
  }
  *date = DosDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  *time = DosTime(tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59));
}

namespace {

std::string DefaultCabinetName(const std::string& first, unsigned index) {
  if (index == 0) return first;
  size_t dot = first.rfind('.');
  std::string stem = dot == std::string::npos ? first : first.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : first.substr(dot);
  return stem + std::to_string(index + 1) + ext;
}

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x80; });
}

}  // namespace

struct CabinetWriter::Impl {
  // One file as listed in one cabinet.
  struct Listed {
    FileEntry entry;
    uint32_t size;
    uint32_t offset;   // in the logical folder
    size_t folder;     // index among this cabinet's folders
    bool fromPrev;
  };
  struct CabFolder {
    uint16_t typeCompress;
    uint64_t dataStart;  // in the spool
    uint32_t blocks = 0;
    bool continued = false;
  };
  struct Cabinet {
    unsigned index = 0;
    std::string name, disk, path, spoolPath;
    FilePtr spool;
    uint64_t spoolBytes = 0;
    std::vector<CabFolder> folders;
    std::vector<Listed> files;
    uint64_t tableBytes = 0;
  };
  // The folder being filled, across cabinets.
  struct Folder {
    Compression compression;
    std::unique_ptr<BlockCompressor> compressor;
    uint64_t fed = 0;
    uint64_t emitted = 0;
  };

  std::string firstPath, directory, firstName;
  CabinetSetOptions opt;
  std::string error;
  std::vector<std::string> written;
  Totals totals;

  Cabinet cab;
  std::unique_ptr<Folder> folder;
  Compression nextCompression = Compression::Mszip();
  bool inFile = false;
  uint64_t fileRemaining = 0;
  bool finished = false;
  std::vector<uint8_t> blockBuf;
  std::vector<uint8_t> held;
  // One read buffer for every file added from a path: a fresh megabyte per
  // file cost more than compressing a small file.
  std::vector<uint8_t> readBuf;
  uint32_t heldUncompressed = 0;
  bool hasHeld = false;

  Impl(std::string path, CabinetSetOptions o) : firstPath(std::move(path)), opt(std::move(o)) {
    size_t slash = firstPath.find_last_of("/\\");
    directory = slash == std::string::npos ? "" : firstPath.substr(0, slash + 1);
    firstName = slash == std::string::npos ? firstPath : firstPath.substr(slash + 1);
    OpenCabinet(0);
  }

  ~Impl() {
    if (cab.spool) {
      cab.spool.reset();
      RemoveFile(cab.spoolPath);
    }
  }

  bool Fail(std::string what) {
    if (error.empty()) error = std::move(what);
    return false;
  }

  std::string NameOf(unsigned index) const {
    return opt.cabinetName ? opt.cabinetName(index) : DefaultCabinetName(firstName, index);
  }
  std::string DiskOf(unsigned index) const { return opt.diskName ? opt.diskName(index) : std::string(); }

  bool HasReserve() const { return opt.headerReserve || opt.folderReserve || opt.dataReserve; }

  // Everything before the first data block; `withNext` counts the names of
  // the next cabinet, which the budget always keeps room for.
  uint64_t HeaderBytes(const Cabinet& c, bool withNext) const {
    uint64_t n = kHeaderSize;
    if (HasReserve()) n += 4 + opt.headerReserve;
    if (c.index > 0) n += NameOf(c.index - 1).size() + DiskOf(c.index - 1).size() + 2;
    if (withNext) n += NameOf(c.index + 1).size() + DiskOf(c.index + 1).size() + 2;
    n += c.folders.size() * (kFolderSize + opt.folderReserve);
    return n + c.tableBytes;
  }

  uint64_t Used() const {
    uint64_t n = HeaderBytes(cab, opt.maxCabinetSize != 0) + cab.spoolBytes;
    return hasHeld ? n + kDataSize + opt.dataReserve + held.size() : n;
  }
  bool Fits(uint64_t more) const { return opt.maxCabinetSize == 0 || Used() + more <= opt.maxCabinetSize; }

  void OpenCabinet(unsigned index) {
    cab = Cabinet();
    cab.index = index;
    cab.name = NameOf(index);
    cab.disk = DiskOf(index);
    cab.path = directory + cab.name;
    cab.spoolPath = cab.path + ".part";
    cab.spool = OpenFile(cab.spoolPath, "w+b");
    if (!cab.spool) Fail("cannot create " + cab.spoolPath);
  }

  static size_t EntryBytes(const FileEntry& e) { return kFileSize + e.name.size() + 1; }

  // At most what n uncompressed bytes take in data blocks.
  uint64_t CompressedBound(uint64_t n, const Compression& c) const {
    uint64_t frames = n / kMaxBlockUncompressed + 2;
    uint64_t slack = c.method == Method::kStored ? 0 : c.method == Method::kMszip ? 9 : 6144 + 17;
    return n + frames * (kDataSize + opt.dataReserve + slack);
  }

  void List(Listed l) {
    cab.tableBytes += EntryBytes(l.entry);
    cab.files.push_back(std::move(l));
  }

  bool NewFolder(const Compression& c) {
    if (!Fits(kFolderSize + opt.folderReserve) && !CloseCabinet(true)) return false;
    folder = std::make_unique<Folder>();
    folder->compression = c;
    BlockSink sink = [this](const uint8_t* d, size_t n, uint32_t u) { return OnBlock(d, n, u); };
    switch (c.method) {
      case Method::kStored: folder->compressor = MakeStoredCompressor(sink); break;
      case Method::kMszip: folder->compressor = MakeMszipCompressor(sink, c.level); break;
      case Method::kLzx: {
        LzxOptions lo;
        lo.windowBits = c.windowBits;
        lo.level = unsigned(std::clamp(c.level, 1, 9));
        lo.e8Translation = c.e8Translation;
        // What the encoder holds back decides how early a folder must end
        // before a cut; keep it small against small cabinets.
        if (opt.maxCabinetSize)
          lo.framesPerChunk = unsigned(std::clamp<uint64_t>(opt.maxCabinetSize / (8 * kMaxBlockUncompressed), 1, 8));
        folder->compressor = MakeLzxCompressor(sink, lo);
        break;
      }
    }
    if (!folder->compressor) {
      folder.reset();
      return Fail("unsupported compression " + CompressionName(c));
    }
    cab.folders.push_back({c.TypeCompress(), cab.spoolBytes});
    ++totals.folders;
    return true;
  }

  bool EndFolder() {
    if (!folder) return true;
    if (!folder->compressor->Finish())
      return Fail(folder->compressor->error().empty() ? "compression failed" : folder->compressor->error());
    if (!error.empty() || !WriteHeld()) return false;
    nextCompression = folder->compression;
    folder.reset();
    return true;
  }

  bool WriteBlock(const uint8_t* data, size_t n, uint32_t uncompressed) {
    blockBuf.assign(kDataSize + opt.dataReserve + n, 0);
    uint8_t* h = blockBuf.data();
    WriteLe16(h + 4, uint16_t(n));
    WriteLe16(h + 6, uint16_t(uncompressed));
    std::memcpy(h + kDataSize + opt.dataReserve, data, n);
    // The sum leaves the block's reserve area out, as the readers expect.
    WriteLe32(h, DataBlockChecksum(h, h + kDataSize + opt.dataReserve, n));
    if (std::fwrite(h, 1, blockBuf.size(), cab.spool.get()) != blockBuf.size())
      return Fail("cannot write " + cab.spoolPath);
    cab.spoolBytes += blockBuf.size();
    if (++cab.folders.back().blocks > 0xFFFF) return Fail("too many data blocks in one folder");
    return true;
  }

  // The last block of the folder in this cabinet is held back: when the
  // cabinet fills up, a block is always cut in two across the boundary
  // (the first part with no uncompressed size), which is how readers expect
  // a folder to go on in the next cabinet.
  bool Hold(const uint8_t* data, size_t n, uint32_t uncompressed) {
    held.assign(data, data + n);
    heldUncompressed = uncompressed;
    hasHeld = true;
    return true;
  }

  bool WriteHeld() {
    if (!hasHeld) return true;
    hasHeld = false;
    if (!WriteBlock(held.data(), held.size(), heldUncompressed)) return false;
    folder->emitted += heldUncompressed;
    return true;
  }

  // Before a cut: the held block's first part stays, its last byte moves on.
  bool SplitHeld() {
    if (!hasHeld || held.size() < 2) return true;
    if (!WriteBlock(held.data(), held.size() - 1, 0)) return false;
    held.erase(held.begin(), held.end() - 1);
    return true;
  }

  // A finished data block of the current folder.
  bool OnBlock(const uint8_t* data, size_t n, uint32_t uncompressed) {
    if (!error.empty()) return false;
    if (n == 0 || n > 0xFFFF) return Fail("bad data block size");
    const size_t overhead = kDataSize + opt.dataReserve;
    for (;;) {
      if (Fits(overhead + n)) return WriteHeld() && Hold(data, n, uncompressed);
      uint64_t used = Used();
      uint64_t avail = used < opt.maxCabinetSize ? opt.maxCabinetSize - used : 0;
      if (avail > overhead && n >= 2) {
        // Room for a part of this block: the held one goes out whole.
        size_t part = size_t(std::min<uint64_t>(n - 1, avail - overhead));
        if (!WriteHeld() || !WriteBlock(data, part, 0)) return false;
        data += part;
        n -= part;
      } else if (cab.spoolBytes == 0 && cab.folders.back().continued) {
        // A fresh continuation cabinet that cannot take any of the block
        // would only be followed by another one like it.
        return Fail("cabinet size limit too small for a data block");
      }
      if (!CloseCabinet(true)) return false;
    }
  }

  // Writes the current cabinet; with `more`, opens the next one of the set
  // and carries the files whose data is still to come.
  bool CloseCabinet(bool more) {
    if (!error.empty()) return false;
    if (!more) return WriteCabinet(false, false);
    bool pending = folder && folder->fed > folder->emitted;
    if (pending && !SplitHeld()) return false;
    std::vector<Listed> carried;
    bool carryAsContinued = false;
    if (pending) {
      size_t last = cab.folders.size() - 1;
      if (cab.folders[last].blocks == 0 && !cab.folders[last].continued) {
        // Nothing of the folder made it into this cabinet: it starts afresh
        // in the next one.
        for (auto it = cab.files.begin(); it != cab.files.end();) {
          if (it->folder == last) {
            cab.tableBytes -= EntryBytes(it->entry);
            carried.push_back(*it);
            it = cab.files.erase(it);
          } else {
            ++it;
          }
        }
        cab.folders.pop_back();
      } else {
        carryAsContinued = true;
        for (const Listed& l : cab.files)
          if (l.folder == last && uint64_t(l.offset) + l.size > folder->emitted) carried.push_back(l);
      }
    } else if (folder) {
      // The folder ends with this cabinet; the next one starts a new folder.
      if (!EndFolder()) return false;
      size_t last = cab.folders.size() - 1;
      bool listed = std::any_of(cab.files.begin(), cab.files.end(), [&](const Listed& l) { return l.folder == last; });
      if (cab.folders[last].blocks == 0 && !listed) {
        cab.folders.pop_back();
        --totals.folders;
      }
    }
    if (cab.folders.empty() && cab.files.empty() && cab.spoolBytes == 0)
      return Fail("cabinet size limit too small");
    if (!WriteCabinet(true, carryAsContinued)) return false;
    OpenCabinet(cab.index + 1);
    if (!error.empty()) return false;
    if (pending) {
      cab.folders.push_back({folder->compression.TypeCompress(), 0});
      cab.folders.back().continued = carryAsContinued;
      for (Listed& l : carried) {
        l.folder = 0;
        l.fromPrev = carryAsContinued;
        List(std::move(l));
      }
      if (!Fits(0)) return Fail("cabinet size limit too small");
    }
    return true;
  }

  // `continuing`: the last folder goes on in the next cabinet.
  bool WriteCabinet(bool hasNext, bool continuing) {
    Cabinet& c = cab;
    uint64_t headerBytes = HeaderBytes(c, hasNext);
    uint64_t total = headerBytes + c.spoolBytes;
    if (total > 0xFFFFFFFFull) return Fail("cabinet larger than 4 GB");
    if (c.folders.size() > 0xFFFF || c.files.size() > 0xFFFF) return Fail("too many folders or files in a cabinet");
    std::vector<uint8_t> h(size_t(headerBytes), 0);
    uint8_t* p = h.data();
    std::memcpy(p, "MSCF", 4);
    WriteLe32(p + 8, uint32_t(total));
    uint16_t flags = 0;
    if (c.index > 0) flags |= kFlagPrevCabinet;
    if (hasNext) flags |= kFlagNextCabinet;
    if (HasReserve()) flags |= kFlagReservePresent;
    p[24] = kVersionMinor;
    p[25] = kVersionMajor;
    WriteLe16(p + 26, uint16_t(c.folders.size()));
    WriteLe16(p + 28, uint16_t(c.files.size()));
    WriteLe16(p + 30, flags);
    WriteLe16(p + 32, opt.setId);
    WriteLe16(p + 34, uint16_t(c.index));
    size_t o = kHeaderSize;
    if (HasReserve()) {
      WriteLe16(p + o, opt.headerReserve);
      p[o + 2] = opt.folderReserve;
      p[o + 3] = opt.dataReserve;
      o += 4 + opt.headerReserve;
    }
    auto putString = [&](const std::string& s) {
      std::memcpy(p + o, s.data(), s.size());
      o += s.size() + 1;
    };
    if (c.index > 0) {
      putString(NameOf(c.index - 1));
      putString(DiskOf(c.index - 1));
    }
    if (hasNext) {
      putString(NameOf(c.index + 1));
      putString(DiskOf(c.index + 1));
    }
    for (const CabFolder& f : c.folders) {
      WriteLe32(p + o, uint32_t(headerBytes + f.dataStart));
      WriteLe16(p + o + 4, uint16_t(f.blocks));
      WriteLe16(p + o + 6, f.typeCompress);
      o += kFolderSize + opt.folderReserve;
    }
    WriteLe32(p + 16, uint32_t(o));  // coffFiles
    size_t lastFolder = c.folders.empty() ? 0 : c.folders.size() - 1;
    for (const Listed& l : c.files) {
      bool toNext = continuing && l.folder == lastFolder && uint64_t(l.offset) + l.size > folder->emitted;
      uint16_t idx = uint16_t(l.folder);
      if (l.fromPrev && toNext)
        idx = kFolderContinuedPrevAndNext;
      else if (l.fromPrev)
        idx = kFolderContinuedFromPrev;
      else if (toNext)
        idx = kFolderContinuedToNext;
      WriteLe32(p + o, l.size);
      WriteLe32(p + o + 4, l.offset);
      WriteLe16(p + o + 8, idx);
      WriteLe16(p + o + 10, l.entry.date);
      WriteLe16(p + o + 12, l.entry.time);
      uint16_t attribs = l.entry.attribs;
      if (!IsAscii(l.entry.name)) attribs |= kAttribNameIsUtf;
      WriteLe16(p + o + 14, attribs);
      o += kFileSize;
      putString(l.entry.name);
    }

    FilePtr out = OpenFile(c.path, "wb");
    if (!out) return Fail("cannot create " + c.path);
    if (std::fwrite(h.data(), 1, h.size(), out.get()) != h.size()) return Fail("cannot write " + c.path);
    std::fflush(c.spool.get());
    std::rewind(c.spool.get());
    std::vector<uint8_t> buf(1 << 20);
    uint64_t left = c.spoolBytes;
    while (left > 0) {
      size_t n = std::fread(buf.data(), 1, size_t(std::min<uint64_t>(left, buf.size())), c.spool.get());
      if (n == 0) return Fail("cannot read " + c.spoolPath);
      if (std::fwrite(buf.data(), 1, n, out.get()) != n) return Fail("cannot write " + c.path);
      left -= n;
    }
    if (std::fclose(out.release()) != 0) return Fail("cannot write " + c.path);
    c.spool.reset();
    RemoveFile(c.spoolPath);
    written.push_back(c.path);
    totals.cabinetBytes += total;
    return true;
  }

  bool BeginFile(const FileEntry& e, uint64_t size) {
    if (!error.empty()) return false;
    if (finished) return Fail("writer already finished");
    if (inFile) return Fail("previous file not ended");
    if (e.name.empty() || e.name.size() > kMaxNameBytes) return Fail("bad stored name: '" + e.name + "'");
    if (size > opt.maxFolderSize) return Fail("file too large: " + e.name);
    if (folder && folder->fed + size > opt.maxFolderSize && !EndFolder()) return false;
    // Readers match the files of a folder that spans cabinets cabinet by
    // cabinet, so a folder only ever carries one file across a cut: a
    // folder continued from the previous cabinet takes no new files, and a
    // file that might not fit in this cabinet with what is still pending
    // starts a new folder, so that it crosses the cut alone.
    if (folder && cab.folders.back().continued && !EndFolder()) return false;
    if (folder && opt.maxCabinetSize &&
        Used() + CompressedBound(folder->fed - folder->emitted + size, folder->compression) + EntryBytes(e) >
            opt.maxCabinetSize &&
        !EndFolder())
      return false;
    if (!folder && !NewFolder(nextCompression)) return false;
    if (!Fits(EntryBytes(e))) {
      if (!CloseCabinet(true)) return false;
      if (!folder && !NewFolder(nextCompression)) return false;
      if (!Fits(EntryBytes(e))) return Fail("cabinet size limit too small");
    }
    List({e, uint32_t(size), uint32_t(folder->fed), cab.folders.size() - 1, false});
    ++totals.files;
    inFile = true;
    fileRemaining = size;
    return true;
  }

  bool Write(const void* data, size_t size) {
    if (!error.empty()) return false;
    if (!inFile) return Fail("no file begun");
    if (size > fileRemaining) return Fail("more data than the file's size");
    fileRemaining -= size;
    folder->fed += size;
    totals.uncompressedBytes += size;
    if (!folder->compressor->Write(static_cast<const uint8_t*>(data), size))
      return Fail(folder->compressor->error().empty() ? "compression failed" : folder->compressor->error());
    return error.empty();
  }

  bool EndFile() {
    if (!error.empty()) return false;
    if (!inFile) return Fail("no file begun");
    if (fileRemaining != 0) return Fail("file shorter than its size");
    inFile = false;
    return true;
  }

  bool Finish() {
    if (!error.empty()) return false;
    if (finished) return true;
    if (inFile) return Fail("file not ended");
    if (!EndFolder()) return false;
    finished = true;
    return CloseCabinet(false);
  }
};

CabinetWriter::CabinetWriter(std::string path, CabinetSetOptions options)
    : impl_(std::make_unique<Impl>(std::move(path), std::move(options))) {}
CabinetWriter::~CabinetWriter() = default;

bool CabinetWriter::StartFolder(const Compression& compression) {
  if (!impl_->error.empty()) return false;
  if (impl_->inFile) return impl_->Fail("file not ended");
  if (!impl_->EndFolder()) return false;
  impl_->nextCompression = compression;
  return true;
}

bool CabinetWriter::AddFile(const FileEntry& entry, const void* data, size_t size) {
  return impl_->BeginFile(entry, size) && (size == 0 || impl_->Write(data, size)) && impl_->EndFile();
}

bool CabinetWriter::AddFileFromPath(const FileEntry& entry, const std::string& path) {
  FilePtr in = OpenFile(path, "rb");
  if (!in) return impl_->Fail(FileSize(path, nullptr) ? "cannot open " + path : "cannot read " + path);
  uint64_t size = 0;
  if (!OpenedFileSize(in.get(), &size)) return impl_->Fail("cannot read " + path);
  if (!impl_->BeginFile(entry, size)) return false;
  std::vector<uint8_t>& buf = impl_->readBuf;
  if (buf.empty()) buf.resize(1 << 20);
  uint64_t left = size;
  while (left > 0) {
    size_t n = std::fread(buf.data(), 1, size_t(std::min<uint64_t>(left, buf.size())), in.get());
    if (n == 0) return impl_->Fail("cannot read " + path);
    if (!impl_->Write(buf.data(), n)) return false;
    left -= n;
  }
  return impl_->EndFile();
}

bool CabinetWriter::BeginFile(const FileEntry& entry, uint64_t size) { return impl_->BeginFile(entry, size); }
bool CabinetWriter::Write(const void* data, size_t size) { return impl_->Write(data, size); }
bool CabinetWriter::EndFile() { return impl_->EndFile(); }
bool CabinetWriter::Finish() { return impl_->Finish(); }
const std::string& CabinetWriter::error() const { return impl_->error; }
const std::vector<std::string>& CabinetWriter::cabinetPaths() const { return impl_->written; }
CabinetWriter::Totals CabinetWriter::totals() const { return impl_->totals; }

}  // namespace orvo::cab
