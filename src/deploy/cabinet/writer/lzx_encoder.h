// LZX compression of one cabinet folder: hashed match finding with lazy
// evaluation and repeated offsets, verbatim, aligned-offset and uncompressed
// blocks chosen per run of 32 KB frames, optional E8 call translation.
#pragma once
#include <memory>

#include "block_compressor.h"

namespace orvo::cab {

struct LzxOptions {
  unsigned windowBits = 21;  // 15..21
  bool e8Translation = true;
  unsigned level = 6;        // search effort, 1 (fast) .. 9 (thorough)
  unsigned framesPerChunk = 8;  // frames parsed, planned and emitted together
};

constexpr unsigned kLzxMinWindowBits = 15;
constexpr unsigned kLzxMaxWindowBits = 21;

// Number of position slots the format assigns to a window size.
unsigned LzxPositionSlots(unsigned windowBits);

// Null when the window size is out of range.
std::unique_ptr<BlockCompressor> MakeLzxCompressor(BlockSink sink, const LzxOptions& options);

}  // namespace orvo::cab
