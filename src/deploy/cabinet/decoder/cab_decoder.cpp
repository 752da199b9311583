// Walks a cabinet's file entries and decodes its folders, following a folder
// into the next cabinets of a set when its data continues there.
//
// Memory: the context (with three cabinet slots), one compressed block, one
// decompressed block and the method's window; nothing is sized from header
// fields. Folder and file tables are read from the file as they are needed.
#include "cab_decoder.h"

#include <cstring>

#include "cab_format.h"
#include "codec.h"

namespace orvo::cab {

using detail::Codec;
using detail::Memory;

namespace {

constexpr uint32_t kTableChunk = 2048;
constexpr int kCabinetSlots = 3;  // the list's, the cursor's, and one being opened

// A folder as it was started: the serial (order of opening within one Copy)
// of the cabinet where it begins and its index there.
struct FolderId {
  uint32_t serial = 0;
  uint16_t index = 0;
  bool operator==(const FolderId& o) const { return serial == o.serial && index == o.index; }
};

struct Cabinet {
  bool used = false;
  int refs = 0;
  uint32_t serial = 0;
  Descriptor fd = -1;
  int64_t filePos = -1;  // where fd stands, -1 when unknown
  uint32_t totalSize = 0;
  uint32_t filesOffset = 0;
  uint32_t foldersOffset = 0;
  uint16_t folderCount = 0;
  uint16_t fileCount = 0;
  uint16_t flags = 0;
  uint16_t setId = 0;
  uint16_t index = 0;
  uint8_t folderReserve = 0;
  uint8_t dataReserve = 0;
  char prevName[kMaxPath] = {};
  char prevDisk[kMaxPath] = {};
  char nextName[kMaxPath] = {};
  char nextDisk[kMaxPath] = {};
  // From a pass over the file entries.
  bool firstFolderContinued = false;  // folder 0 began in an earlier cabinet
  bool lastFolderContinues = false;
  // The folder that this cabinet's folder 0 continues, when it is reachable.
  bool folder0Known = false;
  FolderId folder0Id;
};

struct FolderEntry {
  uint32_t dataOffset = 0;
  uint16_t blocks = 0;
  uint16_t type = 0;
};

struct FileEntry {
  uint32_t size = 0;
  uint32_t offset = 0;
  uint16_t folder = 0;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attributes = 0;
  char name[kMaxPath] = {};
};

struct Cursor {
  bool active = false;
  FolderId id;
  Cabinet* cab = nullptr;  // whose blocks are being read
  uint16_t folderIndex = 0;  // within cab
  uint16_t type = 0;
  uint32_t nextBlock = 0;
  uint32_t blocksLeft = 0;
  uint64_t blockStart = 0;  // folder offset of the current block
  uint64_t position = 0;    // folder offset after it
  const uint8_t* data = nullptr;
  uint32_t dataLen = 0;
};

struct EntryReader {
  Cabinet* cab = nullptr;
  uint32_t next = 0;
  uint32_t left = 0;
};

bool FromPrevious(uint16_t folder) {
  return folder == kFolderContinuedFromPrev || folder == kFolderContinuedPrevAndNext;
}

uint32_t SlackFor(uint16_t type) {
  switch (type & kCompressMask) {
    case kCompressMszip: return detail::kMszipSlack;
    case kCompressQuantum: return detail::kQuantumSlack;
    case kCompressLzx: return detail::kLzxSlack;
    default: return 0;
  }
}

bool KnownMethod(uint16_t type) {
  unsigned bits = CompressWindowBits(type);
  switch (type & kCompressMask) {
    case kCompressNone:
    case kCompressMszip: return true;
    case kCompressQuantum: return bits >= 10 && bits <= 21;
    case kCompressLzx: return bits >= 15 && bits <= 21;
    default: return false;
  }
}

}  // namespace

struct Context {
  Callbacks cb{};
  Memory memory;
  ErrorRecord* error = nullptr;
  ErrorRecord ownError;
  int processorType = 0;
  uint8_t* input = nullptr;   // one compressed block
  uint8_t* output = nullptr;  // one decompressed block
  Codec* codec = nullptr;
  uint16_t codecType = 0;
  Cabinet cabs[kCabinetSlots];
  Cursor cursor;
  Cabinet* list = nullptr;

