// SHA-256 of a stream on a thread of its own, so that hashing one block
// overlaps reading and writing the next: where a core is free, a download
// with a digest takes about the time of one without.
#pragma once
#include <windows.h>

#include <cstddef>
#include <vector>

#include "action/unique_handle.h"
#include "media/sha256.h"

namespace orvo {

class HashWorker {
 public:
  // Feeds `hash`; where no thread can be started, blocks are hashed in the
  // caller's thread instead.
  explicit HashWorker(Sha256& hash);
  // Hashes what it was handed, then ends the thread.
  ~HashWorker();
  HashWorker(const HashWorker&) = delete;
  HashWorker& operator=(const HashWorker&) = delete;

  // Hashes the block after the ones handed over before, waiting first for
  // the last of them: a caller alternating between two buffers may fill
  // one while the other is hashed. The block must stay unchanged until the
  // next Add or Wait returns.
  void Add(const void* data, size_t size);
  // Until every block handed over is hashed; `hash` may then be read or reset.
  void Wait();

 private:
  static DWORD WINAPI Run(void* self);
  void Loop();

  Sha256& hash_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  const void* data_ = nullptr;
  size_t size_ = 0;
  bool pending_ = false;
  bool stopping_ = false;
  unique_handle thread_;
};

// The two blocks a caller of HashWorker alternates between: Free() is the
// one not handed over last, whatever was read into it since.
class BlockPair {
 public:
  explicit BlockPair(size_t size) : blocks_{std::vector<char>(size), std::vector<char>(size)} {}
  char* Free() { return blocks_[next_].data(); }
  // Free() was handed over: the other one is free now.
  void Handed() { next_ ^= 1; }
  size_t size() const { return blocks_[0].size(); }

 private:
  std::vector<char> blocks_[2];
  int next_ = 0;
};

}  // namespace orvo
