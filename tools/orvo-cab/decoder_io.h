// Decoder callbacks of the tool: stdio streams on UTF-8 paths as
// descriptors, and one in-memory sink for files read without extracting.
#pragma once
#include <cstdint>
#include <vector>

#include "cab_decoder.h"

namespace orvo::cabtool {

const cab::Callbacks& StreamCallbacks();

// A descriptor whose writes go to MemorySink() instead of a file.
constexpr cab::Descriptor kMemoryDescriptor = 0x7FFF0001;
std::vector<uint8_t>& MemorySink();

// Peak of the bytes the decoder held through the memory callbacks.
size_t DecoderPeakMemory();
void ResetDecoderPeakMemory();

}  // namespace orvo::cabtool