  // Cache of the last stretch of a file table read.
  uint8_t table[kTableChunk];
  const Cabinet* tableCab = nullptr;
  uint32_t tableStart = 0;
  uint32_t tableLen = 0;

  // Cache of the last folder entry read.
  const Cabinet* folderCab = nullptr;
  uint16_t folderIndex = 0;
  FolderEntry folderEntry;

  // The running Copy.
  NotifyFn notify = nullptr;
  void* user = nullptr;
  char folder[kMaxPath] = {};
  char path[2 * kMaxPath] = {};
  uint32_t maxSerial = 0;
  bool reserveKnown = false;
  uint8_t folderReserve = 0;
  uint8_t dataReserve = 0;
  FileEntry file;
};

namespace {

bool Fail(Context& c, int code) {
  c.error->code = code;
  c.error->failed = true;
  return false;
}

// ---- cabinet files -------------------------------------------------------

bool ReadAt(Context& c, Cabinet& cab, uint32_t offset, void* buffer, uint32_t n, uint32_t* got) {
  if (offset > 0x7FFFFFFFu) return false;
  if (cab.filePos != int64_t(offset)) {
    if (c.cb.seek(cab.fd, int32_t(offset), kSeekSet) != int32_t(offset)) {
      cab.filePos = -1;
      return false;
    }
    cab.filePos = offset;
  }
  uint32_t r = c.cb.read(cab.fd, buffer, n);
  if (r > n) {
    cab.filePos = -1;
    return false;
  }
  cab.filePos += r;
  if (got) {
    *got = r;
    return true;
  }
  return r == n;
}

// A NUL-terminated string of at most 255 bytes at offset; its length in *len.
bool ReadString(Context& c, Cabinet& cab, uint32_t offset, char* out, uint32_t* len) {
  char buffer[kMaxPath];
  uint32_t got = 0;
  if (!ReadAt(c, cab, offset, buffer, kMaxPath, &got)) return false;
  const void* nul = std::memchr(buffer, 0, got);
  if (!nul) return false;
  *len = uint32_t(static_cast<const char*>(nul) - buffer);
  std::memcpy(out, buffer, *len + 1);
  return true;
}

int ParseHeader(Context& c, Cabinet& cab) {
  uint8_t h[kHeaderSize];
  uint32_t got = 0;
  if (!ReadAt(c, cab, 0, h, sizeof h, &got)) return kErrorCorruptCabinet;
  if (got < 4 || std::memcmp(h, "MSCF", 4) != 0) return kErrorNotACabinet;
  if (got < kHeaderSize) return kErrorCorruptCabinet;
  if (h[24] != kVersionMinor || h[25] != kVersionMajor) return kErrorUnknownVersion;
  cab.totalSize = ReadLe32(h + 8);
  cab.filesOffset = ReadLe32(h + 16);
  cab.folderCount = ReadLe16(h + 26);
  cab.fileCount = ReadLe16(h + 28);
  cab.flags = ReadLe16(h + 30);
  cab.setId = ReadLe16(h + 32);
  cab.index = ReadLe16(h + 34);
  uint32_t offset = kHeaderSize;
  cab.folderReserve = cab.dataReserve = 0;
  if (cab.flags & kFlagReservePresent) {
    uint8_t r[4];
    if (!ReadAt(c, cab, offset, r, 4, nullptr)) return kErrorCorruptCabinet;
    offset += 4 + ReadLe16(r);
    cab.folderReserve = r[2];
    cab.dataReserve = r[3];
  }
  uint32_t len = 0;
  cab.prevName[0] = cab.prevDisk[0] = cab.nextName[0] = cab.nextDisk[0] = 0;
  if (cab.flags & kFlagPrevCabinet) {
    if (!ReadString(c, cab, offset, cab.prevName, &len)) return kErrorCorruptCabinet;
    offset += len + 1;
    if (!ReadString(c, cab, offset, cab.prevDisk, &len)) return kErrorCorruptCabinet;
    offset += len + 1;
  }
  if (cab.flags & kFlagNextCabinet) {
    if (!ReadString(c, cab, offset, cab.nextName, &len)) return kErrorCorruptCabinet;
    offset += len + 1;
    if (!ReadString(c, cab, offset, cab.nextDisk, &len)) return kErrorCorruptCabinet;
    offset += len + 1;
  }
  cab.foldersOffset = offset;
  return kErrorNone;
}

bool ReadFolder(Context& c, Cabinet& cab, uint16_t index, FolderEntry* out) {
  if (c.folderCab == &cab && c.folderIndex == index) {
    *out = c.folderEntry;
    return true;
  }
  uint8_t f[kFolderSize];
  uint64_t offset = cab.foldersOffset + uint64_t(index) * (kFolderSize + cab.folderReserve);
  if (index >= cab.folderCount || offset > 0x7FFFFFFFu ||
      !ReadAt(c, cab, uint32_t(offset), f, sizeof f, nullptr))
    return false;
  out->dataOffset = ReadLe32(f);
  out->blocks = ReadLe16(f + 4);
  out->type = ReadLe16(f + 6);
  c.folderCab = &cab;
  c.folderIndex = index;
  c.folderEntry = *out;
  return true;
}

bool ReadEntry(Context& c, EntryReader& r, FileEntry* e) {
  Cabinet& cab = *r.cab;
  uint32_t need = kFileSize + kMaxPath;
  bool cached = c.tableCab == &cab && r.next >= c.tableStart &&
                r.next - c.tableStart + uint64_t(need) <= c.tableLen;
  if (!cached) {
    uint32_t got = 0;
    c.tableCab = nullptr;
    if (!ReadAt(c, cab, r.next, c.table, kTableChunk, &got)) return false;
    c.tableCab = &cab;
    c.tableStart = r.next;
    c.tableLen = got;
  }
  const uint8_t* p = c.table + (r.next - c.tableStart);
  uint32_t avail = c.tableLen - (r.next - c.tableStart);
  if (avail < kFileSize + 1) return false;
  const uint8_t* name = p + kFileSize;
  uint32_t room = avail - kFileSize < kMaxPath ? avail - kFileSize : kMaxPath;
  const void* nul = std::memchr(name, 0, room);
  if (!nul) return false;
  uint32_t len = uint32_t(static_cast<const uint8_t*>(nul) - name);
  e->size = ReadLe32(p);
  e->offset = ReadLe32(p + 4);
  e->folder = ReadLe16(p + 8);
  e->date = ReadLe16(p + 10);
  e->time = ReadLe16(p + 12);
  e->attributes = ReadLe16(p + 14);
  std::memcpy(e->name, name, len + 1);
  r.next += kFileSize + len + 1;
  --r.left;
  return true;
}

void Forget(Context& c, const Cabinet* cab) {
  if (c.tableCab == cab) c.tableCab = nullptr;
  if (c.folderCab == cab) c.folderCab = nullptr;
}

void Release(Context& c, Cabinet* cab) {
  if (!cab || --cab->refs > 0) return;
  if (cab->fd != -1) c.cb.close(cab->fd);
  cab->fd = -1;
  cab->used = false;
  Forget(c, cab);
}

void Hold(Cabinet* cab) { ++cab->refs; }

// ---- notifications -------------------------------------------------------

intptr_t Notify(Context& c, NotificationType type, Notification& n) {
  n.user = c.user;
  return c.notify(type, &n);
}

Notification ForFile(const Cabinet& cab, const FileEntry& e) {
  Notification n;
  n.size = e.size;
  n.text1 = e.name;
  n.date = e.date;
  n.time = e.time;
  n.attributes = uint16_t(e.attributes & ~kAttribExecute);
  n.folder = e.folder;
  n.setId = cab.setId;
  n.cabinetIndex = cab.index;
  return n;
}

int PartialFile(Context& c, Cabinet& cab, const FileEntry& e) {
  Notification n = ForFile(cab, e);
  n.text2 = cab.prevName;
  n.text3 = cab.prevDisk;
  return Notify(c, kPartialFile, n) == -1 ? kErrorUserAbort : kErrorNone;
}

int Enumerate(Context& c, const Cabinet& cab, uint16_t folder, uint32_t left) {
  Notification n;
  n.setId = cab.setId;
  n.cabinetIndex = cab.index;
  n.folder = folder;
  n.size = left;
  return Notify(c, kEnumerate, n) == -1 ? kErrorUserAbort : kErrorNone;
}

// ---- opening the cabinets of a set ---------------------------------------

// Opens c.folder + name as the cabinet after prev (or as the first one).
int OpenCabinet(Context& c, const char* name, const Cabinet* prev, bool announce, Cabinet** out) {
  size_t fl = std::strlen(c.folder), nl = std::strlen(name);
  if (fl + nl >= sizeof c.path) return kErrorCabinetNotFound;
  std::memcpy(c.path, c.folder, fl);
  std::memcpy(c.path + fl, name, nl + 1);
  Cabinet* cab = nullptr;
  for (Cabinet& slot : c.cabs) {
    if (!slot.used) {
      cab = &slot;
      break;
    }
  }
  if (!cab) return kErrorCorruptCabinet;  // cannot happen: at most two are held
  Descriptor fd = c.cb.open(c.path, kOpenBinary | kOpenReadOnly | kOpenSequential, kModeRead | kModeWrite);
  if (fd == -1) return kErrorCabinetNotFound;
  *cab = Cabinet();
  cab->used = true;
  cab->refs = 1;
  cab->fd = fd;
  cab->serial = prev ? prev->serial + 1 : 0;
  Forget(c, cab);
  int err = ParseHeader(c, *cab);
  if (!err && prev && (cab->setId != prev->setId || cab->index != prev->index + 1))
    err = kErrorWrongCabinet;
  if (!err && c.reserveKnown &&
      (cab->folderReserve != c.folderReserve || cab->dataReserve != c.dataReserve))
    err = kErrorReserveMismatch;
  if (!err && !c.reserveKnown) {
    c.reserveKnown = true;
    c.folderReserve = cab->folderReserve;
    c.dataReserve = cab->dataReserve;
  }
  if (!err && announce) {
    Notification n;
    n.text1 = cab->nextName;
    n.text2 = cab->nextDisk;
    n.text3 = c.folder;
    n.setId = cab->setId;
    n.cabinetIndex = cab->index;
    if (Notify(c, kCabinetInfo, n) == -1) err = kErrorUserAbort;
  }
  if (err) {
    Release(c, cab);
    return err;
  }
  if (cab->serial > c.maxSerial) c.maxSerial = cab->serial;
  *out = cab;
  return kErrorNone;
}

// The cabinet after cab, held once more for the caller: one already open,
// one opened before in this copy (again, silently), or a new one that the
// caller is told about first.
// The header names the next cabinet; it is opened in the cabinet folder, so
// a name that is a path (another folder, a drive, another machine) is refused.
bool IsPlainCabinetName(const char* name) {
  if (!name[0] || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strpbrk(name, "/\\:") == nullptr;
}

int Successor(Context& c, Cabinet& cab, Cabinet** out) {
  if (!(cab.flags & kFlagNextCabinet)) return kErrorCorruptCabinet;
  if (!IsPlainCabinetName(cab.nextName)) return kErrorCabinetNotFound;
  uint32_t serial = cab.serial + 1;
  for (Cabinet& slot : c.cabs) {
    if (slot.used && slot.serial == serial) {
      Hold(&slot);
      *out = &slot;
      return kErrorNone;
    }
  }
  if (serial <= c.maxSerial) return OpenCabinet(c, cab.nextName, &cab, false, out);
  Notification n;
  n.text1 = cab.nextName;
  n.text2 = cab.nextDisk;
  n.text3 = c.folder;
  n.setId = cab.setId;
  n.cabinetIndex = cab.index;
  if (Notify(c, kNextCabinet, n) == -1) return kErrorUserAbort;
  c.folder[kMaxPath - 1] = 0;
  return OpenCabinet(c, cab.nextName, &cab, true, out);
}

// ---- decoding folders ----------------------------------------------------

int SelectCodec(Context& c, uint16_t type) {
  if (!KnownMethod(type)) return kErrorUnknownCompression;
  if (c.codec && c.codecType == type) {
    c.codec->Reset();
    return kErrorNone;
  }
  c.memory.Delete(c.codec);
  c.codec = nullptr;
  unsigned bits = CompressWindowBits(type);
  switch (type & kCompressMask) {
    case kCompressNone: c.codec = detail::NewStoredCodec(c.memory); break;
    case kCompressMszip: c.codec = detail::NewMszipCodec(c.memory, c.output); break;
    case kCompressQuantum: c.codec = detail::NewQuantumCodec(c.memory, bits); break;
    case kCompressLzx: c.codec = detail::NewLzxCodec(c.memory, bits, c.output); break;
  }
  if (!c.codec) return kErrorOutOfMemory;
  c.codecType = type;
  return kErrorNone;
}

void SetCursorCabinet(Context& c, Cabinet* cab) {
  Hold(cab);
  Release(c, c.cursor.cab);
  c.cursor.cab = cab;
}

int StartFolder(Context& c, Cabinet& cab, uint16_t index, FolderId id) {
  FolderEntry f;
  if (!ReadFolder(c, cab, index, &f)) return kErrorCorruptCabinet;
  c.cursor.active = false;
  if (int err = SelectCodec(c, f.type)) return err;
  SetCursorCabinet(c, &cab);
  Cursor& k = c.cursor;
  k.active = true;
  k.id = id;
  k.folderIndex = index;
  k.type = f.type;
  k.nextBlock = f.dataOffset;
  k.blocksLeft = f.blocks;
  k.blockStart = k.position = 0;
  k.data = nullptr;
  k.dataLen = 0;
  return kErrorNone;
}

// The cursor's folder goes on in the next cabinet's folder 0.
int CrossCabinet(Context& c) {
  Cursor& k = c.cursor;
  Cabinet& cab = *k.cab;
  if (k.folderIndex + 1 != cab.folderCount) return kErrorCorruptCabinet;
  Cabinet* next = nullptr;
  if (int err = Successor(c, cab, &next)) return err;
  cab.lastFolderContinues = true;
  FolderEntry f;
  int err = kErrorNone;
  if (!ReadFolder(c, *next, 0, &f) || f.type != k.type) err = kErrorCorruptCabinet;
  if (!err) SetCursorCabinet(c, next);
  Release(c, next);
  if (err) return err;
  k.folderIndex = 0;
  k.nextBlock = f.dataOffset;
  k.blocksLeft = f.blocks;
  return kErrorNone;
}

bool ChecksumMatches(const uint8_t* header, const uint8_t* reserve, uint32_t reserveLen,
                     const uint8_t* data, uint32_t n) {
  uint32_t stored = ReadLe32(header);
  if (stored == 0 || DataBlockChecksum(header, data, n) == stored) return true;
  // The format's own description counts the reserve area in; accept that too.
  if (reserveLen == 0) return false;
  uint32_t sum = Checksum(data, n, Checksum(reserve, reserveLen, 0));
  return Checksum(header + 4, 4, sum) == stored;
}

// Decodes the cursor's next data block, joining a block that is split
// across cabinets.
int NextBlock(Context& c) {
  Cursor& k = c.cursor;
  k.blockStart = k.position;
  k.data = nullptr;
  k.dataLen = 0;
  const uint32_t limit = detail::kFrameSize + SlackFor(k.type);
  uint32_t have = 0;
  for (;;) {
    if (k.blocksLeft == 0) {
      if (int err = CrossCabinet(c)) return err;
      continue;
    }
    Cabinet& cab = *k.cab;
    uint8_t header[kDataSize + 255];
    uint32_t headerLen = uint32_t(kDataSize) + cab.dataReserve;
    if (!ReadAt(c, cab, k.nextBlock, header, headerLen, nullptr)) return kErrorCorruptCabinet;
    uint32_t cbData = ReadLe16(header + 4);
    uint32_t cbUncomp = ReadLe16(header + 6);
    if (cbData > limit - have) return kErrorCorruptCabinet;
    if (!ReadAt(c, cab, k.nextBlock + headerLen, c.input + have, cbData, nullptr))
      return kErrorCorruptCabinet;
    if (!ChecksumMatches(header, header + kDataSize, cab.dataReserve, c.input + have, cbData))
      return kErrorCorruptCabinet;
    k.nextBlock += headerLen + cbData;
    --k.blocksLeft;
    have += cbData;
    if (cbUncomp == 0) {
      // Only the last block of a cabinet may stop short; the rest of it
      // opens the next cabinet's first folder.
      if (k.blocksLeft != 0) return kErrorCorruptCabinet;
      continue;
    }
    if (cbUncomp > detail::kFrameSize) return kErrorCorruptCabinet;
    const uint8_t* out = nullptr;
    if (int err = c.codec->Decode(c.input, have, cbUncomp, &out)) {
      k.active = false;
      return err;
    }
    k.data = out;
    k.dataLen = cbUncomp;
    k.position += cbUncomp;
    return kErrorNone;
  }
}

// Writes folder bytes [start, end) to fd, decoding what lies before them.
int Extract(Context& c, Descriptor fd, uint64_t start, uint64_t end) {
  Cursor& k = c.cursor;
  for (;;) {
    if (k.dataLen) {
      uint64_t lo = start > k.blockStart ? start : k.blockStart;
      uint64_t hi = end < k.position ? end : k.position;
      if (lo < hi) {
        uint32_t n = uint32_t(hi - lo);
        if (c.cb.write(fd, k.data + (lo - k.blockStart), n) != n) return kErrorTargetFile;
      }
    }
    if (k.position >= end) return kErrorNone;
    if (int err = NextBlock(c)) return err;
  }
}

// Puts the cursor where a file of folder `id` (index `index` in cab) starts.
int Position(Context& c, Cabinet& cab, uint16_t index, FolderId id, uint64_t start) {
  Cursor& k = c.cursor;
  if (k.active && k.id == id && k.blockStart <= start) return kErrorNone;
  // A folder that began in an earlier cabinet cannot be started again.
  if (id.serial != cab.serial) return kErrorCorruptCabinet;
  return StartFolder(c, cab, index, id);
}

// ---- walking the file entries --------------------------------------------

int Scan(Context& c, Cabinet& cab) {
  EntryReader r{&cab, cab.filesOffset, cab.fileCount};
  while (r.left) {
    if (!ReadEntry(c, r, &c.file)) return kErrorCorruptCabinet;
    uint16_t f = c.file.folder;
    if (FromPrevious(f)) cab.firstFolderContinued = true;
    if (f == kFolderContinuedToNext || f == kFolderContinuedPrevAndNext) cab.lastFolderContinues = true;
  }
  return kErrorNone;
}

int CopyOne(Context& c, Cabinet& cab, FolderId id, uint16_t index) {
  FileEntry& e = c.file;
  FolderEntry f;
  if (!ReadFolder(c, cab, index, &f)) return kErrorCorruptCabinet;
  if (!KnownMethod(f.type)) return kErrorUnknownCompression;
  Notification n = ForFile(cab, e);
  intptr_t answer = Notify(c, kCopyFile, n);
  if (answer == 0) return kErrorNone;
  if (answer == -1) return kErrorUserAbort;
  Descriptor fd = answer;
  if (e.size) {
    int err = Position(c, cab, index, id, e.offset);
    if (!err) err = Extract(c, fd, e.offset, uint64_t(e.offset) + e.size);
    if (err) {
      c.cb.close(fd);
      return err;
    }
  }
  n = ForFile(cab, e);
  n.fd = fd;
  intptr_t closed = Notify(c, kCloseFileInfo, n);
  if (closed == -1) {
    c.cb.close(fd);
    return kErrorUserAbort;
  }
  return closed == 0 ? kErrorTargetFile : kErrorNone;
}

int Walk(Context& c, bool first) {
  Cabinet& cab = *c.list;
  if (int err = Scan(c, cab)) return err;
  if (int err = Enumerate(c, cab, 0, cab.fileCount)) return err;
  EntryReader r{&cab, cab.filesOffset, cab.fileCount};
  while (r.left) {
    if (!ReadEntry(c, r, &c.file)) return kErrorCorruptCabinet;
    FileEntry& e = c.file;
    if (FromPrevious(e.folder)) {
      // Handled with the cabinet where it starts, unless the copy began here.
      if (first)
        if (int err = PartialFile(c, cab, e)) return err;
      continue;
    }
    uint32_t index = e.folder == kFolderContinuedToNext ? cab.folderCount - 1u : e.folder;
    if (cab.folderCount == 0 || index >= cab.folderCount) return kErrorCorruptCabinet;
    FolderId id{cab.serial, uint16_t(index)};
    if (index == 0 && cab.firstFolderContinued) {
      if (!cab.folder0Known) {
        // Its folder began in a cabinet this copy cannot decode from.
        if (int err = PartialFile(c, cab, e)) return err;
        continue;
      }
      id = cab.folder0Id;
    }
    if (int err = CopyOne(c, cab, id, uint16_t(index))) return err;
  }
  return Enumerate(c, cab, 0, 0);
}

// Moves the walk on to the next cabinet when this one's last folder goes on
// there; *more is false when the copy is complete.
int MoveOn(Context& c, bool* more) {
  Cabinet& cab = *c.list;
  Cursor& k = c.cursor;
  *more = false;
  bool crossed = k.active && k.cab && k.cab->serial > cab.serial;
  if (!(cab.flags & kFlagNextCabinet) || cab.folderCount == 0 || !(cab.lastFolderContinues || crossed))
    return kErrorNone;
  uint16_t last = uint16_t(cab.folderCount - 1);
  FolderId id{cab.serial, last};
  bool reachable = true;
  if (last == 0 && cab.firstFolderContinued) {
    reachable = cab.folder0Known;
    id = cab.folder0Id;
  }
  if (reachable && !(k.active && k.id == id)) {
    if (id.serial == cab.serial) {
      if (int err = StartFolder(c, cab, last, id)) return err;
    } else {
      reachable = false;
    }
  }
  // Decode the rest of this cabinet's share of the folder, so that the
  // cursor stands in the next cabinet when its files are walked.
  if (reachable)
    while (k.cab->serial <= cab.serial)
      if (int err = NextBlock(c)) return err;
  Cabinet* next = nullptr;
  if (int err = Successor(c, cab, &next)) return err;
  next->folder0Known = reachable;
  next->folder0Id = id;
  c.list = next;
  Release(c, &cab);
  *more = true;
  return kErrorNone;
}

void CloseAll(Context& c) {
  Release(c, c.cursor.cab);
  c.cursor = Cursor();
  Release(c, c.list);
  c.list = nullptr;
  for (Cabinet& slot : c.cabs) {
    if (slot.used && slot.fd != -1) c.cb.close(slot.fd);
    slot = Cabinet();
  }
  c.tableCab = nullptr;
  c.folderCab = nullptr;
}

}  // namespace

// ---- interface -------------------------------------------------------------

Context* Create(const Callbacks& callbacks, int processorType, ErrorRecord* error) {
  const Callbacks& k = callbacks;
  bool complete = k.alloc && k.free && k.open && k.read && k.write && k.close && k.seek;
  void* raw = complete ? k.alloc(uint32_t(sizeof(Context))) : nullptr;
  if (!raw) {
    if (error) {
      error->code = kErrorOutOfMemory;
      error->failed = true;
    }
    return nullptr;
  }
  Context* c = new (raw) Context();
  c->cb = callbacks;
  c->memory.alloc = k.alloc;
  c->memory.release = k.free;
  c->error = error ? error : &c->ownError;
  c->processorType = processorType;
  c->input = static_cast<uint8_t*>(c->memory.Get(detail::kMaxCompressed));
  c->output = static_cast<uint8_t*>(c->memory.Get(detail::kFrameSize));
  if (!c->input || !c->output) {
    Fail(*c, kErrorOutOfMemory);
    Destroy(c);
    return nullptr;
  }
  return c;
}

bool IsCabinet(Context* c, Descriptor fd, CabinetInfo* info) {
  if (!c) return false;
  uint8_t h[kHeaderSize];
  if (c->cb.read(fd, h, sizeof h) != sizeof h || std::memcmp(h, "MSCF", 4) != 0) return false;
  if (h[24] != kVersionMinor || h[25] != kVersionMajor) return Fail(*c, kErrorUnknownVersion);
  if (info) {
    uint16_t flags = ReadLe16(h + 30);
    info->totalSize = ReadLe32(h + 8);
    info->folders = ReadLe16(h + 26);
    info->files = ReadLe16(h + 28);
    info->setId = ReadLe16(h + 32);
    info->cabinetIndex = ReadLe16(h + 34);
    info->hasReserve = (flags & kFlagReservePresent) != 0;
    info->hasPrev = (flags & kFlagPrevCabinet) != 0;
    info->hasNext = (flags & kFlagNextCabinet) != 0;
  }
  return true;
}

bool Copy(Context* c, const char* cabinetName, const char* cabinetFolder, int /*flags*/,
          NotifyFn notify, std::nullptr_t /*decrypt*/, void* user) {
  if (!c) return false;
  if (!notify || !cabinetName) return Fail(*c, kErrorCabinetNotFound);
  if (!cabinetFolder) cabinetFolder = "";
  size_t fl = std::strlen(cabinetFolder);
  if (fl >= kMaxPath || std::strlen(cabinetName) >= kMaxPath) return Fail(*c, kErrorCabinetNotFound);
  CloseAll(*c);
  c->notify = notify;
  c->user = user;
  std::memcpy(c->folder, cabinetFolder, fl + 1);
  c->maxSerial = 0;
  c->reserveKnown = false;
  Cabinet* first = nullptr;
  int err = OpenCabinet(*c, cabinetName, nullptr, true, &first);
  if (!err) {
    c->list = first;
    for (bool start = true, more = true; more; start = false) {
      err = Walk(*c, start);
      if (!err) err = MoveOn(*c, &more);
      if (err) break;
    }
  }
  CloseAll(*c);
  return err ? Fail(*c, err) : true;
}

bool Destroy(Context* c) {
  if (!c) return false;
  CloseAll(*c);
  Memory memory = c->memory;
  memory.Delete(c->codec);
  memory.Put(c->input);
  memory.Put(c->output);
  c->~Context();
  memory.Put(c);
  return true;
}

}  // namespace orvo::cab
