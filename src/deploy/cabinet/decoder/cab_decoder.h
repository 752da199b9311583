// Cabinet decoder: reads "MSCF" cabinets (format 1.3) and the cabinets that
// continue them, through memory and file callbacks that the caller supplies.
// Portable C++17; no Windows headers.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::cab {

enum ErrorCode : int {
  kErrorNone = 0,
  kErrorCabinetNotFound = 1,     // a cabinet of the set cannot be opened
  kErrorNotACabinet = 2,
  kErrorUnknownVersion = 3,
  kErrorCorruptCabinet = 4,      // bad header, structure, read, seek or checksum
  kErrorOutOfMemory = 5,
  kErrorUnknownCompression = 6,
  kErrorDecompression = 7,
  kErrorTargetFile = 8,          // short write, or the close notification answered false
  kErrorReserveMismatch = 9,     // cabinets of the set have different reserve sizes
  kErrorWrongCabinet = 10,       // next cabinet has another set id or index
  kErrorUserAbort = 11,          // a notification answered -1
};

// Filled on every failure; left alone on success.
struct ErrorRecord {
  int code = kErrorNone;
  bool failed = false;
};

using Descriptor = intptr_t;

// Flags and mode handed to the open callback, as the Windows C run-time
// numbers them (_O_RDONLY | _O_BINARY | _O_SEQUENTIAL, _S_IREAD | _S_IWRITE):
// the Windows caller passes them on unchanged, a native caller translates.
constexpr int kOpenReadOnly = 0x0000;
constexpr int kOpenBinary = 0x8000;
constexpr int kOpenSequential = 0x0020;
constexpr int kModeRead = 0x0100;
constexpr int kModeWrite = 0x0080;
constexpr int kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2;

struct Callbacks {
  void* (*alloc)(uint32_t size);
  void (*free)(void* block);
  Descriptor (*open)(const char* utf8Path, int flags, int mode);  // -1 on failure
  uint32_t (*read)(Descriptor fd, void* buffer, uint32_t count);   // bytes read, or (uint32_t)-1
  uint32_t (*write)(Descriptor fd, const void* buffer, uint32_t count);
  int (*close)(Descriptor fd);
  int32_t (*seek)(Descriptor fd, int32_t offset, int origin);      // new position, or -1
};

struct CabinetInfo {
  uint32_t totalSize = 0;
  uint16_t folders = 0;
  uint16_t files = 0;
  uint16_t setId = 0;
  uint16_t cabinetIndex = 0;
  bool hasReserve = false;
  bool hasPrev = false;
  bool hasNext = false;
};

enum NotificationType : int {
  kCabinetInfo = 0,
  kPartialFile = 1,
  kCopyFile = 2,
  kCloseFileInfo = 3,
  kNextCabinet = 4,
  kEnumerate = 5,
};

// One record for every notification; which fields mean what:
//   kCabinetInfo   text1 next cabinet, text2 next disk, text3 cabinet folder,
//                  setId, cabinetIndex
//   kPartialFile   text1 file name, text2 cabinet and text3 disk where it starts
//   kCopyFile      text1 file name, size, date, time, attributes, folder
//   kCloseFileInfo text1 file name, fd, date, time, attributes
//   kNextCabinet   text1 next cabinet, text2 next disk, text3 cabinet folder;
//                  text3 is a buffer of kMaxPath bytes the callback may rewrite
//   kEnumerate     setId, cabinetIndex, folder, size (entries left to walk)
// Attributes never carry the run-after-extraction bit (0x40).
struct Notification {
  uint32_t size = 0;
  const char* text1 = "";
  const char* text2 = "";
  char* text3 = nullptr;
  void* user = nullptr;
  Descriptor fd = -1;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attributes = 0;
  uint16_t setId = 0;
  uint16_t cabinetIndex = 0;
  uint16_t folder = 0;
  int error = 0;
};

constexpr size_t kMaxPath = 256;

// Answers: kCopyFile 0 skips, -1 aborts, anything else is the descriptor to
// write to; kCloseFileInfo nonzero (not -1) is success, 0 fails with code 8,
// -1 fails with code 11 and the decoder closes the descriptor itself; for the
// other types -1 aborts and anything else goes on.
using NotifyFn = intptr_t (*)(NotificationType type, Notification* record);

struct Context;

// Returns nullptr (code 5) when the context cannot be allocated or a
// callback is missing. The processor type is accepted for interface
// compatibility and does not change decoding.
Context* Create(const Callbacks& callbacks, int processorType, ErrorRecord* error);

// Reads the header at the descriptor's current position. False without
// touching the error record when the bytes are not a cabinet; false with
// code 3 for a cabinet of another format version.
bool IsCabinet(Context* context, Descriptor fd, CabinetInfo* info);

// Extracts every file of the cabinet at folder + name, and of the cabinets
// that continue its last folder. No decryption is offered, hence nullptr_t.
bool Copy(Context* context, const char* cabinetName, const char* cabinetFolder, int flags,
          NotifyFn notify, std::nullptr_t decrypt, void* user);

// Releases the context and everything it holds.
bool Destroy(Context* context);

}  // namespace orvo::cab
