#include "media/hash_worker.h"

namespace orvo {

HashWorker::HashWorker(Sha256& hash) : hash_(hash) {
  thread_.reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
}

HashWorker::~HashWorker() {
  if (!thread_) return;
  AcquireSRWLockExclusive(&lock_);
  stopping_ = true;
  ReleaseSRWLockExclusive(&lock_);
  WakeAllConditionVariable(&changed_);
  // The thread hashes the blocks it holds before it sees the stop.
  WaitForSingleObject(thread_.get(), INFINITE);
}

// 32-bit Windows starts a thread on a stack aligned to 4 bytes only; the
// hash's SSE code keeps 16-byte values there.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
DWORD WINAPI HashWorker::Run(void* self) {
  static_cast<HashWorker*>(self)->Loop();
  return 0;
}

void HashWorker::Loop() {
  AcquireSRWLockExclusive(&lock_);
  for (;;) {
    while (pending_ == 0 && !stopping_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    if (pending_ == 0) break;
    const Piece piece = queue_[first_];
    ReleaseSRWLockExclusive(&lock_);
    hash_.Update(piece.data, piece.size);
    AcquireSRWLockExclusive(&lock_);
    first_ = (first_ + 1) % kDepth;
    --pending_;
    WakeAllConditionVariable(&changed_);
  }
  ReleaseSRWLockExclusive(&lock_);
}

void HashWorker::Add(const void* data, size_t size) {
  if (!thread_) {
    hash_.Update(data, size);
    return;
  }
  AcquireSRWLockExclusive(&lock_);
  while (pending_ == kDepth) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
  queue_[(first_ + pending_) % kDepth] = {data, size};
  ++pending_;
  ReleaseSRWLockExclusive(&lock_);
  WakeAllConditionVariable(&changed_);
}

void HashWorker::Wait() {
  if (!thread_) return;
  AcquireSRWLockExclusive(&lock_);
  while (pending_ != 0) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
  ReleaseSRWLockExclusive(&lock_);
}

}  // namespace orvo
