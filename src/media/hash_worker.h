// SHA-256 of a stream on a thread of its own, so that hashing one block
// overlaps reading and writing the next: where a core is free, a download
// with a digest takes about the time of one without.
#pragma once
#include <windows.h>

#include <array>
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

  // Blocks handed over and not yet hashed, at most: a short wait of the
  // thread for a core does not stop the caller at once.
  static constexpr size_t kDepth = 3;
  // Hashes the block after the ones handed over before, waiting first while
  // kDepth of them are. The block must stay unchanged until kDepth more
  // Add calls or a Wait returned (BlockRing keeps to that).
  void Add(const void* data, size_t size);
  // Until every block handed over is hashed; `hash` may then be read or reset.
  void Wait();

 private:
  static DWORD WINAPI Run(void* self);
  void Loop();

  Sha256& hash_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  struct Piece {
    const void* data;
    size_t size;
  };
  std::array<Piece, kDepth> queue_ = {};
  size_t first_ = 0;
  size_t pending_ = 0;
  bool stopping_ = false;
  unique_handle thread_;
};

// The blocks a caller of HashWorker takes in turn: Free() is one that no
// Add still holds, whatever was read into it since it was handed over.
class BlockRing {
 public:
  explicit BlockRing(size_t size) : blocks_(HashWorker::kDepth + 1, std::vector<char>(size)) {}
  char* Free() { return blocks_[next_].data(); }
  // Free() was handed over: the next one is free now.
  void Handed() { next_ = (next_ + 1) % blocks_.size(); }
  size_t size() const { return blocks_[0].size(); }

 private:
  std::vector<std::vector<char>> blocks_;
  size_t next_ = 0;
};

}  // namespace orvo
